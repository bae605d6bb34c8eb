// Statement attributes: SQLSetStmtAttr and SQLGetStmtAttr, the ODBC 3 forms
// of the statement options.
//
// While unixODBC took the driver for an ODBC 2.x driver it answered these
// calls itself: it passed the numbers of the 2.x options (0 to 14) and the
// driver-defined ones (20000 and up) to SQLSetStmtOption/SQLGetStmtOption,
// SQL_ATTR_ROW_ARRAY_SIZE as SQL_ROWSET_SIZE, kept SQL_ATTR_ROW_STATUS_PTR,
// SQL_ATTR_ROWS_FETCHED_PTR and SQL_ATTR_FETCH_BOOKMARK_PTR for its own
// SQLFetch/SQLFetchScroll mapping, and refused every other number with
// "HY092". For an ODBC 3.x driver it passes them all on, so the mapping lives
// here and gives the same answers, with three groups added:
// - the parameter array attributes SQL_ATTR_PARAMSET_SIZE (the rows
//   SQLParamOptions sets), SQL_ATTR_PARAMS_PROCESSED_PTR (its row counter),
//   SQL_ATTR_PARAM_STATUS_PTR, SQL_ATTR_PARAM_BIND_TYPE and
//   SQL_ATTR_PARAM_BIND_OFFSET_PTR (statement/param_rows.h);
// - the rowset pointers, now kept by the driver (results/fetch_scroll.h);
// - the four descriptor handles: the driver has no descriptors ("S1C00"),
//   except that setting an application descriptor back to null (what
//   unixODBC sends to restore the implicit one) changes nothing and
//   succeeds.
// Every other number is refused with "S1092" "Invalid attribute/option
// identifier", the wording unixODBC used (it reaches ODBC 3 applications as
// "HY092").
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLSetStmtAttr's work. `value` is the attribute's integer or pointer.
SQLRETURN set_stmt_attr(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value);

// SQLGetStmtAttr's work. Options are stored as 32-bit values, as
// SQLGetStmtOption stores them; pointers and the parameter array sizes fill a
// pointer or an SQLULEN. A null `value` receives nothing: the 2.x options
// then fail with "S1009" as in SQLGetStmtOption, the others succeed.
SQLRETURN get_stmt_attr(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value);

}  // namespace q4
