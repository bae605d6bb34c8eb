// SQLRowCount through the unixODBC Driver Manager as an ODBC 3 application sees it, on 100,000
// rows: -1 while a result is being read (the first block is a few hundred rows), the exact count
// once its end was read by fetching, by SQLFetchScroll to the last rowset, or by an absolute
// position past the end on a fresh result; catalog results alike; change counts exact.
#include <string>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

constexpr SQLLEN kRows = 100000;

class RowCount : public Q4liteApp {
 protected:
  void SetUp() override {
    Q4liteApp::SetUp();
    exec("DROP TABLE IF EXISTS big");
    exec(
        "CREATE TABLE big (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), born DATE, "
        "note VARCHAR(100), score DOUBLE)");
    exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(kRows) +
         ")\n"
         "INSERT INTO big SELECT i, 'Zoë ' || i, i * 1.25, '2024-01-02', NULL, i / 8.0 FROM n");
    EXPECT_EQ(count(), kRows);
  }
  SQLLEN count() {
    SQLLEN n = -99;
    EXPECT_EQ(SQLRowCount(stmt_, &n), SQL_SUCCESS) << diag();
    return n;
  }
  // A fresh result of the whole table; its count is unknown.
  void query() {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    exec("SELECT * FROM big ORDER BY id");
    EXPECT_EQ(count(), -1);
  }
};

TEST_F(RowCount, ReadingToTheEnd) {
  query();
  SQLLEN read = 0;
  for (; SQLFetch(stmt_) == SQL_SUCCESS; ++read) {
    if (read == kRows - 1) {
      EXPECT_EQ(count(), -1) << "on the last row the end is not known yet";
    }
  }
  EXPECT_EQ(read, kRows);
  EXPECT_EQ(count(), kRows);
  exec("UPDATE big SET note = 'x' WHERE id % 1000 = 0");
  EXPECT_EQ(count(), 100);
  exec("DELETE FROM big WHERE id > 99990");
  EXPECT_EQ(count(), 10);
}

TEST_F(RowCount, BlockCursorPositions) {
  SQLFreeStmt(stmt_, SQL_CLOSE);
  set_attr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC));
  set_attr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(10));
  SQLINTEGER id[10];
  SQLLEN indicator[10];
  query();
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, id, 0, indicator), SQL_SUCCESS);
  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 50000), SQL_SUCCESS) << diag();
  EXPECT_EQ(id[0], 50000);
  EXPECT_EQ(count(), -1);
  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0), SQL_SUCCESS) << diag();
  EXPECT_EQ(id[9], kRows);
  EXPECT_EQ(count(), kRows);
  // Past the end before anything was read: the server's cursor went past the end, the count
  // is taken by reading the result from row 1 again.
  query();
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 3 * kRows), SQL_NO_DATA);
  EXPECT_EQ(count(), kRows);
  ASSERT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, -10), SQL_SUCCESS) << diag();
  EXPECT_EQ(id[0], kRows - 9);
  EXPECT_EQ(count(), kRows);
}

TEST_F(RowCount, CatalogResults) {
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, as_sql("TABLE"), SQL_NTS),
            SQL_SUCCESS)
      << diag();
  EXPECT_EQ(count(), -1);
  SQLLEN tables = 0;
  while (SQLFetch(stmt_) == SQL_SUCCESS) ++tables;
  EXPECT_GT(tables, 1);
  EXPECT_EQ(count(), tables);
}

}  // namespace
}  // namespace q4e2e
