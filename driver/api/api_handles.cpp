// ODBC entry points: environment and connection handles, and SQLError.
#include <sql.h>
#include <sqlext.h>

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
  // The slot read is the connection's or the statement's; either way the
  // connection's call lock keeps a call that posts from writing it meanwhile.
  auto* conn = static_cast<Connection*>(hdbc);
  auto* stmt = static_cast<Statement*>(hstmt);
  Connection* owner = stmt != nullptr ? stmt->connection : conn;
  if (owner == nullptr) {
    return read_diagnostic(static_cast<Environment*>(henv), nullptr, nullptr, szSqlState,
                           pfNativeError, szErrorMsg, cbErrorMsgMax, pcbErrorMsg);
  }
  ConnectionCall call(owner);
  return read_diagnostic(nullptr, conn, stmt, szSqlState, pfNativeError, szErrorMsg, cbErrorMsgMax,
                         pcbErrorMsg);
}
