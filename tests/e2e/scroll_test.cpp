// Block cursors through the unixODBC Driver Manager: an ODBC 3 application's SQLFetchScroll with a
// row array of 10, carried out by the Driver Manager with SQLExtendedFetch, on 25 and 100,000 rows
// bound column- and row-wise, and a row that fails mid-rowset.
#include <string>
#include <utility>
#include <vector>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

constexpr SQLULEN kArray = 10;

// An application reading through a block cursor.
class BlockCursor : public Q4liteApp {
 protected:
  // A static cursor over `query` with a row array of kArray, its statuses and count bound.
  void open_block_cursor(const std::string& query) {
    set_attr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC));
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kArray));
    set_attr(SQL_ATTR_ROW_STATUS_PTR, statuses_);
    set_attr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched_);
    exec(query);
  }

  SQLUSMALLINT statuses_[kArray];
  SQLULEN fetched_ = 0;
};

struct Step {
  SQLSMALLINT orientation;
  SQLLEN offset;
  int first;      // first row of the rowset; 0 for SQL_NO_DATA
  SQLULEN count;  // rows in the rowset
};

// clang-format off
const std::vector<std::pair<int, std::vector<Step>>> kScrollCases = {  // rows, steps
  {25, {
      {SQL_FETCH_FIRST, 0, 1, 10}, {SQL_FETCH_NEXT, 0, 11, 10}, {SQL_FETCH_LAST, 0, 16, 10},
      {SQL_FETCH_PRIOR, 0, 6, 10}, {SQL_FETCH_ABSOLUTE, -3, 23, 3}, {SQL_FETCH_ABSOLUTE, 3, 3, 10},
      {SQL_FETCH_RELATIVE, -5, 1, 10}, {SQL_FETCH_RELATIVE, 20, 21, 5},
      {SQL_FETCH_NEXT, 0, 0, 0}, {SQL_FETCH_PRIOR, 0, 16, 10}, {SQL_FETCH_ABSOLUTE, 30, 0, 0}}},
  {100000, {
      {SQL_FETCH_LAST, 0, 99991, 10}, {SQL_FETCH_PRIOR, 0, 99981, 10},
      {SQL_FETCH_FIRST, 0, 1, 10}, {SQL_FETCH_NEXT, 0, 11, 10},
      {SQL_FETCH_ABSOLUTE, 50000, 50000, 10}, {SQL_FETCH_RELATIVE, -40000, 10000, 10},
      {SQL_FETCH_RELATIVE, 89995, 99995, 6}, {SQL_FETCH_ABSOLUTE, -2, 99999, 2},
      {SQL_FETCH_NEXT, 0, 0, 0}, {SQL_FETCH_ABSOLUTE, 100001, 0, 0},
      {SQL_FETCH_ABSOLUTE, 1, 1, 10}}},
};
// clang-format on

TEST_F(BlockCursor, EachOrientationDeliversItsRowset) {
  struct Record {  // row-wise binding: the value and its indicator side by side per row
    SQLINTEGER n;
    SQLLEN indicator;
  };
  for (const auto& [rows, steps] : kScrollCases) {
    for (const bool row_wise : {false, true}) {
      SCOPED_TRACE(std::to_string(rows) + (row_wise ? " rows, row-wise" : " rows, column-wise"));
      SQLFreeStmt(stmt_, SQL_CLOSE);
      set_attr(SQL_ATTR_ROW_BIND_TYPE,
               reinterpret_cast<SQLPOINTER>(row_wise ? sizeof(Record) : SQL_BIND_BY_COLUMN));
      open_block_cursor(
          "WITH RECURSIVE C(N) AS (SELECT 1 UNION ALL SELECT N + 1 FROM C WHERE N < " +
          std::to_string(rows) + ") SELECT N FROM C");
      SQLINTEGER values[kArray];
      SQLLEN indicators[kArray];
      Record records[kArray];
      ASSERT_TRUE(SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_LONG, row_wise ? &records[0].n : values,
                                           sizeof(SQLINTEGER),
                                           row_wise ? &records[0].indicator : indicators)));
      for (const Step& step : steps) {
        SCOPED_TRACE("orientation " + std::to_string(step.orientation) + " offset " +
                     std::to_string(step.offset));
        for (SQLULEN i = 0; i < kArray; ++i)
          values[i] = records[i].n = indicators[i] = records[i].indicator = -1;
        SQLRETURN rc = SQLFetchScroll(stmt_, step.orientation, step.offset);
        ASSERT_EQ(rc, step.count == 0 ? SQL_NO_DATA : SQL_SUCCESS) << diag();
        if (rc == SQL_NO_DATA) continue;
        ASSERT_EQ(fetched_, step.count);
        for (SQLULEN i = 0; i < kArray; ++i) {
          const bool in_rowset = i < step.count;  // nothing is written past the rowset's rows
          EXPECT_EQ(row_wise ? records[i].n : values[i],
                    in_rowset ? step.first + static_cast<int>(i) : -1)
              << i;
          EXPECT_EQ(row_wise ? records[i].indicator : indicators[i],
                    in_rowset ? static_cast<SQLLEN>(sizeof(SQLINTEGER)) : -1)
              << i;
          EXPECT_EQ(statuses_[i], in_rowset ? SQL_ROW_SUCCESS : SQL_ROW_NOROW) << i;
        }
      }
    }
  }
}

// A catalog result on a statement whose last result was read to its end is a
// new result: it scrolls from its first row.
TEST_F(BlockCursor, CatalogResultAfterAResultReadToItsEndScrolls) {
  open_block_cursor("VALUES (1), (2), (3)");
  while (SQL_SUCCEEDED(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0))) {
  }
  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_NO_DATA);
  SQLFreeStmt(stmt_, SQL_CLOSE);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0)))
      << diag();
  SQLCHAR name[256];
  SQLLEN indicators[kArray];
  ASSERT_TRUE(SQL_SUCCEEDED(SQLBindCol(stmt_, 3, SQL_C_CHAR, name, sizeof name, indicators)));
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  for (SQLSMALLINT orientation : {SQL_FETCH_FIRST, SQL_FETCH_ABSOLUTE, SQL_FETCH_LAST}) {
    EXPECT_EQ(SQLFetchScroll(stmt_, orientation, 1), SQL_SUCCESS) << orientation << diag();
    EXPECT_EQ(fetched_, 1u) << orientation;
  }
}

// A value that cannot become the bound type fails its own row only: the
// rowset is delivered with that row marked, and the fetch says so.
TEST_F(BlockCursor, RowThatFailsMidRowsetIsMarkedAndTheOthersArrive) {
  open_block_cursor(
      "VALUES ('1'), ('2'), ('3'), ('four'), ('5'), ('6'), ('7'), ('8'), ('9'), ('10')");
  SQLINTEGER values[kArray];
  SQLLEN indicators[kArray];
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_LONG, values, sizeof(SQLINTEGER), indicators)));
  for (auto& v : values) v = -1;

  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(fetched_, kArray);
  std::string diagnostics;  // SQLError hands out one record per call
  for (std::string d; !(d = diag()).empty();) diagnostics += d + "\n";
  EXPECT_NE(diagnostics.find("01S01"), std::string::npos) << diagnostics;
  for (SQLULEN i = 0; i < kArray; ++i) {
    EXPECT_EQ(statuses_[i], i == 3 ? SQL_ROW_ERROR : SQL_ROW_SUCCESS) << i;
    if (i != 3) {
      EXPECT_EQ(values[i], static_cast<SQLINTEGER>(i + 1)) << i;
    }
  }
}

}  // namespace
}  // namespace q4e2e
