// Results against the scripted peer: fetched blocks, damaged ones, SQLGetData
// and SQLRowCount. (The rowsets an ODBC 3 caller fetches: the e2e scroll
// program.)
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "platform/heap.h"
#include "protocol/codec.h"
#include "result_fixture.h"
#include "results/fetch.h"

namespace q4::wire {
namespace {

class Results : public StatementTest {
 protected:
  // fetch_row's return code, the cursor row, the row count and column 1 (or
  // the diagnostic) as "0 2 2 2".
  std::string fetch() {
    SQLRETURN rc = fetch_row(stmt);
    std::string fields =
        std::to_string(rc) + " " + std::to_string(result_set(stmt).cursor_row) + " ";
    if (rc == SQL_ERROR) return fields + diag().erase(6, kPrefix.size());
    return fields + std::to_string(stmt->row_count) + (rc ? "" : " " + std::to_string(int_at(1)));
  }
  // A result of one column whose first row the server holds.
  void fetch_a_row() {
    ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  }
  // SQLGetData of column 1 as SQL_C_CHAR: "rc text length".
  std::string text_at_1() {
    char buffer[64] = "untouched";
    SQLLEN length = 99;
    SQLRETURN rc = deliver_value(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length);
    return std::to_string(rc) + " " + buffer + " " + std::to_string(length);
  }
};

// "M" fetches rows 4-5; past the end a further fetch asks the server again.
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
      std::string n = std::to_string(row);
      EXPECT_EQ(fetch(), "0 " + n + " " + n + " " + n);
    }
    if (trailer == 'E') {
      EXPECT_EQ(fetch(), "-1 3 S1000 RUNTIME_ERROR");
      continue;
    }
    EXPECT_EQ(fetch(), "100 " + std::to_string(rows_there + 1) + " " + std::to_string(rows_there));
    EXPECT_TRUE(result_set(stmt).count_final);
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("W");
    EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
  }
}

// A refused fetch is mapped; a broken link is "08S01" on the connection and
// the statement. Neither moves the cursor. (A row buffer that cannot grow:
// allocation_failure_test.cpp.)
TEST_F(Results, FailedFetches) {
  ASSERT_EQ(execute(execute_payload(1, 0, numbered_block(1, 2, 'M'))), SQL_SUCCESS);
  EXPECT_EQ(fetch(), "0 1 1 1");
  EXPECT_EQ(fetch(), "0 2 2 2");
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", numbered_block(3, 1, 'M'));
  EXPECT_EQ(fetch(), "0 3 3 3");
  peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("E26 near FROM");
  EXPECT_EQ(fetch(), "-1 3 37000 Syntax error");
  peer.expect_request(kCmdFetch).close();
  EXPECT_EQ(fetch(), "-1 3 08S01 Communications_ERROR");
  EXPECT_STREQ(conn->sqlstate, "08S01");
}

// A damaged block fails the fetch that meets it and every later one with
// "08S01"; under ASan a read past the block hits the poisoned tail. (Each kind
// of damage on its own: ../unit/row_block_test.cpp.)
TEST_F(Results, DamagedBlockFailsTheFetchThatMeetsIt) {
  auto two = [](int32_t n) { return join({int_value(n), text_value("v" + std::to_string(n))}); };
  auto claiming = [](uint32_t length, const std::string& data) {
    Bytes b = text_value(data);
    put_u32(b.data() + 2, length);
    return b;
  };
  const std::pair<Bytes, int32_t> cases[] = {
      {join({int_value(1), claiming(50, "short"), {'W'}}), 0},
      {join({int_value(1), claiming(0xFFFFFFF0u, "x"), {'W'}}), 0},  // wraps a pointer
      {block_of({two(1), join({int_value(2), {0x00, 0x0C, 0x00}})}, 'W'), 1},
  };
  for (const auto& [block, good_rows] : cases) {
    SCOPED_TRACE(good_rows);
    ASSERT_EQ(execute(execute_payload(2, 5)), SQL_SUCCESS);
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K", block);
    for (int32_t row = 1; row <= good_rows; ++row) {
      ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
#if defined(__SANITIZE_ADDRESS__)
      RowBlock& stored = result_set(stmt).block;
      ASAN_POISON_MEMORY_REGION(stored.bytes() + stored.length(),
                                stored.capacity() - stored.length());
#endif
      EXPECT_EQ(int_at(1), row);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(fetch(), "-1 " + std::to_string(good_rows) + " 08S01 Communications_ERROR");
    }
#if defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(result_set(stmt).block.bytes(), result_set(stmt).block.capacity());
#endif
    EXPECT_STREQ(conn->sqlstate, "") << "a damaged block is not a broken link";
  }
}

// A damaged get-data reply (a "K" without the value included: damage, not
// memory that ran out) is "08S01" with the buffer untouched. (Long values
// around the frame size, read in pieces: the e2e blocks script.)
TEST_F(Results, GetDataRepliesDamaged) {
  fetch_a_row();
  Bytes past_payload = text_value("abc"), huge = text_value("a");
  put_u32(past_payload.data() + 2, 9);
  put_u32(huge.data() + 2, 0xFFFFFFFFu);
  for (const Bytes& reply : {Bytes{0x00, 0x0C}, past_payload, huge}) {
    peer.expect_request(kCmdGetData).reply("K", reply);
    EXPECT_EQ(text_at_1(), "-1 untouched 99");
    EXPECT_EQ(sqlstate(), "08S01");
  }
  peer.expect_request(kCmdGetData).close();
  EXPECT_EQ(int_at(1), INT32_MIN);
  EXPECT_STREQ(conn->sqlstate, "08S01");
}

// A value longer than io_buffer whose block cannot be allocated: the reply is
// read to its end and dropped, the call fails with "S1001", and the next
// request finds the link in step.
TEST_F(Results, GetDataOutOfMemoryKeepsTheLink) {
  fetch_a_row();
  peer.expect_request(kCmdGetData).reply("K", text_value("Zoë " + std::string(30000, 'x')));
  heap_fail_after(0);
  EXPECT_EQ(text_at_1(), "-1 untouched 99");
  heap_fail_after(-1);
  EXPECT_EQ(diag(), "S1001 " + kPrefix + "Memory allocation failure");
  EXPECT_STREQ(conn->sqlstate, "") << "running out of memory is no link failure";
  EXPECT_EQ(conn->link->lost, 0);
  peer.expect_request(kCmdGetData).reply("K", text_value("Ærø\nline two"));
  EXPECT_EQ(text_at_1(), "0 Ærø\nline two 14");
}

// SQL_CLOSE before the end: the rows read after it are numbered from 1
// again, so the count stays unknown even when the end is reached; a new
// execution counts again. A close before anything was read loses nothing.
TEST_F(Results, AClosedCursorKeepsAnUnknownRowCount) {
  auto count = [this] {
    SQLLEN n = -99;
    EXPECT_EQ(SQLRowCount(stmt, &n), SQL_SUCCESS);
    return n;
  };
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

}  // namespace
}  // namespace q4::wire
