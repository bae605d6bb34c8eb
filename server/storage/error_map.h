// SQLite errors as server errors: the "E" reply text begins with the number
// of the server error table's row that fits (protocol/error_numbers.h; the
// driver turns the number into an SQLSTATE), followed by a blank and
// SQLite's own message.
#pragma once

#include <string>
#include <string_view>

#include "protocol/error_numbers.h"

namespace q4::lite {

// The server error number for an SQLite result code (extended codes are
// reduced to their primary code) and message.
int map_sqlite_error(int result_code, std::string_view message);

// The status text of an "E" reply: "E", the number, a blank, the message.
std::string error_status(int number, std::string_view message);

}  // namespace q4::lite
