// Execute with parameters and the catalog functions against the scripted peer:
// request bytes, length limits, refusals and broken links.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>

#include "result_fixture.h"
#include "statement/cancel.h"

namespace q4::wire {
namespace {

class Execute : public StatementTest {
 protected:
  static SQLCHAR* sql(const std::string& t) { return (SQLCHAR*)const_cast<char*>(t.c_str()); }
  static std::string nul(int count = 1) { return std::string(size_t(count), '\0'); }
  // The execute/prepare payload: statement id, then `body` (the text and what follows it).
  Bytes request(const std::string& body) { return join({id(stmt), bytes_of(body)}); }
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
                 SQLLEN* indicator) {
    return SQLBindParameter(stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, 0,
                            const_cast<void*>(value), 0, indicator);
  }
};

// Binary values become 0x0, 0x1; their blocks (digits, NUL, bytes, NUL) follow
// the text's NUL in marker order, a large one across several frames.
TEST_F(Execute, BinaryBlocksFollowTheTextInMarkerOrder) {
  SQLLEN three = 3, nts = SQL_NTS;
  Bytes blob = pattern_bytes(70000, 3);
  SQLLEN large = static_cast<SQLLEN>(blob.size());
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_VARBINARY, "a\0b", &three), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, "it's", &nts), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_BINARY, SQL_LONGVARBINARY, blob.data(), &large), SQL_SUCCESS);
  std::string body = "INSERT INTO B VALUES (0x0, 'it''s', 0x1)" + nul() + "3" + nul() +
                     std::string("a\0b", 3) + nul() + "70000" + nul() +
                     std::string(blob.begin(), blob.end()) + nul(2);
  peer.expect_request(kCmdExecute, request(body)).reply("K", execute_payload(0, 1));
  EXPECT_EQ(SQLExecDirect(stmt, sql("INSERT INTO B VALUES (?, ?, ?)"), SQL_NTS), SQL_SUCCESS)
      << diag();
  EXPECT_EQ(peer.finish(), "");
  EXPECT_GT(peer.requests()[0].frame_lengths.size(), 3u);
}

// One request after the last SQLParamData; with nothing waiting SQLParamData
// runs the text again, and so does SQLExecute without asking for the values.
TEST_F(Execute, DataAtExecutionMakesOneRequest) {
  SQLLEN text_ind = SQL_DATA_AT_EXEC, null_ind = SQL_DATA_AT_EXEC;
  SQLLEN empty_ind = SQL_LEN_DATA_AT_EXEC(0);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, nullptr, &text_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, nullptr, &null_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_CHAR, SQL_VARCHAR, nullptr, &empty_ind), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt, sql("INSERT INTO T VALUES (?, ?, ?)"), SQL_NTS), SQL_NEED_DATA);
  SQLPOINTER token;
  std::string p1(3000, 'a'), p2 = std::string(499, 'c') + "'";
  ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt, p1.data(), 3000), SQL_SUCCESS);
  ASSERT_EQ(SQLPutData(stmt, sql(p2), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt, nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt, sql(""), 0), SQL_SUCCESS);
  const std::string body = "INSERT INTO T VALUES ('" + p1 + p2 + "'', NULL, '')" + nul(2);
  for (int run = 0; run < 3; ++run) {
    peer.expect_request(kCmdExecute, request(body)).reply("K", execute_payload(0, 1));
    if (run == 2) empty_ind = 0;  // an empty put leaves the length mark in place
    EXPECT_EQ(run == 2 ? SQLExecute(stmt) : SQLParamData(stmt, &token), SQL_SUCCESS) << diag();
  }
  EXPECT_EQ(text_ind, 3500) << "the hand-over leaves the length in the indicator";
  EXPECT_EQ(null_ind, SQL_NULL_DATA);
}

using Catalog = Execute;

// After the statement id: the names (NUL each), fixed fields, end mark 0x01.
TEST_F(Catalog, EachFunctionSendsItsArgumentsInOrder) {
  struct Case {
    uint32_t version;
    std::function<SQLRETURN(SQLHSTMT)> call;
    uint8_t command;
    Bytes body;
  } cases[] = {
      // An empty owner stays empty; a length cuts the type.
      {754,
       [](SQLHSTMT h) {
         return SQLTables(h, nullptr, SQL_NTS, sql(""), SQL_NTS, sql("ORD%"), SQL_NTS,
                          sql("TABLEX"), 5);
       },
       kCmdTables, join({cstr("%"), cstr(""), cstr("ORD%"), cstr("TABLE"), {1}})},
      // A NUL before the length ends the name.
      {754,
       [](SQLHSTMT h) {
         return SQLColumns(h, sql("Q"), 1, sql("O"), 0, sql("AB\0CD"), 5, nullptr, -1);
       },
       kCmdColumns, join({cstr("Q"), cstr(""), cstr("AB"), cstr("%"), {1}})},
      // From 710: names, then the low bytes of the options and 0x00.
      {710,
       [](SQLHSTMT h) {
         return SQLStatistics(h, nullptr, 0, nullptr, 0, sql("ORDERS"), 3, SQL_INDEX_ALL, 0x0101);
       },
       kCmdStatistics, join({cstr("%"), cstr("%"), cstr("ORD"), {1, 1, 0, 1}})},
      // Names, then scope, nullable and column type as u16, then 0x00.
      {700,
       [](SQLHSTMT h) {
         return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, sql("ORDERS"), SQL_NTS,
                                  SQL_SCOPE_SESSION, SQL_NULLABLE);
       },
       kCmdSpecialColumns, join({cstr("%"), cstr("%"), cstr("ORDERS"), {0, 2, 0, 1, 0, 1, 0, 1}})},
  };
  for (const Case& c : cases) {
    conn->server_version = c.version;
    peer.expect_request(c.command, join({be32(statement_id(stmt)), c.body}))
        .reply("K", execute_payload(0, 0));
    EXPECT_EQ(c.call(stmt), SQL_SUCCESS) << std::string(stmt->message);
  }
}

// A length of -1 is refused; the request may fill io_buffer's 20480 bytes exactly.
TEST_F(Catalog, LongestArgumentsThatFitAreSent) {
  std::string name(20469, 'N');
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, sql("O"), -1, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, nullptr, 0, sql(name.c_str()), SQL_NTS, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(diag(), "S1090 " + kPrefix + "Invalid string or buffer length");
  name.pop_back();
  peer.expect_request(kCmdTables).reply("K", execute_payload(0, 0));
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, nullptr, 0, sql(name.c_str()), SQL_NTS, nullptr, 0),
            SQL_SUCCESS);
  EXPECT_EQ(peer.requests().back().payload.size(), 20480u);
}

// Any letter but "K" is a refusal: "08S01" and the server's text on the
// statement; a broken link (a payload above 20479 bytes) is the connection's
// and the statement's.
TEST_F(Catalog, RefusalsAndBrokenLinks) {
  for (const char* status : {"Eno such table ORDERS", "Q"}) {
    peer.expect_request(kCmdColumns).reply(status, execute_payload(4, 4));
    stmt->column_count = 5;
    EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, sql("ORDERS"), SQL_NTS, nullptr, 0),
              SQL_ERROR);
    EXPECT_EQ(diag(), "08S01 " + kPrefix + (status + 1));
    EXPECT_EQ(stmt->column_count + stmt->cache_valid + conn->link->lost, 0);
    EXPECT_STREQ(conn->sqlstate, "");
  }
  stmt->sqlstate[0] = '\0';
  peer.expect_request(kCmdTables).reply("K", Bytes(20480, 0));
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "08S01");
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_NE(conn->link->lost, 0);
}

// A cancel from another thread while the driver waits: the reply is read
// whole (the link stays in step), the call fails with "S1008", its result is
// gone ("S1010" on the next fetch) and the next execution works. A cancel of
// the idle statement discards the result at once, without a request.
TEST_F(Execute, CancelDuringTheWaitTakesEffectAtTheReply) {
  peer.expect_request(kCmdExecute)
      .call([this] { cancel_statement(stmt); })
      .reply("K", execute_payload(1, 2, numbered_block(1, 2, 'W')));
  EXPECT_EQ(SQLExecDirect(stmt, sql("SELECT N FROM T"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1008");
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1010");
  peer.expect_request(kCmdExecute).reply("K", execute_payload(1, 2, numbered_block(7, 2, 'W')));
  ASSERT_EQ(SQLExecDirect(stmt, sql("SELECT N FROM T"), SQL_NTS), SQL_SUCCESS) << diag();
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 7);
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1010");
  EXPECT_EQ(conn->link->lost, 0);
}

// SQL_QUERY_TIMEOUT bounds the wait: "S1T00" on the statement, the link
// dropped ("08S01" on the connection), for the late reply cannot be trusted.
TEST_F(Execute, QueryTimeoutEndsTheWaitAndDropsTheLink) {
  ASSERT_EQ(SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, 1), SQL_SUCCESS);
  peer.expect_request(kCmdExecute).expect_closed();
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(SQLExecDirect(stmt, sql("SELECT N FROM T"), SQL_NTS), SQL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(diag(), "S1T00 " + kPrefix + "Timeout expired");
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(conn->link->lost, 1);
}

}  // namespace
}  // namespace q4::wire
