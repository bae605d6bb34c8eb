// Bound columns filled by the fetch: binding order, rowset strides
// (column-wise and row-wise), truncation and failures.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "protocol/wire.h"
#include "result_fixture.h"
#include "results/fetch.h"
#include "results/get_data.h"

namespace q4::wire {
namespace {

// Three-column rows: integer n, text "name<n>", and NULL in every third row.
Bytes three_columns(int32_t n) {
  return join({int_value(n), text_value("name" + std::to_string(n)),
               n % 3 == 0 ? null_value() : int_value(n * 100)});
}

Bytes three_column_block(int32_t first, int32_t count, char trailer) {
  std::vector<Bytes> rows;
  for (int32_t i = 0; i < count; ++i) rows.push_back(three_columns(first + i));
  return block_of(rows, trailer);
}

// Rows sent without data make every fill a get-data request, so the order of
// the requests is the order in which the columns are filled.
TEST_F(ResultLinkTest, ColumnsAreFilledInBindingOrder) {
  SQLINTEGER a = 0, b = 0, c = 0, d = 0;
  ASSERT_EQ(bind_column(stmt, 3, SQL_C_LONG, &c, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &a, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_LONG, &b, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(4, 2)), SQL_SUCCESS);

  auto expect_fills = [&](std::vector<uint16_t> order) {
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
    for (uint16_t column : order) {
      peer.expect_request(kCmdGetData, get_data_request(stmt, column, SQL_C_LONG))
          .reply("K", int_value(column * 11));
    }
  };
  expect_fills({3, 1, 2});
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(a, 11);
  EXPECT_EQ(b, 22);
  EXPECT_EQ(c, 33);

  // Rebinding column 1 keeps its place; a new binding goes last.
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &a, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 4, SQL_C_LONG, &d, 0, nullptr), SQL_SUCCESS);
  expect_fills({3, 1, 2, 4});
  ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(d, 44);
}

TEST_F(ResultLinkTest, EachFetchFillsTheBoundBuffers) {
  SQLINTEGER id = 0, amount = -5;
  char name[16];
  SQLLEN id_length = 0, name_length = 0, amount_length = 0;
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &id, 0, &id_length), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_CHAR, name, sizeof name, &name_length), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 3, SQL_C_LONG, &amount, 0, &amount_length), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 4, three_column_block(1, 2, 'M'))), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt))
      .reply("K", three_column_block(3, 2, 'W'));
  for (int32_t n = 1; n <= 4; ++n) {
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
    EXPECT_EQ(id, n);
    EXPECT_EQ(id_length, 4);
    EXPECT_EQ(std::string(name), "name" + std::to_string(n));
    EXPECT_EQ(name_length, 5);
    if (n % 3 == 0) {
      EXPECT_EQ(amount_length, SQL_NULL_DATA);
      EXPECT_EQ(amount, 200) << "a NULL leaves the buffer as it was";
    } else {
      EXPECT_EQ(amount, n * 100);
      EXPECT_EQ(amount_length, 4);
    }
  }
  EXPECT_EQ(fetch_row(stmt), SQL_NO_DATA_FOUND);
}

// The fetch passes a bound column's truncation over; its "01004" stays.
TEST_F(ResultLinkTest, TruncationDuringTheFetchIsNotItsResult) {
  char name[4];
  SQLLEN length = 0;
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 1, three_column_block(1, 1, 'W'))), SQL_SUCCESS);
  EXPECT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_STREQ(name, "nam");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(sqlstate(), "01004");
}

TEST_F(ResultLinkTest, BindingAColumnPastTheLastFailsAtTheFetch) {
  SQLINTEGER v = 0;
  ASSERT_EQ(bind_column(stmt, 7, SQL_C_LONG, &v, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 1, three_column_block(1, 1, 'W'))), SQL_SUCCESS);
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1002");
}

// A failed conversion ends the row's filling: later columns stay untouched.
TEST_F(ResultLinkTest, AFailedConversionStopsTheFill) {
  SQL_DATE_STRUCT date{};
  SQLINTEGER id = -1;
  ASSERT_EQ(bind_column(stmt, 3, SQL_C_DATE, &date, sizeof date, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 1, three_column_block(1, 1, 'W'))), SQL_SUCCESS);
  EXPECT_EQ(fetch_row(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "07006");
  EXPECT_EQ(id, -1);
  EXPECT_EQ(stmt->cursor_row, 1) << "the cursor moved all the same";
}

TEST_F(ResultLinkTest, NothingIsFilledWhenRetrievalIsOff) {
  SQLINTEGER id = -1;
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  stmt->retrieve_data = SQL_RD_OFF;
  ASSERT_EQ(execute(execute_payload(3, 1, three_column_block(1, 1, 'W'))), SQL_SUCCESS);
  EXPECT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_EQ(id, -1);
}

// --- Rowsets: fetch_next_row(k) fills position k of the bound arrays.

TEST_F(ResultLinkTest, ColumnWiseRowsetsStepByTheStoredBufferLength) {
  // A tinyint binding keeps a length of 2: its values land 2 bytes apart.
  uint8_t tiny[6];
  memset(tiny, 0xEE, sizeof tiny);
  char names[3][8];
  SQLLEN tiny_lengths[3] = {0, 0, 0};
  SQLLEN name_lengths[3] = {0, 0, 0};
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_TINYINT, tiny, 1, tiny_lengths), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_CHAR, names, 8, name_lengths), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 3, three_column_block(1, 3, 'W'))), SQL_SUCCESS);
  for (int32_t k = 0; k < 3; ++k) ASSERT_EQ(fetch_next_row(stmt, k), SQL_SUCCESS);
  for (int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(tiny[2 * k], k + 1) << k;
    EXPECT_EQ(tiny[2 * k + 1], 0xEE) << "a tinyint writes one byte";
    EXPECT_EQ(tiny_lengths[k], 1);
    EXPECT_EQ(std::string(names[k]), "name" + std::to_string(k + 1));
    EXPECT_EQ(name_lengths[k], 5);
  }
}

TEST_F(ResultLinkTest, RowWiseRowsetsStepByTheBindType) {
  struct Row {
    SQLINTEGER id;
    SQLLEN id_length;
    char name[10];
    SQLLEN name_length;
  };
  Row rowset[3] = {};
  stmt->bind_type = sizeof(Row);
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &rowset[0].id, 0, &rowset[0].id_length), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_CHAR, rowset[0].name, sizeof rowset[0].name,
                        &rowset[0].name_length),
            SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 3, three_column_block(1, 3, 'W'))), SQL_SUCCESS);
  for (int32_t k = 0; k < 3; ++k) ASSERT_EQ(fetch_next_row(stmt, k), SQL_SUCCESS);
  for (int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(rowset[k].id, k + 1);
    EXPECT_EQ(rowset[k].id_length, 4);
    EXPECT_EQ(std::string(rowset[k].name), "name" + std::to_string(k + 1));
    EXPECT_EQ(rowset[k].name_length, 5);
  }
}

// --- SQLBindCol's own rules.

// A buffer length above 2^31 - 1 reaches the conversion clamped: 4 GiB + 16
// must not act as a 16-byte buffer, let alone a negative one.
TEST_F(ResultLinkTest, HugeBufferLengthsAreClampedNotWrapped) {
  char name[32];
  SQLLEN length = 0;
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_CHAR, name, (SQLLEN(1) << 32) + 3, &length), SQL_SUCCESS);
  ASSERT_EQ(execute(execute_payload(3, 1, three_column_block(1, 1, 'W'))), SQL_SUCCESS);
  EXPECT_EQ(fetch_row(stmt), SQL_SUCCESS);
  EXPECT_STREQ(name, "name1");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(sqlstate(), "") << "no truncation";
}

TEST_F(ResultLinkTest, UnbindingRemovesOneColumnAndTheLastClearsTheFlag) {
  SQLINTEGER v = 0;
  EXPECT_EQ(bind_column(stmt, 2, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS)
      << "unbinding a column that is not bound";
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, &v, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_LONG, &v, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 3, SQL_C_LONG, &v, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 2, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS);
  ASSERT_NE(stmt->bound_columns, nullptr);
  EXPECT_EQ(stmt->bound_columns->icol, 1);
  EXPECT_EQ(stmt->bound_columns->next->icol, 3);
  EXPECT_EQ(stmt->bound_columns->next->next, nullptr);
  EXPECT_EQ(stmt->columns_bound, 1);
  ASSERT_EQ(bind_column(stmt, 1, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind_column(stmt, 3, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(stmt->bound_columns, nullptr);
  EXPECT_EQ(stmt->columns_bound, 0);
}

TEST_F(ResultLinkTest, ABindingThatCannotBeAllocatedIsS1001) {
  SQLINTEGER v = 0;
  heap_fail_after(0);
  EXPECT_EQ(bind_column(stmt, 1, SQL_C_LONG, &v, 0, nullptr), SQL_ERROR);
  heap_fail_after(-1);
  EXPECT_EQ(sqlstate(), "S1001");
  EXPECT_EQ(stmt->bound_columns, nullptr);
  EXPECT_EQ(stmt->columns_bound, 0);
}

}  // namespace
}  // namespace q4::wire
