// Running the rows of a parameter array, once execute_rows
// (statement/param_array.h) has checked them.
//
// Each row is its own execute request with its own reply. Where it is safe
// the rows are sent ahead of their replies, up to a window of them in flight
// (link/pipeline.h), so that an array costs a few round trips rather than one
// a row. The first row always goes alone; the rows after it go ahead once a
// reply has shown that the statement returns no result set and that the
// server answers in one frame. A statement with a result set, a server that
// splits its replies, and the connection setting DisableArrayPipeline=Yes
// run one row at a time, each row's reply read before the next row is sent.
//
// What a failure does, in either way of running:
// - A row the server refuses fails the execution with that row's diagnostic,
//   and the row counter names it. The rows before it stay executed
//   (committed or not as autocommit decides). No row is sent after its reply
//   arrived; the rows already sent by then (at most a window less one) are
//   executed by the server like the rows before it, and each gets its own
//   status: SQL_PARAM_SUCCESS, or SQL_PARAM_ERROR when it failed too (its
//   diagnostic is not kept: the slot holds the first failure's). Rows never
//   sent are SQL_PARAM_UNUSED. SQLRowCount counts every row that ran.
// - A row that cannot be built (a value that cannot be written) fails the
//   same way without being sent.
// - A lost link (or a wait past SQL_QUERY_TIMEOUT, which drops the link)
//   fails the execution at the oldest row whose reply did not come, with
//   "08S01" (or "S1T00"); the rows sent after it may or may not have run and
//   are SQL_PARAM_DIAG_UNAVAILABLE.
// - A cancel from another thread stops the sending; the replies of the rows
//   already sent are read (the server runs them), they count as done, and the
//   execution fails with "S1008", the counter on the last row done.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Runs rows [0, rows) of `text` (`length` bytes); row 0's request is already
// built in request_buffer. Writes every row's status, the row counter and
// row_count, and returns as statement/param_array.h describes execute_rows.
SQLRETURN run_rows(Statement* stmt, const char* text, int64_t length, uint64_t rows);

}  // namespace q4
