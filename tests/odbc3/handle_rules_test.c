/* A program that loads the driver itself, without a Driver Manager, sees the
   handle rules ODBC defines: a connected connection and an environment with
   connections are not freed ("S1010", "HY010" for ODBC 3), and SQLError with
   several handles reads the statement's diagnostic first. */
#include <dlfcn.h>

#include "odbc3_check.h"

typedef SQLRETURN (*alloc_env_fn)(SQLHENV*);
typedef SQLRETURN (*alloc_connect_fn)(SQLHENV, SQLHDBC*);
typedef SQLRETURN (*alloc_stmt_fn)(SQLHDBC, SQLHSTMT*);
typedef SQLRETURN (*free_fn)(SQLHANDLE);
typedef SQLRETURN (*free_stmt_fn)(SQLHSTMT, SQLUSMALLINT);
typedef SQLRETURN (*alloc_handle_fn)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
typedef SQLRETURN (*free_handle_fn)(SQLSMALLINT, SQLHANDLE);
typedef SQLRETURN (*set_env_attr_fn)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
typedef SQLRETURN (*driver_connect_fn)(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                       SQLSMALLINT, SQLSMALLINT*, SQLUSMALLINT);
typedef SQLRETURN (*exec_direct_fn)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
typedef SQLRETURN (*error_fn)(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR*, SQLINTEGER*, SQLCHAR*,
                              SQLSMALLINT, SQLSMALLINT*);
typedef SQLRETURN (*get_diag_rec_fn)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*,
                                     SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);

static struct {
  alloc_env_fn alloc_env;
  alloc_connect_fn alloc_connect;
  alloc_stmt_fn alloc_stmt;
  free_fn free_connect, free_env;
  free_stmt_fn free_stmt;
  alloc_handle_fn alloc_handle;
  free_handle_fn free_handle;
  set_env_attr_fn set_env_attr;
  driver_connect_fn driver_connect;
  free_fn disconnect;
  exec_direct_fn exec_direct;
  error_fn error;
  get_diag_rec_fn get_diag_rec;
} drv;

/* The state SQLError gives for the handles, "" for SQL_NO_DATA_FOUND. */
static const char* error_state(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  static SQLCHAR state[6];
  SQLCHAR text[512];
  SQLINTEGER native;
  SQLSMALLINT length;
  if (drv.error(env, dbc, stmt, state, &native, text, sizeof text, &length) != SQL_SUCCESS)
    return "";
  return (const char*)state;
}

static const char* diag_state(SQLSMALLINT type, SQLHANDLE handle) {
  static SQLCHAR state[6];
  SQLCHAR text[512];
  SQLINTEGER native;
  SQLSMALLINT length;
  if (drv.get_diag_rec(type, handle, 1, state, &native, text, sizeof text, &length) != SQL_SUCCESS)
    return "";
  return (const char*)state;
}

static SQLRETURN connect(SQLHDBC dbc) {
  return drv.driver_connect(dbc, NULL, (SQLCHAR*)test_connection_string(), SQL_NTS, NULL, 0, NULL,
                            SQL_DRIVER_NOPROMPT);
}

static void odbc2_program(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  EXPECT(drv.alloc_env(&env) == SQL_SUCCESS, "SQLAllocEnv");
  EXPECT(drv.alloc_connect(env, &dbc) == SQL_SUCCESS, "SQLAllocConnect");
  EXPECT(connect(dbc) == SQL_SUCCESS, "connect: %s", error_state(NULL, dbc, NULL));

  EXPECT(drv.free_env(env) == SQL_ERROR, "SQLFreeEnv with a connection left");
  EXPECT(strcmp(error_state(env, NULL, NULL), "S1010") == 0, "SQLFreeEnv state");
  EXPECT(drv.free_connect(dbc) == SQL_ERROR, "SQLFreeConnect of a connected connection");
  EXPECT(strcmp(error_state(NULL, dbc, NULL), "S1010") == 0, "SQLFreeConnect state");

  /* The refused free changed nothing: the connection still works. */
  EXPECT(drv.alloc_stmt(dbc, &stmt) == SQL_SUCCESS, "SQLAllocStmt after the refusal");
  EXPECT(drv.exec_direct(stmt, (SQLCHAR*)"SELECT *\n  FROM no_such_table_for_handles", SQL_NTS) ==
             SQL_ERROR,
         "missing table");
  /* Every handle given: the statement's diagnostic, once. */
  EXPECT(strcmp(error_state(env, dbc, stmt), "S0002") == 0, "SQLError(env, dbc, stmt)");
  EXPECT(strcmp(error_state(env, dbc, stmt), "") == 0, "read twice");

  drv.free_stmt(stmt, SQL_DROP);
  EXPECT(drv.disconnect(dbc) == SQL_SUCCESS, "SQLDisconnect");
  EXPECT(drv.free_connect(dbc) == SQL_SUCCESS, "SQLFreeConnect after SQLDisconnect");
  EXPECT(drv.free_env(env) == SQL_SUCCESS, "SQLFreeEnv without connections");
}

static void odbc3_program(void) {
  SQLHENV env;
  SQLHDBC dbc;
  EXPECT(drv.alloc_handle(SQL_HANDLE_ENV, NULL, &env) == SQL_SUCCESS, "env");
  drv.set_env_attr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3_80, 0);
  EXPECT(drv.alloc_handle(SQL_HANDLE_DBC, env, &dbc) == SQL_SUCCESS, "dbc");
  EXPECT(connect(dbc) == SQL_SUCCESS, "connect: %s", diag_state(SQL_HANDLE_DBC, dbc));
  EXPECT(drv.free_handle(SQL_HANDLE_DBC, dbc) == SQL_ERROR, "free of a connected connection");
  EXPECT(strcmp(diag_state(SQL_HANDLE_DBC, dbc), "HY010") == 0, "state '%s'",
         diag_state(SQL_HANDLE_DBC, dbc));
  EXPECT(drv.free_handle(SQL_HANDLE_ENV, env) == SQL_ERROR, "free of an environment in use");
  EXPECT(strcmp(diag_state(SQL_HANDLE_ENV, env), "HY010") == 0, "state '%s'",
         diag_state(SQL_HANDLE_ENV, env));
  EXPECT(drv.disconnect(dbc) == SQL_SUCCESS, "SQLDisconnect");
  EXPECT(drv.free_handle(SQL_HANDLE_DBC, dbc) == SQL_SUCCESS, "free after SQLDisconnect");
  EXPECT(drv.free_handle(SQL_HANDLE_ENV, env) == SQL_SUCCESS, "free of an unused environment");
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
#define LOAD(field, name) *(void**)(&drv.field) = dlsym(driver, name)
  LOAD(alloc_env, "SQLAllocEnv");
  LOAD(alloc_connect, "SQLAllocConnect");
  LOAD(alloc_stmt, "SQLAllocStmt");
  LOAD(free_connect, "SQLFreeConnect");
  LOAD(free_env, "SQLFreeEnv");
  LOAD(free_stmt, "SQLFreeStmt");
  LOAD(alloc_handle, "SQLAllocHandle");
  LOAD(free_handle, "SQLFreeHandle");
  LOAD(set_env_attr, "SQLSetEnvAttr");
  LOAD(driver_connect, "SQLDriverConnect");
  LOAD(disconnect, "SQLDisconnect");
  LOAD(exec_direct, "SQLExecDirect");
  LOAD(error, "SQLError");
  LOAD(get_diag_rec, "SQLGetDiagRec");
  odbc2_program();
  odbc3_program();
  dlclose(driver);
  return finish("handle_rules_test");
}
