// The SQLGetInfo answers as data: one row per ODBC 2.x information type,
// saying how the answer is delivered and where it comes from.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "core/records.h"

namespace q4 {

// How an answer reaches the application.
enum class InfoKind : uint8_t {
  kRefused,  // the type is not answered
  kU16,      // 2 bytes, length 2
  kU32,      // 4 bytes, length 4
  kString,   // NUL-terminated, length without the NUL
};

// Where an answer comes from.
enum class InfoSource : uint8_t {
  kConstant,          // the row's `number` or `text`
  kResource,          // the string resource whose id is `number`
  kDsn,               // the connection's data source name
  kServerName,        // the connection's host name
  kCurrentQualifier,  // the connection's SQL_CURRENT_QUALIFIER text
  kAccount,           // the connection's account
  kNotNullSwitch,     // SQL_NNC_NON_NULL when NotNullConstraint is on, else SQL_NNC_NULL
  kServer,            // a bit mask asked of the server with the codes in `number`
};

struct InfoRow {
  uint16_t type;  // equals the row's index in the table
  InfoKind kind;
  InfoSource source;
  uint32_t number;   // constant value, resource id, or server codes (server_codes)
  const char* text;  // constant string answers; null otherwise
};

// Highest information type the table holds; every type from 0 up to it has a row.
constexpr uint16_t kLastInfoType = SQL_QUALIFIER_LOCATION;

// The two codes of a server information request, packed into InfoRow::number.
constexpr uint32_t server_codes(uint16_t first, uint16_t second) {
  return (uint32_t{first} << 16) | second;
}
constexpr uint16_t server_first_code(uint32_t codes) {
  return static_cast<uint16_t>(codes >> 16);
}
constexpr uint16_t server_second_code(uint32_t codes) {
  return static_cast<uint16_t>(codes);
}

// The row of `type`, or null for a type above kLastInfoType. Refused types
// have a row of kind kRefused.
const InfoRow* find_info_row(unsigned type);

// The text answer of a string row that needs no server: a constant, a
// resource loaded into conn->info_text, or a connection setting. The result
// points into the table, the string table or `conn` and lives as long as
// they do; *length receives its length (fields are read at most to their size).
const char* info_row_text(const InfoRow& row, Connection* conn, size_t* length);

// The numeric answer of a 16- or 32-bit row that needs no server.
uint32_t info_row_number(const InfoRow& row, const Connection* conn);

}  // namespace q4
