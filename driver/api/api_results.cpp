// ODBC entry points: fetching rows and reading their values.
#include <sql.h>
#include <sqlext.h>

#include "core/handles.h"
#include "platform/export.h"
#include "results/fetch.h"
#include "results/get_data.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = static_cast<Statement*>(hstmt);
  InCall in_call(stmt);
  SQLRETURN rc = enter_statement(stmt, true);
  if (rc != SQL_SUCCESS) return rc;
  return fetch_row(stmt);
}

// A pending cancel is reported as "S1000": binding does not touch the result.
Q4_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType,
                                       SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = static_cast<Statement*>(hstmt);
  InCall in_call(stmt);
  SQLRETURN rc = enter_statement(stmt, false);
  if (rc != SQL_SUCCESS) return rc;
  return bind_column(stmt, icol, fCType, rgbValue, cbValueMax, pcbValue);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType,
                                       SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = static_cast<Statement*>(hstmt);
  InCall in_call(stmt);
  SQLRETURN rc = enter_statement(stmt, true);
  if (rc != SQL_SUCCESS) return rc;
  return get_data(stmt, icol, fCType, rgbValue, cbValueMax, pcbValue);
}
