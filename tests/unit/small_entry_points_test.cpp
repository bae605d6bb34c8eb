// Entry points with little logic of their own: cursor names and connection option reads.
#include <gtest/gtest.h>

#include <cstdio>

#include "statement_fixture.h"

namespace q4 {
namespace {

using SmallEntryPoints = StatementTest;

TEST_F(SmallEntryPoints, CursorNamesGeneratedFromTheIdOrSetAndCut) {
  Statement* s = new_statement();
  char expected[32];
  snprintf(expected, sizeof expected, "SQL_CUR%08lX",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(s) & 0xFFFFFFFFu));
  SQLCHAR name[32];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetCursorName(s, name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), expected) << "not stored: the same name each time";
  EXPECT_EQ(length, 15);
  ASSERT_EQ(SQLSetCursorName(s, sql("orders"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(outcome(SQLGetCursorName(s, name, 4, &length), s), "INFO 01004 Data truncated");
  EXPECT_STREQ(reinterpret_cast<char*>(name), "ord");
  EXPECT_EQ(length, 6);
  conn_->server_version = 709;
  EXPECT_EQ(outcome(SQLGetCursorName(s, name, sizeof name, &length), s),
            "ERROR IM001 Not Supported");
}

TEST_F(SmallEntryPoints, ConnectOptionReads) {
  SQLUINTEGER value = 0;
  EXPECT_EQ(SQLGetConnectOption(conn_, SQL_AUTOCOMMIT, &value), SQL_SUCCESS);
  EXPECT_EQ(value, static_cast<SQLUINTEGER>(SQL_AUTOCOMMIT_ON));
  EXPECT_EQ(SQLGetConnectOption(conn_, SQL_AUTOCOMMIT, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1000 Bad pvParam");
  EXPECT_EQ(SQLGetConnectOption(conn_, SQL_ROWSET_SIZE, &value), SQL_ERROR);
  EXPECT_EQ(conn_->sqlstate, std::string("S1092"));
  // Null connections: plain errors for these two, not SQL_INVALID_HANDLE.
  EXPECT_EQ(SQLGetConnectOption(nullptr, SQL_AUTOCOMMIT, &value), SQL_ERROR);
  SQLHSTMT none = nullptr;
  EXPECT_EQ(SQLAllocStmt(nullptr, &none), SQL_ERROR);
}

}  // namespace
}  // namespace q4
