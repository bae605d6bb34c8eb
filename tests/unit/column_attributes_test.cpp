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

// The ODBC 3 fields per type: the concise code follows the application's
// generation, the verbose one folds dates and times into SQL_DATETIME with
// their subcode, and a timestamp's precision is its fraction digits.
TEST(ColumnAttributes, Odbc3FieldsPerType) {
  auto field = [](const ColumnDescription& d, uint16_t id, TypeCodes codes = TypeCodes::kOdbc3) {
    ColumnField f = column_field(d, 3, id, codes);
    EXPECT_EQ(f.kind, ColumnField::Kind::kNumber) << id;
    return f.number;
  };
  // clang-format off
  struct Case { ColumnDescription desc; SQLLEN concise2, concise3, verbose, subcode, precision, length, radix; const char* prefix; const char* suffix; } cases[] = {
      {column(kSqlVarchar, 40), 12, 12, 12, 0, 40, 40, 0, "'", "'"},
      {column(kSqlDouble, 15), 8, 8, 8, 0, 15, 15, 2, "", ""},
      {column(kSqlDate, 10), 9, 91, 9, 1, 10, 10, 0, "'", "'"},
      {column(kSqlTime, 8), 10, 92, 9, 2, 0, 8, 0, "'", "'"},
      {column(kSqlTimestamp, 23, 3), 11, 93, 9, 3, 3, 23, 0, "'", "'"},
      {column(kSqlVarbinary, 16), -3, -3, -3, 0, 16, 16, 0, "X'", "'"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(sql_type_name(c.desc.type));
    EXPECT_EQ(field(c.desc, SQL_DESC_CONCISE_TYPE, TypeCodes::kOdbc2), c.concise2);
    EXPECT_EQ(field(c.desc, SQL_DESC_CONCISE_TYPE), c.concise3);
    EXPECT_EQ(field(c.desc, SQL_DESC_TYPE), c.verbose);
    EXPECT_EQ(field(c.desc, SQL_DESC_DATETIME_INTERVAL_CODE), c.subcode);
    EXPECT_EQ(field(c.desc, SQL_DESC_PRECISION), c.precision);
    EXPECT_EQ(field(c.desc, SQL_DESC_LENGTH), c.length);
    EXPECT_EQ(field(c.desc, SQL_DESC_NUM_PREC_RADIX), c.radix);
    EXPECT_EQ(field(c.desc, SQL_DESC_COUNT), 3);
    ColumnField prefix = column_field(c.desc, 3, SQL_DESC_LITERAL_PREFIX, TypeCodes::kOdbc3);
    ColumnField suffix = column_field(c.desc, 3, SQL_DESC_LITERAL_SUFFIX, TypeCodes::kOdbc3);
    EXPECT_EQ(std::string(prefix.text, prefix.length), c.prefix);
    EXPECT_EQ(std::string(suffix.text, suffix.length), c.suffix);
  }
}

// Names: the base column and table come from the qualified name, the label
// is the whole of it, a column without a name is unnamed.
TEST(ColumnAttributes, Odbc3NameFields) {
  auto text_of = [](const ColumnDescription& d, uint16_t id) {
    ColumnField f = column_field(d, 1, id, TypeCodes::kOdbc3);
    EXPECT_EQ(f.kind, ColumnField::Kind::kText) << id;
    return std::string(f.text, f.length);
  };
  ColumnDescription qualified{"db.Kunden.Straße", 17, kSqlVarchar, 30, 0, 1};
  EXPECT_EQ(text_of(qualified, SQL_DESC_NAME), "Straße");
  EXPECT_EQ(text_of(qualified, SQL_DESC_BASE_COLUMN_NAME), "Straße");
  EXPECT_EQ(text_of(qualified, SQL_DESC_BASE_TABLE_NAME), "Kunden");
  EXPECT_EQ(text_of(qualified, SQL_DESC_TABLE_NAME), "Kunden");
  EXPECT_EQ(text_of(qualified, SQL_DESC_LABEL), "db.Kunden.Straße");
  EXPECT_EQ(text_of(qualified, SQL_DESC_SCHEMA_NAME), "");
  EXPECT_EQ(text_of(qualified, SQL_DESC_LOCAL_TYPE_NAME), "VARCHAR");
  EXPECT_EQ(column_field(qualified, 1, SQL_DESC_UNNAMED, TypeCodes::kOdbc3).number, SQL_NAMED);
  ColumnDescription nameless{"", 0, kSqlInteger, 10, 0, 0};
  EXPECT_EQ(column_field(nameless, 1, SQL_DESC_UNNAMED, TypeCodes::kOdbc3).number, SQL_UNNAMED);
  EXPECT_EQ(column_field(nameless, 1, SQL_DESC_NULLABLE, TypeCodes::kOdbc3).number, SQL_NO_NULLS);
  EXPECT_EQ(column_field(nameless, 1, 9999, TypeCodes::kOdbc3).kind, ColumnField::Kind::kUnknown);
}

}  // namespace
}  // namespace q4
