// A statement's result set: the row block with its current row and where the
// cursor stands (ResultSet, below), the description cache
// (description_cache.h) and the counts of the statement record
// (column_count, row_count, row_number); this layer owns them, below the
// statement functions that start results. Also the cursor resets shared by
// SQLFreeStmt, SQLCancel and the cancel check, and the end of a result.
#pragma once

#include <new>
#include <type_traits>

#include "core/records.h"
#include "results/row_block.h"

namespace q4 {

// The row block and the cursor of a statement's result. It lives in the
// statement record's result_area, so that a statement allocates nothing more
// for it, and is reached through result_set(stmt); zero-filled, as a new
// record is, it holds no block and stands before the first row. It owns what
// its block owns, until close_result releases it.
struct ResultSet {
  // The latest block of rows the server sent, and its current row.
  RowBlock block;
  // The row the cursor stands on: 0 before the first row, row_count + 1
  // after the end.
  int32_t cursor_row;
  // The result's number of the held block's first row when a rewind to the
  // block's start makes that row current; 0 when such a rewind leaves no row
  // current (the block is entered from before the result's first row).
  uint32_t block_first_row;
  // Positioning made cursor_row current without returning it: the next step
  // takes it instead of moving on.
  bool positioned;
  // The end of the result has been read: row_count is the number of its rows.
  bool count_final;
  // The cursor went back before row 1 ahead of the result's end
  // (SQLFreeStmt(SQL_CLOSE), a cancel taken at entry): rows read after that
  // are numbered from 1 again, so no count of this result can be exact any
  // more. Cleared by the next reply that brings counts.
  bool count_lost;
  // The last step found no further row.
  bool at_end;
  // Columns (bit n-1 for column n) whose date and time type codes are given
  // in their 3.x form (results/type_codes.h): set after a catalog reply for
  // an ODBC 3 application, cleared by the next reply that starts a result.
  // Each block is rewritten as it arrives, so values are read as they lie.
  uint32_t type_code_columns;
};

static_assert(sizeof(ResultSet) <= kResultAreaSize && alignof(ResultSet) <= 16,
              "a statement record's result_area holds its result set");
static_assert(std::is_trivially_default_constructible<ResultSet>::value &&
                  std::is_trivially_destructible<ResultSet>::value,
              "a zero-filled result_area is an empty result set");

inline ResultSet& result_set(Statement* stmt) {
  return *std::launder(reinterpret_cast<ResultSet*>(stmt->result_area));
}
inline const ResultSet& result_set(const Statement* stmt) {
  return *std::launder(reinterpret_cast<const ResultSet*>(stmt->result_area));
}

// Ends a piecewise read of SQLGetData: the next read of any column starts
// at its first byte.
inline void end_piecewise_read(Statement* stmt) {
  stmt->getdata_column = -1;
  stmt->getdata_offset = 0;
}

// The result's part of SQLFreeStmt(SQL_CLOSE): ends the piecewise read and
// moves the cursor before the first row. The row block, the descriptions and
// cursor_open stay until close_result. Before the end of the result this
// loses its count for good (count_lost): reading on numbers the rows from 1
// again.
void rewind_cursor(Statement* stmt);

// Discards the statement's result: clears cursor_open, pass_through and the
// description flag, frees the row block and the description cache, and
// moves the cursor before the first row. Bindings, cursor name, statement
// text and options stay.
void close_result(Statement* stmt);

// Moves the cursor before the first row of a new run: cursor_row,
// row_number, block_first_row, count_final, count_lost and at_end to 0.
void reset_cursor_position(Statement* stmt);

}  // namespace q4
