#include "statement/run_rows.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "link/pipeline.h"
#include "results/statement_exchange.h"
#include "protocol/wire.h"
#include "results/execute_reply.h"
#include "results/result_set.h"
#include "statement/param_rows.h"
#include "statement/request.h"

namespace q4 {

namespace {

constexpr uint64_t kNoRow = UINT64_MAX;

// Counts are 32-bit on the statement; a total beyond that reads as the most
// it can say.
int32_t clamp_count(int64_t total) {
  return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

// What an array's execution has come to: the rows' statuses as they are
// known, the rows changed, and the first failure with its diagnostic (later
// replies post into the same slot).
class RowsOutcome {
 public:
  RowsOutcome(Statement* stmt, uint64_t rows) : stmt_(stmt), rows_(rows) {}

  // Row `row` ran and its reply was handled with `rc`; row_count holds what
  // it changed.
  void ran(uint64_t row, SQLRETURN rc) {
    if (rc == SQL_ERROR) return failed(row);
    note_row_outcome(stmt_, row, rc);
    if (rc == SQL_SUCCESS_WITH_INFO) warned_ = true;
    // A warning reply leaves the count alone: that row adds nothing.
    if (stmt_->row_count < 0) count_known_ = false;
    total_ += stmt_->row_count < 0 ? 0 : stmt_->row_count;
  }
  // Row `row` failed, its diagnostic in the slot.
  // An ODBC 3 application is also told of the later rows' failures, each a
  // record with its row number (add_diagnostic_record keeps none for an
  // ODBC 2 one, which is told of the first).
  void failed(uint64_t row) {
    note_row_outcome(stmt_, row, SQL_ERROR);
    const int32_t column = stmt_->diag.column_number;
    if (row > failed_row_ && failed_row_ != kNoRow) {
      add_diagnostic_record(stmt_, stmt_->sqlstate, stmt_->message, row + 1, column);
      return;
    }
    if (row == failed_row_) return;
    if (failed_row_ != kNoRow) {
      add_diagnostic_record(stmt_, sqlstate_, message_, failed_row_ + 1, failed_column_);
    }
    failed_row_ = row;
    failed_column_ = column;
    memcpy(sqlstate_, stmt_->sqlstate, sizeof sqlstate_);
    memcpy(message_, stmt_->message, sizeof message_);
  }
  // Rows [from, to) were sent but their replies never came.
  void unknown(uint64_t from, uint64_t to) {
    if (stmt_->param_statuses == nullptr) return;
    for (uint64_t row = from; row < to; ++row)
      stmt_->param_statuses[row] = SQL_PARAM_DIAG_UNAVAILABLE;
  }
  bool has_failed() const { return failed_row_ != kNoRow; }

  // Ends the execution: rows from `sent` on were never sent, `done` rows
  // have their outcome. Sets the counter and row_count; the result.
  SQLRETURN finish(uint64_t sent, uint64_t done) {
    note_rows_unused(stmt_, sent, rows_);
    // Changes add up over the rows. A query leaves the last row's result,
    // which keeps its own count: the cursor goes on from it as it reads, and
    // a sum over other rows' results would number rows that result does not
    // have.
    if (stmt_->column_count == 0) stmt_->row_count = count_known_ ? clamp_count(total_) : -1;
    if (has_failed()) {
      memcpy(stmt_->sqlstate, sqlstate_, sizeof sqlstate_);
      memcpy(stmt_->message, message_, sizeof message_);
      // Which row of the array it was, for SQLGetDiagField (a single set of
      // values has no row number).
      const int64_t row_number = rows_ > 1 ? static_cast<int64_t>(failed_row_) + 1 : 0;
      set_diagnostic_position(stmt_, row_number, failed_column_);
      note_counter(failed_row_ + 1);
      return SQL_ERROR;
    }
    note_counter(done);
    if (stmt_->cancelled_in_call != kNotCancelled) return post_error(stmt_, kDiagCancelled);
    return warned_ ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  }

 private:
  void note_counter(uint64_t number) {
    if (stmt_->rows_processed != nullptr) *stmt_->rows_processed = number;
  }

  Statement* stmt_;
  uint64_t rows_;
  int64_t total_ = 0;
  bool count_known_ = true;
  bool warned_ = false;
  uint64_t failed_row_ = kNoRow;
  int32_t failed_column_ = 0;  // the failed row's parameter, when one was at fault
  char sqlstate_[sizeof Statement::sqlstate];
  char message_[sizeof Statement::message];
};

// Builds row `row`'s request into request_buffer.
bool build_row(Statement* stmt, const char* text, int64_t length, uint64_t row) {
  stmt->param_row = row;
  return build_request(stmt, text, length) == SQL_SUCCESS;
}

// Each row's reply read before the next row is sent.
SQLRETURN run_one_at_a_time(Statement* stmt, const char* text, int64_t length, uint64_t rows) {
  RowsOutcome outcome(stmt, rows);
  uint64_t row = 0;
  for (; row < rows; ++row) {
    if (stmt->rows_processed != nullptr) *stmt->rows_processed = row + 1;
    if (row > 0 && !build_row(stmt, text, length, row)) {
      outcome.failed(row++);
      break;
    }
    stmt->row_count = 0;
    SQLRETURN result = send_execute(stmt);
    if (result == SQL_ERROR && stmt->cancelled_in_call == kCancelledAfterReply) {
      // Cancelled after the server ran this row: the row is done and
      // counted, the rows after it are not sent. (A cancel that cut the wait
      // for this row's reply, or came before it was sent, stops at this row
      // like a failure: whether the server ran it is not known.)
      outcome.ran(row++, SQL_SUCCESS);
      break;
    }
    outcome.ran(row, result);
    if (result == SQL_ERROR) {
      ++row;
      break;
    }
  }
  return outcome.finish(row, row);
}

// The rows sent ahead of their replies: as many as the window allows go out,
// then the oldest reply is read, and so on. The window is 1 until a reply
// shows the shape (see run_rows.h).
SQLRETURN run_ahead(Statement* stmt, const char* text, int64_t length, uint64_t rows,
                    Pipeline* pipeline) {
  RowsOutcome outcome(stmt, rows);
  uint64_t sent = 0;     // rows sent (or refused when built)
  uint64_t replied = 0;  // rows whose replies were read
  bool built = true;     // row `sent` has its request in request_buffer
  bool stop = false;     // no further row is sent
  bool shape_known = false;
  for (;;) {
    while (!stop && sent < rows && pipeline->in_flight < pipeline->window) {
      if (!built && !build_row(stmt, text, length, sent)) {
        outcome.failed(sent++);
        stop = true;
        break;
      }
      built = true;
      int32_t request_length = static_cast<int32_t>(stmt->request_length);
      // A request of more frames waits until nothing is in flight.
      if (!pipeline_has_room(*pipeline, request_length)) break;
      if (!send_ahead_for_statement(stmt, pipeline, kCmdExecute, stmt->request_buffer,
                                    request_length)) {
        // The link is gone: neither this row nor those in flight has an
        // outcome to tell.
        outcome.failed(replied);
        outcome.unknown(replied + 1, sent + 1);
        return outcome.finish(sent + 1, replied);
      }
      built = false;
      ++sent;
    }
    if (replied == sent) break;
    int32_t frames = 0;
    StatementReply reply = receive_ahead_for_statement(stmt, pipeline, &frames);
    if (reply.failed()) {
      outcome.failed(replied);
      outcome.unknown(replied + 1, sent);
      return outcome.finish(sent, replied);
    }
    reset_cursor_position(stmt);
    stmt->row_count = 0;
    SQLRETURN rc = handle_execute_reply(stmt, stmt->io_buffer, reply.length);
    outcome.ran(replied++, rc);
    if (rc == SQL_ERROR) stop = true;
    if (!shape_known && rc == SQL_SUCCESS) {
      // A "K" reply tells whether the statement has a result set; a "W" one
      // tells nothing, so the next reply is asked.
      shape_known = true;
      if (frames == 1 && stmt->column_count == 0) pipeline->window = kMaxPipelineWindow;
    }
    // A cancel from another thread between two waits: the rows sent are the
    // server's now; their replies are still read, so that the link stays in
    // step. (One that comes while a wait for the server runs cuts it, and the
    // link goes.)
    if (take_cancel_request(&stmt->call)) {
      stmt->cancelled_in_call = kCancelledAfterReply;
      stop = true;
    }
  }
  return outcome.finish(sent, replied);
}

}  // namespace

SQLRETURN run_rows(Statement* stmt, const char* text, int64_t length, uint64_t rows) {
  Pipeline pipeline;
  bool ahead = stmt->connection->disable_array_pipeline[0] != 'Y' &&
               start_pipeline(&pipeline, stmt->connection->link, stmt->query_timeout, &stmt->call);
  if (!ahead) return run_one_at_a_time(stmt, text, length, rows);
  return run_ahead(stmt, text, length, rows, &pipeline);
}

}  // namespace q4
