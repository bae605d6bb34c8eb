// The entry points with little logic of their own, one case each: generated
// and set cursor names, the scroll option, native SQL, connection option
// reads, and the functions that refuse or answer at once.
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

TEST_F(SmallEntryPoints, ScrollOptionsSetTheRowsetSizeUnlessAResultIsOpen) {
  Statement* s = new_statement();
  EXPECT_EQ(SQLSetScrollOptions(s, SQL_CONCUR_READ_ONLY, 0, 0), SQL_ERROR);
  EXPECT_EQ(diag(s), "S1009 Invalid argument value");
  EXPECT_EQ(SQLSetScrollOptions(s, SQL_CONCUR_READ_ONLY, 0, 65535), SQL_SUCCESS);
  EXPECT_EQ(s->rowset_size, 65535u);
  s->cursor_open = 1;
  EXPECT_EQ(outcome(SQLSetScrollOptions(s, SQL_CONCUR_READ_ONLY, 0, 5), s),
            "ERROR 24000 Invalid cursor state");
  EXPECT_EQ(s->rowset_size, 65535u);
  s->cursor_open = 0;
}

TEST_F(SmallEntryPoints, NativeSqlReturnsItsInputAndCutsOnTheConnection) {
  conn_->server_version = 710;
  SQLCHAR out[8];
  SQLINTEGER length = 0;
  // The length comes from the text's NUL, whatever cbSqlStrIn says.
  EXPECT_EQ(SQLNativeSql(conn_, sql("SELECT 1"), 3, out, sizeof out, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diag(conn_), "01004 Data truncated");
  EXPECT_STREQ(reinterpret_cast<char*>(out), "SELECT ");
  EXPECT_EQ(length, 8);
  EXPECT_EQ(SQLNativeSql(conn_, sql("X"), SQL_NTS, out, sizeof out, &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "X");
  conn_->server_version = 709;
  EXPECT_EQ(SQLNativeSql(conn_, sql("X"), SQL_NTS, out, sizeof out, &length), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "IM001 Driver does not support this function");
}

TEST_F(SmallEntryPoints, ConnectOptionReadsAndTheRefusals) {
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

  Statement* s = new_statement();
  EXPECT_EQ(outcome(SQLDescribeParam(s, 1, nullptr, nullptr, nullptr, nullptr), s),
            "ERROR IM001 Not Supported");
  EXPECT_EQ(SQLMoreResults(s), SQL_NO_DATA_FOUND);
  SQLCHAR out[16] = "untouched";
  SQLSMALLINT length = 7;
  EXPECT_EQ(SQLBrowseConnect(conn_, sql("DSN=x;"), SQL_NTS, out, sizeof out, &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "untouched");
  EXPECT_EQ(length, 7);
}

}  // namespace
}  // namespace q4
