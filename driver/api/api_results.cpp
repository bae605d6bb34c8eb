// ODBC entry points: fetching rows and reading their values.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/handles.h"
#include "core/odbc_version.h"
#include "platform/export.h"
#include "results/fetch.h"
#include "results/fetch_scroll.h"
#include "results/get_data.h"

using namespace q4;

// An ODBC 3 caller fetches the next rowset (results/fetch_scroll.h).
Q4_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return odbc3_caller(stmt) ? fetch_next_rowset(stmt) : fetch_row(stmt);
  });
}

// A pending cancel is reported as "S1000": binding does not touch the result.
Q4_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType,
                                       SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue) {
  return statement_call(hstmt, PendingCancel::kReportGeneral, [&](Statement* stmt) {
    return bind_column(stmt, icol, caller_type_code(stmt, fCType), rgbValue, cbValueMax, pcbValue);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType,
                                       SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return get_data(stmt, icol, caller_type_code(stmt, fCType), rgbValue, cbValueMax, pcbValue);
  });
}
