// Parameters through the Driver Manager: each kind of C type bound once,
// stored by q4lite and read back, and long values delivered at execution in
// pieces.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <iterator>
#include <string>

#include "support.h"

namespace q4e2e {
namespace {

class ParamsE2e : public Connected {
 protected:
  void bind(SQLUSMALLINT ipar, SQLSMALLINT c_type, SQLSMALLINT sql_type, const void* value,
            SQLLEN* indicator, SQLSMALLINT scale = 0) {
    ASSERT_EQ(SQLBindParameter(stmt_, ipar, SQL_PARAM_INPUT, c_type, sql_type, 0, scale,
                               const_cast<void*>(value), 0, indicator),
              SQL_SUCCESS)
        << diag();
  }
  // Column `icol` of the current row read whole; "<NULL>" for NULL.
  std::string get(SQLUSMALLINT icol, SQLSMALLINT c_type, size_t size = 64) {
    std::string value(size + 1, '\0');
    SQLLEN indicator = 0;
    EXPECT_EQ(SQLGetData(stmt_, icol, c_type, value.data(), static_cast<SQLLEN>(value.size()),
                         &indicator),
              SQL_SUCCESS)
        << "column " << icol << ": " << diag();
    if (indicator == SQL_NULL_DATA) return "<NULL>";
    value.resize(static_cast<size_t>(std::max<SQLLEN>(0, std::min<SQLLEN>(indicator, size))));
    return value;
  }
  void fetch() { ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_))) << diag(); }
};

// One C type of each kind, through a prepared INSERT, read back through a
// SELECT whose key is itself a bound parameter.
TEST_F(ParamsE2e, EveryKindOfTypeRoundTrips) {
  exec(
      "CREATE TABLE T (K INTEGER, C CHAR(10), V VARCHAR(40), N NUMERIC(10,2), U NUMERIC(12,0), "
      "D DOUBLE, DT DATE, TS TIMESTAMP, B VARBINARY(16), DF INTEGER, DE DATE, Z INTEGER)");
  int32_t key = 1, df = 77;
  uint32_t u = 3000000000u;
  double d = 3.14159;
  DATE_STRUCT dt{2024, 3, 5};
  TIMESTAMP_STRUCT ts{2024, 3, 5, 10, 11, 12, 500000000};
  const char blob[] = {'a', '\0', '\xff', 'b'};
  SQLLEN nts = SQL_NTS, four = 4, zero = 0, null_data = SQL_NULL_DATA;
  const struct {
    SQLSMALLINT c_type, sql_type;
    const void* value;
    SQLLEN* indicator;
    SQLSMALLINT scale;
    const char* back;  // as SQL_C_CHAR; null: read as SQL_C_BINARY
  } params[] = {
      {SQL_C_LONG, SQL_INTEGER, &key, &zero, 0, nullptr},
      {SQL_C_CHAR, SQL_CHAR, "AB   ", &nts, 0, "AB"},
      {SQL_C_CHAR, SQL_VARCHAR, "O'Brien  ", &nts, 0, "O'Brien  "},
      {SQL_C_CHAR, SQL_NUMERIC, "12.5", &nts, 0, "12.50"},
      {SQL_C_ULONG, SQL_NUMERIC, &u, &zero, 0, "3000000000"},
      {SQL_C_DOUBLE, SQL_DOUBLE, &d, &zero, 3, "3.142"},
      {SQL_C_DATE, SQL_DATE, &dt, &zero, 0, "2024-03-05"},
      {SQL_C_TIMESTAMP, SQL_TIMESTAMP, &ts, &zero, 0, "2024-03-05 10:11:12"},  // no fraction sent
      {SQL_C_BINARY, SQL_VARBINARY, blob, &four, 0, nullptr},
      {SQL_C_DEFAULT, SQL_INTEGER, &df, &zero, 0, "77"},
      {SQL_C_CHAR, SQL_DATE, "{d '1999-12-31'}", &nts, 0, "1999-12-31"},
      {SQL_C_LONG, SQL_INTEGER, &key, &null_data, 0, "<NULL>"},
  };
  std::string markers;
  for (SQLUSMALLINT n = 1; n <= std::size(params); ++n) {
    const auto& p = params[n - 1];
    bind(n, p.c_type, p.sql_type, p.value, p.indicator, p.scale);
    markers += n == 1 ? "?" : ", ?";
  }
  ASSERT_EQ(SQLPrepare(stmt_, as_sql("INSERT INTO T VALUES (" + markers + ")"), SQL_NTS),
            SQL_SUCCESS)
      << diag();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt_))) << diag();
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  exec("SELECT * FROM T WHERE K = ?");
  fetch();
  for (SQLUSMALLINT n = 2; n <= std::size(params); ++n) {
    const char* back = params[n - 1].back;
    EXPECT_EQ(back ? get(n, SQL_C_CHAR) : get(n, SQL_C_BINARY, 4),
              back ? back : std::string(blob, 4))
        << n;
  }
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
}

// A 1 MB blob and a 100 KB text, both delivered with SQLPutData in pieces
// through SQLParamData, arrive whole.
TEST_F(ParamsE2e, LargeValuesDeliveredInPieces) {
  exec("CREATE TABLE L (K INTEGER, B BLOB, T TEXT)");
  std::string blob(1 << 20, '\0');
  for (size_t n = 0; n < blob.size(); ++n) blob[n] = static_cast<char>((n * 131) ^ (n >> 9));
  std::string text;
  while (text.size() < 100 * 1024) text += "It's piece " + std::to_string(text.size()) + "; ";
  text.resize(100 * 1024);
  int32_t key = 1;
  SQLLEN zero = 0, blob_ind = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(blob.size())),
         text_ind = SQL_DATA_AT_EXEC;
  bind(1, SQL_C_LONG, SQL_INTEGER, &key, &zero);
  bind(2, SQL_C_BINARY, SQL_LONGVARBINARY, &blob, &blob_ind);
  bind(3, SQL_C_CHAR, SQL_LONGVARCHAR, &text, &text_ind);
  ASSERT_EQ(SQLExecDirect(stmt_, as_sql("INSERT INTO L VALUES (?, ?, ?)"), SQL_NTS), SQL_NEED_DATA)
      << diag();
  SQLPOINTER token = nullptr;
  SQLRETURN rc;
  while ((rc = SQLParamData(stmt_, &token)) == SQL_NEED_DATA) {
    ASSERT_TRUE(token == &blob || token == &text);
    const std::string& value = *static_cast<std::string*>(token);
    const size_t piece = token == &blob ? 65536 : 10000;
    for (size_t at = 0; at < value.size(); at += piece) {
      ASSERT_EQ(SQLPutData(stmt_, const_cast<char*>(value.data() + at),
                           static_cast<SQLLEN>(std::min(piece, value.size() - at))),
                SQL_SUCCESS)
          << diag();
    }
  }
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  exec("SELECT B, T FROM L WHERE K = 1");
  fetch();
  EXPECT_TRUE(get(1, SQL_C_BINARY, blob.size()) == blob) << "the blob came back changed";
  EXPECT_TRUE(get(2, SQL_C_CHAR, text.size()) == text) << "the text came back changed";
}

}  // namespace
}  // namespace q4e2e
