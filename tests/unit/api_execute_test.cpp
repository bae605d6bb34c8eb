// The exported prepare, execute and description functions on statements that
// never reach a server: argument checks, the entry protocol and the answers
// given from the statement alone. The connection has no link, so a request
// that escapes shows as "08S01" on the connection.
#include "results/description_cache.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

class ApiExecute : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(r.stmt->in_call, 0) << "every return must clear in_call"; }
  std::string result(SQLRETURN rc) { return outcome(rc, r.stmt); }
  void expect_silent() { EXPECT_EQ(diag(r.conn), "") << "a request reached the link"; }
  void cache(const Bytes& record) {
    r.stmt->column_count = 1;
    store_descriptions(r.stmt, description_section({record}).ptr());
  }
  StatementRecord r;
  SQLHSTMT h() { return r.stmt; }
};

TEST(ApiNullHandles, AreInvalidHandles) {
  SQLSMALLINT s;
  SQLLEN l;
  for (SQLRETURN rc :
       {SQLPrepare(nullptr, sql("X"), SQL_NTS), SQLExecDirect(nullptr, sql("X"), SQL_NTS),
        SQLExecute(nullptr), SQLNumParams(nullptr, &s),
        SQLNativeSql(nullptr, sql("X"), SQL_NTS, nullptr, 0, nullptr),
        SQLNumResultCols(nullptr, &s),
        SQLDescribeCol(nullptr, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
        SQLColAttributes(nullptr, 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &l),
        SQLRowCount(nullptr, &l), SQLMoreResults(nullptr)}) {
    EXPECT_EQ(rc, SQL_INVALID_HANDLE);
  }
}

// SQLExecDirect discards the previous result before it looks at the cancel;
// SQLExecute keeps it; SQLRowCount does not check.
TEST_F(ApiExecute, PendingCancelFailsWithS1008AndSendsNothing) {
  r.stmt->cursor_open = 1;
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(result(SQLExecute(h())), "ERROR S1008 Operation cancelled");
  EXPECT_EQ(r.stmt->cursor_open, 1);
  EXPECT_EQ(SQLExecDirect(h(), sql("SELECT 1"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.stmt->cursor_open, 0);
  SQLSMALLINT count = -1;
  EXPECT_EQ(SQLNumResultCols(h(), &count), SQL_ERROR);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(SQLMoreResults(h()), SQL_ERROR);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(h(), &rows), SQL_SUCCESS);
  expect_silent();
}

// Refusals before anything is sent, and a failed exchange reported on the
// connection, not the statement.
TEST_F(ApiExecute, ExecuteRefusalsAndBrokenLink) {
  EXPECT_EQ(result(SQLExecute(h())), "ERROR S1009 Invalid argument value") << "nothing prepared";
  EXPECT_EQ(result(SQLExecDirect(h(), nullptr, SQL_NTS)), "ERROR S1009 Invalid argument value");
  clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
  EXPECT_EQ(SQLExecDirect(h(), sql("SELECT 1"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(r.conn), "08S01 Communications_ERROR");
  EXPECT_EQ(r.diag(), "");
  clear_diagnostic(r.conn->sqlstate, r.conn->message);
  int64_t length = 1;
  r.bind(1, &length);
  EXPECT_EQ(result(SQLExecDirect(h(), sql("SELECT ?, ?"), SQL_NTS)),
            "ERROR 07001 Wrong number of parameters");
  expect_silent();
}

// Needing data keeps the text for SQLParamData; SQLPrepare refuses such a
// binding; a pass-through text is prepared without the server.
TEST_F(ApiExecute, DataAtExecutionAndPassThrough) {
  int64_t later = SQL_DATA_AT_EXEC;
  r.bind(1, &later);
  const char* text = "INSERT INTO T VALUES (?)";
  EXPECT_EQ(SQLExecDirect(h(), sql(text), SQL_NTS), SQL_NEED_DATA);
  EXPECT_EQ(r.stmt->pending_parameter, 501u);
  EXPECT_STREQ(r.stmt->statement_text, text);
  EXPECT_EQ(r.stmt->statement_text_length, static_cast<int64_t>(strlen(text)));
  EXPECT_EQ(SQLPrepare(h(), sql("SELECT ?"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.diag().substr(0, 5), "S1000");
  clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
  EXPECT_EQ(result(SQLPrepare(h(), sql("  >LIST T"), SQL_NTS)), "OK");
  EXPECT_EQ(r.stmt->pass_through, 1);
  expect_silent();
}

// The text block is reused for shorter texts; SQLNumParams counts every "?".
TEST_F(ApiExecute, PrepareAndNumParams) {
  r.conn->server_version = 700;
  SQLSMALLINT count = -1;
  EXPECT_EQ(SQLNumParams(h(), &count), SQL_SUCCESS);
  EXPECT_EQ(count, 0) << "no text yet";
  ASSERT_EQ(SQLPrepare(h(), sql(">LONGER TEXT '?' ?"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLNumParams(h(), &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  char* block = r.stmt->statement_text;
  ASSERT_EQ(SQLPrepare(h(), sql(">SHORT"), 4), SQL_SUCCESS);
  EXPECT_EQ(r.stmt->statement_text, block);
  EXPECT_STREQ(r.stmt->statement_text, ">SHO");
  EXPECT_EQ(result(SQLNumParams(h(), nullptr)), "ERROR S1000 General Error");
}

// Without columns SQLDescribeCol answers a fixed integer column and leaves
// the name; column numbers are checked; names are cut silently.
TEST_F(ApiExecute, DescribeCol) {
  SQLCHAR name[8] = "keep";
  SQLSMALLINT name_length = -1, type = -1, scale = -1, nullable = -7;
  SQLULEN precision = 0;
  EXPECT_EQ(
      SQLDescribeCol(h(), 3, name, sizeof name, &name_length, &type, &precision, &scale, &nullable),
      SQL_SUCCESS);
  EXPECT_EQ(std::vector<int>({name_length, type, int(precision), scale, nullable}),
            std::vector<int>({8, SQL_INTEGER, 4, 0, -7}));
  EXPECT_STREQ(reinterpret_cast<char*>(name), "keep");
  cache(description_record("T.AMOUNT", kSqlInteger, 10, 0, 0));
  for (SQLUSMALLINT icol : {0, 2}) {
    EXPECT_EQ(
        result(SQLDescribeCol(h(), icol, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr)),
        "ERROR S1002 Invalid column number");
  }
  clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
  SQLCHAR cut[6];  // "AMOUNT" and its NUL need 7
  EXPECT_EQ(
      result(SQLDescribeCol(h(), 1, cut, 6, &name_length, nullptr, nullptr, nullptr, nullptr)),
      "OK");
  EXPECT_STREQ(reinterpret_cast<char*>(cut), "AMOUN");
  EXPECT_EQ(name_length, 6);
  ASSERT_EQ(SQLDescribeCol(h(), 1, cut, 0, &name_length, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(name_length, 0);
  expect_silent();
}

// Column 0 answers only its type; others are checked against the count and
// the attribute against the known ones.
TEST_F(ApiExecute, ColAttributesChecksColumnAndType) {
  SQLLEN value = 0;
  auto attribute = [&](SQLUSMALLINT icol, SQLUSMALLINT type) {
    return result(SQLColAttributes(h(), icol, type, nullptr, 0, nullptr, &value));
  };
  EXPECT_EQ(attribute(1, SQL_COLUMN_TYPE).substr(0, 11), "ERROR S1002") << "no result";
  cache(description_record("T.A", kSqlVarbinary, 10, 0, 0));
  clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
  EXPECT_EQ(attribute(0, SQL_COLUMN_TYPE), "OK");
  EXPECT_EQ(value, SQL_INTEGER);
  EXPECT_EQ(attribute(0, SQL_COLUMN_NAME), "ERROR S1002 ") << "the message text is empty";
  EXPECT_EQ(attribute(2, SQL_COLUMN_TYPE).substr(0, 11), "ERROR S1002");
  EXPECT_EQ(attribute(1, 19).substr(0, 11), "ERROR S1091");
  clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
  EXPECT_EQ(attribute(1, SQL_COLUMN_TYPE), "OK");
  EXPECT_EQ(value, -3);
  EXPECT_EQ(attribute(1, SQL_COLUMN_COUNT), "OK");
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
}

// SQLNativeSql copies the whole text (cbSqlStrIn ignored) and pads with NULs,
// or cuts it with "01004"; older servers lack it.
TEST_F(ApiExecute, NativeSql) {
  SQLCHAR out[16];
  SQLINTEGER length = 0;
  auto native = [&](const char* in, SQLCHAR* to, SQLINTEGER max) {
    memset(out, '#', sizeof out);
    clear_diagnostic(r.conn->sqlstate, r.conn->message);
    return outcome(SQLNativeSql(r.conn, sql(in), 2, to, max, &length), r.conn);
  };
  EXPECT_EQ(native("SELECT 1", out, 16), "OK");
  EXPECT_STREQ(reinterpret_cast<char*>(out), "SELECT 1");
  EXPECT_EQ(length, 8);
  for (size_t i = 8; i < sizeof out; ++i) EXPECT_EQ(out[i], 0) << i;
  for (SQLINTEGER size : {8, 3, 1, 0}) {
    EXPECT_EQ(native("SELECT 1", out, size), "INFO 01004 Data truncated");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size ? size - 1 : 0),
              std::string("SELECT 1").substr(0, size ? size - 1 : 0));
    EXPECT_EQ(out[size ? size - 1 : 0], size ? 0 : '#');
    EXPECT_EQ(out[size], '#') << "written past the buffer";
    EXPECT_EQ(length, 8);
  }
  EXPECT_EQ(native("AB", nullptr, 10), "OK");
  EXPECT_EQ(length, 2);
  r.conn->server_version = 700;
  EXPECT_EQ(native("SELECT 1", out, 16), "ERROR IM001 Driver does not support this function");
}

}  // namespace
}  // namespace q4
