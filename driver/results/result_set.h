// A statement's result set as a whole: the cursor resets shared by
// SQLFreeStmt, SQLCancel and the cancel check, and the end of a result. The
// result set is the row block (row_block.h), the description cache
// (description_cache.h) and the cursor fields of the statement record; this
// layer owns them, below the statement functions that start results.
#pragma once

#include "core/records.h"

namespace q4 {

// The result's part of SQLFreeStmt(SQL_CLOSE): resets the piecewise-read
// state and moves the cursor before the first row. The row buffer, the
// descriptions and cursor_open stay until close_result. Before the end of
// the result this loses its count for good (count_lost): reading on numbers
// the rows from 1 again.
void rewind_cursor(Statement* stmt);

// Discards the statement's result: clears cursor_open, pass_through and the
// cache flags, frees the row buffer, value table and description cache.
// Bindings, cursor name, statement text and options stay.
void close_result(Statement* stmt);

// Moves the cursor before the first row of a new run: cursor_row,
// row_number, block_first_row, count_final, count_lost and at_end to 0.
void reset_cursor_position(Statement* stmt);

}  // namespace q4
