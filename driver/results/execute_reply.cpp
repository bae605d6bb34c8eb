#include "results/execute_reply.h"

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/server_errors.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/description_cache.h"
#include "results/result_set.h"
#include "results/row_decoder.h"
#include "results/statement_exchange.h"

namespace q4 {

namespace {

constexpr int32_t kCountsSize = 8;

// Column numbers reach the application in 16 signed bits (SQLNumResultCols,
// SQLDescribeCol): a result with more columns cannot be described, so a
// larger count is a damaged reply.
constexpr uint32_t kMaxColumns = 32767;
// The server's word for a row count it does not know (-1 to SQLRowCount).
constexpr uint32_t kUnknownRows = 0xFFFFFFFF;
// Row numbers are counted in 32 signed bits, one past the last row included.
constexpr uint32_t kMaxRows = INT32_MAX - 1;
// The counts are checked against what the reply can hold before anything is
// sized by them: a count the reply cannot back is damage, and nothing is
// allocated on its word. The least a row takes in a block is a value header
// per column and the status byte after the row.
bool counts_fit(uint32_t columns, uint32_t rows, size_t block_length) {
  if (columns > kMaxColumns) return false;
  if (rows > kMaxRows && rows != kUnknownRows) return false;
  return block_length == 0 || columns <= (block_length - 1) / kValueHeader;
}

SQLRETURN take_success_payload(Statement* stmt, const uint8_t* payload, int32_t length) {
  ResultSet& rs = result_set(stmt);
  // Fewer bytes than the two counts (-1 is "no payload"): a statement without
  // a result, rather than counts read from whatever io_buffer held before.
  if (length < kCountsSize) {
    stmt->column_count = 0;
    stmt->row_count = 0;
    rs.count_final = false;
    rs.count_lost = false;
    rs.block.discard();
    stmt->cursor_open = 1;
    return SQL_SUCCESS;
  }
  uint32_t columns = load_u32(payload);
  uint32_t rows = load_u32(payload + 4);
  const uint8_t* rest = payload + kCountsSize;
  size_t rest_length = static_cast<size_t>(length - kCountsSize);
  int64_t section = description_section_span(rest, rest_length);
  if (section < 0 || !counts_fit(columns, rows, rest_length - static_cast<size_t>(section))) {
    return post_error(stmt, kDiagGeneral);
  }

  stmt->column_count = static_cast<int32_t>(columns);
  // For a result set the count is the rows the server knew of when it
  // replied (at least 1 unless the result is empty); fetching raises it, and
  // SQLRowCount shows it only once the end has been read. Without result
  // columns it is the rows the statement changed. The server sends
  // 0xFFFFFFFF for a count it does not know: read as signed, -1.
  stmt->row_count = static_cast<int32_t>(rows);
  // A new result, a catalog's included (which does not go through
  // send_execute's reset), has not been read to its end yet.
  rs.count_final = false;
  rs.count_lost = false;
  if (section > 0) store_descriptions(stmt, rest);
  rest += section;
  rest_length -= static_cast<size_t>(section);
  if (rest_length > 0) {
    if (!rs.block.store(rest, static_cast<int32_t>(rest_length), stmt->column_count)) {
      return post_error(stmt, kDiagMemory);
    }
  } else {
    // No first block (an empty result, or a first row too large for one):
    // rows left in the buffer by an earlier execution of this statement must
    // not be served as this result's rows, so the next fetch asks the server.
    rs.block.discard();
  }
  stmt->cursor_open = 1;
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN handle_execute_reply(Statement* stmt, const uint8_t* payload, int32_t length) {
  const char* text = stmt->reply_status + 1;
  // Only a catalog result marks type code columns, after this.
  result_set(stmt).type_code_columns = 0;
  switch (stmt->reply_status[0]) {
    case kStatusOk:
      return take_success_payload(stmt, payload, length);
    case kStatusError:
      return map_server_error(stmt, text);
    case kStatusWarning:
      post_error(stmt, text, kStateWarning);
      return SQL_SUCCESS_WITH_INFO;
    default:
      return post_error(stmt, kDiagGeneral);
  }
}

// An execute's cancel point lies after the reply (the statement ran: its
// counts are taken first); a prepare's is the exchange's own.
SQLRETURN send_text_request(Statement* stmt, TextRequest request) {
  const bool execute = request == TextRequest::kExecute;
  reset_cursor_position(stmt);
  StatementReply reply =
      exchange_for_statement(stmt, execute ? kCmdExecute : kCmdPrepare, stmt->request_buffer,
                             static_cast<int32_t>(stmt->request_length), kReplyCapacity);
  if (reply.failed()) return SQL_ERROR;
  SQLRETURN rc = handle_execute_reply(stmt, stmt->io_buffer, reply.length);
  // The statement ran: its counts are taken, then a pending cancel discards
  // the result and fails the call, as after any reply. A parameter array
  // counts the row as done (it cannot be undone), and stops.
  if (execute && take_cancel_request(&stmt->call)) {
    stmt->cancelled_in_call = kCancelledAfterReply;
    return post_error(stmt, kDiagCancelled);
  }
  return rc;
}

}  // namespace q4
