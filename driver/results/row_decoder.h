// Decoding the rows of a row block, on byte spans only: no statement, no
// allocation. The row block (row_block.h), the catalog lookup of
// statement/column_lookup.cpp and the fuzz targets call it.
//
// A block is rows back to back; a row is `columns` values
//   u16 type (0xFFFF: NULL) | u32 length n | n bytes
// followed by one status byte: "K" (another row follows), or the block's
// trailing status "M" (the server holds more rows), "W" (no more rows), "E"
// (an error).
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/codec.h"

namespace q4 {

// Bytes of a value's header (type and length).
constexpr size_t kValueHeader = 6;

// One value of a row, where it lies.
struct RowValue {
  uint16_t type;  // kNullValueType for NULL
  const uint8_t* data;
  int32_t length;
};

// The value whose header starts at `header`; the caller vouches for the
// header and the data (decode_row checked them).
inline RowValue value_at(const uint8_t* header) {
  return RowValue{load_u16(header), header + kValueHeader,
                  static_cast<int32_t>(load_u32(header + 2))};
}

// Decodes the row that starts at `row` in a block ending at `end`: stores the
// address of each value's header in values[0..columns-1] and returns the
// address of the status byte after the row. Returns null when the row or its
// status byte runs past `end`; the entries before the damage may then have
// been written (a caller that must keep its last good row decodes into a
// spare table: RowBlock). Reads nothing at or past `end`.
const uint8_t* decode_row(const uint8_t* row, const uint8_t* end, int32_t columns,
                          const uint8_t** values);

// Whether `status` ends a block ("M", "W" or "E"); "K" is followed by a row.
bool is_block_trailer(uint8_t status);

}  // namespace q4
