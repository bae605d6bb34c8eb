// Scrolling against a model row server (1000 rows, 100 a block), with and
// without the server's absolute fetch form: the requests each positioning
// costs, and SQLExtendedFetch's refusals. Rowset starts are the e2e tier's.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/extended_fetch.h"
#include "results/fetch.h"
#include "results/get_data.h"
#include "statement/execute.h"

namespace q4::wire {
namespace {

using Log = std::vector<std::string>;
using Scroll = StatementTest;

Log with_reads(Log head, int count) {
  head.insert(head.end(), static_cast<size_t>(count), "X");
  return head;
}

struct PositionCase {
  const char* name;
  bool absolute_form;
  int32_t start_row;  // reached with SQLFetch first
  int32_t target;
  SQLRETURN result;
  int32_t cursor_after;
  Log requests;  // every request, the execution and the walk included
};

class Position : public StatementTest, public ::testing::WithParamInterface<PositionCase> {};

// The target row becomes current, and the next step returns it itself.
TEST_P(Position, CostsExactlyTheExpectedRequests) {
  const PositionCase& c = GetParam();
  conn->server_flags = c.absolute_form ? kFlagAbsoluteFetch : 0;
  rows.serve(peer, static_cast<int>(c.requests.size()));
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= c.start_row; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(position_cursor(stmt, c.target), c.result);
  EXPECT_EQ(stmt->cursor_row, c.cursor_after);
  if (c.result == SQL_SUCCESS) {
    EXPECT_EQ(int_at(1), c.target);
    ASSERT_EQ(fetch_next_row(stmt, -1), SQL_SUCCESS);
    EXPECT_EQ(stmt->cursor_row, c.target);
  }
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(rows.log(), c.requests);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Moves, Position, ::testing::Values(
    PositionCase{"Forward150ReadsThroughBlocks", true, 1, 151, SQL_SUCCESS, 151, {"exec", "X"}},
    PositionCase{"Forward250SendsOneAbsoluteRequest", true, 1, 251, SQL_SUCCESS, 251, {"exec", "A251"}},
    PositionCase{"Forward250WithoutAbsoluteFormReadsThrough", false, 1, 251, SQL_SUCCESS, 251, {"exec", "X", "X"}},
    PositionCase{"BackwardsInsideTheFirstBlockAsksNothing", true, 50, 10, SQL_SUCCESS, 10, {"exec"}},
    PositionCase{"BackwardsOutsideTheBlockAsksForTheRow", true, 150, 20, SQL_SUCCESS, 20, {"exec", "X", "A20"}},
    PositionCase{"BackwardsWithoutAbsoluteFormRunsTheStatementAgain", false, 150, 20, SQL_SUCCESS, 20, {"exec", "X", "exec"}},
    PositionCase{"SameRowStaysCurrent", true, 7, 7, SQL_SUCCESS, 7, {"exec"}},
    PositionCase{"RowZeroFromAFetchedBlockAsksForRowOne", true, 150, 0, SQL_NO_DATA_FOUND, 0, {"exec", "X", "A1"}},
    PositionCase{"PastTheEndCountsTheRowsFromTheStart", true, 1, 5000, SQL_NO_DATA_FOUND, 1001, with_reads({"exec", "A5000", "A1"}, 9)},
    PositionCase{"PastTheEndWithoutAbsoluteFormReadsToTheEnd", false, 1, 5000, SQL_NO_DATA_FOUND, 1001, with_reads({"exec"}, 9)}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// After positioning on row 0 the next fetch returns row 1; counting reads
// to the end once.
TEST_F(Scroll, RowZeroThenFetchAndCounting) {
  conn->server_flags = kFlagAbsoluteFetch;
  rows.serve(peer, 12);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= 150; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  ASSERT_EQ(position_cursor(stmt, 0), SQL_NO_DATA_FOUND);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 1);
  EXPECT_EQ(stmt->cursor_row, 1);
  EXPECT_EQ(count_rows(stmt), 1000);
  EXPECT_EQ(count_rows(stmt), 1000) << "a known count asks nothing more";
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(rows.log(), with_reads({"exec", "X", "A1"}, 9));
}

// The re-execution of the emulated absolute form meets a broken link: the
// positioning fails, and the statement itself says why.
TEST_F(Scroll, FailedReexecutionFailsThePositioning) {
  rows.serve(peer, 2);
  peer.expect_request(kCmdExecute).close();
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= 150; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(position_cursor(stmt, 20), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(sqlstate() + " " + message(), "08S01 " + kPrefix + "Communications_ERROR");
}

// With extended fetch disabled only NEXT is allowed; an empty result has no
// rowset for any type; other types (and SQLSetPos) are not capable.
TEST_F(Scroll, ExtendedFetchRefusals) {
  rows.serve(peer, 1);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (SQLUSMALLINT type : {0, 7, 9}) {
    EXPECT_EQ(extended_fetch(stmt, type, 1, nullptr, nullptr), SQL_ERROR) << type;
    EXPECT_EQ(sqlstate(), "S1C00");
  }
  EXPECT_EQ(set_position(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1C00");
  stmt->ext_fetch_disabled = 1;
  stmt->rowset_size = 3;
  SQLUSMALLINT statuses[3] = {};
  SQLULEN count = 0;
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_FIRST, 0, &count, statuses), SQL_ERROR);
  EXPECT_NE(message().find("Extended fetch disabled for this DSN"), std::string::npos);
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_NEXT, 0, &count, statuses), SQL_SUCCESS);
  EXPECT_EQ(count, 3u);

  stmt->ext_fetch_disabled = 0;
  peer.expect_request(kCmdExecute).reply("K", execute_payload(1, 0));
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  stmt->rowset_size = 10;
  for (SQLUSMALLINT type = SQL_FETCH_NEXT; type <= SQL_FETCH_BOOKMARK; ++type) {
    EXPECT_EQ(extended_fetch(stmt, type, 1, nullptr, nullptr), SQL_NO_DATA_FOUND) << type;
  }
}

}  // namespace
}  // namespace q4::wire
