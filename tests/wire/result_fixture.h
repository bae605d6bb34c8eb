// Fixtures for the statement-level wire tests: replies built as the server
// sends them, the request payloads the driver must send, a model row server,
// and a statement record on a connection to a scripted peer.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <mutex>
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

// --- Reply parts.
Bytes text_value(const std::string& data, int16_t type = SQL_VARCHAR);  // type | u32 length | data
Bytes int_value(int32_t v);                                             // SQL_INTEGER, 4 bytes
Bytes null_value();
Bytes block_of(const std::vector<Bytes>& rows, char trailer);  // rows between "K", then trailer
Bytes numbered_block(int32_t first, int32_t count,
                     char trailer);  // one integer column = row number
Bytes execute_payload(uint32_t columns, uint32_t rows, const Bytes& rest = {});
Bytes description(const std::string& name, uint16_t type, uint32_t precision, uint16_t scale = 0,
                  uint16_t nullable = 1);
Bytes description_section(const std::vector<Bytes>& records);  // "X" | u32 size | sized records

// --- Request payloads the driver must send for `stmt`.
Bytes next_block_request(const Statement* stmt);
Bytes get_data_request(const Statement* stmt, uint16_t column, int16_t c_type);
Bytes statement_request(const Statement* stmt);  // allocate and release: id | 0x0001

// A model result of `total` one-column integer rows (value = row number)
// sent `per_block` rows a block. Logs every request it serves: "exec", "X"
// (next block), "A<row>" (absolute).
class RowServer {
 public:
  RowServer(int32_t total, int32_t per_block) : total_(total), per_block_(per_block) {}
  void serve(ScriptedPeer& peer, int count);  // a step serving the next `count` requests
  std::vector<std::string> log() const;

 private:
  std::string answer(const ReceivedRequest& request, std::string* status, Bytes* payload);
  int32_t total_;
  int32_t per_block_;
  int32_t next_row_ = 1;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
};

// A statement record as after SQLAllocStmt on a connection to `peer` at
// server level 754 without flags; TearDown checks the script and frees what
// the statement functions allocated.
class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Executes a statement text; the peer answers with `reply_payload`.
  SQLRETURN execute(const Bytes& reply_payload, const std::string& status = "K");
  int32_t int_at(uint16_t column);  // SQLGetData as SQL_C_LONG; INT32_MIN unless it succeeds
  std::string text_at(uint16_t column, SQLLEN room = 256);
  std::string sqlstate() const { return stmt->sqlstate; }
  std::string message() const { return stmt->message; }

  RowServer rows{1000, 100};
  ScriptedPeer peer;
  ConnectionPtr conn;
  Statement* stmt = nullptr;
};

}  // namespace q4::wire
