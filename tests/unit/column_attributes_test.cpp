// SQLColAttributes' answers per column type, and the type names against the
// longest value each type can hold as text.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "protocol/type_names.h"
#include "protocol/wire.h"
#include "results/column_attributes.h"

namespace q4 {
namespace {

SQLLEN number(const ColumnDescription& desc, uint16_t desc_type) {
  SQLLEN value = -999;
  answer_column_attribute(desc, 1, desc_type, nullptr, 0, nullptr, &value);
  return value;
}

std::string text(const ColumnDescription& desc, uint16_t desc_type, int16_t room = 64) {
  char buffer[64] = "untouched";
  int16_t length = -1;
  answer_column_attribute(desc, 1, desc_type, buffer, room, &length, nullptr);
  return std::string(buffer) + "/" + std::to_string(length);
}

ColumnDescription column(int16_t type, uint32_t precision, uint16_t scale = 0) {
  return ColumnDescription{"C", 1, type, precision, scale, 1};
}

// As q4lite describes its columns: type name, length, display size, octet length, scale,
// unsigned, case sensitive. (The integer, decimal, date and text types, their display sizes read
// back whole: odbc3/column_attributes_test.c.) Display sizes hold the longest value's text (in the
// comments) with its sign and point (PHP binds every non-character column as text of that size: a
// value that does not fit is lost); text and bytes have no scale; everything but a signed number is
// unsigned.
TEST(ColumnAttributes, AnswersPerType) {
  // clang-format off
  struct Case { ColumnDescription desc; const char* name; SQLLEN length, display, octets, scale, is_unsigned, case_sensitive; } cases[] = {
      {column(kSqlDouble, 15), "DOUBLE", 15, 24, 8, 0, 0, 0},  // -1.7976931348623157E+308
      {column(kSqlTime, 8), "TIME", 8, 8, 6, 0, 1, 0},
      {column(kSqlTimestamp, 23, 3), "TIMESTAMP", 23, 23, 16, 3, 1, 0},  // 2024-02-29 23:59:59.123
      {column(kSqlVarbinary, 16), "VARBINARY", 16, 32, 16, 0, 1, 0},
      {column(kSqlLongVarbinary, 1000000000), "LONGVARBINARY", 1000000000, 2000000000, 1000000000, 0, 1, 0},
      {column(99, 7, 1), "", 7, 7, 7, 1, 1, 0},  // a code nobody names
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(text(c.desc, SQL_COLUMN_TYPE_NAME),
              c.name + std::string("/") + std::to_string(strlen(c.name)));
    EXPECT_EQ(number(c.desc, SQL_COLUMN_LENGTH), c.length);
    EXPECT_EQ(number(c.desc, SQL_COLUMN_PRECISION), c.desc.precision);
    EXPECT_EQ(number(c.desc, SQL_COLUMN_DISPLAY_SIZE), c.display);
    EXPECT_EQ(number(c.desc, SQL_DESC_OCTET_LENGTH), c.octets);
    EXPECT_EQ(number(c.desc, SQL_COLUMN_SCALE), c.scale);
    EXPECT_EQ(number(c.desc, SQL_COLUMN_UNSIGNED), c.is_unsigned);
    EXPECT_EQ(number(c.desc, SQL_COLUMN_CASE_SENSITIVE), c.case_sensitive);
  }
}

// A type name is cut silently like a column name; no room writes nothing.
TEST(ColumnAttributes, TypeNameInShortBuffers) {
  const ColumnDescription desc = column(kSqlTimestamp, 19);
  EXPECT_EQ(text(desc, SQL_COLUMN_TYPE_NAME, 10), "TIMESTAMP/9");
  EXPECT_EQ(text(desc, SQL_COLUMN_TYPE_NAME, 9), "TIMESTAM/9");
  EXPECT_EQ(text(desc, SQL_COLUMN_TYPE_NAME, 0), "untouched/0");
}

}  // namespace
}  // namespace q4
