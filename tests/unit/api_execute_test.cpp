// Exported prepare, execute and description functions answered without a
// server; the connection has no link, so a request that escapes shows as
// "08S01" on the connection. Exchanges with a server are in the wire tests.
#include "statement_fixture.h"

namespace q4 {
namespace {

class ApiExecute : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(r.stmt->in_call, 0) << "every return must clear in_call";
    EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
  }
  std::string result(SQLRETURN rc) {
    std::string text = outcome(rc, r.stmt);
    clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
    return text;
  }
  StatementRecord r;
  SQLHSTMT h() { return r.stmt; }
};

// The Driver Manager screens null handles; one check that the driver does too.
TEST(ApiNullHandles, AreInvalidHandles) {
  EXPECT_EQ(SQLExecDirect(nullptr, sql("X"), SQL_NTS), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLTransact(nullptr, nullptr, SQL_COMMIT), SQL_INVALID_HANDLE);
}

// SQLExecDirect discards the previous result before it looks at the cancel;
// SQLExecute keeps it; SQLRowCount does not check (and sign-extends -1).
TEST_F(ApiExecute, PendingCancelFailsWithS1008AndSendsNothing) {
  r.stmt->cursor_open = 1;
  r.stmt->cancel_requested = 1;
  EXPECT_EQ(result(SQLExecute(h())), "ERROR S1008 Operation cancelled");
  EXPECT_EQ(r.stmt->cursor_open, 1);
  EXPECT_EQ(SQLExecDirect(h(), sql("SELECT 1"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(r.stmt->cursor_open, 0);
  r.stmt->row_count = -1;
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(h(), &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, -1);
}

// Refusals before anything is sent. SQLNumParams' text has a capital "E".
TEST_F(ApiExecute, RefusalsBeforeTheServer) {
  EXPECT_EQ(result(SQLExecute(h())), "ERROR S1009 Invalid argument value") << "nothing prepared";
  EXPECT_EQ(result(SQLNumParams(h(), nullptr)), "ERROR S1000 General Error");
  int64_t length = 1;
  r.bind(1, &length);
  EXPECT_EQ(result(SQLExecDirect(h(), sql("SELECT ?, ?"), SQL_NTS)),
            "ERROR 07001 Wrong number of parameters");
  length = SQL_DATA_AT_EXEC;  // SQLPrepare refuses a data-at-execution binding
  EXPECT_EQ(result(SQLPrepare(h(), sql("SELECT ?"), SQL_NTS)).substr(0, 11), "ERROR S1000");
  EXPECT_EQ(result(SQLPrepare(h(), sql("  >LIST T"), SQL_NTS)), "OK") << "pass-through: no server";
}

// Without columns SQLDescribeCol answers a fixed integer column and leaves
// the name (described columns are read in the wire tests).
TEST_F(ApiExecute, DescribeColWithoutColumns) {
  SQLCHAR name[8] = "keep";
  SQLSMALLINT name_length = -1, type = -1, scale = -1, nullable = -7;
  SQLULEN precision = 0;
  EXPECT_EQ(
      SQLDescribeCol(h(), 3, name, sizeof name, &name_length, &type, &precision, &scale, &nullable),
      SQL_SUCCESS);
  EXPECT_EQ(std::vector<int>({name_length, type, int(precision), scale, nullable}),
            std::vector<int>({8, SQL_INTEGER, 4, 0, -7}));
  EXPECT_STREQ(reinterpret_cast<char*>(name), "keep");
}

// SQLNativeSql copies the whole text (cbSqlStrIn ignored) and pads with NULs,
// or cuts it with "01004"; older servers lack it.
TEST_F(ApiExecute, NativeSql) {
  SQLCHAR out[16];
  SQLINTEGER length = 0;
  auto native = [&](SQLINTEGER max) {
    memset(out, '#', sizeof out);
    std::string text = outcome(SQLNativeSql(r.conn, sql("SELECT 1"), 2, out, max, &length), r.conn);
    clear_diagnostic(r.conn->sqlstate, r.conn->message);
    return text;
  };
  EXPECT_EQ(native(16), "OK");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 16), "SELECT 1" + std::string(8, '\0'));
  EXPECT_EQ(native(8), "INFO 01004 Data truncated");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 9), std::string("SELECT \0#", 9));
  EXPECT_EQ(length, 8);
  r.conn->server_version = 700;
  EXPECT_EQ(native(16), "ERROR IM001 Driver does not support this function");
}

}  // namespace
}  // namespace q4
