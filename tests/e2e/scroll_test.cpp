// Block cursors through the unixODBC Driver Manager against q4lite: an ODBC 3
// application's SQLFetchScroll with a row array of 10, which the Driver
// Manager carries out with SQLExtendedFetch, on a 25-row result.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>

#include "support.h"

namespace q4e2e {
namespace {

SQLCHAR* sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

constexpr SQLULEN kArray = 10;

class Scroll : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<Q4lite>();
    ASSERT_TRUE(server_->running());
    config_.add_server_dsn("q4scroll", *server_);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLConnect(dbc_, sql("q4scroll"), SQL_NTS, sql("test"), SQL_NTS, sql("secret"), SQL_NTS)))
        << diagnostic(env_, dbc_, nullptr);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
    exec("CREATE TABLE T (N INTEGER)");
    for (int i = 1; i <= 25; ++i) exec("INSERT INTO T VALUES (" + std::to_string(i) + ")");
  }

  void TearDown() override {
    if (stmt_ != nullptr) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (dbc_ != nullptr) {
      SQLDisconnect(dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    if (env_ != nullptr) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  void exec(const std::string& text) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, sql(text), SQL_NTS)))
        << text << ": " << diagnostic(env_, dbc_, stmt_);
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }

  // Fetches and checks that the rowset holds rows first .. first+count-1.
  void expect_rowset(SQLSMALLINT orientation, SQLLEN offset, int first, SQLULEN count) {
    SCOPED_TRACE("orientation " + std::to_string(orientation) + " offset " +
                 std::to_string(offset));
    for (auto& v : values_) v = -1;
    for (auto& r : records_) r.n = -1;
    SQLRETURN rc = SQLFetchScroll(stmt_, orientation, offset);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diagnostic(env_, dbc_, stmt_);
    ASSERT_EQ(fetched_, count);
    if (row_wise_) {
      for (SQLULEN i = 0; i < count; ++i) values_[i] = records_[i].n;
    }
    for (SQLULEN i = 0; i < kArray; ++i) {
      if (i < count) {
        EXPECT_EQ(values_[i], first + static_cast<int>(i)) << i;
        EXPECT_EQ(statuses_[i], SQL_ROW_SUCCESS) << i;
      } else {
        EXPECT_EQ(statuses_[i], SQL_ROW_NOROW) << i;
      }
    }
  }

  std::unique_ptr<Q4lite> server_;
  OdbcConfig config_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
  SQLINTEGER values_[kArray];
  SQLLEN indicators_[kArray];
  SQLUSMALLINT statuses_[kArray];
  SQLULEN fetched_ = 0;
  // Row-wise binding: the value and its indicator side by side per row.
  struct Record {
    SQLINTEGER n;
    SQLLEN indicator;
  };
  Record records_[kArray];
  bool row_wise_ = false;

  void prepare_cursor() {
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kArray), 0)))
        << diagnostic(env_, dbc_, stmt_);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, statuses_, 0)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0)));
  }
};

TEST_F(Scroll, RowWiseBindingFillsEachRecord) {
  row_wise_ = true;
  prepare_cursor();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE,
                                           reinterpret_cast<SQLPOINTER>(sizeof(Record)), 0)))
      << diagnostic(env_, dbc_, stmt_);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, sql("SELECT N FROM T ORDER BY N"), SQL_NTS)))
      << diagnostic(env_, dbc_, stmt_);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_LONG, &records_[0].n, sizeof(SQLINTEGER),
                                       &records_[0].indicator)));
  expect_rowset(SQL_FETCH_NEXT, 0, 1, 10);
  expect_rowset(SQL_FETCH_LAST, 0, 16, 10);
  expect_rowset(SQL_FETCH_ABSOLUTE, 20, 20, 6);
  EXPECT_EQ(records_[5].indicator, static_cast<SQLLEN>(sizeof(SQLINTEGER)));
}

TEST_F(Scroll, EveryOrientationWithColumnWiseBinding) {
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE,
                                           reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0)))
      << diagnostic(env_, dbc_, stmt_);
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kArray), 0)))
      << diagnostic(env_, dbc_, stmt_);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, statuses_, 0)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, sql("SELECT N FROM T ORDER BY N"), SQL_NTS)))
      << diagnostic(env_, dbc_, stmt_);
  ASSERT_TRUE(
      SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_LONG, values_, sizeof(SQLINTEGER), indicators_)));

  expect_rowset(SQL_FETCH_FIRST, 0, 1, 10);
  expect_rowset(SQL_FETCH_NEXT, 0, 11, 10);
  expect_rowset(SQL_FETCH_LAST, 0, 16, 10);
  expect_rowset(SQL_FETCH_PRIOR, 0, 6, 10);
  expect_rowset(SQL_FETCH_ABSOLUTE, -3, 23, 3);
  expect_rowset(SQL_FETCH_ABSOLUTE, 3, 3, 10);
  expect_rowset(SQL_FETCH_RELATIVE, -5, 1, 10);
  expect_rowset(SQL_FETCH_RELATIVE, 20, 21, 5);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 30), SQL_NO_DATA);
}

}  // namespace
}  // namespace q4e2e
