// An ODBC 3 application connected through the unixODBC Driver Manager to the
// q4lite that run_script.sh started for it, as the data source $Q4_DSN of a
// private configuration (the machine's ODBC files are never used).
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <string>

namespace q4e2e {

inline SQLCHAR* as_sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// A connection as user "test" and one statement handle.
class Q4liteApp : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dsn = getenv("Q4_DSN");
    ASSERT_NE(dsn, nullptr) << "run the test through run_script.sh";
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
    // The driver takes the version the application declares: no "01000"
    // warning that it does not support it.
    ASSERT_EQ(
        SQLConnect(dbc_, as_sql(dsn), SQL_NTS, as_sql("test"), SQL_NTS, as_sql("secret"), SQL_NTS),
        SQL_SUCCESS)
        << diag();
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt_), SQL_SUCCESS);
  }
  // A handle SetUp did not get is null, which the Driver Manager refuses harmlessly.
  void TearDown() override {
    SQLFreeStmt(stmt_, SQL_DROP);
    SQLDisconnect(dbc_);
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
  }
  // The pending diagnostic read through SQLError: "SQLSTATE message", or "".
  std::string diag() {
    SQLCHAR state[6] = {0}, text[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLError(env_, dbc_, stmt_, state, &native, text, sizeof text, &length)))
      return "";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
  void exec(const std::string& text) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, as_sql(text), SQL_NTS))) << text << diag();
  }
  // The first column of the first row of `query` as text, read on a statement of its own.
  static std::string text_of(SQLHDBC dbc, const std::string& query) {
    SQLHSTMT read = nullptr;
    SQLAllocStmt(dbc, &read);
    std::string got(100000, '\0');
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLExecDirect(read, as_sql(query), SQL_NTS)) ||
        SQLFetch(read) != SQL_SUCCESS ||
        SQLGetData(read, 1, SQL_C_CHAR, got.data(), static_cast<SQLLEN>(got.size()), &length) !=
            SQL_SUCCESS ||
        length < 0)
      length = 0;
    SQLFreeStmt(read, SQL_DROP);
    got.resize(static_cast<size_t>(length));
    return got;
  }
  void set_attr(SQLINTEGER attribute, SQLPOINTER value) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, attribute, value, 0))) << attribute << diag();
  }

  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

}  // namespace q4e2e
