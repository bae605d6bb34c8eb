// The payload of the execute (0x07) and prepare (0x0F) requests:
//   u32 statement id | text | NUL | binary blocks, each + NUL | trailer
// where the trailer is one NUL without a cursor name, and the name, a NUL and
// two more NULs with one. encode_statement_payload (request.cpp) is the one
// place that lays it out; the bytes are written through a RequestWriter.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// The frames carry a signed 32-bit payload length; texts beyond this limit
// (far larger than any server accepts) are refused before anything is built.
constexpr int64_t kMaxTextLength = INT32_MAX / 2;

// pending_parameter is this plus the ordinal of the marker awaiting data.
constexpr uint32_t kPendingBase = 500;

// Builds the request for the first `length` bytes of `text` into
// request_buffer. Returns
// - SQL_SUCCESS: request_buffer/request_length hold a complete payload;
// - SQL_NEED_DATA: a marker's binding waits for data at execution;
//   pending_parameter is kPendingBase + that marker's ordinal and the payload is
//   unfinished (nothing may be sent);
// - SQL_ERROR with a diagnostic posted. When the text had more markers than
//   bindings ("07001" in the slot, without prefix) the payload is nevertheless
//   complete, carrying the text with its markers, for SQLPrepare to send.
SQLRETURN build_request(Statement* stmt, const char* text, int64_t length);

}  // namespace q4
