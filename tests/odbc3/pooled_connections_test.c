/* Connections handed from one user to the next by unixODBC's pool: each user
   turns autocommit off, leaves a row uncommitted, changes attributes and
   leaves a statement allocated, and the next user of the same pooled session
   must find none of it.

   First the reset itself, set directly as the Driver Manager sets it. Then
   real pooling ([ODBC] Pooling=Yes, the driver's CPTimeout): unixODBC 2.3.11
   asks the driver to reset a session opened by an application that declared
   ODBC 3.80 each time it goes back into the pool. A temporary table, which
   lives as long as the server's session, tells a reused session from a new
   one. */
#include "odbc3_check.h"

/* Headers of ODBC 3.5 (iODBC's) lack the 3.80 attribute. */
#ifndef SQL_ATTR_RESET_CONNECTION
#define SQL_ATTR_RESET_CONNECTION 116
#define SQL_RESET_CONNECTION_YES 1UL
#endif

enum { kCycles = 40 };

/* The rows of `table` this session sees, -1 when the query fails. */
static long count_rows(SQLHDBC dbc, const char* table) {
  SQLHSTMT stmt;
  char text[128];
  SQLINTEGER count = -1;
  SQLLEN indicator;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  snprintf(text, sizeof text, "SELECT COUNT(*) FROM %s", table);
  if (!SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)text, SQL_NTS)) ||
      !SQL_SUCCEEDED(SQLFetch(stmt)) ||
      !SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SLONG, &count, 0, &indicator))) {
    count = -1;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return count;
}

static void run_on(SQLHDBC dbc, const char* text) {
  SQLHSTMT stmt;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)text, SQL_NTS), SQL_HANDLE_STMT, stmt);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

/* What a careless user leaves behind: manual commit with a row not
   committed, serializable isolation, a catalog, a connection timeout and a
   statement default, and a statement never freed. */
static void leave_a_mess(SQLHDBC dbc, int cycle) {
  char text[160];
  SQLHSTMT forgotten;
  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0),
            SQL_HANDLE_DBC, dbc);
  snprintf(text, sizeof text,
           "INSERT INTO pooled_rows (id, note)\n  VALUES (%d, 'uncommitted \xc3\xa9t\xc3\xa9')",
           cycle);
  run_on(dbc, text);
  SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_SERIALIZABLE, 0);
  SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, (SQLPOINTER) "elsewhere", SQL_NTS);
  SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, (SQLPOINTER)9, 0);
  SQLSetConnectAttr(dbc, SQL_ATTR_MAX_ROWS, (SQLPOINTER)1, 0);
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &forgotten);
  SQLExecDirect(forgotten, (SQLCHAR*)"SELECT id FROM pooled_rows", SQL_NTS);
}

/* How many of the attributes and the uncommitted rows of a previous user
   this connection shows (0: a clean connection). */
static int leftovers(SQLHDBC dbc) {
  SQLCHAR catalog[32] = "?";
  SQLINTEGER length = 0;
  int found = 0;
  found += connect_attr(dbc, SQL_ATTR_AUTOCOMMIT) != SQL_AUTOCOMMIT_ON;
  found += connect_attr(dbc, SQL_ATTR_TXN_ISOLATION) != SQL_TXN_READ_COMMITTED;
  found += connect_attr(dbc, SQL_ATTR_CONNECTION_TIMEOUT) != 0;
  found += connect_attr(dbc, SQL_ATTR_MAX_ROWS) != 0;
  SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, catalog, sizeof catalog, &length);
  found += catalog[0] != '\0';
  found += count_rows(dbc, "pooled_rows") != 0;
  return found;
}

static void reset_directly(void) {
  SQLHENV env;
  SQLHDBC dbc;
  EXPECT_OK(connect_as(SQL_OV_ODBC3_80, &env, &dbc), SQL_HANDLE_DBC, dbc);
  leave_a_mess(dbc, 0);
  EXPECT(leftovers(dbc) == 6, "the mess was not made: %d", leftovers(dbc));
  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_RESET_CONNECTION, (SQLPOINTER)SQL_RESET_CONNECTION_YES,
                              SQL_IS_UINTEGER),
            SQL_HANDLE_DBC, dbc);
  EXPECT(leftovers(dbc) == 0, "a reset connection keeps %d leftovers", leftovers(dbc));
  EXPECT(connect_attr(dbc, SQL_ATTR_CONNECTION_DEAD) == SQL_CD_FALSE, "reset connection dead");
  disconnect(env, dbc);
}

/* Pooling for this process: unixODBC reads the settings when the first
   environment is allocated. */
static void enable_pooling(void) {
  char path[512];
  snprintf(path, sizeof path, "%s/odbcinst.ini", getenv("ODBCSYSINI"));
  FILE* ini = fopen(path, "a");
  if (ini == NULL) return;
  fputs("CPTimeout=60\n[ODBC]\nPooling=Yes\n", ini);
  fclose(ini);
}

/* unixODBC's pool, as enable_pooling set it up (other Driver Managers pool
   differently, or not from these settings). */
#ifdef SQL_ATTR_UNIXODBC_VERSION
/* kCycles users one after the other on one environment (as the requests of
   a server process that keeps its environment); returns the reused sessions
   and counts in *dirty those that showed leftovers. */
static int pooled_cycles(SQLINTEGER version, int* dirty) {
  SQLHENV env;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)(intptr_t)version, 0);
  int reused = 0;
  *dirty = 0;
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    SQLHDBC dbc;
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, NULL, (SQLCHAR*)test_connection_string(), SQL_NTS,
                                        NULL, 0, NULL, SQL_DRIVER_NOPROMPT))) {
      EXPECT(0, "cycle %d: connect failed", cycle);
      print_diagnostics(SQL_HANDLE_DBC, dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      break;
    }
    if (count_rows(dbc, "pooled_marker") >= 0) {
      ++reused;
      if (leftovers(dbc) != 0) ++*dirty;
    } else {
      run_on(dbc, "CREATE TEMP TABLE pooled_marker (id INTEGER)");
    }
    leave_a_mess(dbc, cycle);
    /* The application's handle goes; the session stays in the pool. */
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return reused;
}
#endif

int main(void) {
  enable_pooling();
  SQLHENV env;
  SQLHDBC dbc;
  EXPECT_OK(connect_as(SQL_OV_ODBC3_80, &env, &dbc), SQL_HANDLE_DBC, dbc);
  run_on(dbc, "CREATE TABLE pooled_rows (id INTEGER, note VARCHAR(40))");

  reset_directly();

#ifdef SQL_ATTR_UNIXODBC_VERSION
  int dirty = 0;
  int reused = pooled_cycles(SQL_OV_ODBC3_80, &dirty);
  fprintf(stderr, "%d of %d connections reused, %d with a previous user's state\n", reused, kCycles,
          dirty);
  EXPECT(reused >= kCycles - 2, "the pool reused only %d sessions", reused);
  EXPECT(dirty == 0, "%d reused connections kept a previous user's state", dirty);
#endif

  SQLHSTMT stmt;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE pooled_rows", SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("pooled_connections_test");
}
