// Cursor resets shared by SQLFreeStmt, SQLCancel and the cancel check.
#pragma once

#include "core/records.h"

namespace q4 {

// SQLFreeStmt(SQL_CLOSE): resets the piecewise-read state, frees the pending
// binary parameter blocks and moves the cursor before the first row. The row
// buffer, the descriptions and cursor_open stay until close_result.
void rewind_cursor(Statement* stmt);

// Discards the statement's result: clears cursor_open, pass_through and the
// cache flags, frees the row buffer, value table and description cache.
// Bindings, cursor name, statement text and options stay.
void close_result(Statement* stmt);

}  // namespace q4
