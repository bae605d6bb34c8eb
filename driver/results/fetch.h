// Moving the cursor of a result: stepping through the stored row block,
// asking the server for further blocks, positioning on an absolute row and
// counting the rows; SQLFetch's work.
//
// Everything here runs inside a statement call that holds the statement's
// claim and has run enter_statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// What one step through a result came to.
struct Step {
  enum Kind : uint8_t {
    kRow,          // a row is current
    kMore,         // the stored block is used up; the server holds more rows
    kEnd,          // no more rows
    kServerError,  // the server's error; `error_text` is its text (may be empty)
    kFailed,       // the step failed with its diagnostic posted
    kUnknown,      // a reply letter the protocol does not know (nothing posted)
  };
  Kind kind = kFailed;
  const char* error_text = "";
};

// fetch_next_row's rowset position for a step that fills no bound column.
constexpr int32_t kStepOnly = -1;

// Steps to the next row (or takes the row that positioning left current) and,
// for rowset_index >= 0, fills the bound columns for that rowset position
// (kStepOnly: none). SQL_SUCCESS (a bound column's truncation included: its
// "01004" stays posted), SQL_NO_DATA_FOUND past the end, SQL_ERROR.
SQLRETURN fetch_next_row(Statement* stmt, int32_t rowset_index);

// request_rows' target for the block after the stored one.
constexpr int32_t kNextBlock = -1;

// Asks the server for rows: the next block for kNextBlock, the block starting
// at row `target` (>= 0) otherwise (emulated by re-execution and reading
// forward when the server lacks the absolute form). kRow: a block was stored
// (or, with no payload, one row is current whose values are read with
// get-data requests); kEnd: no rows there; kServerError: the server's error,
// `error_text` its text (nothing posted); kFailed (a failed exchange, a
// damaged block, memory: posted); kUnknown (nothing posted).
// Row storage is secured before the request is sent, so a failed allocation
// ("S1001", kFailed) leaves cursor, stored block and server untouched.
Step request_rows(Statement* stmt, int32_t target);

// Makes row max(target, 0) current for the next step (positioned), walking
// short distances through the blocks and asking the server for long or
// backward ones. SQL_SUCCESS; SQL_NO_DATA_FOUND for row 0 or past the end
// (at_end set, cursor_row then row_count + 1); SQL_ERROR (a request the
// server refused: its text unprefixed with "37000").
SQLRETURN position_cursor(Statement* stmt, int32_t target);

// The number of rows of the result, reading to its end unless it is known.
int32_t count_rows(Statement* stmt);

// SQLFetch's work: resets the piecewise-read state, numbers the row about to
// be returned and steps to it, filling the bound columns.
SQLRETURN fetch_row(Statement* stmt);

// True when the statement has no result to read: never executed, or its
// result discarded (by SQLCancel, or by a new text whose execution failed).
// The server's cursor of a discarded result may still hold rows, and reading
// on would serve rows the application no longer has a result for. Fetching
// and SQLGetData then fail with "S1010" "Function sequence error" until the
// next execution.
inline bool result_discarded(const Statement* stmt) {
  return !stmt->cursor_open;
}

}  // namespace q4
