// Parameters on the wire: the execute request a statement with bound values
// sends to a scripted server, binary blocks and their tokens included, and
// data-at-execution sequences up to the request they end in.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "core/memory.h"
#include "loopback.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "scripted_peer.h"
#include "statement/binary_blocks.h"
#include "statement/cursor.h"

namespace q4::wire {
namespace {

SQLCHAR* sql(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

std::string nul(int count = 1) {
  return std::string(static_cast<size_t>(count), '\0');
}

// "K" with zero columns and one row affected.
Bytes row_count_reply() {
  Bytes payload(8);
  put_u32(put_u32(payload.data(), 0), 1);
  return payload;
}

// A statement record on a connection linked to a scripted peer; frees what
// the statement functions allocated.
class ParamsWire : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = connect_link(peer_.port());
    ASSERT_NE(conn_->socket, kInvalidSocket);
    conn_->server_version = 754;
    stmt_ = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
    stmt_->connection = conn_.get();
    stmt_->getdata_column = -1;
  }
  void TearDown() override {
    EXPECT_EQ(peer_.finish(), "");
    close_result(stmt_);
    for (ParamBinding* b = stmt_->parameters; b != nullptr;) {
      ParamBinding* next = b->next;
      drv_free(b->buffer);
      drv_free(b);
      b = next;
    }
    discard_binary_blocks(stmt_);
    drv_free(stmt_->binary_blocks);
    drv_free(stmt_->binary_lengths);
    drv_free(stmt_->request_buffer);
    drv_free(stmt_->statement_text);
    drv_free(stmt_);
  }

  // The peer expects one execute request whose payload is the statement id
  // and `body`, and answers it with a row count.
  void expect_execute(const std::string& body) {
    Bytes payload(4 + body.size());
    put_u32(payload.data(), statement_id(stmt_));
    memcpy(payload.data() + 4, body.data(), body.size());
    peer_.expect_request(kCmdExecute, payload).reply("K", row_count_reply());
  }

  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
                 SQLLEN* indicator) {
    return SQLBindParameter(stmt_, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, 0,
                            const_cast<void*>(value), 0, indicator);
  }
  SQLRETURN put(const void* data, SQLLEN length) {
    return SQLPutData(stmt_, const_cast<void*>(data), length);
  }
  SQLRETURN param_data(SQLPOINTER* token = nullptr) {
    SQLPOINTER ignored;
    return SQLParamData(stmt_, token != nullptr ? token : &ignored);
  }
  std::string diag() const { return std::string(stmt_->sqlstate) + " " + stmt_->message; }

  ScriptedPeer peer_;
  ConnectionPtr conn_;
  Statement* stmt_ = nullptr;
};

// Two binary values become 0x0 and 0x1 in the text; their blocks (count in
// digits, NUL, bytes) follow the text's NUL in marker order, each with a NUL.
TEST_F(ParamsWire, BinaryBlocksFollowTheTextInMarkerOrder) {
  SQLLEN three = 3;
  SQLLEN two = 2;
  SQLLEN nts = SQL_NTS;
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_VARBINARY, "a\0b", &three), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, "it's", &nts), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_BINARY, SQL_LONGVARBINARY, "\xff\x00", &two), SQL_SUCCESS);
  expect_execute("INSERT INTO B VALUES (0x0, 'it''s', 0x1)" + nul() + "3" + nul() +
                 std::string("a\0b", 3) + nul() + "2" + nul() + std::string("\xff\x00", 2) + nul() +
                 nul());
  EXPECT_EQ(SQLExecDirect(stmt_, sql("INSERT INTO B VALUES (?, ?, ?)"), SQL_NTS), SQL_SUCCESS)
      << diag();
}

// A block larger than a frame travels whole across several frames.
TEST_F(ParamsWire, LargeBinaryBlockSpansFrames) {
  Bytes blob = pattern_bytes(70000, 3);
  SQLLEN length = static_cast<SQLLEN>(blob.size());
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_LONGVARBINARY, blob.data(), &length), SQL_SUCCESS);
  expect_execute("INSERT INTO B VALUES (0x0)" + nul() + "70000" + nul() +
                 std::string(blob.begin(), blob.end()) + nul() + nul());
  EXPECT_EQ(SQLExecDirect(stmt_, sql("INSERT INTO B VALUES (?)"), SQL_NTS), SQL_SUCCESS) << diag();
  auto requests = peer_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_GT(requests[0].frame_lengths.size(), 3u);
}

// A value without a literal stops the execution before anything is sent:
// the first request the server sees is the next, good one, whose binary
// tokens start again at 0x0.
TEST_F(ParamsWire, FailedConversionSendsNothing) {
  SQLLEN one = 1;
  int8_t tiny = 1;
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_VARBINARY, "z", &one), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_TINYINT, SQL_TINYINT, &tiny, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt_, sql("SELECT ?, ?"), SQL_NTS), SQL_ERROR);
  EXPECT_STREQ(stmt_->sqlstate, "S1000");
  ASSERT_EQ(bind(2, SQL_C_BINARY, SQL_VARBINARY, "y", &one), SQL_SUCCESS);
  expect_execute("SELECT 0x0, 0x1" + nul() + "1" + nul() + "z" + nul() + "1" + nul() + "y" + nul() +
                 nul());
  EXPECT_EQ(SQLExecDirect(stmt_, sql("SELECT ?, ?"), SQL_NTS), SQL_SUCCESS) << diag();
}

// The complete exchange for two parameters: a text in three pieces and a
// one-piece integer. Nothing is sent until the last SQLParamData.
TEST_F(ParamsWire, TwoParametersDeliveredInPiecesMakeOneRequest) {
  SQLLEN text_ind = SQL_DATA_AT_EXEC;
  SQLLEN int_ind = SQL_LEN_DATA_AT_EXEC(0);
  void* token1 = reinterpret_cast<void*>(0x10);
  void* token2 = reinterpret_cast<void*>(0x20);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, token1, &text_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_LONG, SQL_INTEGER, token2, &int_ind), SQL_SUCCESS);
  const char* text = "INSERT INTO T (A, B) VALUES (?, ?)";
  ASSERT_EQ(SQLExecDirect(stmt_, sql(text), SQL_NTS), SQL_NEED_DATA) << diag();

  SQLPOINTER token = nullptr;
  ASSERT_EQ(param_data(&token), SQL_NEED_DATA);
  EXPECT_EQ(token, token1);
  std::string p1(1000, 'a'), p2(2000, 'b'), p3 = std::string(499, 'c') + "'";
  ASSERT_EQ(put(p1.data(), 1000), SQL_SUCCESS);
  ASSERT_EQ(put(p2.c_str(), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(put(p3.data(), 500), SQL_SUCCESS);
  ASSERT_EQ(param_data(&token), SQL_NEED_DATA);
  EXPECT_EQ(token, token2);
  int32_t value = -42;
  ASSERT_EQ(put(&value, 4), SQL_SUCCESS);

  const std::string body =
      "INSERT INTO T (A, B) VALUES ('" + p1 + p2 + std::string(499, 'c') + "''', -42)" + nul(2);
  expect_execute(body);
  EXPECT_EQ(param_data(&token), SQL_SUCCESS) << diag();
  EXPECT_EQ(stmt_->row_count, 1);
  EXPECT_EQ(text_ind, 3500) << "the hand-over leaves the length in the indicator";
  EXPECT_EQ(int_ind, 4);

  // Executing again sends the collected values without asking for them.
  expect_execute(body);
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << diag();
}

// Binary data in pieces becomes one block.
TEST_F(ParamsWire, BinaryPiecesBecomeOneBlock) {
  SQLLEN ind = SQL_LEN_DATA_AT_EXEC(6);
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_LONGVARBINARY, nullptr, &ind), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt_, sql("INSERT INTO B VALUES (?)"), SQL_NTS), SQL_NEED_DATA);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  ASSERT_EQ(put("\x01\x00\x02", 3), SQL_SUCCESS);
  ASSERT_EQ(put("\x00\x00\x03", 3), SQL_SUCCESS);
  expect_execute("INSERT INTO B VALUES (0x0)" + nul() + "6" + nul() +
                 std::string("\x01\x00\x02\x00\x00\x03", 6) + nul() + nul());
  EXPECT_EQ(param_data(), SQL_SUCCESS) << diag();
}

// SQL_NULL_DATA put for a text sends NULL; a length-marked value that got
// zero bytes is an empty string.
TEST_F(ParamsWire, NullPieceSendsNullAndEmptyValueSendsEmptyString) {
  SQLLEN null_ind = SQL_DATA_AT_EXEC;
  SQLLEN empty_ind = SQL_LEN_DATA_AT_EXEC(0);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, nullptr, &null_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, nullptr, &empty_ind), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt_, sql("SELECT ?, ?"), SQL_NTS), SQL_NEED_DATA);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  ASSERT_EQ(put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  ASSERT_EQ(put("", 0), SQL_SUCCESS);
  expect_execute("SELECT NULL, ''" + nul(2));
  EXPECT_EQ(param_data(), SQL_SUCCESS) << diag();
  EXPECT_EQ(null_ind, SQL_NULL_DATA);
}

// With nothing waiting, SQLParamData runs the kept text once more.
TEST_F(ParamsWire, ParamDataWithNothingWaitingExecutesTheText) {
  SQLLEN ind = SQL_DATA_AT_EXEC;
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, nullptr, &ind), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt_, sql("SELECT ?"), SQL_NTS), SQL_NEED_DATA);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  ASSERT_EQ(put("x", 1), SQL_SUCCESS);
  expect_execute("SELECT 'x'" + nul(2));
  ASSERT_EQ(param_data(), SQL_SUCCESS) << diag();
  expect_execute("SELECT 'x'" + nul(2));
  EXPECT_EQ(param_data(), SQL_SUCCESS) << diag();
}

}  // namespace
}  // namespace q4::wire
