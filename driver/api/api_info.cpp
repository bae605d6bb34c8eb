// ODBC entry points: SQLGetInfo and SQLGetFunctions.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "metadata/driver_info.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT fInfoType,
                                       SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                                       SQLSMALLINT* pcbInfoValue) {
  return connection_call(hdbc, [&](Connection* conn) {
    return get_info(conn, fInfoType, rgbInfoValue, cbInfoValueMax, pcbInfoValue);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC hdbc, SQLUSMALLINT fFunction,
                                            SQLUSMALLINT* pfExists) {
  return connection_call(
      hdbc, [&](Connection* conn) { return get_functions(conn, fFunction, pfExists); });
}
