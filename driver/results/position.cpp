// Positioning on an absolute row and counting rows (fetch.h).
#include <cstdint>

#include "core/diagnostics.h"
#include "protocol/wire.h"
#include "results/execute_reply.h"
#include "results/fetch.h"
#include "results/fetch_internal.h"
#include "results/result_set.h"

namespace q4 {

namespace {

// Jumps shorter than this are walked through the block stream; longer ones
// (and backward ones outside the stored block) are asked of the server.
constexpr int32_t kWalkLimit = 200;

// Steps until row `target` is current and marks it as the row the next step
// returns. The first result other than SQL_SUCCESS ends the walk.
SQLRETURN walk_forward(Statement* stmt, int32_t target) {
  ResultSet& rs = result_set(stmt);
  while (rs.cursor_row < target) {
    SQLRETURN rc = fetch_next_row(stmt, kStepOnly);
    if (rc != SQL_SUCCESS) return rc;
  }
  rs.positioned = true;
  return SQL_SUCCESS;
}

// request_rows for positioning: a request the server refused leaves its text
// on the statement as it stands, with "37000". (Stepping maps the server's
// error number instead.)
Step request_rows_at(Statement* stmt, int32_t target) {
  Step step = request_rows(stmt, target);
  if (step.kind == Step::kServerError) {
    post_error_unprefixed(stmt, step.error_text, kStateFetchRefused);
  }
  return step;
}

}  // namespace

Step emulate_absolute_request(Statement* stmt, int32_t target) {
  ResultSet& rs = result_set(stmt);
  Step last{Step::kRow};
  if (target < rs.cursor_row) {
    // The stored block belongs to the earlier run: a reply that carries no
    // rows must not leave it to be walked as if it were the new first block.
    rs.block.discard();
    // The run again stands in for the same result (its rows keep their
    // numbers), so a count already read to the end stays known.
    const bool counted = rs.count_final && !rs.count_lost;
    const int32_t rows = stmt->row_count;
    if (send_execute(stmt) == SQL_ERROR) {
      // A re-execution that fails ends the positioning with SQL_ERROR and
      // its diagnostic on the statement: the server's error as the execute
      // reply mapped it, or the exchange's own failure. The cursor stands
      // before the first row, as the re-execution left it.
      return Step{Step::kFailed};
    }
    // A warning reply is a run without a first block: stepping asks the
    // server for the rows.
    if (counted) {
      rs.count_final = true;
      if (rows > stmt->row_count) stmt->row_count = rows;
    }
  }
  while (rs.cursor_row < target) {
    SQLRETURN rc = fetch_next_row(stmt, kStepOnly);
    if (rc == SQL_SUCCESS) continue;
    last = Step{rc == SQL_NO_DATA_FOUND ? Step::kEnd : Step::kFailed};
    break;
  }
  return last;
}

SQLRETURN position_cursor(Statement* stmt, int32_t target) {
  ResultSet& rs = result_set(stmt);
  int32_t t = target > 0 ? target : 0;
  rs.positioned = false;
  if (t == rs.cursor_row) {
    if (t == 0 || rs.at_end) return SQL_NO_DATA_FOUND;
    rs.positioned = true;
    return SQL_SUCCESS;
  }

  // Backwards inside the stored block: rewind it and walk, no request.
  if (t < rs.cursor_row && static_cast<int64_t>(t) >= rs.block_first_row &&
      rs.block.holds_rows_of(stmt->column_count)) {
    rs.cursor_row = static_cast<int32_t>(rs.block_first_row);
    if (rs.block_first_row != 0) {
      if (!rs.block.seek_to_first()) {
        report_broken_block(stmt);
        return SQL_ERROR;
      }
    } else {
      rs.block.seek_before_first();
      if (t == 0) return SQL_NO_DATA_FOUND;
    }
    return walk_forward(stmt, t);
  }

  if (t > rs.cursor_row && t - rs.cursor_row < kWalkLimit) return walk_forward(stmt, t);

  switch (request_rows_at(stmt, t).kind) {
    case Step::kRow:
      rs.at_end = false;
      rs.cursor_row = t;
      if (t == 0) {
        // Before the first row there is no row for the next step to take
        // as it stands: that step reads row 1, as after a rewind inside the
        // block.
        return SQL_NO_DATA_FOUND;
      }
      rs.positioned = true;
      return SQL_SUCCESS;
    case Step::kEnd:
      rs.at_end = true;
      if (rs.count_final) {
        rs.cursor_row = stmt->row_count + 1;
      } else {
        // Counting reads the whole result from its start. The request has
        // taken the server's cursor past the end whatever cursor_row says
        // (it is still 0 when nothing was read yet), so row 1 is asked for
        // in any case: reading on from past the end would count nothing
        // and make the count from the execute reply look final.
        if (request_rows_at(stmt, 0).kind == Step::kRow) {
          // A block is read from its first row on; a reply without rows
          // announced row 1 itself, which is then current.
          rs.cursor_row = rs.block.held() ? 0 : 1;
          if (rs.cursor_row > stmt->row_count) stmt->row_count = rs.cursor_row;
        }
        rs.cursor_row = count_rows(stmt) + 1;
        rs.at_end = true;
      }
      return SQL_NO_DATA_FOUND;
    default:
      return SQL_ERROR;
  }
}

int32_t count_rows(Statement* stmt) {
  if (!result_set(stmt).count_final) {
    while (fetch_next_row(stmt, kStepOnly) == SQL_SUCCESS) {
    }
  }
  return stmt->row_count;
}

}  // namespace q4
