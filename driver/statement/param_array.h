// Parameter arrays (SQLParamOptions): one execution runs the statement once
// for each row of bound values, column-wise: row i of a parameter is found at
// value + i * its element size and indicator + i.
//
// The server takes one statement text per execute request and answers each
// with its own reply, so the rows travel as execute requests of the same
// statement, each built exactly as a single execution is; where it is safe
// they go ahead of their replies (statement/run_rows.h says where, and what a
// failure in the middle leaves).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// SQLParamOptions' work: `rows` sets of values per execution (0 is "S1107"
// "Row value out of range"); `rows_processed`, when given, receives the
// number (from 1) of the row being executed, so after an execution it holds
// the rows done, or the row that failed. Kept until changed: binding anew or
// SQL_RESET_PARAMS leaves it in place.
SQLRETURN set_param_options(Statement* stmt, SQLULEN rows, SQLULEN* rows_processed);

// The bytes from one row of `binding`'s values to the next: cbValueMax for
// character and binary data (SQL_C_CHAR, SQL_C_BINARY, SQL_C_WCHAR), the C
// type's size otherwise (SQL_C_DEFAULT: the size of the C type its SQL type
// implies). 0 for a C type the driver has no size for.
int64_t element_size(const ParamBinding& binding);

// `binding` as row `row` of an array sees it: value and indicator moved to
// that row (a null pointer stays null). Row 0 is the binding itself.
ParamBinding binding_at_row(const ParamBinding& binding, uint64_t row);

// SQLExecute's and SQLExecDirect's execution of `text` (`length` bytes, or
// SQL_NTS) with the current bindings.
// - One set of values (paramset_size 0 or 1), or a text without markers:
//   exactly a single execution (execute_text), *rows_processed set to 1.
// - Otherwise every row is built and executed (statement/run_rows.h). All
//   rows done: SQL_SUCCESS (or SQL_SUCCESS_WITH_INFO when a row's reply was a
//   warning, the last warning in the slot), *rows_processed the rows,
//   row_count the rows all of them changed (-1 when a reply did not know its
//   count), the result the last row's (a query's row_count is that
//   result's own). A row that fails fails the execution
//   with its diagnostic, *rows_processed naming it; row_count then counts the
//   rows that ran. A cancel from another thread stops the sending: "S1008",
//   the counter on the last row done.
// Refused before anything is sent: a marker bound for data at execution in
// any row ("S1C00": its value would be asked for row by row, which the
// driver does not offer), and character or binary values without a
// cbValueMax to step by ("S1090"). Rows are read where the parameter layout
// puts them, and each row's outcome goes to the status array, when the
// application set one (statement/param_rows.h).
SQLRETURN execute_rows(Statement* stmt, const char* text, int64_t length);

}  // namespace q4
