// ODBC entry points: the ODBC 3 statement functions unixODBC calls once it
// takes the driver for an ODBC 3.x driver, SQLSetStmtAttr, SQLGetStmtAttr and
// SQLFetchScroll. What they map to is in statement/attributes.h and
// results/fetch_scroll.h.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "platform/export.h"
#include "results/fetch_scroll.h"
#include "statement/attributes.h"

using namespace q4;

// As with the option functions, a pending cancel is reported as "S1000".
// cbValue is not needed: no statement attribute is a string.
Q4_EXPORT SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT hstmt, SQLINTEGER fAttribute,
                                           SQLPOINTER rgbValue, SQLINTEGER /*cbValue*/) {
  return statement_call(hstmt, PendingCancel::kReportGeneral,
                        [&](Statement* stmt) { return set_stmt_attr(stmt, fAttribute, rgbValue); });
}

// cbValueMax and pcbValue are not used: every answer is a number or an address.
Q4_EXPORT SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT hstmt, SQLINTEGER fAttribute,
                                           SQLPOINTER rgbValue, SQLINTEGER /*cbValueMax*/,
                                           SQLINTEGER* /*pcbValue*/) {
  return statement_call(hstmt, PendingCancel::kReportGeneral,
                        [&](Statement* stmt) { return get_stmt_attr(stmt, fAttribute, rgbValue); });
}

Q4_EXPORT SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT hstmt, SQLSMALLINT fFetchOrientation,
                                           SQLLEN irow) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return fetch_scroll(stmt, fFetchOrientation, irow);
  });
}
