// The rows of a parameter array as the application laid them out, and where
// each row's outcome goes: the ODBC 3 side of parameter arrays
// (statement/param_array.h runs them).
//
// Layout. Column-wise (SQL_ATTR_PARAM_BIND_TYPE 0, what SQLParamOptions
// offers) puts row i of a parameter at value + i * its element size and
// indicator + i. Row-wise (SQL_ATTR_PARAM_BIND_TYPE n > 0) puts every row n
// bytes after the one before, values and indicators alike: the application
// binds the members of its first row's record. A bind offset
// (SQL_ATTR_PARAM_BIND_OFFSET_PTR) is read at each execution and added to
// every non-null value and indicator address, in either layout.
//
// Data at execution needs the binding's own addresses (SQLParamData hands
// the value address back, the length goes into the indicator), so it is
// refused with "S1C00" under a bind offset, as it is with arrays. A row-wise
// row size moves only the rows after the first: with one set of values it
// is no obstacle (applications such as pyodbc leave it set after an array).
//
// Outcomes (SQL_ATTR_PARAM_STATUS_PTR, when set): every row the execution
// ran gets SQL_PARAM_SUCCESS or SQL_PARAM_SUCCESS_WITH_INFO; the row it
// stopped at, the one the rows-processed counter names, gets SQL_PARAM_ERROR
// (a refusal before anything was sent stops at the first row); rows already
// sent after it get their own outcome, or SQL_PARAM_DIAG_UNAVAILABLE when the
// link was lost before their replies (statement/run_rows.h); the rows not
// sent get SQL_PARAM_UNUSED.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// True for column-wise binding without a bind offset: the bindings' own
// addresses are row 0's.
inline bool plain_param_layout(const Statement* stmt) {
  return app_param_desc(stmt).bind_type == 0 && app_param_desc(stmt).bind_offset == nullptr;
}

// True when the bindings' own addresses are where the values of a single
// set are read: no bind offset, or one of 0.
inline bool bindings_hold_first_row(const Statement* stmt) {
  return app_param_desc(stmt).bind_offset == nullptr || *app_param_desc(stmt).bind_offset == 0;
}

// Where row `row` of `stmt`'s layout puts `binding`'s indicator (null when
// it has none). Reads no more than the addresses: the scan asks it of every
// marker at every execution.
const int64_t* indicator_for_row(const Statement* stmt, const ParamBinding& binding, uint64_t row);

// `binding` as row `row` of `stmt`'s layout sees it: value and indicator
// moved to that row (a null address stays null).
ParamBinding binding_for_row(const Statement* stmt, const ParamBinding& binding, uint64_t row);

// Writes the status of row `row` from the code its execution returned
// (SQL_NEED_DATA writes nothing: the row is not done yet).
void note_row_outcome(Statement* stmt, uint64_t row, SQLRETURN rc);

// Marks the rows [row, rows) as not executed.
void note_rows_unused(Statement* stmt, uint64_t row, uint64_t rows);

}  // namespace q4
