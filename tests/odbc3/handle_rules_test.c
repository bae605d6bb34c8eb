/* A program that loads the driver itself, without a Driver Manager, sees the
   handle rules ODBC defines: a connected connection and an environment with
   connections are not freed ("S1010", "HY010" for ODBC 3), and SQLError with
   several handles reads the statement's diagnostic first. */
#include <dlfcn.h>

#include "odbc3_check.h"

/* The driver's own entry points, as the program loads them. */
/* clang-format off */
#define DRIVER_CALLS(X)                                                                            \
  X(SQLAllocEnv) X(SQLAllocConnect) X(SQLAllocStmt) X(SQLFreeConnect) X(SQLFreeEnv) X(SQLFreeStmt) \
  X(SQLAllocHandle) X(SQLFreeHandle) X(SQLSetEnvAttr) X(SQLDriverConnect) X(SQLDisconnect)         \
  X(SQLExecDirect) X(SQLError) X(SQLGetDiagRec)
/* clang-format on */

static struct {
#define FIELD(name) __typeof__(&name) name;
  DRIVER_CALLS(FIELD)
} drv;

/* The state SQLError gives for the handles, "" for SQL_NO_DATA_FOUND. */
static const char* error_state(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  static SQLCHAR state[6];
  SQLCHAR text[512];
  SQLINTEGER native;
  SQLSMALLINT length;
  if (drv.SQLError(env, dbc, stmt, state, &native, text, sizeof text, &length) != SQL_SUCCESS)
    return "";
  return (const char*)state;
}

static const char* diag_state(SQLSMALLINT type, SQLHANDLE handle) {
  static SQLCHAR state[6];
  SQLCHAR text[512];
  SQLINTEGER native;
  SQLSMALLINT length;
  if (drv.SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length) != SQL_SUCCESS)
    return "";
  return (const char*)state;
}

static SQLRETURN connect(SQLHDBC dbc) {
  return drv.SQLDriverConnect(dbc, NULL, (SQLCHAR*)test_connection_string(), SQL_NTS, NULL, 0, NULL,
                              SQL_DRIVER_NOPROMPT);
}

static void odbc2_program(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  EXPECT(drv.SQLAllocEnv(&env) == SQL_SUCCESS, "SQLAllocEnv");
  EXPECT(drv.SQLAllocConnect(env, &dbc) == SQL_SUCCESS, "SQLAllocConnect");
  EXPECT(connect(dbc) == SQL_SUCCESS, "connect: %s", error_state(NULL, dbc, NULL));

  EXPECT(drv.SQLFreeEnv(env) == SQL_ERROR, "SQLFreeEnv with a connection left");
  EXPECT(strcmp(error_state(env, NULL, NULL), "S1010") == 0, "SQLFreeEnv state");
  EXPECT(drv.SQLFreeConnect(dbc) == SQL_ERROR, "SQLFreeConnect of a connected connection");
  EXPECT(strcmp(error_state(NULL, dbc, NULL), "S1010") == 0, "SQLFreeConnect state");

  /* The refused free changed nothing: the connection still works. */
  EXPECT(drv.SQLAllocStmt(dbc, &stmt) == SQL_SUCCESS, "SQLAllocStmt after the refusal");
  EXPECT(drv.SQLExecDirect(stmt, (SQLCHAR*)"SELECT *\n  FROM no_such_table_for_handles", SQL_NTS) ==
             SQL_ERROR,
         "missing table");
  /* Every handle given: the statement's diagnostic, once. */
  EXPECT(strcmp(error_state(env, dbc, stmt), "S0002") == 0, "SQLError(env, dbc, stmt)");
  EXPECT(strcmp(error_state(env, dbc, stmt), "") == 0, "read twice");

  drv.SQLFreeStmt(stmt, SQL_DROP);
  EXPECT(drv.SQLDisconnect(dbc) == SQL_SUCCESS, "SQLDisconnect");
  EXPECT(drv.SQLFreeConnect(dbc) == SQL_SUCCESS, "SQLFreeConnect after SQLDisconnect");
  EXPECT(drv.SQLFreeEnv(env) == SQL_SUCCESS, "SQLFreeEnv without connections");
}

static void odbc3_program(void) {
  SQLHENV env;
  SQLHDBC dbc;
  EXPECT(drv.SQLAllocHandle(SQL_HANDLE_ENV, NULL, &env) == SQL_SUCCESS, "env");
  drv.SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3_80, 0);
  EXPECT(drv.SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) == SQL_SUCCESS, "dbc");
  EXPECT(connect(dbc) == SQL_SUCCESS, "connect: %s", diag_state(SQL_HANDLE_DBC, dbc));
  EXPECT(drv.SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_ERROR, "free of a connected connection");
  EXPECT(strcmp(diag_state(SQL_HANDLE_DBC, dbc), "HY010") == 0, "state '%s'",
         diag_state(SQL_HANDLE_DBC, dbc));
  EXPECT(drv.SQLFreeHandle(SQL_HANDLE_ENV, env) == SQL_ERROR, "free of an environment in use");
  EXPECT(strcmp(diag_state(SQL_HANDLE_ENV, env), "HY010") == 0, "state '%s'",
         diag_state(SQL_HANDLE_ENV, env));
  EXPECT(drv.SQLDisconnect(dbc) == SQL_SUCCESS, "SQLDisconnect");
  EXPECT(drv.SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_SUCCESS, "free after SQLDisconnect");
  EXPECT(drv.SQLFreeHandle(SQL_HANDLE_ENV, env) == SQL_SUCCESS, "free of an unused environment");
}

int main(void) {
  char path[1024];
  const char* build = getenv("Q4_BUILD_DIR");
  snprintf(path, sizeof path, "%s/libq4odbc.so", build != NULL ? build : "build");
  void* driver = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (driver == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
#define LOAD(name) *(void**)(&drv.name) = dlsym(driver, #name);
  DRIVER_CALLS(LOAD)
  odbc2_program();
  odbc3_program();
  dlclose(driver);
  return finish("handle_rules_test");
}
