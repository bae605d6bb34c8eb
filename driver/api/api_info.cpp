// ODBC entry points: SQLGetInfo and SQLGetFunctions.
#include <sql.h>
#include <sqlext.h>

#include "metadata/driver_info.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT fInfoType,
                                       SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                                       SQLSMALLINT* pcbInfoValue) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  return get_info(static_cast<Connection*>(hdbc), fInfoType, rgbInfoValue, cbInfoValueMax,
                  pcbInfoValue);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC hdbc, SQLUSMALLINT fFunction,
                                            SQLUSMALLINT* pfExists) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  return get_functions(static_cast<Connection*>(hdbc), fFunction, pfExists);
}
