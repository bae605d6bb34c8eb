// Execute with parameters (values, arrays of them, data at execution) and
// the catalog functions against the scripted peer: request bytes,
// length limits, refusals and broken links. (The query timeout: the e2e TLS script.)
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cctype>

#include "result_fixture.h"

namespace q4::wire {
namespace {

class Execute : public StatementTest {
 protected:
  SQLRETURN bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
                 SQLLEN* indicator, SQLLEN buffer_length = 0) {
    return SQLBindParameter(stmt, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, 0,
                            const_cast<void*>(value), buffer_length, indicator);
  }
};

// One request after the last SQLParamData, with the pieces joined, a NULL and
// an empty value.
TEST_F(Execute, DataAtExecutionMakesOneRequest) {
  SQLLEN text_ind = SQL_DATA_AT_EXEC, null_ind = SQL_DATA_AT_EXEC;
  SQLLEN empty_ind = SQL_LEN_DATA_AT_EXEC(0);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, nullptr, &text_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, nullptr, &null_ind), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_CHAR, SQL_VARCHAR, nullptr, &empty_ind), SQL_SUCCESS);
  ASSERT_EQ(exec_direct("INSERT INTO T VALUES (?, ?, ?)"), SQL_NEED_DATA);
  SQLPOINTER token;
  std::string p1(3000, 'a'), p2 = std::string(499, 'c') + "'";
  ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt, p1.data(), 3000), SQL_SUCCESS);
  ASSERT_EQ(SQLPutData(stmt, sql_text(p2.c_str()), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt, nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt, sql_text(""), 0), SQL_SUCCESS);
  peer.expect_request(kCmdExecute,
                      text_request(stmt, "INSERT INTO T VALUES ('" + p1 + p2 + "'', NULL, '')"))
      .reply("K", execute_payload(0, 1));
  EXPECT_EQ(SQLParamData(stmt, &token), SQL_SUCCESS) << diag();
  EXPECT_EQ(text_ind, 3500) << "the hand-over leaves the length in the indicator";
  EXPECT_EQ(null_ind, SQL_NULL_DATA);
}

// Four rows of (id, name) for INSERT INTO T VALUES (?, ?), with a status array.
class ParamArray : public Execute {
 protected:
  void SetUp() override {
    Execute::SetUp();
    ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, ids, nullptr), SQL_SUCCESS);
    ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, names, name_ind, sizeof names[0]), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses, 0), SQL_SUCCESS);
  }
  // One execute request per answer: "K" with that row count, or the status string.
  void answers(std::initializer_list<std::string> texts) {
    for (const std::string& t : texts) {
      bool count = isdigit(t[0]);
      peer.expect_request(kCmdExecute)
          .reply(count ? "K" : t, count ? execute_payload(0, std::stoul(t)) : Bytes{});
    }
  }
  // "rc sqlstate rows-processed statuses" after running `rows` rows, statuses
  // S(uccess), I(nfo), E(rror), U(nused), D(iagnostics unavailable) and -
  // (untouched); then SQLRowCount unless the execution failed (`counted` has
  // it).
  std::string insert(SQLULEN rows, const char* text = "INSERT INTO T VALUES (?, ?)") {
    EXPECT_EQ(SQLParamOptions(stmt, rows, &done), SQL_SUCCESS);
    for (SQLUSMALLINT& s : statuses) s = 99;
    stmt->sqlstate[0] = '\0';
    std::string out = std::to_string(exec_direct(text));
    out += " " + (sqlstate().empty() ? "-" : sqlstate()) + " " + std::to_string(done) + " ";
    for (SQLUSMALLINT s : statuses) out += s == 99 ? '-' : s < 8 ? "SD???EIU"[s] : '?';
    EXPECT_EQ(SQLRowCount(stmt, &counted), SQL_SUCCESS);
    return out + (out[0] == '-' ? "" : " " + std::to_string(counted));
  }

  int32_t ids[4] = {10, 20, 30, 40};
  char names[4][8] = {"ann", "bob's", "cy", "dee"};
  SQLLEN name_ind[4] = {SQL_NTS, SQL_NULL_DATA, 2, SQL_NTS};
  SQLUSMALLINT statuses[4];
  SQLULEN done = 0;
  SQLLEN counted = -99;
};

// An array's rows go in turn,
// and SQLRowCount adds up what the rows changed. A warning row is reported
// and adds nothing.
// Without markers there are no rows of values: the statement runs once.
TEST_F(ParamArray, RowsRunInTurnAndTheirCountsAddUp) {
  answers({"1", "2", "1"});
  EXPECT_EQ(insert(3), "0 - 3 SSS- 4");
  answers({"1", "Wtruncated", "1"});
  EXPECT_EQ(insert(3), "1 00000 3 SIS- 2");
  EXPECT_EQ(diag(), "00000 " + kPrefix + "truncated");
  peer.expect_request(kCmdExecute, text_request(stmt, "DELETE FROM T"))
      .reply("K", execute_payload(0, 5));
  EXPECT_EQ(insert(4, "DELETE FROM T"), "0 - 1 SUUU 5");
}

// A row that cannot be written stops the array before it is sent: the rows
// before it stay executed and counted, nothing after it is sent, and the row
// counter names it; a data-at-execution marker refused before the first row
// stops at row 1. (A row the server refuses: the e2e parameter array program.)
TEST_F(ParamArray, ARowThatCannotBeWrittenStopsTheExecution) {
  strcpy(conn->disable_array_pipeline, "Yes");
  name_ind[1] = -7;  // not a length: row 2 cannot be written
  answers({"1"});
  EXPECT_EQ(insert(4), "-1 S1090 2 SEUU");
  EXPECT_EQ(counted, 1);
  name_ind[1] = SQL_DATA_AT_EXEC;
  EXPECT_EQ(insert(4), "-1 S1C00 1 EUUU");
  EXPECT_EQ(peer.requests().size(), 1u);
}

using Catalog = Execute;

// After the statement id: the names (NUL each), fixed fields, end mark 0x01.
// (SQLTables and SQLStatistics: the e2e pyodbc catalog calls.)
TEST_F(Catalog, EachFunctionSendsItsArgumentsInOrder) {
  // clang-format off
  struct Case { uint32_t version; uint8_t command; std::function<SQLRETURN()> call; Bytes body; } cases[] = {
      // A NUL before the length ends the name.
      {754, kCmdColumns, [&] { return SQLColumns(stmt, sql_text("Q"), 1, sql_text("O"), 0, sql_text("AB\0CD"), 5, nullptr, -1); },
       join({cstr("Q"), cstr(""), cstr("AB"), cstr("%"), {1}})},
      // Names, then scope, nullable and column type as u16, then 0x00.
      {700, kCmdSpecialColumns, [&] { return SQLSpecialColumns(stmt, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, sql_text("ORDERS"), SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE); },
       join({cstr("%"), cstr("%"), cstr("ORDERS"), {0, 2, 0, 1, 0, 1, 0, 1}})},
  };
  // clang-format on
  for (const Case& c : cases) {
    conn->server_version = c.version;
    peer.expect_request(c.command, join({id(stmt), c.body})).reply("K", execute_payload(0, 0));
    EXPECT_EQ(c.call(), SQL_SUCCESS) << std::string(stmt->message);
  }
}

// A length of -1 is refused; the request may fill io_buffer's 20480 bytes
// exactly. A refusal is "08S01" and the server's
// text on the statement; a broken link (a payload above 20479 bytes) is the
// connection's and the statement's.
TEST_F(Catalog, LengthLimitsRefusalsAndBrokenLinks) {
  std::string long_name(20469, 'N');
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, sql_text("O"), -1, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(
      SQLTables(stmt, nullptr, 0, nullptr, 0, sql_text(long_name.c_str()), SQL_NTS, nullptr, 0),
      SQL_ERROR);
  EXPECT_EQ(diag(), "S1090 " + kPrefix + "Invalid string or buffer length");
  long_name.pop_back();
  peer.expect_request(kCmdTables).reply("K", execute_payload(0, 0));
  EXPECT_EQ(
      SQLTables(stmt, nullptr, 0, nullptr, 0, sql_text(long_name.c_str()), SQL_NTS, nullptr, 0),
      SQL_SUCCESS);
  EXPECT_EQ(peer.requests().back().payload.size(), 20480u);
  peer.expect_request(kCmdColumns).reply("Eno such table ORDERS", execute_payload(4, 4));
  stmt->column_count = 5;
  EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, sql_text("ORDERS"), SQL_NTS, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(diag(), "08S01 " + kPrefix + "no such table ORDERS");
  EXPECT_EQ(stmt->column_count + result_set(stmt).block.held() + conn->link->lost, 0);
  EXPECT_STREQ(conn->sqlstate, "");
  stmt->sqlstate[0] = '\0';
  peer.expect_request(kCmdTables).reply("K", Bytes(20480, 0));
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "08S01");
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_NE(conn->link->lost, 0);
}

}  // namespace
}  // namespace q4::wire
