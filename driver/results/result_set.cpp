#include "results/result_set.h"

#include "core/memory.h"

namespace q4 {

namespace {

void move_before_first_row(Statement* stmt) {
  stmt->cursor_row = 0;
  stmt->row_number = 0;
  stmt->block_first_row = 0;
}

}  // namespace

void rewind_cursor(Statement* stmt) {
  // Reading on after this takes the next unread row as row 1.
  if (!stmt->count_final && stmt->cursor_row > 0) stmt->count_lost = 1;
  stmt->getdata_column = -1;
  stmt->getdata_offset = 0;
  stmt->cursor_row = 0;
}

void close_result(Statement* stmt) {
  stmt->cursor_open = 0;
  stmt->pass_through = 0;
  stmt->cache_valid = 0;
  stmt->descriptions_cached = 0;
  release_block(stmt->row_buffer, stmt->row_buffer_size);
  release_block(stmt->value_table, stmt->value_table_columns);
  release_block(stmt->description_cache, stmt->description_cache_size);
  // The position starts over; count_final and at_end stay until a new run.
  move_before_first_row(stmt);
}

void reset_cursor_position(Statement* stmt) {
  move_before_first_row(stmt);
  stmt->count_final = 0;
  stmt->count_lost = 0;
  stmt->at_end = 0;
}

}  // namespace q4
