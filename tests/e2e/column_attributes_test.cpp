// Column descriptions through the unixODBC Driver Manager as LibreOffice Base and Qt ask for them
// (SQLColAttribute of an ODBC 3 application): type names that SQLGetTypeInfo lists, scale 0 for
// text, display sizes that hold every value's text (read back into buffers of that size, as PHP
// binds them).
#include <set>
#include <string>
#include <vector>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

class ColumnAttributes : public Q4liteApp {
 protected:
  SQLLEN number(SQLUSMALLINT column, SQLUSMALLINT field) {
    SQLLEN value = -999;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLColAttribute(stmt_, column, field, nullptr, 0, nullptr, &value)))
        << column << "/" << field << " " << diag();
    return value;
  }
  std::string text(SQLUSMALLINT column, SQLUSMALLINT field) {
    SQLCHAR buffer[128] = {0};
    SQLSMALLINT length = -1;
    EXPECT_TRUE(SQL_SUCCEEDED(
        SQLColAttribute(stmt_, column, field, buffer, sizeof buffer, &length, nullptr)))
        << column << "/" << field << " " << diag();
    return reinterpret_cast<char*>(buffer);
  }
};

// Every column's type name is one that SQLGetTypeInfo lists; text has no scale.
TEST_F(ColumnAttributes, TypeNamesAndScales) {
  std::set<std::string> listed;
  ASSERT_EQ(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES), SQL_SUCCESS) << diag();
  SQLCHAR name[64];
  SQLLEN length = 0;
  while (SQLFetch(stmt_) == SQL_SUCCESS) {
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
    listed.insert(reinterpret_cast<char*>(name));
  }
  SQLFreeStmt(stmt_, SQL_CLOSE);
  exec(
      "CREATE TABLE kinds (v VARCHAR(40), c CHAR(10), i INTEGER, s SMALLINT, b BIGINT, "
      "n NUMERIC(10,2), f DOUBLE PRECISION, d DATE, t TIME, ts TIMESTAMP, y BLOB)");
  SQLFreeStmt(stmt_, SQL_CLOSE);
  exec("SELECT * FROM kinds");
  // clang-format off
  const std::vector<std::pair<const char*, SQLLEN>> columns = {  // type name, scale
      {"VARCHAR", 0}, {"CHAR", 0}, {"INTEGER", 0}, {"SMALLINT", 0}, {"BIGINT", 0},
      {"NUMERIC", 2}, {"DOUBLE", 0}, {"DATE", 0}, {"TIME", 0}, {"TIMESTAMP", -1},
      {"LONGVARBINARY", 0}};
  // clang-format on
  for (SQLUSMALLINT column = 1; column <= columns.size(); ++column) {
    const auto& [type_name, scale] = columns[column - 1];
    SCOPED_TRACE(type_name);
    EXPECT_EQ(text(column, SQL_DESC_TYPE_NAME), type_name);
    EXPECT_EQ(listed.count(type_name), 1u) << "not a type SQLGetTypeInfo lists";
    if (scale >= 0) {
      EXPECT_EQ(number(column, SQL_DESC_SCALE), scale);
    }
  }
  EXPECT_EQ(number(1, SQL_DESC_OCTET_LENGTH), 160) << "40 characters of UTF-8";
  EXPECT_EQ(number(1, SQL_DESC_CASE_SENSITIVE), SQL_TRUE);
  EXPECT_EQ(number(3, SQL_DESC_UNSIGNED), SQL_FALSE);
  EXPECT_EQ(number(10, SQL_DESC_UNSIGNED), SQL_TRUE) << "a timestamp is not a signed number";
}

// The extreme values of each numeric column, read as text into a buffer of the display size
// and its NUL, come back whole.
TEST_F(ColumnAttributes, DisplaySizesHoldTheLongestValues) {
  exec("CREATE TABLE extremes (i INTEGER, s SMALLINT, b BIGINT, n NUMERIC(10,2), d DATE)");
  exec(
      "INSERT INTO extremes VALUES (-2147483648, -32768, -9223372036854775807, -12345678.90, "
      "'2024-02-29')");
  SQLFreeStmt(stmt_, SQL_CLOSE);
  exec("SELECT * FROM extremes");
  const char* expected[] = {"-2147483648", "-32768", "-9223372036854775807", "-12345678.90",
                            "2024-02-29"};
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
  for (SQLUSMALLINT column = 1; column <= 5; ++column) {
    std::vector<char> buffer(static_cast<size_t>(number(column, SQL_DESC_DISPLAY_SIZE)) + 1);
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetData(stmt_, column, SQL_C_CHAR, buffer.data(), SQLLEN(buffer.size()), &length),
              SQL_SUCCESS)
        << expected[column - 1] << " " << diag();
    EXPECT_STREQ(buffer.data(), expected[column - 1]);
  }
}

}  // namespace
}  // namespace q4e2e
