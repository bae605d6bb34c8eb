#include "results/statement_exchange.h"

#include "core/diagnostics.h"
#include "link/link.h"
#include "link/pipeline.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

// The link failed during a statement's exchange. The connection carries the
// communication failure as it always has (and loses its link); the statement
// carries it too, since applications read the diagnostics of the handle
// they called. A wait that ran past SQL_QUERY_TIMEOUT says so instead, and a
// wait that a cancel cut reports the cancel: the link is dropped all the
// same, for the reply may still be on its way and the stream can no longer
// be trusted.
StatementReply report_failed_exchange(Statement* stmt, LinkStatus status) {
  report_comm_failure(stmt->connection, kStateCommLink);
  if (status == LinkStatus::LINK_CANCELLED) {
    stmt->cancelled_in_call = kCancelledInWait;
    post_error(stmt, kDiagCancelled);
  } else {
    post_error(stmt, status == LinkStatus::LINK_TIMEOUT ? kDiagQueryTimeout : kDiagLinkLost);
  }
  return StatementReply{StatementReply::Outcome::kFailed, 0};
}

// A whole reply as the statement's callers see it.
StatementReply replied(const Exchanged& result) {
  if (result.payload == ReplyPayload::kDropped) {
    return StatementReply{StatementReply::Outcome::kPayloadDropped, 0};
  }
  return StatementReply{StatementReply::Outcome::kReplied, result.received};
}

// Allocate and release keep the statement's record in step with the server;
// they are not work a cancel is aimed at, so they leave a request pending and
// their waits are never cut.
bool cancellable(uint8_t command) {
  return command != kCmdAllocate && command != kCmdRelease;
}

// A whole reply is a safe point for a cancel, except for an execute: its
// reply is taken first and the request checked after it (send_execute), so
// that what the server did (its row count) is known.
bool cancel_point_after_reply(uint8_t command) {
  return cancellable(command) && command != kCmdExecute;
}

}  // namespace

StatementReply exchange_into(Statement* stmt, uint8_t command, const uint8_t* payload,
                             int32_t length, uint8_t* destination, int32_t capacity,
                             uint8_t** growable, int32_t* grown) {
  // SQL_QUERY_TIMEOUT above 0 bounds every wait of the exchange; 0 waits as
  // long as the server takes, or until a cancel from another thread cuts the
  // wait.
  Exchanged result = exchange(stmt->connection->link, command, payload, length,
                              ReplyArea{stmt->reply_status, sizeof stmt->reply_status, destination,
                                        capacity, growable, grown},
                              stmt->query_timeout, cancellable(command) ? &stmt->call : nullptr);
  if (result.cancel == Exchanged::Cancel::kBeforeSend) {
    // Taken before anything went out: the link is in step and stays.
    stmt->cancelled_in_call = kCancelledBeforeSend;
    post_error(stmt, kDiagCancelled);
    return StatementReply{StatementReply::Outcome::kFailed, 0};
  }
  if (!result.ok()) return report_failed_exchange(stmt, result.link_status);
  // A whole reply is a safe point for a cancel from another thread: the
  // stream is in step, and what the reply brought is discarded when the call
  // ends (StatementCall::finish).
  if (cancel_point_after_reply(command) && take_cancel_request(&stmt->call)) {
    stmt->cancelled_in_call = kCancelledAfterReply;
    post_error(stmt, kDiagCancelled);
    return StatementReply{StatementReply::Outcome::kFailed, 0};
  }
  return replied(result);
}

bool send_ahead_for_statement(Statement* stmt, Pipeline* pipeline, uint8_t command,
                              const uint8_t* payload, int32_t length) {
  LinkStatus status = pipeline_send(pipeline, command, payload, length);
  if (status == LinkStatus::LINK_OK) return true;
  report_failed_exchange(stmt, status);
  return false;
}

StatementReply receive_ahead_for_statement(Statement* stmt, Pipeline* pipeline, int32_t* frames) {
  Exchanged result = pipeline_receive(
      pipeline,
      ReplyArea{stmt->reply_status, sizeof stmt->reply_status, stmt->io_buffer, kReplyCapacity});
  *frames = result.frames;
  if (!result.ok()) return report_failed_exchange(stmt, result.link_status);
  return replied(result);
}

}  // namespace q4
