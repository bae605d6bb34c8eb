// Positioning on absolute rows against a model server of 1000 rows sent 100
// a block: which requests each move costs, with and without the server's
// absolute fetch form.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/fetch.h"
#include "statement/execute.h"

namespace q4::wire {
namespace {

using Log = std::vector<std::string>;

struct PositionCase {
  const char* name;
  bool absolute_form;
  int32_t start_row;  // reached with SQLFetch first
  int32_t target;
  SQLRETURN result;
  int32_t cursor_after;
  Log requests;  // every request, the execution and the walk to start_row included
};

Log with_reads(Log head, int count, Log tail = {}) {
  for (int i = 0; i < count; ++i) head.push_back("X");
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class Position : public ResultLinkTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(Position, CostsExactlyTheExpectedRequests) {
  const PositionCase& c = GetParam();
  conn->server_flags = c.absolute_form ? kFlagAbsoluteFetch : 0;
  rows.serve(peer, static_cast<int>(c.requests.size()));
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= c.start_row; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);

  EXPECT_EQ(position_cursor(stmt, c.target), c.result);
  EXPECT_EQ(stmt->cursor_row, c.cursor_after);
  if (c.result == SQL_SUCCESS) {
    EXPECT_EQ(int_at(1), c.target) << "the target row is current";
    // The next step returns the positioned row itself, then moves on.
    ASSERT_EQ(fetch_next_row(stmt, -1), SQL_SUCCESS);
    EXPECT_EQ(stmt->cursor_row, c.target);
  }
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(rows.log(), c.requests);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Moves, Position, ::testing::Values(
    PositionCase{"Forward150ReadsThroughBlocks", true, 1, 151, SQL_SUCCESS, 151, {"exec", "X"}},
    PositionCase{"Forward250SendsOneAbsoluteRequest", true, 1, 251, SQL_SUCCESS, 251,
                 {"exec", "A251"}},
    PositionCase{"Forward250WithoutAbsoluteFormReadsThrough", false, 1, 251, SQL_SUCCESS, 251,
                 {"exec", "X", "X"}},
    PositionCase{"BackwardsInsideTheFirstBlockAsksNothing", true, 50, 10, SQL_SUCCESS, 10,
                 {"exec"}},
    PositionCase{"BackwardsInsideAFetchedBlockAsksNothing", true, 150, 120, SQL_SUCCESS, 120,
                 {"exec", "X"}},
    PositionCase{"BackwardsOutsideTheBlockAsksForTheRow", true, 150, 20, SQL_SUCCESS, 20,
                 {"exec", "X", "A20"}},
    PositionCase{"BackwardsWithoutAbsoluteFormRunsTheStatementAgain", false, 150, 20,
                 SQL_SUCCESS, 20, {"exec", "X", "exec"}},
    PositionCase{"SameRowStaysCurrent", true, 7, 7, SQL_SUCCESS, 7, {"exec"}},
    PositionCase{"RowZeroInsideTheFirstBlock", true, 50, 0, SQL_NO_DATA_FOUND, 0, {"exec"}},
    PositionCase{"RowZeroFromAFetchedBlockAsksForRowOne", true, 150, 0, SQL_NO_DATA_FOUND, 0,
                 {"exec", "X", "A1"}},
    PositionCase{"PastTheEndCountsTheRowsFromTheStart", true, 1, 5000, SQL_NO_DATA_FOUND, 1001,
                 with_reads({"exec", "A5000", "A1"}, 9)},
    PositionCase{"PastTheEndWithoutAbsoluteFormReadsToTheEnd", false, 1, 5000,
                 SQL_NO_DATA_FOUND, 1001, with_reads({"exec"}, 9)}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Positioning on row 0 leaves the first row as the next one to fetch.
TEST_F(ResultLinkTest, AfterRowZeroTheNextFetchReturnsRowOne) {
  conn->server_flags = kFlagAbsoluteFetch;
  rows.serve(peer, 3);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= 150; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  ASSERT_EQ(position_cursor(stmt, 0), SQL_NO_DATA_FOUND);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 1);
  EXPECT_EQ(stmt->cursor_row, 1);
}

TEST_F(ResultLinkTest, CountingReadsToTheEndOnce) {
  rows.serve(peer, 10);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(count_rows(stmt), 1000);
  EXPECT_EQ(stmt->count_final, 1);
  EXPECT_EQ(count_rows(stmt), 1000) << "a known count asks nothing more";
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(rows.log(), with_reads({"exec"}, 9));
}

// The re-execution of the emulated absolute form meets a broken link: the
// positioning fails, and the statement itself says why.
TEST_F(ResultLinkTest, FailedReexecutionFailsThePositioning) {
  rows.serve(peer, 2);
  peer.expect_request(kCmdExecute).close();
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= 150; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(position_cursor(stmt, 20), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(sqlstate(), "08S01");
  EXPECT_EQ(message(), kPrefix + "Communications_ERROR");
}

}  // namespace
}  // namespace q4::wire
