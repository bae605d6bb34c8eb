// Scrolling against a model row server (1000 rows, 100 a block), with and
// without the server's absolute fetch form: the requests each positioning
// costs, and SQLExtendedFetch's refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/codec.h"
#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/extended_fetch.h"
#include "results/fetch.h"
#include "statement/execute.h"

namespace q4::wire {
namespace {

using Log = std::vector<std::string>;

Log with_reads(Log head, int count) {
  head.insert(head.end(), static_cast<size_t>(count), "X");
  return head;
}

// Serves `count` requests of the model result, logging them: "exec", "X"
// (next block), "A<row>" (absolute). The log is read after peer.finish().
class Scroll : public StatementTest {
 protected:
  void serve_rows(int count) {
    peer.serve(count, [this](const ReceivedRequest& r, std::string* status, Bytes* payload) {
      const Bytes& p = r.payload;
      bool exec = r.command[0] == static_cast<char>(kCmdExecute);
      if (exec) {
        next_ = 1;
        log_.push_back("exec");
      } else if (p.size() == 5 && p[4] == 'X') {
        log_.push_back("X");
      } else if (p.size() == 9 && p[4] == 'A') {
        next_ = static_cast<int32_t>(load_u32(p.data() + 5));
        log_.push_back("A" + std::to_string(next_));
      } else {
        return std::string("unexpected request");
      }
      Bytes block;
      if (next_ <= 1000) {
        int32_t count = std::min(100, 1001 - next_);
        block = numbered_block(next_, count, next_ + count > 1000 ? 'W' : 'M');
        next_ += count;
      }
      *status = exec || !block.empty() ? "K" : "W";
      *payload = exec ? execute_payload(1, 1000, block) : block;
      return std::string();
    });
  }
  int32_t next_ = 1;
  Log log_;
};

struct PositionCase {
  const char* name;
  bool absolute_form;
  int32_t start_row;  // reached with SQLFetch first
  int32_t target;
  SQLRETURN result;
  int32_t cursor_after;
  Log requests;  // every request, the execution and the walk included
};

class Position : public Scroll, public ::testing::WithParamInterface<PositionCase> {};

// The target row becomes current, and the next step returns it itself.
TEST_P(Position, CostsExactlyTheExpectedRequests) {
  const PositionCase& c = GetParam();
  conn->server_flags = c.absolute_form ? kFlagAbsoluteFetch : 0;
  serve_rows(static_cast<int>(c.requests.size()));
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
  EXPECT_EQ(log_, c.requests);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Moves, Position, ::testing::Values(
    PositionCase{"Forward150ReadsThroughBlocks", true, 1, 151, SQL_SUCCESS, 151, {"exec", "X"}},
    PositionCase{"Forward250SendsOneAbsoluteRequest", true, 1, 251, SQL_SUCCESS, 251, {"exec", "A251"}},
    PositionCase{"Forward250WithoutAbsoluteFormReadsThrough", false, 1, 251, SQL_SUCCESS, 251, {"exec", "X", "X"}},
    PositionCase{"BackwardsInsideTheFirstBlockAsksNothing", true, 50, 10, SQL_SUCCESS, 10, {"exec"}},
    PositionCase{"BackwardsOutsideTheBlockAsksForTheRow", true, 150, 20, SQL_SUCCESS, 20, {"exec", "X", "A20"}},
    PositionCase{"BackwardsWithoutAbsoluteFormRunsTheStatementAgain", false, 150, 20, SQL_SUCCESS, 20, {"exec", "X", "exec"}},
    PositionCase{"RowZeroFromAFetchedBlockAsksForRowOne", true, 150, 0, SQL_NO_DATA_FOUND, 0, {"exec", "X", "A1"}},
    PositionCase{"PastTheEndCountsTheRowsFromTheStart", true, 1, 5000, SQL_NO_DATA_FOUND, 1001, with_reads({"exec", "A5000", "A1"}, 9)},
    PositionCase{"PastTheEndWithoutAbsoluteFormReadsToTheEnd", false, 1, 5000, SQL_NO_DATA_FOUND, 1001, with_reads({"exec"}, 9)}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The emulated absolute form's re-execution meets a broken link.
TEST_F(Scroll, FailedReexecutionFailsThePositioning) {
  serve_rows(2);
  peer.expect_request(kCmdExecute).close();
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  for (int32_t row = 1; row <= 150; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(position_cursor(stmt, 20), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(diag(), "08S01 " + kPrefix + "Communications_ERROR");
}

// Unknown types and SQLSetPos are not capable; with extended fetch disabled
// only NEXT is allowed; an empty result has no rowset.
TEST_F(Scroll, ExtendedFetchRefusals) {
  serve_rows(1);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(extended_fetch(stmt, 9, 1, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1C00");
  EXPECT_EQ(set_position(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1C00");
  stmt->ext_fetch_disabled = 1;
  stmt->rowset_size = 3;
  SQLUSMALLINT statuses[3] = {};
  SQLULEN count = 0;
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_FIRST, 0, &count, statuses), SQL_ERROR);
  EXPECT_EQ(diag(), "S1000 " + kPrefix + "Extended fetch disabled for this DSN");
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_NEXT, 0, &count, statuses), SQL_SUCCESS);
  EXPECT_EQ(count, 3u);
  stmt->ext_fetch_disabled = 0;
  ASSERT_EQ(execute(execute_payload(1, 0)), SQL_SUCCESS);
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_LAST, 1, nullptr, nullptr), SQL_NO_DATA_FOUND);
}

}  // namespace
}  // namespace q4::wire
