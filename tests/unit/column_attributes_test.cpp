// Column attributes answered from a description, name parts, the description
// cache and SQLColAttributes' own checks.
#include "results/column_attributes.h"
#include "results/description_cache.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// A part that does not fit with its NUL is cut to size - 1 characters and the
// length reported is the buffer size; nothing is written outside.
TEST(CopyNamePart, CopiesThePartWithItsLength) {
  using P = NamePart;
  // clang-format off
  struct Case { const char* name; NamePart part; int16_t size; const char* expected; int16_t length; } cases[] = {
      {"S.ORDERS.AMOUNT", P::kColumn, 64, "AMOUNT", 6}, {"S.ORDERS.AMOUNT", P::kTable, 64, "ORDERS", 6},
      {"ORDERS.AMOUNT", P::kWhole, 64, "ORDERS.AMOUNT", 13}, {"AMOUNT", P::kTable, 64, "", 0},
      {".AMOUNT", P::kColumn, 64, ".AMOUNT", 7},  // the first character is no separator
      {"ORDERS.AMOUNT", P::kColumn, 7, "AMOUNT", 6}, {"ORDERS.AMOUNT", P::kColumn, 6, "AMOUN", 6},
      {"ORDERS.AMOUNT", P::kColumn, 1, "", 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<char> area(c.size + 2, '#');
    int16_t length = c.size;
    copy_name_part(area.data() + 1, &length, c.name, strlen(c.name), c.part);
    EXPECT_EQ(area[0] + area[c.size + 1], 2 * '#') << c.name;
    EXPECT_STREQ(area.data() + 1, c.expected) << c.name << " part " << int(c.part);
    EXPECT_EQ(length, c.length) << c.name;
  }
}

// Numeric attributes write only the number, text ones only the text (a cut
// text reports the buffer size, no buffer 0): the rows with a rule.
TEST(ColumnAttribute, Answers) {
  const char kNone[] = "#######";
  // clang-format off
  struct Case { uint16_t attribute; int16_t type; uint16_t scale, nullable; SQLLEN number; const char* text; SQLSMALLINT length; } cases[] = {
      {SQL_COLUMN_COUNT, kSqlInteger, 0, 0, 3, kNone, -5},    {SQL_COLUMN_TYPE, kSqlVarbinary, 0, 0, -3, kNone, -5},
      {SQL_COLUMN_SCALE, kSqlVarchar, 3, 0, 254, kNone, -5},  {SQL_COLUMN_SCALE, kSqlNumeric, 2, 0, 2, kNone, -5},
      {SQL_COLUMN_NULLABLE, kSqlInteger, 0, 0x8000, SQL_NULLABLE, kNone, -5},
      {SQL_COLUMN_UNSIGNED, kSqlDate, 0, 0, 1, kNone, -5},
      {SQL_COLUMN_TABLE_NAME, kSqlChar, 0, 0, -999, "ORDERS", 6}, {SQL_COLUMN_LABEL, kSqlChar, 0, 0, -999, "S.ORDER", 8},
  };
  // clang-format on
  const char name[] = "S.ORDERS.AMOUNT";
  for (const Case& c : cases) {
    ColumnDescription d{name, strlen(name), c.type, 40, c.scale, c.nullable};
    SQLLEN value = -999;
    char text[8] = "#######";
    SQLSMALLINT length = -5;
    answer_column_attribute(d, 3, c.attribute, text, sizeof text, &length, &value);
    EXPECT_EQ(value, c.number) << c.attribute << " of " << c.type;
    EXPECT_STREQ(text, c.text) << c.attribute;
    EXPECT_EQ(length, c.length) << c.attribute;
    answer_column_attribute(d, 3, SQL_COLUMN_NAME, nullptr, 4, &length, nullptr);
    EXPECT_EQ(length, 0);
  }
}

// Column 0 answers only its type; others are checked against the count (the
// "S1002" for column 0 carries an empty message text on purpose) and the
// attribute against the known ones.
TEST(ColAttributes, ChecksColumnAndAttribute) {
  StatementRecord r;
  SQLLEN value = 0;
  auto attribute = [&](SQLUSMALLINT icol, SQLUSMALLINT type) {
    std::string text =
        outcome(SQLColAttributes(r.stmt, icol, type, nullptr, 0, nullptr, &value), r.stmt);
    clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
    return text;
  };
  EXPECT_EQ(attribute(1, SQL_COLUMN_TYPE).substr(0, 11), "ERROR S1002") << "no result";
  r.stmt->column_count = 1;
  store_descriptions(r.stmt, description_section("T.A", kSqlVarbinary).ptr());
  EXPECT_EQ(attribute(0, SQL_COLUMN_TYPE), "OK");
  EXPECT_EQ(value, SQL_INTEGER);
  EXPECT_EQ(attribute(0, SQL_COLUMN_NAME), "ERROR S1002 ") << "the message text is empty";
  EXPECT_EQ(attribute(2, SQL_COLUMN_TYPE).substr(0, 11), "ERROR S1002");
  EXPECT_EQ(attribute(1, 19).substr(0, 11), "ERROR S1091");
  EXPECT_EQ(attribute(1, SQL_COLUMN_TYPE), "OK");
  EXPECT_EQ(value, -3);
  EXPECT_EQ(r.stmt->in_call, 0);
  EXPECT_EQ(diag(r.conn), "") << "a request reached the link";
}

}  // namespace
}  // namespace q4
