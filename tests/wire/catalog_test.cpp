// The catalog functions against the scripted peer: the request bytes of each
// function and their length limit, the refusals that send nothing (the peer
// fails on any unexpected byte), and what each kind of reply leaves.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

SQLCHAR* text(const char* s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s));
}

using Call = std::function<SQLRETURN(SQLHSTMT)>;
using Catalog = StatementTest;

// After the statement id: the names (NUL each), fixed fields, end mark 0x01.
TEST_F(Catalog, EachFunctionSendsItsArgumentsInOrder) {
  struct Case {
    uint32_t version;
    Call call;
    uint8_t command;
    Bytes body;
  } cases[] = {
      {754, [](SQLHSTMT h) { return SQLTables(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
       kCmdTables, join({cstr("%"), cstr("%"), cstr("%"), cstr("%"), {1}})},
      // An empty owner stays empty; a length cuts the type.
      {754,
       [](SQLHSTMT h) {
         return SQLTables(h, nullptr, SQL_NTS, text(""), SQL_NTS, text("ORD%"), SQL_NTS,
                          text("TABLEX"), 5);
       },
       kCmdTables, join({cstr("%"), cstr(""), cstr("ORD%"), cstr("TABLE"), {1}})},
      // A NUL before the length ends the name.
      {754,
       [](SQLHSTMT h) {
         return SQLColumns(h, text("Q"), 1, text("O"), 0, text("AB\0CD"), 5, nullptr, -1);
       },
       kCmdColumns, join({cstr("Q"), cstr(""), cstr("AB"), cstr("%"), {1}})},
      // From 710: names, then the low bytes of the options and 0x00.
      {710,
       [](SQLHSTMT h) {
         return SQLStatistics(h, nullptr, 0, nullptr, 0, text("ORDERS"), 3, SQL_INDEX_ALL, 0x0101);
       },
       kCmdStatistics, join({cstr("%"), cstr("%"), cstr("ORD"), {1, 1, 0, 1}})},
      {700,
       [](SQLHSTMT h) {
         return SQLStatistics(h, text("Q"), -1, nullptr, 0, text("T"), SQL_NTS, 0, SQL_QUICK);
       },
       kCmdStatistics,
       {0, 1}},
      // Names, then scope, nullable and column type as u16, then 0x00.
      {700,
       [](SQLHSTMT h) {
         return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, text("ORDERS"),
                                  SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE);
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
  const char kLength[] = "S1090 Invalid string or buffer length";
  const char kOld[] = "S1000 Q4 7.0 Server does not support this function";
  const std::tuple<uint32_t, Call, const char*> cases[] = {
      {754,
       [](SQLHSTMT h) { return SQLTables(h, nullptr, 0, text("O"), -1, nullptr, 0, nullptr, 0); },
       kLength},
      {700,
       [](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, text("T"), SQL_NTS); },
       kOld},
  };
  for (const auto& [version, call, want_diag] : cases) {
    conn->server_version = version;
    stmt->column_count = 3;
    stmt->row_count = 7;
    stmt->cursor_open = 1;
    EXPECT_EQ(call(stmt), SQL_ERROR);
    std::string want = want_diag;
    EXPECT_EQ(diag(), want.insert(6, kPrefix));
    EXPECT_EQ(stmt->column_count + stmt->row_count + stmt->cursor_open, 11);
  }
  // A pending cancel is reported as such, also before anything is sent.
  stmt->cancel_requested = 1;
  EXPECT_EQ(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_ERROR);
  EXPECT_EQ(std::string(stmt->message), kPrefix + "Operation cancelled");
  EXPECT_EQ(stmt->in_call, 0);
}

// The request (id, arguments, end mark) may fill the 20480 bytes of
// io_buffer exactly, the fixed fields after the names included; one more is
// refused.
TEST_F(Catalog, LongestArgumentsThatFitAreSent) {
  const std::tuple<uint8_t, size_t, std::function<SQLRETURN(SQLHSTMT, SQLCHAR*)>> cases[] = {
      {kCmdTables, 20468,
       [](SQLHSTMT h, SQLCHAR* n) {
         return SQLTables(h, nullptr, 0, nullptr, 0, n, SQL_NTS, nullptr, 0);
       }},
      {kCmdSpecialColumns, 20463,
       [](SQLHSTMT h, SQLCHAR* n) {
         return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, n, SQL_NTS, 0, 0);
       }},
  };
  for (const auto& [command, longest, call] : cases) {
    std::string name(longest + 1, 'N');
    EXPECT_EQ(call(stmt, text(name.c_str())), SQL_ERROR);
    EXPECT_EQ(sqlstate(), "S1090");
    name.pop_back();
    peer.expect_request(command).reply("K", execute_payload(0, 0));
    EXPECT_EQ(call(stmt, text(name.c_str())), SQL_SUCCESS) << std::string(stmt->message);
    EXPECT_EQ(peer.requests().back().payload.size(), 20480u);
    EXPECT_EQ(peer.requests().back().payload.back(), 1);
  }
}

// Any letter but "K" is a refusal: the server's text with "08S01" on the
// statement, no columns, the link up. A broken link (a reset, or one payload
// byte above 20479) is the connection's failure, nothing on the statement.
TEST_F(Catalog, RefusalsAndBrokenLinks) {
  for (const char* status : {"Eno such table ORDERS", "Q"}) {
    peer.expect_request(kCmdColumns).reply(status, execute_payload(4, 4));
    stmt->column_count = 5;
    EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, text("ORDERS"), SQL_NTS, nullptr, 0),
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
