// Moving the cursor of a result: stepping through the stored row block,
// asking the server for further blocks, positioning on an absolute row and
// counting the rows; SQLFetch's work.
//
// Everything here runs inside a statement call that holds the statement's claim and has run
// enter_statement.
//
// Status letters: the steps below speak in the server's status letters ("K"
// a row is current, "M" the server holds more rows, "W" no more rows, "E" an
// error) and leave the letter of the last step in reply_status[0]. One letter
// of the driver's own joins them: kStepFailed, a step that failed with its
// diagnostic already posted (memory, a damaged row block, a failed
// re-execution); it is never the server's.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

constexpr char kStepFailed = '\0';

// The next row of the stored block (precondition: cache_valid and
// row_storage_fits). "K": the row is indexed in value_table and current. "M",
// "W", "E": the block is used up (cache_valid cleared) and this is its
// trailing status. kStepFailed: the block is damaged at this point (a row
// running past its end, too few values, an unknown status byte); "08S01"
// "Communications_ERROR" is posted on the statement and the block stays as it
// was, so every further step fails the same way instead of skipping rows.
char next_cached_row(Statement* stmt);

// Steps to the next row (or takes the row that positioning left current) and,
// for rowset_index >= 0, fills the bound columns for that rowset position
// (-1: step only). SQL_SUCCESS (a bound column's truncation included: its
// "01004" stays posted), SQL_NO_DATA_FOUND past the end, SQL_ERROR.
SQLRETURN fetch_next_row(Statement* stmt, int32_t rowset_index);

// Asks the server for rows: the next block for target < 0, the block starting
// at row `target` otherwise (emulated by re-execution and reading forward
// when the server lacks the absolute form). Returns the resulting status
// letter, also left in reply_status[0]:
// "K" a block was stored (or, with no payload, one row is current whose
// values are read with get-data requests); "W" no rows there; "E" the
// server's error (its text copied unprefixed with "37000" into the
// statement's slot) or a failed exchange ("08S01" on the connection);
// kStepFailed; or any other letter the server sent.
// Row storage is secured before the request is sent, so a failed allocation
// ("S1001", kStepFailed) leaves cursor, stored block and server untouched.
char request_rows(Statement* stmt, int32_t target);

// Makes row max(target, 0) current for the next step (positioned), walking
// short distances through the blocks and asking the server for long or
// backward ones. SQL_SUCCESS; SQL_NO_DATA_FOUND for row 0 or past the end
// (at_end set, cursor_row then row_count + 1); SQL_ERROR.
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
