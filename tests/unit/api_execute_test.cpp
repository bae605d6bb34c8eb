// The exported prepare, execute and description functions on statements that
// never reach a server: argument checks, the entry protocol and the answers
// given from the statement alone. The connection has no link, so any request
// that escapes shows as "08S01" on the connection.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "core/diagnostics.h"
#include "results/description_cache.h"
#include "exec_fixture.h"

namespace q4 {
namespace {

SQLCHAR* sql(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

class ApiExecute : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(r.stmt->in_call, 0) << "every return must clear in_call"; }
  // Nothing may have been sent.
  void expect_silent() { EXPECT_STREQ(r.conn->sqlstate, "") << "a request reached the link"; }

  void cache(const std::vector<Bytes>& records) {
    r.stmt->column_count = static_cast<int32_t>(records.size());
    Bytes section = description_section(records);
    store_descriptions(r.stmt, section.ptr());
  }

  StatementRecord r;
  SQLHSTMT h() { return r.stmt; }
};

TEST(ApiNullHandles, AreInvalidHandles) {
  SQLSMALLINT s;
  SQLLEN l;
  EXPECT_EQ(SQLPrepare(nullptr, sql("X"), SQL_NTS), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLExecDirect(nullptr, sql("X"), SQL_NTS), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLExecute(nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLNumParams(nullptr, &s), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLNativeSql(nullptr, sql("X"), SQL_NTS, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLNumResultCols(nullptr, &s), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDescribeCol(nullptr, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLColAttributes(nullptr, 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &l),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLRowCount(nullptr, &l), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLMoreResults(nullptr), SQL_INVALID_HANDLE);
}

// SQLExecDirect discards the previous result before it looks at the cancel;
// SQLExecute keeps it (only the cursor is rewound).
TEST_F(ApiExecute, PendingCancelFailsWithS1008AndSendsNothing) {
  r.stmt->cursor_open = 1;
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(SQLExecute(h()), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1008");
  EXPECT_EQ(r.stmt->cursor_open, 1);
  EXPECT_EQ(SQLExecDirect(h(), sql("SELECT 1"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1008");
  EXPECT_EQ(r.stmt->cursor_open, 0);
  SQLSMALLINT count = -1;
  EXPECT_EQ(SQLNumResultCols(h(), &count), SQL_ERROR);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(SQLMoreResults(h()), SQL_ERROR);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(h(), &rows), SQL_SUCCESS) << "SQLRowCount does not check for a cancel";
  expect_silent();
}

TEST_F(ApiExecute, ExecDirectWithMoreMarkersThanBindingsSendsNothing) {
  int64_t length = 1;
  r.bind(1, &length);
  EXPECT_EQ(SQLExecDirect(h(), sql("SELECT ?, ?"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "07001");
  EXPECT_EQ(r.message(), "Wrong number of parameters");
  expect_silent();
}

TEST_F(ApiExecute, ExecDirectNeedingDataKeepsTheTextForParamData) {
  int64_t later = SQL_DATA_AT_EXEC;
  r.bind(1, &later);
  const char* text = "INSERT INTO T VALUES (?)";
  EXPECT_EQ(SQLExecDirect(h(), sql(text), SQL_NTS), SQL_NEED_DATA);
  EXPECT_EQ(r.stmt->pending_parameter, 501u);
  ASSERT_NE(r.stmt->statement_text, nullptr);
  EXPECT_STREQ(r.stmt->statement_text, text);
  EXPECT_EQ(r.stmt->statement_text_length, static_cast<int64_t>(strlen(text)));
  expect_silent();
}

// A failed exchange is the connection's failure, not the statement's.
TEST_F(ApiExecute, ExecDirectOverABrokenLinkReportsOnTheConnection) {
  EXPECT_EQ(SQLExecDirect(h(), sql("SELECT 1"), SQL_NTS), SQL_ERROR);
  EXPECT_STREQ(r.conn->sqlstate, "08S01");
  EXPECT_EQ(std::string(r.conn->message), kPrefix + "Communications_ERROR");
  EXPECT_EQ(r.sqlstate(), "");
  EXPECT_EQ(r.stmt->cursor_open, 0);
}

TEST_F(ApiExecute, ExecuteWithoutPreparedTextIsInvalidArgument) {
  EXPECT_EQ(SQLExecute(h()), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1009");
  expect_silent();
}

TEST_F(ApiExecute, ExecDirectNullTextIsInvalidArgument) {
  EXPECT_EQ(SQLExecDirect(h(), nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1009");
}

TEST_F(ApiExecute, PreparePassThroughSendsNothing) {
  EXPECT_EQ(SQLPrepare(h(), sql("  >LIST T"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->pass_through, 1);
  expect_silent();
}

TEST_F(ApiExecute, PrepareWithDataAtExecutionBindingFailsWithADiagnostic) {
  int64_t later = SQL_DATA_AT_EXEC;
  r.bind(1, &later);
  EXPECT_EQ(SQLPrepare(h(), sql("SELECT ?"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1000");
  expect_silent();
}

TEST_F(ApiExecute, PrepareReusesTheTextBlockForShorterTexts) {
  r.conn->server_version = 700;
  ASSERT_EQ(SQLPrepare(h(), sql(">LONGER TEXT"), SQL_NTS), SQL_SUCCESS);
  char* block = r.stmt->statement_text;
  ASSERT_EQ(SQLPrepare(h(), sql(">SHORT"), 4), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->statement_text, block);
  EXPECT_STREQ(r.stmt->statement_text, ">SHO");
  EXPECT_EQ(r.stmt->statement_text_length, 4);
}

TEST_F(ApiExecute, NumParamsCountsEveryQuestionMark) {
  r.conn->server_version = 700;
  SQLSMALLINT count = -1;
  EXPECT_EQ(SQLNumParams(h(), &count), SQL_SUCCESS);
  EXPECT_EQ(count, 0) << "no text yet";
  ASSERT_EQ(SQLPrepare(h(), sql("SELECT '?' FROM T WHERE A = ?"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLNumParams(h(), &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(SQLNumParams(h(), nullptr), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1000");
  EXPECT_EQ(r.message(), kPrefix + "General Error");
}

TEST_F(ApiExecute, DescribeColOfAResultWithoutColumns) {
  SQLCHAR name[8] = "keep";
  SQLSMALLINT name_length = -1, type = -1, scale = -1, nullable = -7;
  SQLULEN precision = 0;
  EXPECT_EQ(
      SQLDescribeCol(h(), 3, name, sizeof name, &name_length, &type, &precision, &scale, &nullable),
      SQL_SUCCESS);
  EXPECT_EQ(name_length, 8);
  EXPECT_EQ(type, SQL_INTEGER);
  EXPECT_EQ(precision, 4u);
  EXPECT_EQ(scale, 0);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "keep");
  EXPECT_EQ(nullable, -7);
  SQLLEN value;
  EXPECT_EQ(SQLColAttributes(h(), 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &value), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1002");
  expect_silent();
}

TEST_F(ApiExecute, DescribeColOutOfRange) {
  cache({description_record("A", kSqlInteger, 10, 0, 0)});
  for (SQLUSMALLINT icol : {0, 2}) {
    EXPECT_EQ(SQLDescribeCol(h(), icol, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(r.sqlstate(), "S1002");
    EXPECT_EQ(r.message(), kPrefix + "Invalid column number");
  }
}

TEST_F(ApiExecute, DescribeColNameBufferOneShort) {
  cache({description_record("T.AMOUNT", kSqlInteger, 10, 0, 0)});
  SQLCHAR name[6];  // "AMOUNT" and its NUL need 7
  SQLSMALLINT name_length = -1;
  ASSERT_EQ(
      SQLDescribeCol(h(), 1, name, sizeof name, &name_length, nullptr, nullptr, nullptr, nullptr),
      SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "AMOUN");
  EXPECT_EQ(name_length, 6);
  EXPECT_EQ(r.sqlstate(), "") << "the cut is silent";
  ASSERT_EQ(SQLDescribeCol(h(), 1, name, 0, &name_length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(name_length, 0);
}

TEST_F(ApiExecute, ColAttributesChecksColumnAndType) {
  cache({description_record("T.A", kSqlVarbinary, 10, 0, 0)});
  SQLLEN value = 0;
  EXPECT_EQ(SQLColAttributes(h(), 0, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &value), SQL_SUCCESS);
  EXPECT_EQ(value, SQL_INTEGER);
  EXPECT_EQ(SQLColAttributes(h(), 0, SQL_COLUMN_NAME, nullptr, 0, nullptr, &value), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1002");
  EXPECT_EQ(r.message(), kPrefix) << "the message text is empty";
  EXPECT_EQ(SQLColAttributes(h(), 2, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &value), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1002");
  EXPECT_EQ(SQLColAttributes(h(), 1, 19, nullptr, 0, nullptr, &value), SQL_ERROR);
  EXPECT_EQ(r.sqlstate(), "S1091");
  EXPECT_EQ(SQLColAttributes(h(), 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &value), SQL_SUCCESS);
  EXPECT_EQ(value, -3);
  EXPECT_EQ(SQLColAttributes(h(), 1, SQL_COLUMN_COUNT, nullptr, 0, nullptr, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 1);
  expect_silent();
}

TEST_F(ApiExecute, RowCountIsSignExtendedAndMoreResultsHasNoData) {
  r.stmt->row_count = -1;
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(h(), &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, -1);
  EXPECT_EQ(SQLRowCount(h(), nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLMoreResults(h()), SQL_NO_DATA_FOUND);
  SQLSMALLINT count = -1;
  r.stmt->column_count = 5;
  EXPECT_EQ(SQLNumResultCols(h(), &count), SQL_SUCCESS);
  EXPECT_EQ(count, 5);
}

class NativeSql : public ::testing::Test {
 protected:
  SQLRETURN call(const char* in, SQLCHAR* out, SQLINTEGER out_max, SQLINTEGER* length) {
    return SQLNativeSql(r.conn, sql(in), 2 /* ignored */, out, out_max, length);
  }
  std::string conn_state() const { return r.conn->sqlstate; }
  StatementRecord r;
};

TEST_F(NativeSql, OlderServerIsNotSupported) {
  r.conn->server_version = 700;
  SQLCHAR out[16];
  EXPECT_EQ(call("SELECT 1", out, sizeof out, nullptr), SQL_ERROR);
  EXPECT_EQ(conn_state(), "IM001");
  EXPECT_EQ(std::string(r.conn->message), kPrefix + "Driver does not support this function");
}

TEST_F(NativeSql, CopiesTheWholeTextAndPadsWithNuls) {
  SQLCHAR out[16];
  memset(out, '#', sizeof out);
  SQLINTEGER length = 0;
  EXPECT_EQ(call("SELECT 1", out, sizeof out, &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "SELECT 1");
  EXPECT_EQ(length, 8) << "the length ignores cbSqlStrIn";
  for (size_t i = 8; i < sizeof out; ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST_F(NativeSql, ShortBufferIsCutWithDataTruncated) {
  for (SQLINTEGER size : {8, 3, 1}) {
    SQLCHAR out[10];
    memset(out, '#', sizeof out);
    SQLINTEGER length = 0;
    EXPECT_EQ(call("SELECT 1", out, size, &length), SQL_SUCCESS_WITH_INFO) << size;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)),
              std::string("SELECT 1").substr(0, size - 1));
    EXPECT_EQ(out[size], '#') << "written past the buffer";
    EXPECT_EQ(length, 8);
    EXPECT_EQ(conn_state(), "01004");
  }
}

TEST_F(NativeSql, NoRoomWritesNothing) {
  SQLCHAR out[4] = "##";
  SQLINTEGER length = 0;
  EXPECT_EQ(call("AB", out, 0, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "##");
  EXPECT_EQ(length, 2);
  EXPECT_EQ(call("AB", nullptr, 10, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 2);
}

}  // namespace
}  // namespace q4
