// Decoding execute replies where the wire tests cannot reach: short and
// damaged payloads, rows across executions, memory failures and row storage.
#include "platform/heap.h"
#include "protocol/codec.h"
#include "results/description_cache.h"
#include "results/row_block.h"
#include "statement/reply.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

Bytes counts(uint32_t columns, uint32_t rows) {
  return Bytes().u32(columns).u32(rows);
}

SQLRETURN reply(StatementRecord& r, const Bytes& payload) {
  strcpy(r.stmt->reply_status, "K");
  return handle_execute_reply(r.stmt, payload.ptr(), payload.size());
}

// Fewer than eight bytes mean no columns and no rows: io_buffer still holds
// an earlier reply's counts, which must not be read. 0xFFFFFFFF rows is the
// server's "unknown", read as the -1 SQLRowCount reports.
TEST(ExecuteReply, Counts) {
  StatementRecord r;
  r.stmt->column_count = 7;
  put_u32(put_u32(r.stmt->io_buffer, 5), 6);
  strcpy(r.stmt->reply_status, "K");
  EXPECT_EQ(handle_execute_reply(r.stmt, r.stmt->io_buffer, 7), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->column_count + r.stmt->row_count, 0);
  EXPECT_EQ(r.stmt->cursor_open, 1);
  EXPECT_EQ(reply(r, counts(3, 0xFFFFFFFFu)), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->row_count, -1);
}

// Rows never outlive the execution that sent them.
TEST(ExecuteReply, RowsOfAnEarlierExecutionAreNotServedAgain) {
  StatementRecord r;
  Bytes rows = row_value(kSqlInteger, "1").u8('W');
  ASSERT_EQ(reply(r, counts(1, 1).bytes(rows)), SQL_SUCCESS);  // rows at offset 8
  ASSERT_EQ(r.stmt->row_block_length, rows.size());
  EXPECT_EQ(memcmp(r.stmt->row_buffer, rows.ptr(), rows.size()), 0);
  ASSERT_EQ(reply(r, counts(1, 5)), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->cache_valid, 0);
}

// A damaged section is neither stored nor taken for rows.
TEST(ExecuteReply, DamagedSectionChangesNothing) {
  const Bytes cases[] = {
      counts(1, 0).u8('X').u32(200).u32(10),   // claims 200 bytes, carries 4
      counts(1, 0).u8('X').u32(4 + 4).u32(2),  // an entry shorter than its length
      counts(1, 0).u8('X').u32(4 + 4 + 5).u32(4 + 5).text("ABCDE"),  // name without NUL
  };
  for (const Bytes& p : cases) {
    StatementRecord r;
    r.stmt->column_count = 4;
    EXPECT_EQ(outcome(reply(r, p), r.stmt), "ERROR S1000 General error");
    EXPECT_EQ(r.stmt->column_count, 4);
    EXPECT_EQ(r.stmt->cursor_open + r.stmt->descriptions_cached + r.stmt->cache_valid, 0);
  }
}

// Rows that cannot be stored fail the call; the description cache is a
// convenience whose loss only means asking the server later.
TEST(ExecuteReply, OutOfMemory) {
  StatementRecord r;
  heap_fail_after(0);
  EXPECT_EQ(outcome(reply(r, counts(1, 1).bytes(row_value(kSqlInteger, "1").u8('W'))), r.stmt),
            "ERROR S1001 Memory allocation failure");
  EXPECT_EQ(r.stmt->cache_valid + r.stmt->cursor_open, 0);
  StatementRecord s;
  heap_fail_after(0);
  EXPECT_EQ(reply(s, counts(1, 0).bytes(description_section("A", kSqlInteger))), SQL_SUCCESS);
  EXPECT_EQ(s.stmt->descriptions_cached, 0);
  EXPECT_EQ(s.stmt->cursor_open, 1);
}

// The row buffer grows to the next thousand above the need; a first row
// running past the block is refused.
TEST(StoreRowBlock, BufferSizesAndCutFirstRow) {
  for (auto [length, size] : {std::pair{999, 1000}, {1000, 2000}}) {
    StatementRecord r;
    std::vector<uint8_t> data(length, 'K');
    ASSERT_TRUE(store_row_block(r.stmt, data.data(), length, false));
    EXPECT_EQ(r.stmt->row_buffer_size, size) << length;
  }
  StatementRecord r;
  r.stmt->column_count = 2;
  Bytes cut = row_value(kSqlInteger, "1").u16(kSqlChar).u32(50).text("short");
  EXPECT_FALSE(store_row_block(r.stmt, cut.ptr(), cut.size(), true));
  EXPECT_EQ(r.stmt->cache_valid, 0);
  EXPECT_EQ(r.diag().substr(0, 5), "S1000");
}

}  // namespace
}  // namespace q4
