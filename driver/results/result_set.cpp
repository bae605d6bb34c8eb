#include "results/result_set.h"

#include "core/memory.h"

namespace q4 {

namespace {

void move_before_first_row(Statement* stmt, ResultSet& rs) {
  rs.cursor_row = 0;
  rs.block_first_row = 0;
  stmt->row_number = 0;
}

}  // namespace

void rewind_cursor(Statement* stmt) {
  ResultSet& rs = result_set(stmt);
  // Reading on after this takes the next unread row as row 1.
  if (!rs.count_final && rs.cursor_row > 0) rs.count_lost = true;
  end_piecewise_read(stmt);
  rs.cursor_row = 0;
}

void close_result(Statement* stmt) {
  ResultSet& rs = result_set(stmt);
  stmt->cursor_open = 0;
  stmt->pass_through = 0;
  stmt->descriptions_cached = 0;
  rs.block.release();
  rs.type_code_columns = 0;
  release_block(stmt->description_cache, stmt->description_cache_size);
  // The position starts over; count_final and at_end stay until a new run.
  move_before_first_row(stmt, rs);
}

void reset_cursor_position(Statement* stmt) {
  ResultSet& rs = result_set(stmt);
  move_before_first_row(stmt, rs);
  rs.count_final = false;
  rs.count_lost = false;
  rs.at_end = false;
}

}  // namespace q4
