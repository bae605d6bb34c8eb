// Positioning on an absolute row and counting rows (fetch.h).
#include <cstdint>

#include "core/diagnostics.h"
#include "protocol/wire.h"
#include "results/fetch.h"
#include "results/fetch_internal.h"
#include "results/row_block.h"
#include "results/execute_reply.h"

namespace q4 {

namespace {

// Jumps shorter than this are walked through the block stream; longer ones
// (and backward ones outside the stored block) are asked of the server.
constexpr int32_t kWalkLimit = 200;

// Steps until row `target` is current and marks it as the row the next step
// returns. The first result other than SQL_SUCCESS ends the walk.
SQLRETURN walk_forward(Statement* stmt, int32_t target) {
  while (stmt->cursor_row < target) {
    SQLRETURN rc = fetch_next_row(stmt, -1);
    if (rc != SQL_SUCCESS) return rc;
  }
  stmt->positioned = 1;
  return SQL_SUCCESS;
}

}  // namespace

Step emulate_absolute_request(Statement* stmt, int32_t target) {
  Step last{Step::kRow};
  if (target < stmt->cursor_row) {
    // The stored block belongs to the earlier run: a reply that carries no
    // rows must not leave it to be walked as if it were the new first block.
    stmt->cache_valid = 0;
    // The run again stands in for the same result (its rows keep their
    // numbers), so a count already read to the end stays known.
    const bool counted = stmt->count_final && !stmt->count_lost;
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
      stmt->count_final = 1;
      if (rows > stmt->row_count) stmt->row_count = rows;
    }
  }
  while (stmt->cursor_row < target) {
    SQLRETURN rc = fetch_next_row(stmt, -1);
    if (rc == SQL_SUCCESS) continue;
    last = Step{rc == SQL_NO_DATA_FOUND ? Step::kEnd : Step::kFailed};
    break;
  }
  return last;
}

SQLRETURN position_cursor(Statement* stmt, int32_t target) {
  int32_t t = target > 0 ? target : 0;
  stmt->positioned = 0;
  if (t == stmt->cursor_row) {
    if (t == 0 || stmt->at_end) return SQL_NO_DATA_FOUND;
    stmt->positioned = 1;
    return SQL_SUCCESS;
  }

  // Backwards inside the stored block: rewind it and walk, no request.
  if (t < stmt->cursor_row && static_cast<int64_t>(t) >= stmt->block_first_row &&
      stmt->cache_valid && row_storage_fits(stmt)) {
    stmt->cursor_row = static_cast<int32_t>(stmt->block_first_row);
    if (stmt->block_first_row != 0) {
      if (!index_row(stmt, stmt->row_buffer)) {
        report_broken_block(stmt);
        return SQL_ERROR;
      }
    } else {
      stmt->value_table[stmt->column_count] = nullptr;
      if (t == 0) return SQL_NO_DATA_FOUND;
    }
    return walk_forward(stmt, t);
  }

  if (t > stmt->cursor_row && t - stmt->cursor_row < kWalkLimit) return walk_forward(stmt, t);

  switch (request_rows(stmt, t).kind) {
    case Step::kRow:
      stmt->at_end = 0;
      stmt->cursor_row = t;
      if (t == 0) {
        // Before the first row there is no row for the next step to take
        // as it stands: that step reads row 1, as after a rewind inside the
        // block.
        return SQL_NO_DATA_FOUND;
      }
      stmt->positioned = 1;
      return SQL_SUCCESS;
    case Step::kEnd:
      stmt->at_end = 1;
      if (stmt->count_final) {
        stmt->cursor_row = stmt->row_count + 1;
      } else {
        // Counting reads the whole result from its start. The request has
        // taken the server's cursor past the end whatever cursor_row says
        // (it is still 0 when nothing was read yet), so row 1 is asked for
        // in any case: reading on from past the end would count nothing
        // and make the count from the execute reply look final.
        if (request_rows(stmt, 0).kind == Step::kRow) {
          stmt->at_end = 0;
          // A block is read from its first row on; a reply without rows
          // announced row 1 itself, which is then current.
          stmt->cursor_row = stmt->cache_valid ? 0 : 1;
          if (stmt->cursor_row > stmt->row_count) stmt->row_count = stmt->cursor_row;
        }
        stmt->cursor_row = count_rows(stmt) + 1;
        stmt->at_end = 1;
      }
      return SQL_NO_DATA_FOUND;
    default:
      return SQL_ERROR;
  }
}

int32_t count_rows(Statement* stmt) {
  if (!stmt->count_final) {
    while (fetch_next_row(stmt, -1) == SQL_SUCCESS) {
    }
  }
  return stmt->row_count;
}

}  // namespace q4
