#include "results/type_codes.h"

#include <sql.h>

#include "core/odbc_version.h"
#include "protocol/wire.h"
#include "results/result_set.h"

namespace q4 {

namespace {

// Catalog results have at most a few dozen columns; a result wider than the
// mask holds has no marked column to walk for.
constexpr int32_t kMaxMarkedColumns = 32;

void put_be(uint8_t* at, uint32_t value, int32_t bytes) {
  for (int32_t i = bytes - 1; i >= 0; --i) {
    at[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

}  // namespace

void map_value_type_code(const RowValue& value) {
  int32_t width;
  if (value.type == SQL_SMALLINT) {
    width = 2;
  } else if (value.type == SQL_INTEGER) {
    width = 4;
  } else {
    return;  // NULL, or a server that sends the code in another form
  }
  if (value.length != width) return;
  // The value lies in a block the driver received into: writable.
  auto* data = const_cast<uint8_t*>(value.data);
  uint32_t bits = 0;
  for (int32_t i = 0; i < width; ++i) bits = bits << 8 | data[i];
  const auto code = static_cast<SQLSMALLINT>(width == 2 ? static_cast<int16_t>(bits)
                                                        : static_cast<int32_t>(bits));
  if (static_cast<uint32_t>(code) != bits && width == 4) return;  // beyond a type code
  const SQLSMALLINT mapped = odbc3_datetime_code(code);
  if (mapped != code) put_be(data, static_cast<uint16_t>(mapped), width);
}

void map_block_type_codes(uint8_t* block, int32_t length, int32_t columns, uint32_t mask) {
  if (block == nullptr || mask == 0 || columns <= 0 || columns > kMaxMarkedColumns) return;
  const uint8_t* values[kMaxMarkedColumns];
  const uint8_t* end = block + length;
  const uint8_t* row = block;
  for (;;) {
    const uint8_t* status = decode_row(row, end, columns, values);
    if (status == nullptr) return;
    for (int32_t c = 0; c < columns; ++c) {
      if ((mask & type_code_column_bit(c + 1)) != 0) map_value_type_code(value_at(values[c]));
    }
    if (*status != kStatusOk) return;
    row = status + 1;
  }
}

void give_odbc3_type_codes(Statement* stmt, int32_t column) {
  ResultSet& rs = result_set(stmt);
  rs.type_code_columns = type_code_column_bit(column);
  if (rs.block.holds_rows_of(stmt->column_count)) {
    map_block_type_codes(rs.block.bytes(), rs.block.length(), stmt->column_count,
                         rs.type_code_columns);
  }
}

}  // namespace q4
