// The date and time type codes of catalog rows, in the generation the
// application declared.
//
// The server answers SQLColumns, SQLSpecialColumns and SQLGetTypeInfo with
// the codes it knows, 9, 10 and 11, in their DATA_TYPE column. An application
// that declared ODBC 3.x reads 91, 92 and 93 there (and compares them with
// SQL_TYPE_TIMESTAMP ...). Rather than asking at every value whether its
// column holds a type code, the codes are rewritten in the row block itself,
// once per block as it arrives: a plain result pays nothing, and SQLBindCol
// and SQLGetData, in whatever C type, read the rewritten integer.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "results/row_decoder.h"

namespace q4 {

// The bit of column `column` (1-based) in ResultSet::type_code_columns.
constexpr uint32_t type_code_column_bit(int32_t column) {
  return column >= 1 && column <= 32 ? uint32_t{1} << (column - 1) : 0;
}

// Rewrites, in every whole row of the `length` bytes at `block` (rows of
// `columns` values), the date and time codes of the columns marked in `mask`
// to their 3.x form. Only SMALLINT and INTEGER values are touched; a row
// that runs past the block ends the walk (the fetch reports that damage when
// it reaches the row).
void map_block_type_codes(uint8_t* block, int32_t length, int32_t columns, uint32_t mask);

// The same for one value (a value the server sent on its own).
void map_value_type_code(const RowValue& value);

// Marks column `column` of `stmt`'s new result as carrying type codes to be
// given in their 3.x form, and rewrites the block already held. Called right
// after a catalog reply was taken; the next reply that starts a result clears
// the mark (handle_execute_reply).
void give_odbc3_type_codes(Statement* stmt, int32_t column);

}  // namespace q4
