// The server information exchange (command 0x15): the bit masks of scalar
// functions and conversions that only the server knows.
#pragma once

#include <sql.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Oldest server level that understands the information request.
constexpr uint32_t kInfoRequestLevel = 710;

// A "K" value by which the server says it has no answer for the type.
constexpr int32_t kNoServerAnswer = -9999;

// Whether the server of `conn` may be asked: level kInfoRequestLevel or later
// and the information capability announced at logon. Servers that may not be
// asked answer 0 for every bit mask.
bool server_answers_info(const Connection* conn);

// Asks the server for one value: `first` is the information type (49, 50 or
// 52), or SQL_CONVERT_FUNCTIONS (48) with the SQL_CONVERT_* type as `second`;
// `second` is 0 otherwise.
// - SQL_SUCCESS: *value is the server's answer ("K"), which may be
//   kNoServerAnswer; 0 when the server declines ("E"); 0 when the reply has
//   any other status or no usable value, in which case "S1000" "Unable to
//   retrieve requested info" is left on the connection.
// - SQL_ERROR: the link failed; the socket is dropped and "08S01" is posted on
//   the connection. *value is not written.
SQLRETURN server_info(uint16_t first, uint16_t second, Connection* conn, int32_t* value);

}  // namespace q4
