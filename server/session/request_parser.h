// Payloads of the requests, parsed into plain records. Every parser reads
// only inside the payload and returns false when it is malformed; nothing is
// copied (views point into the payload, which the caller keeps alive).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "server/storage/catalog.h"

namespace q4::lite {

// Execute 0x07 and prepare 0x0F: u32 id, text, NUL, binary blocks (decimal
// byte count, NUL, the bytes, NUL) and the cursor-name trailer (a NUL alone,
// or the name, NUL, NUL, NUL).
struct ExecuteRequest {
  uint32_t statement_id = 0;
  std::string_view text;
  std::vector<std::string_view> binaries;
  std::string_view cursor_name;
};
bool parse_execute(const uint8_t* data, size_t size, ExecuteRequest* out);

// Requests naming a statement only: allocate 0x0B and release 0x0C (u32 id,
// u16 1; the constant is not checked), or a bare u32 id.
bool parse_statement_id(const uint8_t* data, size_t size, uint32_t* id);

// Describe 0x01: u32 id, u16 column (1-based).
struct DescribeRequest {
  uint32_t statement_id;
  uint16_t column;
};
bool parse_describe(const uint8_t* data, size_t size, DescribeRequest* out);

// Fetch 0x02: u32 id, "X" (next block) or "A" and a u32 row number.
struct FetchRequest {
  uint32_t statement_id;
  bool absolute;
  uint32_t row;  // absolute form only; 0 is taken as 1
};
bool parse_fetch(const uint8_t* data, size_t size, FetchRequest* out);

// Get data 0x03: u32 id, u16 column, u16 C type.
struct GetDataRequest {
  uint32_t statement_id;
  uint16_t column;
  uint16_t c_type;
};
bool parse_get_data(const uint8_t* data, size_t size, GetDataRequest* out);

// Catalog requests 0x04, 0x05, 0x06, 0x10, 0x13, 0x14, into the record the
// catalog answers (storage/catalog.h).
bool parse_catalog(CatalogKind kind, const uint8_t* data, size_t size, CatalogRequest* out);

// Logon 0x0E: the fields of the logon text. The text ends with the field
// separator, so its last byte tells which separator the client uses.
struct LogonRequest {
  std::string_view server, virtual_machine, user, password, account, account_password;
  std::string_view numeric_marks;  // the quoted "c/t/d" item, without quotes; may be empty
};
bool parse_logon(const uint8_t* data, size_t size, LogonRequest* out);

// Account set 0x0D: the account, a comma, the account password.
struct AccountRequest {
  std::string_view account;
  std::string_view password;
};
bool parse_account(const uint8_t* data, size_t size, AccountRequest* out);

// Connection settings 0x12: three ASCII digits.
struct SettingsRequest {
  bool read_only;
  bool autocommit;
  int isolation;  // 1..4
};
bool parse_settings(const uint8_t* data, size_t size, SettingsRequest* out);

// Commit or roll back 0x11: "C" or "R".
bool parse_transact(const uint8_t* data, size_t size, bool* commit);

// Information 0x15: u16 first code, u16 second code.
bool parse_information(const uint8_t* data, size_t size, uint16_t* first, uint16_t* second);

}  // namespace q4::lite
