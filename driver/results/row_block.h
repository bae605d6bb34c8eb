// The statement's copy of the latest row block sent by the server.
//
// A block is rows back to back; each row is `column_count` values
//   u16 type (0xFFFF: NULL) | u32 length n | n bytes
// and every row is followed by one status byte: "K" (another row follows),
// "M" (the server holds more rows), "W" (no more rows) or "E" (an error).
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Copies `length` bytes of a block into row_buffer (grown to the next
// multiple of 1000 bytes above the need when too small; its used size goes to
// row_block_length), makes value_table hold column_count + 1 pointers and sets
// cache_valid.
// - read_first false: value_table[column_count] becomes null, so the next step
//   through the block reads its first row (execute and catalog replies).
// - read_first true: the first row is indexed at once and is the current row.
// Returns false when the block is not stored: storage could not be allocated
// ("S1001" posted), or with read_first the first row runs past the block
// ("S1000" posted). cache_valid is then clear.
bool store_row_block(Statement* stmt, const uint8_t* data, int32_t length, bool read_first);

// Points value_table[0..column_count-1] at the values of the row starting at
// `row` (inside row_buffer) and value_table[column_count] at the status byte
// after it. False, with value_table unchanged, when the row does not end
// before the end of the block.
bool index_row(Statement* stmt, const uint8_t* row);

}  // namespace q4
