// Reading the values of the current row: bound columns (SQLBindCol) and
// SQLGetData, with piecewise reads of character and binary values.
//
// Both functions run inside a statement call that holds the statement's claim and has run
// enter_statement; the fetch functions call get_data for every bound column.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// The buffer length a binding keeps for `c_type`: the fixed size of the
// numeric types (2 for every short and tinyint type, 4 for the long types and
// float, 8 for double), the application's `value_max` for every other code.
// It is both the conversion's buffer length and the column-wise rowset stride.
int64_t bound_buffer_length(SQLSMALLINT c_type, SQLLEN value_max);

// SQLBindCol's work. A null `value` unbinds column `icol` (a column that is
// not bound is no error); otherwise the column's entry is replaced in place
// or added to the records of the statement's row descriptor (in column order). Nothing is checked
// against the result: a bad column or type surfaces when a fetch fills the column. SQL_SUCCESS, or
// SQL_ERROR with "S1001".
SQLRETURN bind_column(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER value,
                      SQLLEN value_max, SQLLEN* indicator);

// The one value delivery: SQLGetData's work, and each bound column's fill
// during a fetch. Converts the value of column `icol` of the current row
// (0: the row number, as an SQL_INTEGER) into `c_type` in `value`
// (`value_max` bytes, clamped to 2^31 - 1) and its length or SQL_NULL_DATA
// into *indicator. The value comes from the stored row block, or, when the
// server sent the row without data, from a get-data request (0x03).
// A further call on the same column continues a character or binary value
// where the last one stopped; for other types it returns SQL_NO_DATA_FOUND.
// Returns the conversion's result, or SQL_ERROR after posting: "S1002"
// column past the last, "24000" a block is stored but no row of it read,
// "S1000" the server refused (its text), "08S01" a failed exchange or a
// damaged reply, "S1010" no result, "S1001".
SQLRETURN deliver_value(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER value,
                        SQLLEN value_max, SQLLEN* indicator);

// A bound SQL_C_NUMERIC column: delivered with the precision and scale of
// its record (`record`), the defaults where the record has none.
SQLRETURN deliver_numeric(Statement* stmt, const DescRecord& record, SQLPOINTER value,
                          SQLLEN* indicator);

// SQLGetData's work: deliver_value, where SQL_ARD_TYPE takes the type (and
// for SQL_C_NUMERIC the precision and scale) of the column's record in the
// row descriptor; a column without one is "S1002" "Invalid descriptor index".
SQLRETURN get_data_as_described(Statement* stmt, SQLUSMALLINT icol, SQLPOINTER value,
                                SQLLEN value_max, SQLLEN* indicator);
inline SQLRETURN get_data(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER value,
                          SQLLEN value_max, SQLLEN* indicator) {
  if (c_type == SQL_ARD_TYPE) return get_data_as_described(stmt, icol, value, value_max, indicator);
  return deliver_value(stmt, icol, c_type, value, value_max, indicator);
}

}  // namespace q4
