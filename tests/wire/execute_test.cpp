// Prepare, execute, describe, parameters and the catalog functions against
// the scripted peer: the request bytes (binary blocks, data at execution and
// length limits included) and what the driver makes of each kind of reply.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <tuple>

#include "core/diagnostics.h"
#include "result_fixture.h"
#include "statement/cursor.h"

namespace q4::wire {
namespace {

class Execute : public StatementTest {
 protected:
  static SQLCHAR* sql(const std::string& t) { return (SQLCHAR*)const_cast<char*>(t.c_str()); }
  static std::string nul(int count = 1) { return std::string(size_t(count), '\0'); }
  // The execute/prepare payload: statement id, then `body` (the text and what follows it).
  Bytes request(const std::string& body) { return join({id(stmt), bytes_of(body)}); }
  // The peer expects one execute request and answers with a row count of 1.
  void expect_execute(const std::string& body) {
    peer.expect_request(kCmdExecute, request(body)).reply("K", execute_payload(0, 1));
  }
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
                 SQLLEN* indicator) {
    return SQLBindParameter(stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, 0,
                            const_cast<void*>(value), 0, indicator);
  }
  SQLRETURN put(const void* data, SQLLEN n) { return SQLPutData(stmt, const_cast<void*>(data), n); }
  SQLRETURN param_data() {
    SQLPOINTER token;
    return SQLParamData(stmt, &token);
  }
};

// Only a server from level 710 with the capability sees a text with open
// markers; the syntax error it may answer is not the application's problem
// yet, while other errors are.
TEST_F(Execute, PrepareWithUnboundMarkers) {
  const std::string text = "SELECT A FROM T WHERE B = ? AND C = ?";
  const std::tuple<uint32_t, uint32_t, const char*> cases[] = {
      {709, 3, nullptr}, {710, 1, nullptr}, {710, 2, "E26"}, {754, 3, "E3"}};
  for (const auto& [version, flags, reply] : cases) {
    SCOPED_TRACE(std::to_string(version) + " " + std::to_string(flags));
    conn->server_version = version;
    conn->server_flags = flags;
    if (reply != nullptr) peer.expect_request(kCmdPrepare, request(text + nul(2))).reply(reply);
    post_error(stmt, "left from an earlier call", "S1000");
    bool refused = reply != nullptr && std::string(reply) == "E3";
    EXPECT_EQ(SQLPrepare(stmt, sql(text), SQL_NTS), refused ? SQL_ERROR : SQL_SUCCESS);
    EXPECT_EQ(diag(), refused ? "S0002 " + kPrefix + "Base table not found" : " ");
    EXPECT_STREQ(stmt->statement_text, text.c_str());
  }
}

// A prepare reply's description section is kept: asking for the columns
// costs no describe request.
TEST_F(Execute, PrepareDescriptionsAreCached) {
  Bytes record = description("T.B", kSqlDate, 10);
  Bytes entry = join({be32(uint32_t(record.size() + 4)), record});
  peer.expect_request(kCmdPrepare)
      .reply("K", join({execute_payload(1, 0), {'X'}, be32(uint32_t(entry.size() + 4)), entry}));
  ASSERT_EQ(SQLPrepare(stmt, sql("SELECT B FROM T"), SQL_NTS), SQL_SUCCESS);
  SQLLEN unsigned_answer = 0;
  ASSERT_EQ(SQLColAttributes(stmt, 1, SQL_COLUMN_UNSIGNED, nullptr, 0, nullptr, &unsigned_answer),
            SQL_SUCCESS);
  EXPECT_EQ(unsigned_answer, 1);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(peer.requests().size(), 1u);
}

TEST_F(Execute, StatusLetterDecides) {
  const std::tuple<const char*, SQLRETURN, const char*> cases[] = {
      {"Wtable is empty", SQL_SUCCESS_WITH_INFO, "00000 table is empty"},
      {"E51", SQL_ERROR, "S0001 Base table already exists"},
      {"Xodd", SQL_ERROR, "S1000 General error"}};
  for (const auto& [status, result, state] : cases) {
    peer.expect_request(kCmdExecute).reply(status, execute_payload(1, 1));
    EXPECT_EQ(SQLExecDirect(stmt, sql("CREATE TABLE T (A INT)"), SQL_NTS), result);
    std::string want = state;
    EXPECT_EQ(diag(), want.insert(6, kPrefix));
    EXPECT_EQ(stmt->cursor_open, 0);
    EXPECT_STREQ(conn->sqlstate, "");
  }
}

// Without a description section every call asks the server again; a refusal
// is posted with the server's text, without the prefix.
TEST_F(Execute, DescriptionsWithoutCacheAreAskedPerCall) {
  peer.expect_request(kCmdExecute).reply("K", execute_payload(2, 0));
  for (int i = 0; i < 2; ++i) {
    peer.expect_request(kCmdDescribe, join({be32(statement_id(stmt)), be16(2)}))
        .reply("K", description("ORDERS.AMOUNT", kSqlNumeric, 12, 2, 0));
  }
  peer.expect_request(kCmdDescribe).reply("Eno such column here");
  ASSERT_EQ(SQLExecDirect(stmt, sql("SELECT ID, AMOUNT FROM ORDERS"), SQL_NTS), SQL_SUCCESS);
  SQLCHAR name[16];
  SQLSMALLINT scale = 0, nullable = -1;
  SQLULEN precision = 0;
  ASSERT_EQ(
      SQLDescribeCol(stmt, 2, name, sizeof name, nullptr, nullptr, &precision, &scale, &nullable),
      SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "AMOUNT");
  EXPECT_EQ(precision * 100 + scale * 10 + nullable, 1220u);
  SQLLEN type = 0;
  ASSERT_EQ(SQLColAttributes(stmt, 2, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &type), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_NUMERIC);
  EXPECT_EQ(SQLDescribeCol(stmt, 1, name, sizeof name, nullptr, nullptr, nullptr, nullptr, nullptr),
            SQL_ERROR);
  EXPECT_EQ(diag(), "S1000 no such column here");
}

// Binary values become 0x0, 0x1 in the text; their blocks (count in digits,
// NUL, bytes, NUL) follow the text's NUL in marker order. A block larger
// than a frame travels whole across several.
TEST_F(Execute, BinaryBlocksFollowTheTextInMarkerOrder) {
  SQLLEN three = 3, nts = SQL_NTS;
  Bytes blob = pattern_bytes(70000, 3);
  SQLLEN large = static_cast<SQLLEN>(blob.size());
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_VARBINARY, "a\0b", &three), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, "it's", &nts), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_BINARY, SQL_LONGVARBINARY, blob.data(), &large), SQL_SUCCESS);
  expect_execute("INSERT INTO B VALUES (0x0, 'it''s', 0x1)" + nul() + "3" + nul() +
                 std::string("a\0b", 3) + nul() + "70000" + nul() +
                 std::string(blob.begin(), blob.end()) + nul() + nul());
  EXPECT_EQ(SQLExecDirect(stmt, sql("INSERT INTO B VALUES (?, ?, ?)"), SQL_NTS), SQL_SUCCESS)
      << diag();
  EXPECT_EQ(peer.finish(), "");
  EXPECT_GT(peer.requests()[0].frame_lengths.size(), 3u);
}

// A text in three pieces, an integer, SQL_NULL_DATA and a length-marked value
// that got no bytes: one request after the last SQLParamData, nothing before.
// With nothing waiting SQLParamData runs the text again; so does SQLExecute
// without asking for the values.
TEST_F(Execute, DataAtExecutionMakesOneRequest) {
  SQLLEN text_ind = SQL_DATA_AT_EXEC, int_ind = SQL_LEN_DATA_AT_EXEC(0);
  SQLLEN null_ind = SQL_DATA_AT_EXEC, empty_ind = SQL_LEN_DATA_AT_EXEC(0);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, nullptr, &text_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_LONG, SQL_INTEGER, nullptr, &int_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_CHAR, SQL_VARCHAR, nullptr, &null_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(4, SQL_C_CHAR, SQL_VARCHAR, nullptr, &empty_ind), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt, sql("INSERT INTO T VALUES (?, ?, ?, ?)"), SQL_NTS), SQL_NEED_DATA)
      << diag();
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  std::string p1(1000, 'a'), p2(2000, 'b'), p3 = std::string(499, 'c') + "'";
  ASSERT_EQ(put(p1.data(), 1000), SQL_SUCCESS);
  ASSERT_EQ(put(p2.c_str(), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(put(p3.data(), 500), SQL_SUCCESS);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  int32_t value = -42;
  ASSERT_EQ(put(&value, 4), SQL_SUCCESS);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  ASSERT_EQ(put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  ASSERT_EQ(param_data(), SQL_NEED_DATA);
  ASSERT_EQ(put("", 0), SQL_SUCCESS);
  const std::string body =
      "INSERT INTO T VALUES ('" + p1 + p2 + std::string(499, 'c') + "''', -42, NULL, '')" + nul(2);
  for (int run = 0; run < 3; ++run) {
    expect_execute(body);
    if (run == 2) empty_ind = 0;  // an empty put leaves the length mark in place
    EXPECT_EQ(run == 2 ? SQLExecute(stmt) : param_data(), SQL_SUCCESS) << diag();
  }
  EXPECT_EQ(stmt->row_count, 1);
  EXPECT_EQ(text_ind, 3500) << "the hand-over leaves the length in the indicator";
  EXPECT_EQ(int_ind, 4);
  EXPECT_EQ(null_ind, SQL_NULL_DATA);
}

// --- Catalog functions.

using Call = std::function<SQLRETURN(SQLHSTMT)>;
using Catalog = Execute;

// After the statement id: the names (NUL each), fixed fields, end mark 0x01.
TEST_F(Catalog, EachFunctionSendsItsArgumentsInOrder) {
  struct Case {
    uint32_t version;
    Call call;
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
      {700,
       [](SQLHSTMT h) { return SQLGetTypeInfo(h, SQL_VARBINARY); },
       kCmdTypeInfo,
       {0xFF, 0xFD, 0, 1}},
  };
  for (const Case& c : cases) {
    conn->server_version = c.version;
    peer.expect_request(c.command, join({be32(statement_id(stmt)), c.body}))
        .reply("K", execute_payload(0, 0));
    EXPECT_EQ(c.call(stmt), SQL_SUCCESS) << std::string(stmt->message);
  }
}

// Refusals happen before anything is sent and leave the earlier result alone.
TEST_F(Catalog, RefusedArgumentsSendNothing) {
  stmt->column_count = 3;
  conn->server_version = 700;
  EXPECT_EQ(SQLPrimaryKeys(stmt, nullptr, 0, nullptr, 0, sql("T"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(), "S1000 " + kPrefix + "Q4 7.0 Server does not support this function");
  EXPECT_EQ(stmt->column_count, 3);
  stmt->cancel_requested = 1;
  EXPECT_EQ(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_ERROR);
  EXPECT_EQ(std::string(stmt->message), kPrefix + "Operation cancelled");
  EXPECT_EQ(stmt->in_call, 0);
}

// A length of -1 is refused; the request (id, arguments, end mark) may fill
// the 20480 bytes of io_buffer exactly, one more byte is refused.
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

// Any letter but "K" is a refusal: the server's text with "08S01" on the
// statement, no columns, the link up. A broken link (a reset, or one payload
// byte above 20479) is the connection's failure, nothing on the statement.
TEST_F(Catalog, RefusalsAndBrokenLinks) {
  for (const char* status : {"Eno such table ORDERS", "Q"}) {
    peer.expect_request(kCmdColumns).reply(status, execute_payload(4, 4));
    stmt->column_count = 5;
    EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, sql("ORDERS"), SQL_NTS, nullptr, 0),
              SQL_ERROR);
    EXPECT_EQ(diag(), "08S01 " + kPrefix + (status + 1));
    EXPECT_EQ(stmt->column_count + stmt->cache_valid + conn->link_lost, 0);
    EXPECT_STREQ(conn->sqlstate, "");
  }
  stmt->sqlstate[0] = '\0';
  peer.expect_request(kCmdTables).reply("K", Bytes(20480, 0));
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "");
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_NE(conn->link_lost, 0);
}

}  // namespace
}  // namespace q4::wire
