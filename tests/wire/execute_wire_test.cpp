// Prepare, execute and describe exchanges against the scripted peer: the
// bytes the driver sends, and what it makes of each kind of reply.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "loopback.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "scripted_peer.h"
#include "statement/cursor.h"
#include "statement/execute.h"

namespace q4::wire {
namespace {

const std::string kPrefix = kMessagePrefix;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes be32(uint32_t v) {
  Bytes b(4);
  put_u32(b.data(), v);
  return b;
}

Bytes be16(uint16_t v) {
  Bytes b(2);
  put_u16(b.data(), v);
  return b;
}

Bytes cstring(const std::string& s) {
  return cat({bytes_of(s), Bytes{0}});
}

Bytes record(const std::string& name, uint16_t type, uint32_t precision, uint16_t scale,
             uint16_t nullable) {
  return cat({cstring(name), be16(type), be32(precision), be16(scale), be16(nullable)});
}

Bytes section(std::initializer_list<Bytes> records) {
  Bytes entries;
  for (const Bytes& r : records) {
    entries = cat({entries, be32(static_cast<uint32_t>(r.size() + 4)), r});
  }
  return cat({Bytes{'X'}, be32(static_cast<uint32_t>(entries.size() + 4)), entries});
}

Bytes counts(uint32_t columns, uint32_t rows) {
  return cat({be32(columns), be32(rows)});
}

Bytes value(uint16_t type, const std::string& data) {
  return cat({be16(type), be32(static_cast<uint32_t>(data.size())), bytes_of(data)});
}

SQLCHAR* sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// Every script ends by closing the connection: a request the driver should
// not have sent then fails on a closed link instead of waiting forever for a
// reply that never comes.
class ExecuteWire : public ::testing::Test {
 protected:
  void SetUp() override {
    conn = connect_link(peer.port());
    ASSERT_NE(conn->socket, kInvalidSocket);
    conn->server_version = 754;
    conn->server_flags = kFlagAbsoluteFetch | kFlagInfoRequest;
    stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
    stmt->connection = conn.get();
    stmt->getdata_column = -1;
  }
  void TearDown() override {
    EXPECT_EQ(peer.finish(), "");
    close_result(stmt);
    drv_free(stmt->request_buffer);
    drv_free(stmt->statement_text);
    drv_free(stmt);
  }

  // The execute/prepare payload for `text` without a cursor name.
  Bytes request(const std::string& text) {
    return cat({be32(statement_id(stmt)), bytes_of(text), Bytes{0, 0}});
  }
  Bytes describe_request(uint16_t icol) { return cat({be32(statement_id(stmt)), be16(icol)}); }

  std::string state() const { return stmt->sqlstate; }
  std::string message() const { return stmt->message; }
  size_t requests_sent() { return peer.requests().size(); }

  ScriptedPeer peer;
  ConnectionPtr conn;
  Statement* stmt = nullptr;
};

struct UnboundCase {
  uint32_t version;
  uint32_t flags;
  bool sent;
};

void PrintTo(const UnboundCase& c, std::ostream* os) {
  *os << "version " << c.version << " flags " << c.flags;
}

class PrepareUnboundMarkers : public ExecuteWire,
                              public ::testing::WithParamInterface<UnboundCase> {};

// Only a server of version 710 or more with the capability bit sees a text
// with open markers; the syntax error it may answer is not the application's
// problem yet.
TEST_P(PrepareUnboundMarkers, SentByVersionAndCapabilityAndSyntaxErrorSwallowed) {
  const std::string text = "SELECT A FROM T WHERE B = ? AND C = ?";
  conn->server_version = GetParam().version;
  conn->server_flags = GetParam().flags;
  if (GetParam().sent) peer.expect_request(kCmdPrepare, request(text)).reply("E26");
  peer.close();
  post_error(stmt, "left from an earlier call", "S1000");
  EXPECT_EQ(SQLPrepare(stmt, sql(text), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(state(), "") << "prepare empties the slot and reports neither 07001 nor 37000";
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(requests_sent(), GetParam().sent ? 1u : 0u);
  EXPECT_STREQ(stmt->statement_text, text.c_str());
}

INSTANTIATE_TEST_SUITE_P(Servers, PrepareUnboundMarkers,
                         ::testing::Values(UnboundCase{700, 2, false}, UnboundCase{709, 3, false},
                                           UnboundCase{710, 2, true}, UnboundCase{710, 1, false},
                                           UnboundCase{754, 0, false}, UnboundCase{754, 3, true}));

TEST_F(ExecuteWire, PrepareUnboundMarkersKeepsOtherServerErrors) {
  const std::string text = "SELECT A FROM NOWHERE WHERE B = ?";
  peer.expect_request(kCmdPrepare, request(text)).reply("E3");
  peer.close();
  EXPECT_EQ(SQLPrepare(stmt, sql(text), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(state(), "S0002");
  EXPECT_EQ(message(), kPrefix + "Base table not found");
}

// Without markers the version does not matter: the prepare is always sent,
// and its reply describes the result before SQLExecute.
TEST_F(ExecuteWire, PrepareDescribesTheResultBeforeExecute) {
  conn->server_version = 700;
  conn->server_flags = 0;
  const std::string text = "SELECT A, B FROM T";
  peer.expect_request(kCmdPrepare, request(text))
      .reply("K", cat({counts(2, 0), section({record("T.A", kSqlInteger, 10, 0, 0),
                                              record("T.B", kSqlVarchar, 30, 0, 1)})}));
  peer.close();
  ASSERT_EQ(SQLPrepare(stmt, sql(text), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(stmt->cursor_open, 1);
  SQLSMALLINT columns = 0;
  EXPECT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 2);
  SQLLEN scale = 0;
  EXPECT_EQ(SQLColAttributes(stmt, 2, SQL_COLUMN_SCALE, nullptr, 0, nullptr, &scale), SQL_SUCCESS);
  EXPECT_EQ(scale, 254);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(requests_sent(), 1u) << "the cached description must not be asked for";
}

// The full road of a query: one execute request, and every description
// answered from the cache its reply filled.
TEST_F(ExecuteWire, ExecDirectStoresCountsDescriptionsAndFirstRows) {
  const std::string text = "SELECT A, B FROM T";
  Bytes rows = cat({value(kSqlInteger, "1"), value(kSqlChar, "x"), Bytes{'K'},
                    value(kSqlInteger, "2"), value(kNullValueType, ""), Bytes{'W'}});
  peer.expect_request(kCmdExecute, request(text))
      .reply(
          "K",
          cat({counts(2, 2),
               section({record("T.A", kSqlInteger, 10, 0, 0), record("S.T.B", kSqlChar, 1, 0, 1)}),
               rows}));
  peer.close();
  stmt->cursor_row = 4;
  stmt->at_end = 1;
  ASSERT_EQ(SQLExecDirect(stmt, sql(text), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(stmt->cursor_row, 0);
  EXPECT_EQ(stmt->at_end, 0);
  EXPECT_EQ(stmt->cache_valid, 1);
  ASSERT_EQ(stmt->row_block_length, static_cast<int32_t>(rows.size()));
  EXPECT_EQ(Bytes(stmt->row_buffer, stmt->row_buffer + rows.size()), rows);

  SQLCHAR name[16];
  SQLSMALLINT name_length = 0, type = 0, scale = -1, nullable = -1;
  SQLULEN precision = 0;
  ASSERT_EQ(SQLDescribeCol(stmt, 2, name, sizeof name, &name_length, &type, &precision, &scale,
                           &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "B");
  EXPECT_EQ(type, SQL_CHAR);
  EXPECT_EQ(nullable, 1);
  char table[16];
  SQLSMALLINT table_length = 0;
  ASSERT_EQ(
      SQLColAttributes(stmt, 2, SQL_COLUMN_TABLE_NAME, table, sizeof table, &table_length, nullptr),
      SQL_SUCCESS);
  EXPECT_STREQ(table, "T");
  SQLLEN row_total = 0;
  EXPECT_EQ(SQLRowCount(stmt, &row_total), SQL_SUCCESS);
  EXPECT_EQ(row_total, 2);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(requests_sent(), 1u);
}

struct ReplyCase {
  std::string status;
  SQLRETURN result;
  std::string sqlstate;
  std::string message;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << "status " << c.status;
}

class ExecuteReplies : public ExecuteWire, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ExecuteReplies, StatusLetterDecides) {
  peer.expect_request(kCmdExecute).reply(GetParam().status, counts(1, 1));
  peer.close();
  EXPECT_EQ(SQLExecDirect(stmt, sql("CREATE TABLE T (A INT)"), SQL_NTS), GetParam().result);
  EXPECT_EQ(state(), GetParam().sqlstate);
  EXPECT_EQ(message(), kPrefix + GetParam().message);
  EXPECT_EQ(stmt->cursor_open, 0);
  EXPECT_STREQ(conn->sqlstate, "");
}

INSTANTIATE_TEST_SUITE_P(
    Letters, ExecuteReplies,
    ::testing::Values(ReplyCase{"Wtable is empty", SQL_SUCCESS_WITH_INFO, "00000",
                                "table is empty"},
                      ReplyCase{"E51", SQL_ERROR, "S0001", "Base table already exists"},
                      ReplyCase{"E26 near TABLE", SQL_ERROR, "37000", "Syntax error"},
                      ReplyCase{"Xodd", SQL_ERROR, "S1000", "General error"}));

TEST_F(ExecuteWire, ExecuteOverAClosedLinkIsACommunicationFailure) {
  peer.expect_request(kCmdExecute).close();
  EXPECT_EQ(SQLExecDirect(stmt, sql("SELECT 1"), SQL_NTS), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(std::string(conn->message), kPrefix + "Communications_ERROR");
  EXPECT_EQ(state(), "");
}

// Without a description section every call asks the server again.
TEST_F(ExecuteWire, DescriptionsWithoutCacheAreAskedPerCall) {
  peer.expect_request(kCmdExecute).reply("K", counts(2, 0));
  peer.expect_request(kCmdDescribe, describe_request(2))
      .reply("K", record("ORDERS.AMOUNT", kSqlNumeric, 12, 2, 0));
  peer.expect_request(kCmdDescribe, describe_request(2))
      .reply("K", record("ORDERS.AMOUNT", kSqlNumeric, 12, 2, 0));
  peer.expect_request(kCmdDescribe, describe_request(1))
      .reply("K", record("ORDERS.ID", kSqlInteger, 10, 0, 0));
  peer.close();
  ASSERT_EQ(SQLExecDirect(stmt, sql("SELECT ID, AMOUNT FROM ORDERS"), SQL_NTS), SQL_SUCCESS);

  SQLCHAR name[16];
  SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = -1;
  SQLULEN precision = 0;
  ASSERT_EQ(SQLDescribeCol(stmt, 2, name, sizeof name, &name_length, &type, &precision, &scale,
                           &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "AMOUNT");
  EXPECT_EQ(type, SQL_NUMERIC);
  EXPECT_EQ(precision, 12u);
  EXPECT_EQ(scale, 2);
  EXPECT_EQ(nullable, 0);
  ASSERT_EQ(
      SQLDescribeCol(stmt, 2, name, sizeof name, &name_length, nullptr, nullptr, nullptr, nullptr),
      SQL_SUCCESS);
  SQLLEN count = 0;
  ASSERT_EQ(SQLColAttributes(stmt, 1, SQL_COLUMN_COUNT, nullptr, 0, nullptr, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(requests_sent(), 4u);
}

TEST_F(ExecuteWire, RefusedDescriptionReportsPerFunction) {
  peer.expect_request(kCmdExecute).reply("K", counts(1, 0));
  peer.expect_request(kCmdDescribe).reply("Eno such column here");
  peer.expect_request(kCmdDescribe).reply("Eno such column here");
  peer.close();
  ASSERT_EQ(SQLExecDirect(stmt, sql("SELECT A FROM T"), SQL_NTS), SQL_SUCCESS);
  SQLCHAR name[16];
  EXPECT_EQ(SQLDescribeCol(stmt, 1, name, sizeof name, nullptr, nullptr, nullptr, nullptr, nullptr),
            SQL_ERROR);
  EXPECT_EQ(state(), "S1000");
  EXPECT_EQ(message(), "no such column here") << "the server's text, without the prefix";
  SQLLEN type = 0;
  EXPECT_EQ(SQLColAttributes(stmt, 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &type), SQL_ERROR);
  EXPECT_EQ(state(), "S1000");
  EXPECT_EQ(message(), kPrefix);
}

TEST_F(ExecuteWire, DescribeOverAClosedLinkIsACommunicationFailure) {
  peer.expect_request(kCmdExecute).reply("K", counts(1, 0));
  peer.expect_request(kCmdDescribe).close();
  ASSERT_EQ(SQLExecDirect(stmt, sql("SELECT A FROM T"), SQL_NTS), SQL_SUCCESS);
  SQLSMALLINT type = 0;
  EXPECT_EQ(SQLDescribeCol(stmt, 1, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr),
            SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(state(), "");
}

// SQLExecute does not discard the result: what its reply does not carry (the
// descriptions of the prepare) stays.
TEST_F(ExecuteWire, ExecuteAfterPrepareKeepsThePreparedDescriptions) {
  const std::string text = "SELECT A FROM T";
  peer.expect_request(kCmdPrepare, request(text))
      .reply("K", cat({counts(1, 0), section({record("T.A", kSqlDate, 10, 0, 1)})}));
  peer.expect_request(kCmdExecute, request(text))
      .reply("K", cat({counts(1, 1), value(kSqlDate, "2024-03-05"), Bytes{'W'}}));
  peer.close();
  ASSERT_EQ(SQLPrepare(stmt, sql(text), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
  EXPECT_EQ(stmt->row_count, 1);
  SQLLEN unsigned_answer = 0;
  ASSERT_EQ(SQLColAttributes(stmt, 1, SQL_COLUMN_UNSIGNED, nullptr, 0, nullptr, &unsigned_answer),
            SQL_SUCCESS);
  EXPECT_EQ(unsigned_answer, 1);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(requests_sent(), 2u);
}

// The fetch path runs a statement again through send_execute: the same
// request goes out, and the cursor starts over.
TEST_F(ExecuteWire, SendExecuteRunsTheBuiltRequestAgain) {
  const std::string text = "SELECT A FROM T";
  peer.expect_request(kCmdExecute, request(text)).reply("K", counts(1, 5));
  peer.expect_request(kCmdExecute, request(text)).reply("K", counts(1, 5));
  peer.close();
  ASSERT_EQ(SQLExecDirect(stmt, sql(text), SQL_NTS), SQL_SUCCESS);
  stmt->cursor_row = 3;
  stmt->row_number = 3;
  stmt->block_first_row = 2;
  stmt->count_final = 1;
  EXPECT_EQ(send_execute(stmt), SQL_SUCCESS);
  EXPECT_EQ(stmt->cursor_row, 0);
  EXPECT_EQ(stmt->row_number, 0u);
  EXPECT_EQ(stmt->block_first_row, 0u);
  EXPECT_EQ(stmt->count_final, 0);
}

}  // namespace
}  // namespace q4::wire
