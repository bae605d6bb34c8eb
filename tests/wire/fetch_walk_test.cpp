// Walking a result row by row with SQLFetch against a scripted server: blocks
// that end in "M", "W" and "E", rows sent without data, damaged blocks, and
// the failures of the fetch request.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include <string>
#include <vector>

#include "core/server_errors.h"
#include "platform/heap.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/fetch.h"
#include "results/get_data.h"

namespace q4::wire {
namespace {

// The mapped server error for a status without a number (a block's "E").
std::string default_server_error() {
  return kPrefix + server_error_row(kRuntimeErrorNumber).text;
}

struct WalkCase {
  const char* name;
  char first_trailer;     // trailer of the execute reply's block (rows 1-3)
  bool second_block;      // "M": the next request brings rows 4-5 and "W"
  SQLRETURN last_result;  // of the fetch after the last row
  int32_t rows_returned;
};

class RowWalk : public ResultLinkTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(RowWalk, ReturnsEveryRowThenTheBlocksEnding) {
  const WalkCase& c = GetParam();
  // The execute reply's row count (1) is lower than the rows there are: it
  // rises with every row read past it.
  ASSERT_EQ(execute(execute_payload(1, 1, numbered_block(1, 3, c.first_trailer))), SQL_SUCCESS);
  if (c.second_block) {
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(4, 2, 'W'));
  }
  for (int32_t row = 1; row <= c.rows_returned; ++row) {
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS) << "row " << row;
    EXPECT_EQ(int_at(1), row);
    EXPECT_EQ(stmt->cursor_row, row);
    EXPECT_EQ(stmt->row_number, static_cast<uint32_t>(row));
    EXPECT_EQ(stmt->row_count, std::max(row, 1));
  }
  EXPECT_EQ(fetch_row(stmt), c.last_result);
  if (c.last_result == SQL_NO_DATA_FOUND) {
    EXPECT_EQ(stmt->at_end, 1);
    EXPECT_EQ(stmt->count_final, 1);
    EXPECT_EQ(stmt->row_count, c.rows_returned);
    EXPECT_EQ(stmt->cursor_row, c.rows_returned + 1);
    // After the end the cache is used up: a further fetch asks the server.
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("W");
    EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
    EXPECT_EQ(stmt->row_number, static_cast<uint32_t>(c.rows_returned + 1));
  } else {
    EXPECT_EQ(sqlstate(), server_error_row(kRuntimeErrorNumber).sqlstate);
    EXPECT_EQ(message(), default_server_error());
    EXPECT_EQ(stmt->at_end, 0);
    EXPECT_EQ(stmt->cursor_row, c.rows_returned);
  }
}

INSTANTIATE_TEST_SUITE_P(Trailers, RowWalk,
                         ::testing::Values(WalkCase{"MoreRowsOnTheServer", 'M', true,
                                                    SQL_NO_DATA_FOUND, 5},
                                           WalkCase{"NoMoreRows", 'W', false, SQL_NO_DATA_FOUND, 3},
                                           WalkCase{"ErrorAfterTheRows", 'E', false, SQL_ERROR, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultLinkTest, NoResultColumnsFetchesNothing) {
  ASSERT_EQ(execute(execute_payload(0, 0)), SQL_SUCCESS);
  EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(sqlstate(), "");
}

// "K" without a payload: the row is current but its values stay on the
// server; each column read is one get-data request.
TEST_F(ResultLinkTest, RowsSentWithoutDataAreReadThroughGetData) {
  ASSERT_EQ(execute(execute_payload(2, 2)), SQL_SUCCESS);
  for (int32_t row = 1; row <= 2; ++row) {
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
    EXPECT_EQ(stmt->cache_valid, 0);
    EXPECT_EQ(stmt->cursor_row, row);
    peer.expect_request(kCmdGetData, get_data_request(stmt, 2, SQL_C_CHAR))
        .reply("K", text_value("row " + std::to_string(row)));
    peer.expect_request(kCmdGetData, get_data_request(stmt, 1, SQL_C_LONG))
        .reply("K", int_value(row * 10));
    EXPECT_EQ(text_at(2), "row " + std::to_string(row));
    EXPECT_EQ(int_at(1), row * 10);
  }
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("W");
  EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(stmt->cursor_row, 3);
}

// After SQLFreeStmt(SQL_CLOSE) only the cursor went back: the next fetch
// returns the next unread row of the stored block and numbers it row 1.
TEST_F(ResultLinkTest, FetchAfterCloseContinuesTheStoredBlock) {
  ASSERT_EQ(execute(execute_payload(1, 3, numbered_block(1, 3, 'W'))), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  stmt->cursor_row = 0;  // what SQL_CLOSE leaves
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 2);
  EXPECT_EQ(stmt->cursor_row, 1);
}

TEST_F(ResultLinkTest, ServerErrorOnTheFetchRequestIsMapped) {
  ASSERT_EQ(execute(execute_payload(1, 0)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("E26 near FROM");
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "37000");
  EXPECT_EQ(message(), kPrefix + "Syntax error");
  EXPECT_EQ(stmt->cursor_row, 0);
}

TEST_F(ResultLinkTest, BrokenLinkDuringFetchIsACommunicationFailure) {
  ASSERT_EQ(execute(execute_payload(1, 0)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch).close();
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(std::string(conn->message), kPrefix + "Communications_ERROR");
  // The step fails as a server error without a number.
  EXPECT_EQ(message(), default_server_error());
  EXPECT_EQ(stmt->cursor_row, 0);
}

// The row buffer must grow to take a fetched block. When it cannot, the
// fetch fails before anything is asked of the server, so the retry gets the
// very row the failed call would have returned.
TEST_F(ResultLinkTest, RowStorageThatCannotBeAllocatedLeavesTheCursor) {
  ASSERT_EQ(execute(execute_payload(1, 0, numbered_block(1, 2, 'M'))), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  heap_fail_after(0);
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(sqlstate(), "S1001");
  EXPECT_EQ(message(), kPrefix + "Memory allocation failure");
  EXPECT_EQ(stmt->cursor_row, 2);

  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(3, 1, 'W'));
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 3);
  EXPECT_EQ(stmt->cursor_row, 3);
}

// --- Damaged blocks: the fetch that meets the damage fails with "08S01",
// the cursor stays, every later fetch fails the same way without skipping
// to the server's next block, and the link stays usable.

struct BrokenCase {
  const char* name;
  Bytes block;  // two-column rows; the damage follows row `good_rows`
  int32_t good_rows;
};

Bytes two_columns(int32_t n) {
  return join({int_value(n), text_value("v" + std::to_string(n))});
}

Bytes with_length(uint16_t type, uint32_t claimed, const std::string& data) {
  Bytes b = text_value(data, static_cast<int16_t>(type));
  put_u32(b.data() + 2, claimed);
  return b;
}

std::vector<BrokenCase> broken_cases() {
  Bytes past_end = join({int_value(1), with_length(SQL_VARCHAR, 50, "short")});
  Bytes huge_length = join({int_value(1), with_length(SQL_VARCHAR, 0xFFFFFFF0u, "x")});
  Bytes one_value_short = int_value(2);  // a row of two columns with one value
  Bytes header_cut = join({int_value(2), Bytes{0x00, 0x0C, 0x00}});
  return {
      {"FirstValueLengthPastTheEnd", join({past_end, Bytes{'W'}}), 0},
      {"LengthThatWrapsAPointer", join({huge_length, Bytes{'W'}}), 0},
      {"SecondRowPastTheEnd", block_of({two_columns(1), past_end}, 'W'), 1},
      {"TooFewValuesAtTheEnd", block_of({two_columns(1), one_value_short}, 'W'), 1},
      {"TooFewValuesBeforeAnotherRow",
       block_of({two_columns(1), one_value_short, two_columns(3)}, 'W'), 1},
      {"ValueHeaderCutShort", block_of({two_columns(1), header_cut}, 'W'), 1},
      {"NoTrailingStatus", two_columns(1), 0},
      {"UnknownStatusByte", block_of({two_columns(1), two_columns(2)}, 'Z'), 2},
  };
}

class BrokenBlock : public ResultLinkTest, public ::testing::WithParamInterface<BrokenCase> {
 protected:
  // Under AddressSanitizer the unused tail of the row buffer is poisoned, so
  // that a read past the block (though inside the buffer) is caught.
  void poison_tail() {
#if defined(__SANITIZE_ADDRESS__)
    ASAN_POISON_MEMORY_REGION(stmt->row_buffer + stmt->row_block_length,
                              stmt->row_buffer_size - stmt->row_block_length);
#endif
  }
  void unpoison_tail() {
#if defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(stmt->row_buffer, stmt->row_buffer_size);
#endif
  }
  void expect_stuck_at(int32_t good_rows) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      stmt->sqlstate[0] = '\0';
      EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
      EXPECT_EQ(sqlstate(), "08S01");
      EXPECT_EQ(message(), kPrefix + "Communications_ERROR");
      EXPECT_EQ(stmt->cursor_row, good_rows);
    }
    EXPECT_STREQ(conn->sqlstate, "") << "a damaged block is not a broken link";
    EXPECT_EQ(conn->link_lost, 0);
  }
};

TEST_P(BrokenBlock, InTheExecuteReplyFailsTheFetchThatMeetsIt) {
  const BrokenCase& c = GetParam();
  ASSERT_EQ(execute(execute_payload(2, 5, c.block)), SQL_SUCCESS);
  poison_tail();
  for (int32_t row = 1; row <= c.good_rows; ++row) {
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
    EXPECT_EQ(int_at(1), row);
  }
  expect_stuck_at(c.good_rows);
  unpoison_tail();
}

TEST_P(BrokenBlock, InAFetchedBlockFailsTheFetchThatMeetsIt) {
  const BrokenCase& c = GetParam();
  ASSERT_EQ(execute(execute_payload(2, 5)), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", c.block);
  if (c.good_rows == 0) {
    // The block's first row is read at once: that fetch is the failing one.
    expect_stuck_at(0);
    return;
  }
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  poison_tail();
  for (int32_t row = 2; row <= c.good_rows; ++row) ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  expect_stuck_at(c.good_rows);
  unpoison_tail();
}

INSTANTIATE_TEST_SUITE_P(Damage, BrokenBlock, ::testing::ValuesIn(broken_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace q4::wire
