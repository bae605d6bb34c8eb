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
#include "core/memory.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/get_data.h"
#include "statement/cursor.h"
#include "statement/execute.h"
#include "statement/lifecycle.h"
#include "scripted_peer.h"

namespace q4::wire {

inline const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

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

inline Bytes be16(uint16_t v) {
  return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

inline Bytes be32(uint32_t v) {
  Bytes b(4);
  put_u32(b.data(), v);
  return b;
}

inline Bytes join(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

inline Bytes cstr(const std::string& text) {
  return join({bytes_of(text), Bytes{0}});
}

// type | u32 length | data
inline Bytes text_value(const std::string& data, int16_t type = SQL_VARCHAR) {
  return join({be16(static_cast<uint16_t>(type)), be32(static_cast<uint32_t>(data.size())),
               bytes_of(data)});
}

inline Bytes int_value(int32_t v) {
  return join({be16(SQL_INTEGER), be32(4), be32(static_cast<uint32_t>(v))});
}

// Rows between "K", then the trailer.
inline Bytes block_of(const std::vector<Bytes>& rows, char trailer) {
  Bytes b;
  for (size_t i = 0; i < rows.size(); ++i) b = join({b, i > 0 ? Bytes{'K'} : Bytes{}, rows[i]});
  b.push_back(static_cast<uint8_t>(trailer));
  return b;
}

inline Bytes numbered_block(int32_t first, int32_t count, char trailer) {
  std::vector<Bytes> rows;
  for (int32_t i = 0; i < count; ++i) rows.push_back(int_value(first + i));
  return block_of(rows, trailer);
}

inline Bytes execute_payload(uint32_t columns, uint32_t rows, const Bytes& rest = {}) {
  return join({be32(columns), be32(rows), rest});
}

inline Bytes description(const std::string& name, uint16_t type, uint32_t precision,
                         uint16_t scale = 0, uint16_t nullable = 1) {
  return join({cstr(name), be16(type), be32(precision), be16(scale), be16(nullable)});
}

inline Bytes next_block_request(const Statement* stmt) {
  return join({be32(statement_id(stmt)), Bytes{'X'}});
}

inline Bytes get_data_request(const Statement* stmt, uint16_t column, int16_t c_type) {
  return join({be32(statement_id(stmt)), be16(column), be16(static_cast<uint16_t>(c_type))});
}

// Allocate and release: id | 0x0001.
inline Bytes statement_request(const Statement* stmt) {
  return join({be32(statement_id(stmt)), be16(1)});
}

inline void StatementTest::SetUp() {
  conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  conn->server_version = 754;
  stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
  stmt->connection = conn.get();
  stmt->getdata_column = -1;
  stmt->retrieve_data = SQL_RD_ON;
  stmt->rowset_size = 1;
}

inline void StatementTest::TearDown() {
  EXPECT_EQ(peer.finish(), "");
  if (stmt == nullptr) return;
  free_statement(stmt, SQL_UNBIND);
  free_statement(stmt, SQL_RESET_PARAMS);
  close_result(stmt);
  drv_free(stmt->binary_blocks);
  drv_free(stmt->binary_lengths);
  drv_free(stmt->statement_text);
  discard_dropped_statement(stmt);
}

inline SQLRETURN StatementTest::execute(const Bytes& reply_payload) {
  peer.expect_request(kCmdExecute).reply("K", reply_payload);
  return execute_direct(stmt, "SELECT N FROM T", SQL_NTS);
}

inline int32_t StatementTest::int_at(uint16_t column) {
  SQLINTEGER v = 0;
  SQLLEN length = 0;
  return get_data(stmt, column, SQL_C_LONG, &v, sizeof v, &length) == SQL_SUCCESS ? v : INT32_MIN;
}

}  // namespace q4::wire
