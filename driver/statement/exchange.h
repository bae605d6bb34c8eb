// One request/reply exchange on behalf of a statement.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Payload room of io_buffer for replies that carry rows or descriptions, and
// the one byte less that the describe-column reply is given.
constexpr int32_t kReplyCapacity = 20480;
constexpr int32_t kDescribeReplyCapacity = 20479;

// Sends `command` with `length` bytes of `payload` over the statement's
// connection and receives the reply: its status string into reply_status and
// up to `capacity` payload bytes into io_buffer. Plain (untimed) transfers;
// query_timeout travels along as their time limit.
// Returns the payload byte count (> 0), -1 for a reply without payload, or 0
// when a transfer failed: the link is then reported broken ("08S01"
// "Communications_ERROR" on the connection, socket closed).
int32_t exchange_for_statement(Statement* stmt, uint8_t command, const uint8_t* payload,
                               int32_t length, int32_t capacity);

}  // namespace q4
