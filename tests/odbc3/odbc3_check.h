/* Checks shared by the ODBC 3 programs: each failed check prints where and
   why (with the handle's diagnostics), counts, and the program goes on, so one
   run shows every fault. */
#ifndef Q4_ODBC3_CHECK_H
#define Q4_ODBC3_CHECK_H

#include <sql.h>
#include <sqlext.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* iODBC's headers (3.52) predate ODBC 3.80 and lack its version value. */
#ifndef SQL_OV_ODBC3_80
#define SQL_OV_ODBC3_80 380UL
#endif

static int check_failures;

static inline void check_failed(const char* file, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(stderr, "%s:%d: ", file, line);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  ++check_failures;
}

#define EXPECT(condition, ...)                                       \
  do {                                                               \
    if (!(condition)) check_failed(__FILE__, __LINE__, __VA_ARGS__); \
  } while (0)

/* Every diagnostic record of a handle, one line each, to stderr. */
static inline void print_diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6], text[1024];
  SQLINTEGER native;
  SQLSMALLINT length;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length) == SQL_SUCCESS;
       ++i) {
    fprintf(stderr, "    %s (%d) %s\n", state, (int)native, text);
  }
}

/* A call that must succeed (SQL_SUCCESS or SQL_SUCCESS_WITH_INFO). */
#define EXPECT_OK(call, type, handle)                                      \
  do {                                                                     \
    SQLRETURN rc_ = (call);                                                \
    if (!SQL_SUCCEEDED(rc_)) {                                             \
      check_failed(__FILE__, __LINE__, "%s returned %d", #call, (int)rc_); \
      print_diagnostics(type, handle);                                     \
    }                                                                      \
  } while (0)

/* The SQLSTATE of a handle's first diagnostic record, "" without one. */
static inline const char* first_state(SQLSMALLINT type, SQLHANDLE handle) {
  static SQLCHAR state[6];
  SQLINTEGER native;
  SQLSMALLINT length;
  SQLCHAR text[512];
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length)))
    state[0] = 0;
  return (const char*)state;
}

/* The connection string of the test's data source (run_script.sh sets Q4_DSN). */
static inline const char* test_connection_string(void) {
  static char text[256];
  const char* dsn = getenv("Q4_DSN");
  snprintf(text, sizeof text, "DSN=%s;UID=test;PWD=secret", dsn != NULL ? dsn : "q4sample");
  return text;
}

/* An environment declaring `version` (SQL_OV_ODBC3, SQL_OV_ODBC3_80, SQL_OV_ODBC2) and a
   connection to the test's data source through SQLDriverConnect. Returns the connect's return
   code; the handles are set whatever it is. */
static inline SQLRETURN connect_as(SQLINTEGER version, SQLHENV* env, SQLHDBC* dbc) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env);
  if (!SQL_SUCCEEDED(
          SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)(intptr_t)version, 0)) &&
      version == (SQLINTEGER)SQL_OV_ODBC3_80) {
    /* A Driver Manager older than ODBC 3.80 (iODBC 3.52) refuses the value:
       the application then declares 3.0, as applications do there. */
    SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  }
  SQLAllocHandle(SQL_HANDLE_DBC, *env, dbc);
  return SQLDriverConnect(*dbc, NULL, (SQLCHAR*)test_connection_string(), SQL_NTS, NULL, 0, NULL,
                          SQL_DRIVER_NOPROMPT);
}

static inline void disconnect(SQLHENV env, SQLHDBC dbc) {
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

/* The program's exit status: 0 when every check held. */
static inline int finish(const char* program) {
  if (check_failures != 0) fprintf(stderr, "%s: %d check(s) failed\n", program, check_failures);
  return check_failures == 0 ? 0 : 1;
}

/* `sql` on a statement closed first: a call that must succeed. */
static inline void run(SQLHSTMT stmt, const char* sql) {
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS), SQL_HANDLE_STMT, stmt);
}

/* A numeric connection attribute. */
static inline SQLULEN connect_attr(SQLHDBC dbc, SQLINTEGER which) {
  SQLULEN value = 0;
  EXPECT_OK(SQLGetConnectAttr(dbc, which, &value, SQL_IS_UINTEGER, NULL), SQL_HANDLE_DBC, dbc);
  return value;
}

/* How most programs here start and end: one connection declaring `version`, one statement,
   and the program's table made afresh (dropped again at the end). */
struct session {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  const char* table;
};

static inline struct session open_session(SQLINTEGER version, const char* table,
                                          const char* columns) {
  struct session s = {NULL, NULL, NULL, table};
  char sql[512];
  EXPECT_OK(connect_as(version, &s.env, &s.dbc), SQL_HANDLE_DBC, s.dbc);
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &s.stmt), SQL_HANDLE_DBC, s.dbc);
  snprintf(sql, sizeof sql, "DROP TABLE %s", table);
  SQLExecDirect(s.stmt, (SQLCHAR*)sql, SQL_NTS);
  snprintf(sql, sizeof sql, "CREATE TABLE %s %s", table, columns);
  run(s.stmt, sql);
  return s;
}

static inline int close_session(struct session s, const char* program) {
  char sql[128];
  snprintf(sql, sizeof sql, "DROP TABLE %s", s.table);
  run(s.stmt, sql);
  SQLFreeHandle(SQL_HANDLE_STMT, s.stmt);
  disconnect(s.env, s.dbc);
  return finish(program);
}

#endif
