// ODBC entry points: environment and connection handles, and SQLError.
#include <sql.h>
#include <sqlext.h>

#include "api/error_call.h"
#include "api/statement_call.h"
#include "core/diagnostics.h"
#include "core/handles.h"
#include "connect/session.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLAllocEnv(SQLHENV* phenv) {
  if (phenv == nullptr) return SQL_ERROR;
  Environment* env;
  SQLRETURN rc = alloc_environment(&env);
  *phenv = env;
  return rc;
}

Q4_EXPORT SQLRETURN SQL_API SQLAllocConnect(SQLHENV henv, SQLHDBC* phdbc) {
  if (henv == SQL_NULL_HENV) return SQL_INVALID_HANDLE;
  if (phdbc == nullptr) return SQL_ERROR;
  Connection* conn;
  SQLRETURN rc = alloc_connection(static_cast<Environment*>(henv), &conn);
  *phdbc = conn;
  return rc;
}

Q4_EXPORT SQLRETURN SQL_API SQLFreeConnect(SQLHDBC hdbc) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  SQLRETURN rc = connection_call(hdbc, check_connection_free);
  return rc == SQL_SUCCESS ? release_connection(static_cast<Connection*>(hdbc)) : rc;
}

Q4_EXPORT SQLRETURN SQL_API SQLFreeEnv(SQLHENV henv) {
  if (henv == SQL_NULL_HENV) return SQL_INVALID_HANDLE;
  return free_environment(static_cast<Environment*>(henv));
}

Q4_EXPORT SQLRETURN SQL_API SQLError(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt,
                                     SQLCHAR* szSqlState, SQLINTEGER* pfNativeError,
                                     SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax,
                                     SQLSMALLINT* pcbErrorMsg) {
  return error_call(henv, hdbc, hstmt, [&](Environment* env, Connection* conn, Statement* stmt) {
    return read_diagnostic(env, conn, stmt, szSqlState, pfNativeError, szErrorMsg, cbErrorMsgMax,
                           pcbErrorMsg);
  });
}
