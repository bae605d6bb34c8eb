// ODBC entry points: connecting and disconnecting.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "connect/driver_connect.h"
#include "connect/session.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC hdbc, SQLCHAR* szDSN, SQLSMALLINT cbDSN,
                                       SQLCHAR* szUID, SQLSMALLINT cbUID, SQLCHAR* szAuthStr,
                                       SQLSMALLINT cbAuthStr) {
  return connection_call(hdbc, [&](Connection* conn) {
    return connect_with_dsn(conn, szDSN, cbDSN, szUID, cbUID, szAuthStr, cbAuthStr);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
  return connection_call(hdbc, [&](Connection* conn) { return disconnect(conn); });
}

Q4_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* szConnStrIn,
                                             SQLSMALLINT cbConnStrIn, SQLCHAR* szConnStrOut,
                                             SQLSMALLINT cbConnStrOutMax,
                                             SQLSMALLINT* pcbConnStrOut,
                                             SQLUSMALLINT fDriverCompletion) {
  return connection_call(hdbc, [&](Connection* conn) {
    return driver_connect(conn, static_cast<Window*>(hwnd), szConnStrIn, cbConnStrIn, szConnStrOut,
                          cbConnStrOutMax, pcbConnStrOut, fDriverCompletion);
  });
}

// Browsing for connection attributes is not offered: the call succeeds and
// writes nothing.
Q4_EXPORT SQLRETURN SQL_API SQLBrowseConnect(SQLHDBC hdbc, SQLCHAR* /*szConnStrIn*/,
                                             SQLSMALLINT /*cbConnStrIn*/, SQLCHAR* /*szConnStrOut*/,
                                             SQLSMALLINT /*cbConnStrOutMax*/,
                                             SQLSMALLINT* /*pcbConnStrOut*/) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  return SQL_SUCCESS;
}
