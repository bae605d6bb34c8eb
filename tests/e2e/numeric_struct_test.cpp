// SQL_NUMERIC_STRUCT both ways through the unixODBC Driver Manager: a C application binds a
// 30-digit decimal as SQL_C_NUMERIC (scale from the binding), reads it back as text, through
// SQLGetData and SQLBindCol as SQL_C_NUMERIC (ODBC's default precision and scale 0: the fraction
// is cut with 01S07), and reads a stored 1e300 into a 16-byte character buffer.
#include <cstring>
#include <string>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

SQL_NUMERIC_STRUCT numeric(bool negative, const char* digits, int scale) {
  SQL_NUMERIC_STRUCT n{};
  n.precision = 30;
  n.scale = static_cast<SQLSCHAR>(scale);
  n.sign = negative ? 0 : 1;
  unsigned __int128 v = 0;
  for (const char* p = digits; *p != '\0'; ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
  for (int i = 0; i < 16; ++i) n.val[i] = static_cast<SQLCHAR>(v >> (8 * i));
  return n;
}

std::string magnitude(const SQL_NUMERIC_STRUCT& n) {
  unsigned __int128 v = 0;
  for (int i = 15; i >= 0; --i) v = v << 8 | n.val[i];
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return digits;
}

using NumericStruct = Q4liteApp;

TEST_F(NumericStruct, ParametersAndResultsBothWays) {
  exec("CREATE TABLE amounts (k INTEGER, d NUMERIC(30,10), f DOUBLE)");
  SQL_NUMERIC_STRUCT values[2] = {numeric(false, "123456789012345678900123456789", 10),
                                  numeric(true, "5", 10)};
  SQLINTEGER keys[2] = {1, 2};
  SQLLEN lengths[2] = {sizeof(SQL_NUMERIC_STRUCT), sizeof(SQL_NUMERIC_STRUCT)};
  set_attr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(2));
  ASSERT_EQ(
      SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, keys, 0, nullptr),
      SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_NUMERIC, 30, 10, values,
                             0, lengths),
            SQL_SUCCESS);
  exec("INSERT INTO amounts (k, d) VALUES (?, ?)");
  set_attr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1));
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);

  // As text: every digit, the sign and the scale as stored.
  exec("SELECT d FROM amounts ORDER BY k");
  char text[64];
  SQLLEN length = 0;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS) << diag();
  EXPECT_STREQ(text, "12345678901234567890.0123456789");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS) << diag();
  EXPECT_STREQ(text, "-0.0000000005");
  SQLFreeStmt(stmt_, SQL_CLOSE);

  // As SQL_C_NUMERIC through SQLGetData: precision 38, scale 0, the whole part.
  exec("SELECT d FROM amounts WHERE k = 1");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQL_NUMERIC_STRUCT got{};
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_NUMERIC, &got, sizeof got, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diag().substr(0, 5), "01S07");
  EXPECT_EQ(length, static_cast<SQLLEN>(sizeof got));
  EXPECT_EQ(got.precision, 38);
  EXPECT_EQ(got.scale, 0);
  EXPECT_EQ(got.sign, 1);
  EXPECT_EQ(magnitude(got), "12345678901234567890");
  SQLFreeStmt(stmt_, SQL_CLOSE);

  // And through SQLBindCol, a whole number without a cut.
  exec("SELECT -CAST(k AS INTEGER) * 1000 FROM amounts WHERE k = 2");
  SQL_NUMERIC_STRUCT bound{};
  SQLLEN bound_length = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_NUMERIC, &bound, sizeof bound, &bound_length), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
  EXPECT_EQ(bound.sign, 0);
  EXPECT_EQ(magnitude(bound), "2000");
  SQLFreeStmt(stmt_, SQL_UNBIND);
  SQLFreeStmt(stmt_, SQL_CLOSE);

  // A stored 1e300 into Qt's buffer for a double (column size 15 and the NUL).
  exec("UPDATE amounts SET f = 1e300 WHERE k = 1");
  exec("SELECT f FROM amounts WHERE k = 1");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  char small[16];
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, small, sizeof small, &length), SQL_SUCCESS) << diag();
  EXPECT_STREQ(small, "1e+300");
  EXPECT_EQ(length, 6);
}

}  // namespace
}  // namespace q4e2e
