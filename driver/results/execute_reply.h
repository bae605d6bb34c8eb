// The reply to an execute (0x07) or prepare (0x0F) request.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Interprets a reply whose status string is in reply_status and whose
// payload is the `length` bytes at `payload` (length -1 or 0: none).
// - "K": payload = u32 column count | u32 row count | optional description
//   section | optional first row block. The counts replace column_count and
//   row_count, a section replaces the description cache, a row block replaces
//   the stored block; cursor_open is set. A payload shorter than the two
//   counts means 0 columns and 0 rows. SQL_SUCCESS.
// - "E": the server's error number mapped to a diagnostic; SQL_ERROR.
// - "W": the text after the letter posted with "00000"; the statement is left
//   as it was. SQL_SUCCESS_WITH_INFO.
// - any other letter: "S1000" "General error"; SQL_ERROR.
// A damaged "K" payload (a description section running past the payload,
// counts the payload cannot back: more than 32767 columns, a row count with
// no room left for numbering, a row block too short for one row of the
// columns) changes nothing, sizes nothing and gives "S1000" "General error";
// a row block that cannot be stored gives SQL_ERROR with "S1001", since its
// rows would otherwise be skipped without a word.
SQLRETURN handle_execute_reply(Statement* stmt, const uint8_t* payload, int32_t length);

// What a statement text is sent as.
enum class TextRequest : uint8_t {
  kExecute,  // 0x07: the statement runs; the reply brings its result
  kPrepare,  // 0x0F: the reply describes the result, nothing runs
};

// Sends the request built in request_buffer as `request` and handles the
// reply. Resets the cursor position first, so an execute also serves to run
// a statement again from its first row (the emulated absolute fetch). A
// failed exchange posts its diagnostic (results/statement_exchange.h). A cancel
// pending as a prepare's reply arrives fails the exchange itself; one pending
// once an execute's reply is handled (the statement ran) fails the call with
// "S1008", the result discarded as the call ends.
SQLRETURN send_text_request(Statement* stmt, TextRequest request);

inline SQLRETURN send_execute(Statement* stmt) {
  return send_text_request(stmt, TextRequest::kExecute);
}

}  // namespace q4
