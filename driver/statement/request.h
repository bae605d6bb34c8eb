// The payload of the execute (0x07) and prepare (0x0F) requests:
//   u32 statement id | text | NUL | binary blocks, each + NUL | trailer
// where the trailer is one NUL without a cursor name, and the name, a NUL and
// two more NULs with one.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Room kept in request_buffer beyond the text, for the trailer and for
// literals longer than the markers they replace.
constexpr uint64_t kRequestSlack = 2583;

// The frames carry a signed 32-bit payload length; texts beyond this limit
// (far larger than any server accepts) are refused before anything is built.
constexpr int64_t kMaxTextLength = INT32_MAX / 2;

// Builds the request for the first `length` bytes of `text` into
// request_buffer. Returns
// - SQL_SUCCESS: request_buffer/request_length hold a complete payload;
// - SQL_NEED_DATA: a marker's binding waits for data at execution;
//   pending_parameter is 500 + that marker's ordinal and the payload is
//   unfinished (nothing may be sent);
// - SQL_ERROR with a diagnostic posted. When the text had more markers than
//   bindings ("07001" in the slot, without prefix) the payload is nevertheless
//   complete, carrying the text with its markers, for SQLPrepare to send.
SQLRETURN build_request(Statement* stmt, const char* text, int64_t length);

// Makes request_buffer hold at least `needed` usable bytes, keeping its first
// `keep` bytes. Grows only. False when the block cannot be allocated ("S1001"
// posted on the statement; the old block and its content stay).
bool reserve_request(Statement* stmt, uint64_t keep, uint64_t needed);

}  // namespace q4
