// Reading results against the scripted peer: SQLFetch over blocks ending in
// "M", "W" and "E", damaged blocks, SQLGetData from the server (long values
// growing their buffer), the requests bound columns and scrolling cost.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include <algorithm>

#include "platform/heap.h"
#include "protocol/codec.h"
#include "result_fixture.h"
#include "results/extended_fetch.h"
#include "results/fetch.h"

namespace q4::wire {
namespace {

using Results = StatementTest;

// Rows 1-3 come with the execute reply; "M" brings rows 4-5 with "W" from
// the server. The reply's row count (1) rises with every row read past it.
// After the end a further fetch asks the server again.
TEST_F(Results, FetchReturnsEveryRowThenTheBlocksEnding) {
  for (char trailer : {'M', 'W', 'E'}) {
    SCOPED_TRACE(trailer);
    int32_t rows_there = trailer == 'M' ? 5 : 3;
    ASSERT_EQ(execute(execute_payload(1, 1, numbered_block(1, 3, trailer))), SQL_SUCCESS);
    if (trailer == 'M') {
      peer.expect_request(kCmdFetch, next_block_request(stmt))
          .reply("K", numbered_block(4, 2, 'W'));
    }
    for (int32_t row = 1; row <= rows_there; ++row) {
      ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS) << row;
      EXPECT_EQ(int_at(1), row);
      EXPECT_EQ(stmt->cursor_row, row);
      EXPECT_EQ(stmt->row_count, row);
    }
    if (trailer == 'E') {
      EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
      EXPECT_EQ(diag(), "S1000 " + kPrefix + "RUNTIME_ERROR");
      EXPECT_EQ(stmt->cursor_row, 3);
      continue;
    }
    EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
    EXPECT_EQ(stmt->count_final, 1);
    EXPECT_EQ(stmt->cursor_row, rows_there + 1);
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("W");
    EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
  }
}

// A refused fetch request is mapped; a broken link is the connection's
// "08S01" and fails the step as a server error without a number.
TEST_F(Results, FailedFetchRequests) {
  ASSERT_EQ(execute(execute_payload(1, 0)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("E26 near FROM");
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  EXPECT_EQ(diag(), "37000 " + kPrefix + "Syntax error");
  peer.expect_request(kCmdFetch).close();
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(diag(), "S1000 " + kPrefix + "RUNTIME_ERROR");
  EXPECT_EQ(stmt->cursor_row, 0);
}

// When the row buffer cannot grow for a fetched block, the fetch fails
// before anything is asked, so the retry gets the very row it would have.
TEST_F(Results, RowStorageThatCannotBeAllocatedLeavesTheCursor) {
  ASSERT_EQ(execute(execute_payload(1, 0, numbered_block(1, 2, 'M'))), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  heap_fail_after(0);
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(diag(), "S1001 " + kPrefix + "Memory allocation failure");
  EXPECT_EQ(stmt->cursor_row, 2);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(3, 1, 'W'));
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 3);
}

// A damaged block (in the reply or fetched) fails the fetch that meets it and
// every later one with "08S01", the cursor and link staying. Under ASan the
// buffer's unused tail is poisoned so that a read past the block is caught.
TEST_F(Results, DamagedBlockFailsTheFetchThatMeetsIt) {
  auto two = [](int32_t n) { return join({int_value(n), text_value("v" + std::to_string(n))}); };
  auto claiming = [](uint32_t length, const std::string& data) {
    Bytes b = text_value(data);
    put_u32(b.data() + 2, length);
    return b;
  };
  Bytes past_end = join({int_value(1), claiming(50, "short")});
  Bytes one_value = int_value(2);  // a two-column row with one value
  const std::pair<Bytes, int32_t> cases[] = {
      {join({past_end, {'W'}}), 0},
      {join({int_value(1), claiming(0xFFFFFFF0u, "x"), {'W'}}), 0},  // wraps a pointer
      {block_of({two(1), one_value, two(3)}, 'W'), 1},
      {block_of({two(1), join({int_value(2), {0x00, 0x0C, 0x00}})}, 'W'), 1},
      {two(1), 0},  // no trailing status
      {block_of({two(1), two(2)}, 'Z'), 2},
  };
  for (bool fetched : {false, true}) {
    for (const auto& [block, good_rows] : cases) {
      SCOPED_TRACE(std::to_string(good_rows) + (fetched ? " fetched" : " in the reply"));
      ASSERT_EQ(execute(execute_payload(2, 5, fetched ? Bytes{} : block)), SQL_SUCCESS);
      if (fetched) peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", block);
      for (int32_t row = 1; row <= good_rows; ++row) {
        ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
#if defined(__SANITIZE_ADDRESS__)
        ASAN_POISON_MEMORY_REGION(stmt->row_buffer + stmt->row_block_length,
                                  stmt->row_buffer_size - stmt->row_block_length);
#endif
        EXPECT_EQ(int_at(1), row);
      }
      for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
        EXPECT_EQ(diag(), "08S01 " + kPrefix + "Communications_ERROR");
        EXPECT_EQ(stmt->cursor_row, good_rows);
      }
#if defined(__SANITIZE_ADDRESS__)
      ASAN_UNPOISON_MEMORY_REGION(stmt->row_buffer, stmt->row_buffer_size);
#endif
      EXPECT_STREQ(conn->sqlstate, "") << "a damaged block is not a broken link";
    }
  }
}

// --- SQLGetData.

// io_buffer up to 20473 bytes (a byte left for the NUL), a grown block above;
// one frame to 20474, two to 40954. Read in pieces of 7000, all comes back.
TEST_F(Results, LongValuesArriveWholeAndReadBackInPieces) {
  for (size_t size : {20473, 20474, 40954}) {
    std::string text(size, '\0');
    Bytes pattern = pattern_bytes(size, 7);
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + pattern[i] % 26);
    ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
    std::string got;
    std::vector<char> buffer(7001);
    for (SQLRETURN rc = SQL_SUCCESS_WITH_INFO; rc == SQL_SUCCESS_WITH_INFO;) {
      peer.expect_request(kCmdGetData, get_data_request(stmt, 1, SQL_C_CHAR))
          .reply("K", text_value(text));
      SQLLEN length = 0;
      rc = get_data(stmt, 1, SQL_C_CHAR, buffer.data(), SQLLEN(buffer.size()), &length);
      ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << size << diag();
      EXPECT_EQ(static_cast<size_t>(length), size - got.size());
      got += buffer.data();
    }
    EXPECT_EQ(got, text) << size;
  }
}

// A damaged get-data reply is "08S01" on the statement with the buffer
// untouched; a broken link is the connection's.
TEST_F(Results, DamagedGetDataReplies) {
  Bytes past_payload = text_value("abc"), huge = text_value("a");
  put_u32(past_payload.data() + 2, 9);
  put_u32(huge.data() + 2, 0xFFFFFFFFu);
  ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  for (const Bytes& reply : {Bytes{0x00, 0x0C}, past_payload, huge}) {
    peer.expect_request(kCmdGetData).reply("K", reply);
    char buffer[16] = "untouched";
    SQLLEN length = 99;
    EXPECT_EQ(get_data(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_ERROR);
    EXPECT_EQ(sqlstate() + buffer + std::to_string(length), "08S01untouched99");
  }
  peer.expect_request(kCmdGetData).close();
  EXPECT_EQ(int_at(1), INT32_MIN);
  EXPECT_STREQ(conn->sqlstate, "08S01");
}

// --- Scrolling against a model row server (1000 rows, 100 a block), with and
// without the server's absolute fetch form.

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

// Test names and failure output show the case's name, not its raw bytes.
void PrintTo(const PositionCase& c, std::ostream* out) {
  *out << c.name;
}

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

// SQLSetPos is not capable; with extended fetch disabled only NEXT is allowed.
TEST_F(Scroll, ExtendedFetchRefusals) {
  serve_rows(1);
  ASSERT_EQ(execute_direct(stmt, "SELECT N FROM T", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(set_position(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1C00");
  stmt->ext_fetch_disabled = 1;
  SQLULEN count = 0;
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_FIRST, 0, &count, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(), "S1000 " + kPrefix + "Extended fetch disabled for this DSN");
  EXPECT_EQ(extended_fetch(stmt, SQL_FETCH_NEXT, 0, &count, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace q4::wire
