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

// The two halves of store_row_block, for a block received straight into
// row_buffer (the fetch path, which so copies each block once):
// - reserve_row_storage makes row_buffer hold at least `length` bytes (same
//   growth rule) and value_table column_count + 1 pointers. When either has
//   to grow, the stored block is given up (cache_valid cleared). False when
//   storage cannot be allocated ("S1001" posted); the stored block and
//   cache_valid are then left exactly as they were.
// - adopt_row_block takes the first `length` bytes of row_buffer as the
//   latest block, as store_row_block does after its copy, and sets
//   cache_valid. False (nothing posted) when read_first is asked and the first
//   row runs past the block; the block is then kept with no row read, so the
//   next step through it meets the same damage.
bool reserve_row_storage(Statement* stmt, int32_t length);
bool adopt_row_block(Statement* stmt, int32_t length, bool read_first);

// True when row_buffer holds a block that value_table can index with the
// current column_count. A re-execution can change column_count and still
// leave an older block in place; such a block must not be walked. Inline: it
// is asked for every value delivered.
inline bool row_storage_fits(const Statement* stmt) {
  return stmt->row_buffer != nullptr && stmt->value_table != nullptr && stmt->column_count >= 0 &&
         stmt->value_table_columns >= stmt->column_count;
}

// Points value_table[0..column_count-1] at the values of the row starting at
// `row` (inside row_buffer) and value_table[column_count] at the status byte
// after it. False, with value_table unchanged, when the row does not end
// before the end of the block or value_table has no room for column_count.
bool index_row(Statement* stmt, const uint8_t* row);

}  // namespace q4
