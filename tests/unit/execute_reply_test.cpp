#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "platform/heap.h"
#include "results/description_cache.h"
#include "results/row_block.h"
#include "statement/reply.h"
#include "exec_fixture.h"

namespace q4 {
namespace {

Bytes counts(uint32_t columns, uint32_t rows) {
  Bytes b;
  b.u32(columns).u32(rows);
  return b;
}

// Two rows of two columns and the end-of-rows status.
Bytes two_rows() {
  Bytes b;
  b.bytes(row_value(kSqlInteger, "1")).bytes(row_value(kSqlChar, "one"));
  b.u8('K').bytes(row_value(kSqlInteger, "2")).bytes(row_value(kNullValueType, ""));
  b.u8('W');
  return b;
}

SQLRETURN reply(StatementRecord& r, const std::string& status, const Bytes& payload) {
  r.set_status(status);
  return handle_execute_reply(r.stmt, payload.ptr(), payload.size());
}

class ShortSuccessTest : public ::testing::TestWithParam<int32_t> {};

// io_buffer still holds an earlier reply's counts; they must not be read.
TEST_P(ShortSuccessTest, FewerThanEightBytesMeanNoColumnsNoRows) {
  StatementRecord r;
  r.stmt->column_count = 7;
  r.stmt->row_count = 9;
  put_u32(put_u32(r.stmt->io_buffer, 5), 6);
  r.set_status("K");
  EXPECT_EQ(handle_execute_reply(r.stmt, r.stmt->io_buffer, GetParam()), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->column_count, 0);
  EXPECT_EQ(r.stmt->row_count, 0);
  EXPECT_EQ(r.stmt->cursor_open, 1);
  EXPECT_EQ(r.stmt->cache_valid, 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortSuccessTest, ::testing::Values(-1, 0, 4, 7));

// 0xFFFFFFFF is the server's "unknown": read as signed it is the -1 that
// SQLRowCount reports.
TEST(ExecuteReply, CountsOnly) {
  StatementRecord r;
  EXPECT_EQ(reply(r, "K", counts(3, 0xFFFFFFFFu)), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->column_count, 3);
  EXPECT_EQ(r.stmt->row_count, -1);
  EXPECT_EQ(r.stmt->cursor_open, 1);
  EXPECT_EQ(r.stmt->descriptions_cached, 0);
  EXPECT_EQ(r.stmt->cache_valid, 0);
}

TEST(ExecuteReply, DescriptionSectionIsCachedAndRowsFollowIt) {
  StatementRecord r;
  Bytes p = counts(2, 2);
  p.bytes(description_section({description_record("T.A", kSqlInteger, 10, 0, 0),
                               description_record("T.B", kSqlChar, 20, 0, 1)}));
  Bytes rows = two_rows();
  p.bytes(rows);
  ASSERT_EQ(reply(r, "K", p), SQL_SUCCESS);

  ASSERT_EQ(r.stmt->descriptions_cached, 1);
  ColumnDescription d;
  ASSERT_TRUE(find_cached_description(r.stmt, 2, &d));
  EXPECT_EQ(std::string(d.name, d.name_length), "T.B");
  EXPECT_EQ(d.type, kSqlChar);
  EXPECT_EQ(d.precision, 20u);
  EXPECT_EQ(d.nullable, 1);
  EXPECT_FALSE(find_cached_description(r.stmt, 3, &d));

  ASSERT_EQ(r.stmt->cache_valid, 1);
  ASSERT_EQ(r.stmt->row_block_length, rows.size());
  EXPECT_EQ(memcmp(r.stmt->row_buffer, rows.ptr(), rows.size()), 0);
  EXPECT_EQ(r.stmt->value_table[2], nullptr) << "the first step must read the first row";
}

// Re-executing a prepared statement whose new result has no first block (an
// empty result) must not serve the rows the previous execution left behind.
TEST(ExecuteReply, ReplyWithoutRowsDropsRowsOfTheEarlierExecution) {
  StatementRecord r;
  ASSERT_EQ(reply(r, "K", counts(2, 2).bytes(two_rows())), SQL_SUCCESS);
  ASSERT_EQ(r.stmt->cache_valid, 1);
  EXPECT_EQ(reply(r, "K", counts(2, 0)), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->cache_valid, 0);
}

TEST(ExecuteReply, RowsWithoutSectionStartAtOffsetEight) {
  StatementRecord r;
  Bytes rows = two_rows();
  Bytes p = counts(2, 2);
  p.bytes(rows);
  ASSERT_EQ(reply(r, "K", p), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->descriptions_cached, 0);
  ASSERT_EQ(r.stmt->row_block_length, rows.size());
  EXPECT_EQ(memcmp(r.stmt->row_buffer, rows.ptr(), rows.size()), 0);
}

// A re-execution replaces only what its reply carries.
TEST(ExecuteReply, ReplyWithoutSectionKeepsEarlierDescriptions) {
  StatementRecord r;
  Bytes first = counts(1, 0);
  first.bytes(description_section({description_record("A", kSqlInteger, 10, 0, 0)}));
  ASSERT_EQ(reply(r, "K", first), SQL_SUCCESS);
  ASSERT_EQ(reply(r, "K", counts(1, 5)), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->descriptions_cached, 1);
  EXPECT_EQ(r.stmt->row_count, 5);
}

struct DamagedCase {
  const char* label;
  Bytes payload;
};

Bytes damaged_section_length() {
  Bytes p = counts(1, 0);
  p.u8('X').u32(200).u32(10);  // claims 200 bytes, carries 4
  return p;
}

Bytes damaged_length_below_field() {
  Bytes p = counts(1, 0);
  p.u8('X').u32(3);
  return p;
}

Bytes damaged_entry_length() {
  Bytes p = counts(1, 0);
  p.u8('X').u32(4 + 4).u32(2);  // an entry shorter than its own length field
  return p;
}

Bytes damaged_record_without_nul() {
  Bytes p = counts(1, 0);
  p.u8('X').u32(4 + 4 + 5).u32(4 + 5).text("ABCDE");
  return p;
}

Bytes damaged_record_short_fields() {
  Bytes p = counts(1, 0);
  p.u8('X').u32(4 + 4 + 6).u32(4 + 6).cstring("A").u32(1);  // 4 of 10 field bytes
  return p;
}

// A damaged section must neither be stored nor be taken for rows.
TEST(ExecuteReply, DamagedSectionChangesNothing) {
  const Bytes cases[] = {damaged_section_length(), damaged_length_below_field(),
                         damaged_entry_length(), damaged_record_without_nul(),
                         damaged_record_short_fields()};
  for (const Bytes& p : cases) {
    StatementRecord r;
    r.stmt->column_count = 4;
    EXPECT_EQ(reply(r, "K", p), SQL_ERROR);
    EXPECT_EQ(r.sqlstate(), "S1000");
    EXPECT_EQ(r.message(), kPrefix + "General error");
    EXPECT_EQ(r.stmt->column_count, 4);
    EXPECT_EQ(r.stmt->cursor_open, 0);
    EXPECT_EQ(r.stmt->descriptions_cached, 0);
    EXPECT_EQ(r.stmt->cache_valid, 0);
  }
}

TEST(ExecuteReply, RowBlockThatCannotBeStoredFailsTheCall) {
  StatementRecord r;
  Bytes p = counts(2, 2);
  p.bytes(two_rows());
  heap_fail_after(0);
  EXPECT_EQ(reply(r, "K", p), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(r.sqlstate(), "S1001");
  EXPECT_EQ(r.stmt->cache_valid, 0);
  EXPECT_EQ(r.stmt->cursor_open, 0);
}

// The cache is a convenience: when it cannot be allocated the reply still
// succeeds and descriptions are asked of the server later.
TEST(ExecuteReply, DescriptionCacheThatCannotBeStoredFallsBack) {
  StatementRecord r;
  Bytes p = counts(1, 0);
  p.bytes(description_section({description_record("A", kSqlInteger, 10, 0, 0)}));
  heap_fail_after(0);
  EXPECT_EQ(reply(r, "K", p), SQL_SUCCESS);
  heap_fail_after(-1);
  EXPECT_EQ(r.stmt->descriptions_cached, 0);
  EXPECT_EQ(r.stmt->description_cache, nullptr);
  EXPECT_EQ(r.stmt->cursor_open, 1);
}

TEST(ExecuteReply, ErrorIsMappedThroughTheServerTable) {
  StatementRecord r;
  EXPECT_EQ(reply(r, "E26 near FROM", Bytes{}), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "37000");
  EXPECT_EQ(r.message(), kPrefix + "Syntax error");
  EXPECT_EQ(r.stmt->cursor_open, 0);
}

TEST(ExecuteReply, WarningPostsServerTextAndLeavesTheResult) {
  StatementRecord r;
  r.stmt->column_count = 2;
  r.stmt->row_count = 8;
  Bytes p = counts(5, 5);  // not read
  EXPECT_EQ(reply(r, "Wfile is nearly full", p), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(r.sqlstate(), "00000");
  EXPECT_EQ(r.message(), kPrefix + "file is nearly full");
  EXPECT_EQ(r.stmt->column_count, 2);
  EXPECT_EQ(r.stmt->row_count, 8);
  EXPECT_EQ(r.stmt->cursor_open, 0);
}

TEST(ExecuteReply, OtherLetterIsGeneralError) {
  for (const char* status : {"Q", "k", "Mmore", ""}) {
    StatementRecord r;
    EXPECT_EQ(reply(r, status, counts(1, 1)), SQL_ERROR) << status;
    EXPECT_EQ(r.sqlstate(), "S1000");
    EXPECT_EQ(r.message(), kPrefix + "General error");
    EXPECT_EQ(r.stmt->cursor_open, 0);
  }
}

struct SizeCase {
  int32_t length;
  int32_t buffer_size;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << c.length << " bytes";
}

class RowBufferSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RowBufferSizeTest, GrowsToNextThousandAboveTheNeed) {
  StatementRecord r;
  std::vector<uint8_t> data(GetParam().length, 'K');
  ASSERT_TRUE(store_row_block(r.stmt, data.data(), GetParam().length, false));
  EXPECT_EQ(r.stmt->row_buffer_size, GetParam().buffer_size);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RowBufferSizeTest,
                         ::testing::Values(SizeCase{1, 1000}, SizeCase{999, 1000},
                                           SizeCase{1000, 2000}, SizeCase{20480, 21000}));

TEST(StoreRowBlock, ReusesALargeEnoughBufferAndGrowsTheValueTable) {
  StatementRecord r;
  r.stmt->column_count = 1;
  Bytes one;
  one.bytes(row_value(kSqlInteger, "7")).u8('W');
  ASSERT_TRUE(store_row_block(r.stmt, one.ptr(), one.size(), false));
  uint8_t* buffer = r.stmt->row_buffer;
  EXPECT_EQ(r.stmt->value_table_columns, 1);

  r.stmt->column_count = 2;
  Bytes rows = two_rows();
  ASSERT_TRUE(store_row_block(r.stmt, rows.ptr(), rows.size(), false));
  EXPECT_EQ(r.stmt->row_buffer, buffer);
  EXPECT_EQ(r.stmt->value_table_columns, 2);
  EXPECT_EQ(r.stmt->value_table[2], nullptr);
}

TEST(StoreRowBlock, ReadFirstIndexesTheFirstRow) {
  StatementRecord r;
  r.stmt->column_count = 2;
  Bytes rows = two_rows();
  ASSERT_TRUE(store_row_block(r.stmt, rows.ptr(), rows.size(), true));
  const uint8_t* base = r.stmt->row_buffer;
  EXPECT_EQ(r.stmt->value_table[0], base);
  EXPECT_EQ(r.stmt->value_table[1], base + 7);      // 6 + "1"
  EXPECT_EQ(r.stmt->value_table[2], base + 7 + 9);  // 6 + "one": the status byte
  EXPECT_EQ(*r.stmt->value_table[2], 'K');
}

TEST(StoreRowBlock, FirstRowRunningPastTheBlockIsRefused) {
  StatementRecord r;
  r.stmt->column_count = 2;
  Bytes cut;
  cut.bytes(row_value(kSqlInteger, "1")).u16(kSqlChar).u32(50).text("short");
  EXPECT_FALSE(store_row_block(r.stmt, cut.ptr(), cut.size(), true));
  EXPECT_EQ(r.stmt->cache_valid, 0);
  EXPECT_EQ(r.sqlstate(), "S1000");
}

TEST(StoreRowBlock, RowWithoutTrailingStatusIsRefused) {
  StatementRecord r;
  r.stmt->column_count = 1;
  Bytes row = row_value(kSqlInteger, "1");
  EXPECT_FALSE(store_row_block(r.stmt, row.ptr(), row.size(), true));
}

}  // namespace
}  // namespace q4
