// ODBC entry points: connecting and disconnecting.
#include <sql.h>
#include <sqlext.h>

#include "connect/driver_connect.h"
#include "connect/session.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC hdbc, SQLCHAR* szDSN, SQLSMALLINT cbDSN,
                                       SQLCHAR* szUID, SQLSMALLINT cbUID, SQLCHAR* szAuthStr,
                                       SQLSMALLINT cbAuthStr) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  return connect_with_dsn(static_cast<Connection*>(hdbc), szDSN, cbDSN, szUID, cbUID, szAuthStr,
                          cbAuthStr);
}

Q4_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  return disconnect(static_cast<Connection*>(hdbc));
}

Q4_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* szConnStrIn,
                                             SQLSMALLINT cbConnStrIn, SQLCHAR* szConnStrOut,
                                             SQLSMALLINT cbConnStrOutMax,
                                             SQLSMALLINT* pcbConnStrOut,
                                             SQLUSMALLINT fDriverCompletion) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  return driver_connect(static_cast<Connection*>(hdbc), static_cast<Window*>(hwnd), szConnStrIn,
                        cbConnStrIn, szConnStrOut, cbConnStrOutMax, pcbConnStrOut,
                        fDriverCompletion);
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
