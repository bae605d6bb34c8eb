// SQLRowCount against the scripted peer: the rows a statement changed, and a
// result set's rows only once its end has been read.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <functional>

#include "result_fixture.h"
#include "results/extended_fetch.h"
#include "results/fetch.h"

namespace q4::wire {
namespace {

class RowCount : public StatementTest {
 protected:
  SQLLEN count() {
    SQLLEN n = -99;
    EXPECT_EQ(SQLRowCount(stmt, &n), SQL_SUCCESS);
    return n;
  }
  // SQLExtendedFetch of one row; its return code.
  SQLRETURN scroll(SQLUSMALLINT type, int32_t row) {
    return extended_fetch(stmt, type, row, nullptr, nullptr);
  }
  SQLRETURN tables() { return SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }
};

// Right after the call: a change count as the server gave it, "unknown" for
// every result set whatever its reply said (a first block that held all of
// it included: the end has not been read).
TEST_F(RowCount, PerStatementKind) {
  const Bytes three_rows = numbered_block(1, 3, 'W');
  // clang-format off
  struct Case { const char* what; uint8_t command; Bytes reply; std::function<SQLRETURN()> call; SQLLEN expected; } cases[] = {
      {"INSERT of three rows", kCmdExecute, execute_payload(0, 3), [&] { return exec_direct("INSERT INTO T SELECT * FROM U"); }, 3},
      {"DDL", kCmdExecute, execute_payload(0, 0), [&] { return exec_direct("CREATE TABLE T (N INT)"); }, 0},
      {"a change count the server does not know", kCmdExecute, execute_payload(0, 0xFFFFFFFFu), [&] { return exec_direct("DELETE FROM T"); }, -1},
      {"a query the first block holds whole", kCmdExecute, execute_payload(1, 3, three_rows), [&] { return exec_direct("SELECT N FROM T"); }, -1},
      {"a query with more rows than its first block", kCmdExecute, execute_payload(1, 4, numbered_block(1, 3, 'M')), [&] { return exec_direct("SELECT N FROM T"); }, -1},
      {"a prepared query", kCmdPrepare, execute_payload(1, 0), [&] { return SQLPrepare(stmt, sql_text("SELECT N FROM T"), SQL_NTS); }, -1},
      {"a catalog function", kCmdTables, execute_payload(5, 3, three_rows), [&] { return tables(); }, -1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    peer.expect_request(c.command).reply("K", c.reply);
    ASSERT_EQ(c.call(), SQL_SUCCESS) << diag();
    EXPECT_EQ(count(), c.expected);
  }
}

// Five rows, three in the execute reply and two in the next block: -1 while
// rows are ahead (the last row read included: its end is known only at the
// step past it), 5 from the end on, also after SQL_CLOSE. A catalog result on
// the same statement starts unknown again.
TEST_F(RowCount, AResultIsCountedOnceItsEndIsRead) {
  ASSERT_EQ(execute(execute_payload(1, 4, numbered_block(1, 3, 'M'))), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(4, 2, 'W'));
  // clang-format off
  const std::pair<SQLRETURN, SQLLEN> steps[] = {
      {SQL_SUCCESS, -1}, {SQL_SUCCESS, -1}, {SQL_SUCCESS, -1}, {SQL_SUCCESS, -1}, {SQL_SUCCESS, -1},
      {SQL_NO_DATA_FOUND, 5}};
  // clang-format on
  for (const auto& [rc, expected] : steps) {
    ASSERT_EQ(fetch_row(stmt), rc);
    EXPECT_EQ(count(), expected) << "at row " << result_set(stmt).cursor_row;
  }
  EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(count(), 5);
  peer.expect_request(kCmdTables).reply("K", execute_payload(5, 3, numbered_block(1, 3, 'W')));
  ASSERT_EQ(tables(), SQL_SUCCESS);
  EXPECT_EQ(count(), -1);
}

// SQL_CLOSE before the end: the rows read after it are numbered from 1
// again, so the count stays unknown even when the end is reached; a new
// execution counts again. A close before anything was read loses nothing.
TEST_F(RowCount, AClosedCursorKeepsAnUnknownCount) {
  ASSERT_EQ(execute(execute_payload(1, 3, numbered_block(1, 3, 'W'))), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  while (fetch_row(stmt) == SQL_SUCCESS) {
  }
  EXPECT_TRUE(result_set(stmt).count_final);
  EXPECT_EQ(count(), -1) << "2 rows numbered 1 and 2 after the close";
  ASSERT_EQ(execute(execute_payload(1, 3, numbered_block(1, 3, 'W'))), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  while (fetch_row(stmt) == SQL_SUCCESS) {
  }
  EXPECT_EQ(count(), 3);
}

// Block cursors: positioning on the last rowset or past the end counts the
// result. Without the server's absolute fetch the last row is reached by
// running the statement again, which stands in for the same result and keeps
// the count. An absolute request that the server answers with "past the end"
// reads the result again from row 1 to count it, even when nothing was read
// yet (the server's cursor stands past the end, so reading on would count
// nothing and take the execute reply's 4 for the total).
TEST_F(RowCount, PositioningPastTheEndCountsTheResult) {
  const Bytes first_block = execute_payload(1, 4, numbered_block(1, 3, 'M'));
  ASSERT_EQ(execute(first_block), SQL_SUCCESS);
  ASSERT_EQ(scroll(SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
  EXPECT_EQ(count(), -1);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(4, 2, 'W'));
  peer.expect_request(kCmdExecute).reply("K", first_block);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(4, 2, 'W'));
  ASSERT_EQ(scroll(SQL_FETCH_LAST, 0), SQL_SUCCESS);
  EXPECT_EQ(count(), 5);
  EXPECT_EQ(int_at(1), 5);

  conn->server_flags = kFlagAbsoluteFetch;
  ASSERT_EQ(execute(first_block), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, join({id(stmt), {'A'}, be32(500)})).reply("W");
  peer.expect_request(kCmdFetch, join({id(stmt), {'A'}, be32(1)}))
      .reply("K", numbered_block(1, 3, 'M'));
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(4, 2, 'W'));
  EXPECT_EQ(scroll(SQL_FETCH_ABSOLUTE, 500), SQL_NO_DATA_FOUND);
  EXPECT_EQ(count(), 5);
  EXPECT_EQ(result_set(stmt).cursor_row, 6);
  peer.expect_request(kCmdFetch, join({id(stmt), {'A'}, be32(3)}))
      .reply("K", numbered_block(3, 3, 'W'));
  EXPECT_EQ(scroll(SQL_FETCH_ABSOLUTE, 3), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 3);
  EXPECT_EQ(count(), 5);
}

// A query run with a parameter array leaves the last row's result, counted
// as that result alone. (Changes add up: execute_test.cpp.)
TEST_F(RowCount, AQueryRunWithAParameterArray) {
  int32_t ids[3] = {1, 2, 3};
  ASSERT_EQ(
      SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, ids, 0, nullptr),
      SQL_SUCCESS);
  SQLULEN done = 0;
  ASSERT_EQ(SQLParamOptions(stmt, 3, &done), SQL_SUCCESS);
  for (int32_t row = 1; row <= 3; ++row) {
    peer.expect_request(kCmdExecute).reply("K", execute_payload(1, 1, numbered_block(row, 1, 'W')));
  }
  ASSERT_EQ(exec_direct("SELECT N FROM T WHERE N = ?"), SQL_SUCCESS);
  EXPECT_EQ(count(), -1);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 3);
  EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(count(), 1);
}

}  // namespace
}  // namespace q4::wire
