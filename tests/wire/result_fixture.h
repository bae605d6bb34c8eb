// Statement-level wire tests: replies built as the server sends them, the
// request payloads the driver must send, and a statement on a connection to
// a scripted peer.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "loopback.h"
#include "scripted_peer.h"

namespace q4::wire {

inline const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

Bytes be16(uint16_t v);
Bytes be32(uint32_t v);
Bytes cstr(const std::string& text);  // the bytes and a NUL
Bytes join(const std::vector<Bytes>& parts);

Bytes text_value(const std::string& data, int16_t type = SQL_VARCHAR);  // type | u32 length | data
Bytes int_value(int32_t v);
Bytes block_of(const std::vector<Bytes>& rows, char trailer);      // rows between "K", then trailer
Bytes numbered_block(int32_t first, int32_t count, char trailer);  // one column = row number
Bytes execute_payload(uint32_t columns, uint32_t rows, const Bytes& rest = {});
Bytes description(const std::string& name, uint16_t type, uint32_t precision, uint16_t scale = 0,
                  uint16_t nullable = 1);

// Requests for `stmt`: statement id, then the command's fields.
Bytes next_block_request(const Statement* stmt);
Bytes get_data_request(const Statement* stmt, uint16_t column, int16_t c_type);
Bytes statement_request(const Statement* stmt);  // allocate and release: id | 0x0001

// A statement record as after SQLAllocStmt on a connection to `peer` at
// level 754 without flags; TearDown checks the script and frees the record.
class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  SQLRETURN execute(const Bytes& reply_payload);  // the peer answers "K" with the payload
  int32_t int_at(uint16_t column);  // SQLGetData as SQL_C_LONG; INT32_MIN unless it succeeds
  std::string sqlstate() const { return stmt->sqlstate; }
  std::string diag() const { return std::string(stmt->sqlstate) + " " + stmt->message; }

  ScriptedPeer peer;
  ConnectionPtr conn;
  Statement* stmt = nullptr;
};

}  // namespace q4::wire
