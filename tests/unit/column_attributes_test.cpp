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

ColumnDescription describe(const char* name, int16_t type, uint16_t scale, uint16_t nullable) {
  return ColumnDescription{name, strlen(name), type, 40, scale, nullable};
}

// Numeric attributes write only the number: the rows with a rule of their own.
TEST(ColumnAttribute, NumericAnswers) {
  // clang-format off
  struct Case { uint16_t desc_type; int16_t type; uint16_t scale, nullable; SQLLEN expected; } cases[] = {
      {SQL_COLUMN_COUNT, kSqlInteger, 0, 0, 3},            {SQL_COLUMN_TYPE, kSqlVarbinary, 0, 0, -3},
      {SQL_COLUMN_SCALE, kSqlVarchar, 3, 0, 254},          {SQL_COLUMN_SCALE, kSqlNumeric, 2, 0, 2},
      {SQL_COLUMN_NULLABLE, kSqlInteger, 0, 0x8000, SQL_NULLABLE}, {SQL_COLUMN_UNSIGNED, kSqlDate, 0, 0, 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SQLLEN value = -999;
    char text[8] = "#######";
    SQLSMALLINT text_length = -5;
    answer_column_attribute(describe("T.C", c.type, c.scale, c.nullable), 3, c.desc_type, text,
                            sizeof text, &text_length, &value);
    EXPECT_EQ(value, c.expected) << c.desc_type << " of " << c.type;
    EXPECT_STREQ(text, "#######") << "a numeric answer writes no text";
    EXPECT_EQ(text_length, -5);
  }
}

// Text attributes write only the text; no buffer writes nothing and reports
// 0; a cut text reports the buffer size.
TEST(ColumnAttribute, TextAnswers) {
  ColumnDescription d = describe("S.ORDERS.AMOUNT", kSqlNumeric, 2, 1);
  char text[32];
  SQLSMALLINT text_length = -5;
  SQLLEN value = -999;
  answer_column_attribute(d, 1, SQL_COLUMN_TABLE_NAME, text, sizeof text, &text_length, &value);
  EXPECT_STREQ(text, "ORDERS");
  EXPECT_EQ(text_length, 6);
  EXPECT_EQ(value, -999) << "a text answer writes no number";
  answer_column_attribute(d, 1, SQL_COLUMN_NAME, nullptr, 4, &text_length, nullptr);
  EXPECT_EQ(text_length, 0);
  answer_column_attribute(d, 1, SQL_COLUMN_LABEL, text, 6, &text_length, nullptr);
  EXPECT_STREQ(text, "S.ORD");
  EXPECT_EQ(text_length, 6);
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

// A section's span covers mark, length and entries; rows have none; a cut
// section is -1.
TEST(DescriptionCache, SectionSpan) {
  Bytes section = description_section("A", kSqlInteger);
  Bytes with_rows = section;
  EXPECT_EQ(description_section_span(with_rows.u8('W').ptr(), with_rows.size()), section.size());
  Bytes rows = row_value(kSqlInteger, "1").u8('W');
  EXPECT_EQ(description_section_span(rows.ptr(), rows.size()), 0);
  EXPECT_EQ(description_section_span(section.ptr(), 3), -1);
}

}  // namespace
}  // namespace q4
