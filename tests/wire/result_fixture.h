// Fixtures for wire tests of the result functions: a statement record on a
// connection to a scripted peer, builders for row values and row blocks, and
// a small row server that answers execute, fetch and get-data requests from
// a model result, recording what it was asked.
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

// --- Row values and blocks as the server sends them.
Bytes int_value(int32_t v);  // SQL_INTEGER: 4 bytes big-endian
Bytes text_value(const std::string& text, int16_t type = SQL_VARCHAR);
Bytes null_value();
Bytes join(const std::vector<Bytes>& parts);
// Rows separated by "K", then the trailing status byte.
Bytes block_of(const std::vector<Bytes>& rows, char trailer);
// `count` one-column rows whose integer value is their row number.
Bytes numbered_block(int32_t first, int32_t count, char trailer);
// u32 column count | u32 row count, then `rest`.
Bytes execute_payload(uint32_t columns, uint32_t rows, const Bytes& rest = {});

// --- Request payloads the driver must send for statement `stmt`.
Bytes next_block_request(const Statement* stmt);
Bytes absolute_request(const Statement* stmt, uint32_t row);
Bytes get_data_request(const Statement* stmt, uint16_t column, int16_t c_type);

// A model server result of `total` one-column integer rows (value = row
// number), sent `per_block` rows a block. Each request it serves is logged:
// "exec", "X" (next block), "A<row>" (absolute), "G<column>" (get-data).
class RowServer {
 public:
  RowServer(int32_t total, int32_t per_block) : total_(total), per_block_(per_block) {}
  // Adds a step that serves the next `count` requests.
  void serve(ScriptedPeer& peer, int count);
  std::vector<std::string> log() const;

 private:
  std::string answer(PeerLink& link, const ReceivedRequest& request);
  int32_t total_;
  int32_t per_block_;
  int32_t next_row_ = 1;  // first row of the next block
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
};

// A statement on a connection to `peer`, as after SQLAllocStmt: piecewise
// state empty, SQL_RD_ON, bind type column-wise.
class ResultLinkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Executes a statement text; the peer answers with `reply_payload`.
  SQLRETURN execute(const Bytes& reply_payload, const std::string& status = "K");
  // SQLGetData of an integer column; INT32_MIN when it did not succeed.
  int32_t int_at(uint16_t column);
  // SQLGetData of a character column into a buffer of `room` bytes.
  std::string text_at(uint16_t column, SQLLEN room = 256);

  std::string sqlstate() const { return stmt->sqlstate; }
  std::string message() const { return stmt->message; }

  RowServer rows{1000, 100};
  ScriptedPeer peer;
  ConnectionPtr conn;
  Statement* stmt = nullptr;
};

inline const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

}  // namespace q4::wire
