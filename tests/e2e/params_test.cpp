// Parameters end to end: values bound through the Driver Manager, written
// into statements by the driver, stored by q4lite and read back, including
// values delivered at execution in pieces.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"

namespace q4e2e {
namespace {

SQLCHAR* sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

class ParamsE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    // unixODBC keeps what it read from odbc.ini for a while: every test
    // names its data source anew.
    static int count = 0;
    const std::string dsn = "q4params" + std::to_string(++count);
    config_.add_server_dsn(dsn, server_);
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLConnect(dbc_, sql(dsn), SQL_NTS, sql("test"), SQL_NTS, sql("secret"), SQL_NTS)))
        << diagnostic(env_, dbc_, nullptr);
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt_), SQL_SUCCESS);
  }
  void TearDown() override {
    if (stmt_ != nullptr) SQLFreeStmt(stmt_, SQL_DROP);
    if (dbc_ != nullptr) {
      SQLDisconnect(dbc_);
      SQLFreeConnect(dbc_);
    }
    if (env_ != nullptr) SQLFreeEnv(env_);
  }

  std::string diag() { return diagnostic(env_, dbc_, stmt_); }

  void exec(const std::string& text) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, sql(text), SQL_NTS))) << text << ": " << diag();
  }

  void bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
            SQLLEN* indicator, SQLSMALLINT scale = 0) {
    ASSERT_EQ(SQLBindParameter(stmt_, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, scale,
                               const_cast<void*>(value), 0, indicator),
              SQL_SUCCESS)
        << diag();
  }

  // Column `icol` of the current row in C type `c_type`, read in pieces of
  // `piece` bytes; "<NULL>" for NULL.
  std::string get(SQLUSMALLINT icol, SQLSMALLINT c_type = SQL_C_CHAR, size_t piece = 4096) {
    std::string value;
    std::vector<char> buffer(piece + 1);
    const size_t terminator = c_type == SQL_C_CHAR ? 1 : 0;
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(stmt_, icol, c_type, buffer.data(),
                                static_cast<SQLLEN>(piece + terminator), &indicator);
      if (rc == SQL_NO_DATA_FOUND) break;
      EXPECT_TRUE(SQL_SUCCEEDED(rc)) << "column " << icol << ": " << diag();
      if (!SQL_SUCCEEDED(rc)) break;
      if (indicator == SQL_NULL_DATA) return "<NULL>";
      size_t got = indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > piece
                       ? piece
                       : static_cast<size_t>(indicator);
      value.append(buffer.data(), got);
      if (rc == SQL_SUCCESS) break;
    }
    return value;
  }

  void fetch() { ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_))) << diag(); }

  Q4lite server_;
  OdbcConfig config_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// Every C type that has a literal, through a prepared INSERT, read back
// through a SELECT whose key is itself a bound parameter.
TEST_F(ParamsE2e, EveryTypeRoundTrips) {
  exec(
      "CREATE TABLE T (K INTEGER, C CHAR(10), V VARCHAR(40), N NUMERIC(10,2), I INTEGER, "
      "U NUMERIC(12,0), S SMALLINT, US INTEGER, BT SMALLINT, F DOUBLE, D DOUBLE, DT DATE, "
      "TM TIME, TS TIMESTAMP, B VARBINARY(16), DF INTEGER, DE DATE)");
  int32_t key = 1;
  int32_t i = INT32_MIN;
  uint32_t u = 3000000000u;
  int16_t s = -32768;
  uint16_t us = 65535;
  uint8_t bit = 1;
  float f = 0.25f;
  double d = 3.14159;
  DATE_STRUCT dt{2024, 3, 5};
  TIME_STRUCT tm{7, 8, 9};
  TIMESTAMP_STRUCT ts{2024, 3, 5, 10, 11, 12, 500000000};
  const char blob[] = {'a', '\0', '\xff', 'b'};
  int32_t df = 77;
  SQLLEN nts = SQL_NTS, four = 4, zero = 0;
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  bind(2, SQL_C_CHAR, SQL_CHAR, "AB   ", &nts);
  bind(3, SQL_C_CHAR, SQL_VARCHAR, "O'Brien  ", &nts);
  bind(4, SQL_C_CHAR, SQL_NUMERIC, "12.5", &nts);
  bind(5, SQL_C_SLONG, SQL_INTEGER, &i, &zero);
  bind(6, SQL_C_ULONG, SQL_NUMERIC, &u, &zero);
  bind(7, SQL_C_SHORT, SQL_SMALLINT, &s, &zero);
  bind(8, SQL_C_USHORT, SQL_INTEGER, &us, &zero);
  bind(9, SQL_C_BIT, SQL_SMALLINT, &bit, &zero);
  bind(10, SQL_C_FLOAT, SQL_DOUBLE, &f, &zero, 2);
  bind(11, SQL_C_DOUBLE, SQL_DOUBLE, &d, &zero, 3);
  bind(12, SQL_C_DATE, SQL_DATE, &dt, &zero);
  bind(13, SQL_C_TIME, SQL_TIME, &tm, &zero);
  bind(14, SQL_C_TIMESTAMP, SQL_TIMESTAMP, &ts, &zero);
  bind(15, SQL_C_BINARY, SQL_VARBINARY, blob, &four);
  bind(16, SQL_C_DEFAULT, SQL_INTEGER, &df, &zero);
  bind(17, SQL_C_CHAR, SQL_DATE, "{d '1999-12-31'}", &nts);
  ASSERT_EQ(SQLPrepare(stmt_,
                       sql("INSERT INTO T VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?)"),
                       SQL_NTS),
            SQL_SUCCESS)
      << diag();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << diag();
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  exec("SELECT C, V, N, I, U, S, US, BT, F, D, DT, TM, TS, B, DF, DE FROM T WHERE K = ?");
  fetch();
  EXPECT_EQ(get(1), "AB");
  EXPECT_EQ(get(2), "O'Brien  ");
  EXPECT_EQ(get(3), "12.50");
  EXPECT_EQ(get(4), "-2147483648");
  EXPECT_EQ(get(5), "3000000000");
  EXPECT_EQ(get(6), "-32768");
  EXPECT_EQ(get(7), "65535");
  EXPECT_EQ(get(8), "1");
  EXPECT_EQ(get(9), "0.25");
  EXPECT_EQ(get(10), "3.142");
  EXPECT_EQ(get(11), "2024-03-05");
  EXPECT_EQ(get(12), "07:08:09");
  EXPECT_EQ(get(13), "2024-03-05 10:11:12") << "the fraction is not sent";
  EXPECT_EQ(get(14, SQL_C_BINARY), std::string(blob, 4));
  EXPECT_EQ(get(15), "77");
  EXPECT_EQ(get(16), "1999-12-31");
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
}

// Apostrophes anywhere in a value arrive as they were, and so does a value
// holding a question mark; a pair of adjacent apostrophes is taken as one
// already doubled, so it arrives as one.
TEST_F(ParamsE2e, StringsWithApostrophesRoundTrip) {
  exec("CREATE TABLE Q (K INTEGER, V VARCHAR(100))");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"O'Brien", "O'Brien"},
      {"'", "'"},
      {"'lead", "'lead"},
      {"trail'", "trail'"},
      {"a'b'c", "a'b'c"},
      {"where x = '?'", "where x = '?'"},
      {"", ""},
      {"it''s", "it's"},
      {"'''", "''"},
      {"\"double\" quotes", "\"double\" quotes"},
  };
  int32_t key = 0;
  SQLLEN zero = 0;
  SQLLEN nts = SQL_NTS;
  char value[128];
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  bind(2, SQL_C_CHAR, SQL_VARCHAR, value, &nts);
  ASSERT_EQ(SQLPrepare(stmt_, sql("INSERT INTO Q VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS) << diag();
  for (size_t n = 0; n < cases.size(); ++n) {
    key = static_cast<int32_t>(n);
    snprintf(value, sizeof value, "%s", cases[n].first.c_str());
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << cases[n].first << ": " << diag();
  }
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  exec("SELECT V FROM Q ORDER BY K");
  for (const auto& c : cases) {
    fetch();
    EXPECT_EQ(get(1), c.second) << "sent " << c.first;
  }
}

TEST_F(ParamsE2e, NullsOfEveryKind) {
  exec("CREATE TABLE Z (V VARCHAR(10), I INTEGER, D DATE, B BLOB, F DOUBLE)");
  SQLLEN null_data = SQL_NULL_DATA;
  int32_t i = 5;
  double f = 1.0;
  DATE_STRUCT d{2000, 1, 1};
  bind(1, SQL_C_CHAR, SQL_VARCHAR, "x", &null_data);
  bind(2, SQL_C_LONG, SQL_INTEGER, &i, &null_data);
  bind(3, SQL_C_DATE, SQL_DATE, &d, &null_data);
  bind(4, SQL_C_BINARY, SQL_LONGVARBINARY, "b", &null_data);
  bind(5, SQL_C_DEFAULT, SQL_DOUBLE, &f, &null_data);
  exec("INSERT INTO Z VALUES (?, ?, ?, ?, ?)");
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  exec("SELECT V, I, D, B, F, V IS NULL AND I IS NULL AND D IS NULL AND B IS NULL FROM Z");
  fetch();
  for (SQLUSMALLINT col = 1; col <= 5; ++col) EXPECT_EQ(get(col), "<NULL>") << "column " << col;
  EXPECT_EQ(get(6), "1");
}

// A 1 MB blob and a 100 KB text, both delivered with SQLPutData in pieces,
// arrive whole.
TEST_F(ParamsE2e, LargeValuesDeliveredInPieces) {
  exec("CREATE TABLE L (K INTEGER, B BLOB, T TEXT)");
  std::string blob(1 << 20, '\0');
  for (size_t n = 0; n < blob.size(); ++n) blob[n] = static_cast<char>((n * 131) ^ (n >> 9));
  std::string text;
  while (text.size() < 100 * 1024) text += "It's piece " + std::to_string(text.size()) + "; ";
  text.resize(100 * 1024);

  int32_t key = 1;
  SQLLEN zero = 0;
  SQLLEN blob_ind = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(blob.size()));
  SQLLEN text_ind = SQL_DATA_AT_EXEC;
  void* blob_token = &blob;
  void* text_token = &text;
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  bind(2, SQL_C_BINARY, SQL_LONGVARBINARY, blob_token, &blob_ind);
  bind(3, SQL_C_CHAR, SQL_LONGVARCHAR, text_token, &text_ind);
  ASSERT_EQ(SQLExecDirect(stmt_, sql("INSERT INTO L VALUES (?, ?, ?)"), SQL_NTS), SQL_NEED_DATA)
      << diag();
  SQLPOINTER token = nullptr;
  SQLRETURN rc;
  while ((rc = SQLParamData(stmt_, &token)) == SQL_NEED_DATA) {
    const std::string& value = token == blob_token ? blob : text;
    ASSERT_TRUE(token == blob_token || token == text_token);
    const size_t piece = token == blob_token ? 65536 : 10000;
    for (size_t at = 0; at < value.size(); at += piece) {
      SQLLEN count = static_cast<SQLLEN>(std::min(piece, value.size() - at));
      ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(value.data() + at), count), SQL_SUCCESS)
          << diag();
    }
  }
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);

  exec("SELECT LENGTH(B), LENGTH(T), B, T FROM L WHERE K = 1");
  fetch();
  EXPECT_EQ(get(1), std::to_string(blob.size()));
  EXPECT_EQ(get(2), std::to_string(text.size()));
  std::string blob_back = get(3, SQL_C_BINARY, 100000);
  EXPECT_EQ(blob_back.size(), blob.size());
  EXPECT_TRUE(blob_back == blob) << "the blob came back changed";
  std::string text_back = get(4, SQL_C_CHAR, 30000);
  EXPECT_EQ(text_back.size(), text.size());
  EXPECT_TRUE(text_back == text) << "the text came back changed";
}

// A prepared statement executed again and again reads the bound variables
// anew each time.
TEST_F(ParamsE2e, PreparedInsertReadsTheVariablesAtEveryExecution) {
  exec("CREATE TABLE R (K INTEGER, V VARCHAR(20))");
  int32_t key = 0;
  char value[20];
  SQLLEN zero = 0;
  SQLLEN nts = SQL_NTS;
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  bind(2, SQL_C_CHAR, SQL_VARCHAR, value, &nts);
  ASSERT_EQ(SQLPrepare(stmt_, sql("INSERT INTO R VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS) << diag();
  for (key = 1; key <= 200; ++key) {
    snprintf(value, sizeof value, "v'%d", key);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << diag();
  }
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  exec("SELECT COUNT(*), SUM(K) FROM R WHERE V = 'v''' || K");
  fetch();
  EXPECT_EQ(get(1), "200");
  EXPECT_EQ(get(2), "20100");
}

// What the server or the driver refuses comes back as a diagnostic, and the
// statement stays usable.
TEST_F(ParamsE2e, RefusedValuesReportTheirState) {
  exec("CREATE TABLE E (V VARCHAR(10))");
  int8_t tiny = 1;
  SQLLEN one = 1;
  bind(1, SQL_C_TINYINT, SQL_TINYINT, &tiny, &one);
  EXPECT_EQ(SQLExecDirect(stmt_, sql("INSERT INTO E VALUES (?)"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "S1000");
  SQLLEN nts = SQL_NTS;
  bind(1, SQL_C_BINARY, SQL_VARBINARY, "abc", &nts);
  EXPECT_EQ(SQLExecDirect(stmt_, sql("INSERT INTO E VALUES (?)"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "S1090");
  bind(1, SQL_C_CHAR, SQL_VARCHAR, "ok", &nts);
  exec("INSERT INTO E VALUES (?)");
}

}  // namespace
}  // namespace q4e2e
