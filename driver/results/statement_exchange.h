// One request/reply exchange on behalf of a statement: the link's exchange
// (link/link.h) with the statement's query timeout, its cancel points, and
// the diagnostics of a failure posted on the statement.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "link/reply_assembler.h"

namespace q4 {

// Payload room of io_buffer for replies that carry rows or descriptions, and
// the one byte less that the describe-column reply is given.
constexpr int32_t kReplyCapacity = 20480;
constexpr int32_t kDescribeReplyCapacity = 20479;

// How a statement's exchange ended.
struct StatementReply {
  enum class Outcome : uint8_t {
    // No reply to read: the exchange failed or a cancel ended it, and the
    // diagnostic is posted on the statement (see exchange_into).
    kFailed,
    // A whole reply: its status string in reply_status and `length` payload
    // bytes (0: none).
    kReplied,
    // A whole reply whose payload outgrew the area and whose larger block
    // could not be allocated: its status string is in reply_status, its
    // payload was dropped (nothing posted; the link stays in step).
    kPayloadDropped,
  };
  Outcome outcome;
  int32_t length;
  bool failed() const { return outcome == Outcome::kFailed; }
};

// Sends `command` with `length` bytes of `payload` over the statement's
// connection and receives the reply: its status string into reply_status, up
// to `capacity` payload bytes into `destination`. With `growable` given, a
// payload larger than `capacity` moves into a drv_alloc block at *growable
// (which the caller frees) instead of breaking the exchange; *grown then
// becomes 1. Each wait is unbounded, or bounded by query_timeout when that is
// above 0.
// A failed exchange (kFailed) has its diagnostic posted on the statement:
// - a transfer failed: "08S01" "Communications_ERROR" on the connection and
//   the statement, the link dropped;
// - a wait ran past query_timeout: as above, but "S1T00" "Timeout expired"
//   on the statement;
// - a cancel from another thread cut a wait: as above, but "S1008" on the
//   statement, and cancelled_in_call kCancelledInWait;
// - a cancel was pending as the exchange began: nothing sent, the link
//   kept, "S1008" on the statement and kCancelledBeforeSend;
// - the reply arrived whole but a cancel was pending: "S1008" on the
//   statement and kCancelledAfterReply (execute excepted: send_execute
//   checks after it took the reply).
// Allocate and release ignore cancels (a request stays pending).
StatementReply exchange_into(Statement* stmt, uint8_t command, const uint8_t* payload,
                             int32_t length, uint8_t* destination, int32_t capacity,
                             uint8_t** growable, int32_t* grown);

// The common case: the reply's payload lands in io_buffer.
inline StatementReply exchange_for_statement(Statement* stmt, uint8_t command,
                                             const uint8_t* payload, int32_t length,
                                             int32_t capacity) {
  return exchange_into(stmt, command, payload, length, stmt->io_buffer, capacity, nullptr, nullptr);
}

// A parameter array's rows sent ahead of their replies (link/pipeline.h). A
// failure is reported as exchange_into reports it (the link dropped, "08S01"
// or "S1T00", or "S1008" when a cancel cut a wait); neither takes a cancel
// request: the caller looks after each reply. send: true when the request
// went (or was queued). receive: the oldest reply, its status into
// reply_status and up to kReplyCapacity payload bytes into io_buffer; the
// result as exchange_into's, *frames the frames it came in.
struct Pipeline;
bool send_ahead_for_statement(Statement* stmt, Pipeline* pipeline, uint8_t command,
                              const uint8_t* payload, int32_t length);
StatementReply receive_ahead_for_statement(Statement* stmt, Pipeline* pipeline, int32_t* frames);

}  // namespace q4
