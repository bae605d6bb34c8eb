#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "results/column_attributes.h"
#include "results/description_cache.h"
#include "exec_fixture.h"

namespace q4 {
namespace {

struct NameCase {
  const char* name;
  NamePart part;
  const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* os) {
  static const char* const kParts[] = {"column", "table", "whole"};
  *os << kParts[static_cast<int>(c.part)] << " part of " << c.name;
}

const NameCase kNameCases[] = {
    {"ORDERS.AMOUNT", NamePart::kColumn, "AMOUNT"},
    {"ORDERS.AMOUNT", NamePart::kTable, "ORDERS"},
    {"ORDERS.AMOUNT", NamePart::kWhole, "ORDERS.AMOUNT"},
    {"S.ORDERS.AMOUNT", NamePart::kColumn, "AMOUNT"},
    {"S.ORDERS.AMOUNT", NamePart::kTable, "ORDERS"},
    {"AMOUNT", NamePart::kColumn, "AMOUNT"},
    {"AMOUNT", NamePart::kTable, ""},
    {"ORDERS.", NamePart::kColumn, ""},
    {"ORDERS.", NamePart::kTable, "ORDERS"},
    {".AMOUNT", NamePart::kColumn, ".AMOUNT"},  // the first character is no separator
    {".AMOUNT", NamePart::kTable, ""},
    {"A.B", NamePart::kTable, "A"},
    {"..X", NamePart::kColumn, "X"},
    {"..X", NamePart::kTable, "."},
    {"", NamePart::kColumn, ""},
    {"", NamePart::kTable, ""},
};

class NamePartTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NamePartTest, CopiesThePartWithItsLength) {
  const NameCase& c = GetParam();
  char out[64];
  memset(out, '#', sizeof out);
  int16_t length = sizeof out;
  copy_name_part(out, &length, c.name, strlen(c.name), c.part);
  EXPECT_STREQ(out, c.expected);
  EXPECT_EQ(length, static_cast<int16_t>(strlen(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(Names, NamePartTest, ::testing::ValuesIn(kNameCases));

// Sweep of buffer sizes with guard bytes: a part that does not fit with its
// NUL is cut to size - 1 characters, the length reported stays the buffer
// size, and nothing is written outside the buffer.
TEST(CopyNamePart, CutsSilentlyAndStaysInsideTheBuffer) {
  const std::string name = "ORDERS.AMOUNT";
  for (int16_t size = 1; size <= 10; ++size) {
    std::vector<char> area(size + 2, '#');
    int16_t length = size;
    copy_name_part(area.data() + 1, &length, name.data(), name.size(), NamePart::kColumn);
    EXPECT_EQ(area[0], '#') << size;
    EXPECT_EQ(area[size + 1], '#') << size;
    std::string copied(area.data() + 1);
    if (size <= 6) {
      EXPECT_EQ(copied, std::string("AMOUNT").substr(0, size - 1)) << size;
      EXPECT_EQ(length, size) << size;
    } else {
      EXPECT_EQ(copied, "AMOUNT") << size;
      EXPECT_EQ(length, 6) << size;
    }
  }
}

ColumnDescription describe(const char* name, int16_t type, uint32_t precision, uint16_t scale,
                           uint16_t nullable) {
  return ColumnDescription{name, strlen(name), type, precision, scale, nullable};
}

struct NumericCase {
  uint16_t desc_type;
  int16_t type;
  uint16_t scale;
  uint16_t nullable;
  SQLLEN expected;
};

void PrintTo(const NumericCase& c, std::ostream* os) {
  *os << "attribute " << c.desc_type << " of type " << c.type;
}

const NumericCase kNumericCases[] = {
    {SQL_COLUMN_COUNT, kSqlInteger, 0, 0, 3},
    {SQL_COLUMN_TYPE, kSqlVarbinary, 0, 0, -3},
    {SQL_COLUMN_TYPE, kSqlLongVarbinary, 0, 0, -4},
    {SQL_COLUMN_TYPE, kSqlTimestamp, 0, 0, 11},
    {SQL_COLUMN_LENGTH, kSqlChar, 0, 0, 40},
    {SQL_COLUMN_PRECISION, kSqlNumeric, 2, 0, 40},
    {SQL_COLUMN_DISPLAY_SIZE, kSqlNumeric, 2, 0, 40},
    {SQL_COLUMN_SCALE, kSqlVarchar, 3, 0, 254},
    {SQL_COLUMN_SCALE, kSqlChar, 0, 0, 254},
    {SQL_COLUMN_SCALE, kSqlNumeric, 2, 0, 2},
    {SQL_COLUMN_SCALE, kSqlInteger, 0, 0, 0},
    {SQL_COLUMN_NULLABLE, kSqlInteger, 0, 0, SQL_NO_NULLS},
    {SQL_COLUMN_NULLABLE, kSqlInteger, 0, 1, SQL_NULLABLE},
    {SQL_COLUMN_NULLABLE, kSqlInteger, 0, 0x8000, SQL_NULLABLE},
    {SQL_COLUMN_UNSIGNED, kSqlChar, 0, 0, 1},
    {SQL_COLUMN_UNSIGNED, kSqlVarchar, 0, 0, 1},
    {SQL_COLUMN_UNSIGNED, kSqlDate, 0, 0, 1},
    {SQL_COLUMN_UNSIGNED, kSqlTime, 0, 0, 0},
    {SQL_COLUMN_UNSIGNED, kSqlInteger, 0, 0, 0},
    {SQL_COLUMN_MONEY, kSqlNumeric, 2, 0, 0},
    {SQL_COLUMN_UPDATABLE, kSqlInteger, 0, 0, SQL_ATTR_WRITE},
    {SQL_COLUMN_AUTO_INCREMENT, kSqlInteger, 0, 0, 0},
    {SQL_COLUMN_CASE_SENSITIVE, kSqlChar, 0, 0, 0},
    {SQL_COLUMN_SEARCHABLE, kSqlChar, 0, 0, SQL_SEARCHABLE},
};

class NumericAttributeTest : public ::testing::TestWithParam<NumericCase> {};

TEST_P(NumericAttributeTest, AnswersIntoNumericOnly) {
  const NumericCase& c = GetParam();
  ColumnDescription d = describe("T.C", c.type, 40, c.scale, c.nullable);
  SQLLEN value = -999;
  char text[8] = "#######";
  SQLSMALLINT text_length = -5;
  answer_column_attribute(d, 3, c.desc_type, text, sizeof text, &text_length, &value);
  EXPECT_EQ(value, c.expected);
  EXPECT_STREQ(text, "#######") << "a numeric answer writes no text";
  EXPECT_EQ(text_length, -5);
  answer_column_attribute(d, 3, c.desc_type, text, sizeof text, &text_length, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Attributes, NumericAttributeTest, ::testing::ValuesIn(kNumericCases));

struct TextCase {
  uint16_t desc_type;
  const char* expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
  *os << "attribute " << c.desc_type;
}

const TextCase kTextCases[] = {
    {SQL_COLUMN_NAME, "AMOUNT"},           {SQL_COLUMN_TABLE_NAME, "ORDERS"},
    {SQL_COLUMN_LABEL, "S.ORDERS.AMOUNT"}, {SQL_COLUMN_TYPE_NAME, ""},
    {SQL_COLUMN_OWNER_NAME, ""},           {SQL_COLUMN_QUALIFIER_NAME, ""},
};

class TextAttributeTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextAttributeTest, AnswersIntoTextOnly) {
  const TextCase& c = GetParam();
  ColumnDescription d = describe("S.ORDERS.AMOUNT", kSqlNumeric, 10, 2, 1);
  char text[32];
  memset(text, '#', sizeof text);
  SQLSMALLINT text_length = -5;
  SQLLEN value = -999;
  answer_column_attribute(d, 1, c.desc_type, text, sizeof text, &text_length, &value);
  EXPECT_STREQ(text, c.expected);
  EXPECT_EQ(text_length, static_cast<SQLSMALLINT>(strlen(c.expected)));
  EXPECT_EQ(value, -999) << "a text answer writes no number";
}

INSTANTIATE_TEST_SUITE_P(Attributes, TextAttributeTest, ::testing::ValuesIn(kTextCases));

TEST(TextAttribute, NoRoomWritesNothingAndReportsZero) {
  ColumnDescription d = describe("T.C", kSqlChar, 10, 0, 1);
  for (uint16_t type :
       {SQL_COLUMN_NAME, SQL_COLUMN_TABLE_NAME, SQL_COLUMN_LABEL, SQL_COLUMN_TYPE_NAME}) {
    char text[4] = "###";
    SQLSMALLINT text_length = -5;
    answer_column_attribute(d, 1, type, text, 0, &text_length, nullptr);
    EXPECT_STREQ(text, "###") << type;
    EXPECT_EQ(text_length, 0) << type;
    text_length = -5;
    answer_column_attribute(d, 1, type, nullptr, 4, &text_length, nullptr);
    EXPECT_EQ(text_length, 0) << type;
  }
}

TEST(TextAttribute, CutNameReportsTheBufferSize) {
  ColumnDescription d = describe("ORDERS.AMOUNT", kSqlChar, 10, 0, 1);
  char text[6];
  SQLSMALLINT text_length = 0;
  answer_column_attribute(d, 1, SQL_COLUMN_LABEL, text, sizeof text, &text_length, nullptr);
  EXPECT_STREQ(text, "ORDER");
  EXPECT_EQ(text_length, 6);
}

TEST(DescriptionCache, BlockIsReusedOrReplacedByNextThousand) {
  StatementRecord r;
  Bytes small = description_section({description_record("A", kSqlInteger, 10, 0, 0)});
  store_descriptions(r.stmt, small.ptr());
  EXPECT_EQ(r.stmt->description_cache_size, 1000);
  uint8_t* block = r.stmt->description_cache;

  std::vector<Bytes> many;
  for (int i = 0; i < 80; ++i)
    many.push_back(description_record("T.COLUMN_" + std::to_string(i), kSqlChar, 20, 0, 1));
  Bytes big = description_section(many);
  ASSERT_GT(big.size(), 1000);
  store_descriptions(r.stmt, big.ptr());
  EXPECT_EQ(r.stmt->description_cache_size, ((big.size() - 1) / 1000 + 1) * 1000);

  block = r.stmt->description_cache;
  store_descriptions(r.stmt, small.ptr());
  EXPECT_EQ(r.stmt->description_cache, block) << "a large enough block is reused";
  ColumnDescription d;
  ASSERT_TRUE(find_cached_description(r.stmt, 1, &d));
  EXPECT_EQ(std::string(d.name, d.name_length), "A");
  EXPECT_FALSE(find_cached_description(r.stmt, 2, &d))
      << "entries of the earlier, longer section must not show through";
}

TEST(DescriptionCache, SectionSpanCoversMarkLengthAndEntries) {
  Bytes section = description_section(
      {description_record("A", kSqlInteger, 10, 0, 0), description_record("B", kSqlChar, 5, 0, 1)});
  Bytes with_rows = section;
  with_rows.u8('W');
  EXPECT_EQ(description_section_span(with_rows.ptr(), with_rows.size()), section.size());
  Bytes rows;
  rows.u16(kSqlInteger).u32(1).text("1").u8('W');
  EXPECT_EQ(description_section_span(rows.ptr(), rows.size()), 0);
  EXPECT_EQ(description_section_span(section.ptr(), 3), -1);
}

}  // namespace
}  // namespace q4
