// The literal each bound value becomes, by C type, SQL type and length.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "param_fixture.h"

namespace q4 {
namespace {

constexpr int64_t kNoIndicator = INT64_MIN;

template <typename T>
std::string raw(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

std::string date(int16_t y, uint16_t m, uint16_t d) {
  DATE_STRUCT v{y, m, d};
  return raw(v);
}

std::string timestamp(int16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                      uint32_t fraction) {
  TIMESTAMP_STRUCT v{y, mo, d, h, mi, s, fraction};
  return raw(v);
}

struct LiteralCase {
  const char* label;
  SQLSMALLINT c_type;
  SQLSMALLINT sql_type;
  std::string value;  // the bytes the value pointer points at (a NUL follows)
  int64_t indicator;  // kNoIndicator: no length/indicator variable
  SQLSMALLINT scale;
  std::string literal;  // "!SQLSTATE message" for a refusal
};

const std::vector<LiteralCase> kCases = {
    // Character values: quotes and apostrophes.
    {"apostrophe doubled", SQL_C_CHAR, SQL_VARCHAR, "O'Brien", SQL_NTS, 0, "'O''Brien'"},
    {"two adjacent apostrophes kept as two", SQL_C_CHAR, SQL_VARCHAR, "it''s", SQL_NTS, 0,
     "'it''s'"},
    {"run of three apostrophes becomes four", SQL_C_CHAR, SQL_VARCHAR, "a'''b", SQL_NTS, 0,
     "'a''''b'"},
    {"lone apostrophe", SQL_C_CHAR, SQL_VARCHAR, "'", SQL_NTS, 0, "''''"},
    {"apostrophe at both ends", SQL_C_CHAR, SQL_VARCHAR, "'x'", SQL_NTS, 0, "'''x'''"},
    {"question mark in a value is text", SQL_C_CHAR, SQL_VARCHAR, "?", SQL_NTS, 0, "'?'"},
    {"no indicator reads to the NUL", SQL_C_CHAR, SQL_VARCHAR, "abc", kNoIndicator, 0, "'abc'"},
    {"explicit length takes a prefix", SQL_C_CHAR, SQL_VARCHAR, "ABCDEF", 3, 0, "'ABC'"},
    {"NUL inside ends the value, closing quote kept", SQL_C_CHAR, SQL_VARCHAR,
     std::string("AB\0CD", 5), 5, 0, "'AB'"},
    {"empty value", SQL_C_CHAR, SQL_VARCHAR, "", 0, 0, "''"},
    {"invalid negative length", SQL_C_CHAR, SQL_VARCHAR, "abc", -4, 0,
     "!S1090 Invalid string or buffer length"},
    // Trailing spaces: dropped for SQL_CHAR only, never down to nothing.
    {"SQL_CHAR drops trailing spaces", SQL_C_CHAR, SQL_CHAR, "AB   ", SQL_NTS, 0, "'AB'"},
    {"SQL_VARCHAR keeps trailing spaces", SQL_C_CHAR, SQL_VARCHAR, "AB   ", SQL_NTS, 0, "'AB   '"},
    {"SQL_LONGVARCHAR keeps trailing spaces", SQL_C_CHAR, SQL_LONGVARCHAR, "AB ", SQL_NTS, 0,
     "'AB '"},
    {"SQL_CHAR of spaces keeps one", SQL_C_CHAR, SQL_CHAR, "   ", SQL_NTS, 0, "' '"},
    {"SQL_CHAR keeps leading spaces", SQL_C_CHAR, SQL_CHAR, "  A  ", SQL_NTS, 0, "'  A'"},
    // Date and time escapes pass unquoted for the date and time SQL types.
    {"date escape for SQL_DATE", SQL_C_CHAR, SQL_DATE, "{d '2024-03-05'}", SQL_NTS, 0,
     "{d '2024-03-05'}"},
    {"time escape for SQL_TIME", SQL_C_CHAR, SQL_TIME, "{t '10:11:12'}", SQL_NTS, 0,
     "{t '10:11:12'}"},
    {"timestamp escape for SQL_TIMESTAMP", SQL_C_CHAR, SQL_TIMESTAMP, "{ts '2024-03-05 10:11:12'}",
     SQL_NTS, 0, "{ts '2024-03-05 10:11:12'}"},
    {"date escape for SQL_VARCHAR is quoted", SQL_C_CHAR, SQL_VARCHAR, "{d '2024-03-05'}", SQL_NTS,
     0, "'{d ''2024-03-05''}'"},
    {"escape start shorter than four is quoted", SQL_C_CHAR, SQL_DATE, "{d }", 3, 0, "'{d '"},
    {"plain date text for SQL_DATE is quoted", SQL_C_CHAR, SQL_DATE, "2024-03-05", SQL_NTS, 0,
     "'2024-03-05'"},
    // Integers.
    {"SQL_C_LONG minimum", SQL_C_LONG, SQL_INTEGER, raw<int32_t>(INT32_MIN), 4, 0, "-2147483648"},
    {"SQL_C_SLONG", SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(7), 4, 0, "7"},
    {"SQL_C_ULONG above the signed range", SQL_C_ULONG, SQL_INTEGER, raw<uint32_t>(3000000000u), 4,
     0, "3000000000"},
    {"SQL_C_SHORT minimum", SQL_C_SHORT, SQL_SMALLINT, raw<int16_t>(-32768), 2, 0, "-32768"},
    {"SQL_C_SSHORT", SQL_C_SSHORT, SQL_SMALLINT, raw<int16_t>(-5), 2, 0, "-5"},
    {"SQL_C_USHORT maximum", SQL_C_USHORT, SQL_SMALLINT, raw<uint16_t>(65535), 2, 0, "65535"},
    {"SQL_C_BIT one", SQL_C_BIT, SQL_INTEGER, raw<uint8_t>(1), 1, 0, "1"},
    {"SQL_C_BIT zero", SQL_C_BIT, SQL_INTEGER, raw<uint8_t>(0), 1, 0, "0"},
    {"fixed size ignores an indicator of 0", SQL_C_LONG, SQL_INTEGER, raw<int32_t>(12), 0, 0, "12"},
    {"fixed size without indicator", SQL_C_LONG, SQL_INTEGER, raw<int32_t>(12), kNoIndicator, 0,
     "12"},
    // Floating point: scale decimals, rounded; no exponent, any locale.
    {"double with scale 2", SQL_C_DOUBLE, SQL_DOUBLE, raw(3.14159), 8, 2, "3.14"},
    {"double with scale 0 has no point", SQL_C_DOUBLE, SQL_DOUBLE, raw(3.14159), 8, 0, "3"},
    {"double rounds up", SQL_C_DOUBLE, SQL_DOUBLE, raw(2.675001), 8, 2, "2.68"},
    {"negative scale writes no decimals", SQL_C_DOUBLE, SQL_DOUBLE, raw(3.7), 8, -3, "4"},
    {"large double without exponent", SQL_C_DOUBLE, SQL_DOUBLE, raw(1e20), 8, 0,
     "100000000000000000000"},
    {"negative double", SQL_C_DOUBLE, SQL_DOUBLE, raw(-0.5), 8, 1, "-0.5"},
    {"float widened", SQL_C_FLOAT, SQL_REAL, raw(0.25f), 4, 3, "0.250"},
    {"NaN has no literal", SQL_C_DOUBLE, SQL_DOUBLE, raw(std::nan("")), 8, 2,
     "!22003 Numeric value out of range"},
    {"infinity has no literal", SQL_C_DOUBLE, SQL_DOUBLE, raw(HUGE_VAL), 8, 2,
     "!22003 Numeric value out of range"},
    // Dates and times.
    {"date", SQL_C_DATE, SQL_DATE, date(2024, 3, 5), 6, 0, "'2024-03-05'"},
    {"date with a short year", SQL_C_DATE, SQL_DATE, date(99, 12, 31), 6, 0, "'99-12-31'"},
    {"time pads to two digits", SQL_C_TIME, SQL_TIME, raw(TIME_STRUCT{7, 8, 9}), 6, 0,
     "'07:08:09'"},
    {"timestamp loses its fraction", SQL_C_TIMESTAMP, SQL_TIMESTAMP,
     timestamp(2024, 3, 5, 10, 11, 12, 999999999), 16, 0, "'2024-03-05 10:11:12'"},
    // NULL whatever the type.
    {"NULL character value", SQL_C_CHAR, SQL_VARCHAR, "abc", SQL_NULL_DATA, 0, "NULL"},
    {"NULL integer", SQL_C_LONG, SQL_INTEGER, raw<int32_t>(1), SQL_NULL_DATA, 0, "NULL"},
    {"NULL binary", SQL_C_BINARY, SQL_VARBINARY, "xy", SQL_NULL_DATA, 0, "NULL"},
    {"NULL of a refused C type", SQL_C_TINYINT, SQL_TINYINT, raw<int8_t>(1), SQL_NULL_DATA, 0,
     "NULL"},
    {"default parameter", SQL_C_LONG, SQL_INTEGER, raw<int32_t>(1), SQL_DEFAULT_PARAM, 0,
     "!IM001 Driver does not support this function"},
    // SQL_C_DEFAULT: the C type the SQL type implies.
    {"default for SQL_INTEGER reads a long", SQL_C_DEFAULT, SQL_INTEGER, raw<int32_t>(-9), 4, 0,
     "-9"},
    {"default for SQL_SMALLINT reads a short", SQL_C_DEFAULT, SQL_SMALLINT, raw<int16_t>(-9), 2, 0,
     "-9"},
    {"default for SQL_REAL reads a double", SQL_C_DEFAULT, SQL_REAL, raw(1.5), 8, 1, "1.5"},
    {"default for SQL_DOUBLE reads a double", SQL_C_DEFAULT, SQL_DOUBLE, raw(1.5), 8, 1, "1.5"},
    {"default for SQL_VARCHAR reads text", SQL_C_DEFAULT, SQL_VARCHAR, "x'y", SQL_NTS, 0, "'x''y'"},
    {"default for SQL_CHAR trims", SQL_C_DEFAULT, SQL_CHAR, "x  ", SQL_NTS, 0, "'x'"},
    {"default for SQL_NUMERIC reads text", SQL_C_DEFAULT, SQL_NUMERIC, "12.50", SQL_NTS, 0,
     "'12.50'"},
    {"default for SQL_DECIMAL reads text", SQL_C_DEFAULT, SQL_DECIMAL, "1", SQL_NTS, 0, "'1'"},
    {"default for SQL_BIGINT reads text", SQL_C_DEFAULT, SQL_BIGINT, "12345678901", SQL_NTS, 0,
     "'12345678901'"},
    {"default for SQL_LONGVARCHAR reads text", SQL_C_DEFAULT, SQL_LONGVARCHAR, "z", SQL_NTS, 0,
     "'z'"},
    {"default for SQL_VARBINARY is binary", SQL_C_DEFAULT, SQL_VARBINARY, "abc", 3, 0, "0x0"},
    {"default for SQL_DATE reads a date", SQL_C_DEFAULT, SQL_DATE, date(2000, 1, 2), 6, 0,
     "'2000-01-02'"},
    {"default for SQL_TIME reads a time", SQL_C_DEFAULT, SQL_TIME, raw(TIME_STRUCT{23, 59, 58}), 6,
     0, "'23:59:58'"},
    {"default for SQL_TIMESTAMP reads a timestamp", SQL_C_DEFAULT, SQL_TIMESTAMP,
     timestamp(2000, 1, 2, 3, 4, 5, 0), 16, 0, "'2000-01-02 03:04:05'"},
    {"default for SQL_FLOAT is refused", SQL_C_DEFAULT, SQL_FLOAT, raw(1.5), 8, 0,
     "!07006 Restricted data type attribute violation"},
    {"default for SQL_TINYINT is refused", SQL_C_DEFAULT, SQL_TINYINT, raw<int8_t>(1), 1, 0,
     "!07006 Restricted data type attribute violation"},
    {"default for SQL_BIT is refused", SQL_C_DEFAULT, SQL_BIT, raw<uint8_t>(1), 1, 0,
     "!07006 Restricted data type attribute violation"},
    {"default for type 0 is refused", SQL_C_DEFAULT, 0, "x", SQL_NTS, 0,
     "!07006 Restricted data type attribute violation"},
    {"type check comes before NULL", SQL_C_DEFAULT, SQL_FLOAT, raw(1.5), SQL_NULL_DATA, 0,
     "!07006 Restricted data type attribute violation"},
    // C types without a literal.
    {"SQL_C_TINYINT refused", SQL_C_TINYINT, SQL_TINYINT, raw<int8_t>(1), 1, 0,
     "!S1000 General error"},
    {"SQL_C_STINYINT refused", SQL_C_STINYINT, SQL_TINYINT, raw<int8_t>(1), 1, 0,
     "!S1000 General error"},
    {"SQL_C_UTINYINT refused", SQL_C_UTINYINT, SQL_TINYINT, raw<uint8_t>(1), 1, 0,
     "!S1000 General error"},
    {"SQL_C_SBIGINT refused", SQL_C_SBIGINT, SQL_BIGINT, raw<int64_t>(1), 8, 0,
     "!S1000 General error"},
    {"SQL_C_WCHAR refused", SQL_C_WCHAR, SQL_VARCHAR, "a\0", 2, 0, "!S1000 General error"},
    // Binary values: a token in the text, the bytes in a block.
    {"binary token", SQL_C_BINARY, SQL_VARBINARY, "abc", 3, 0, "0x0"},
    {"empty binary", SQL_C_BINARY, SQL_VARBINARY, "", 0, 0, "0x0"},
    {"binary with SQL_NTS has no byte count", SQL_C_BINARY, SQL_VARBINARY, "abc", SQL_NTS, 0,
     "!S1090 Invalid string or buffer length"},
    {"binary without indicator has no byte count", SQL_C_BINARY, SQL_VARBINARY, "abc", kNoIndicator,
     0, "!S1090 Invalid string or buffer length"},
    {"binary with a negative length", SQL_C_BINARY, SQL_VARBINARY, "abc", -7, 0,
     "!S1090 Invalid string or buffer length"},
};

class LiteralTest : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(LiteralTest, ValueBecomesItsLiteral) {
  const LiteralCase& c = GetParam();
  ParamRecord r;
  std::string value = c.value;  // a modifiable copy with a NUL after it
  int64_t indicator = c.indicator;
  ParamBinding* b = r.bind_value(1, c.c_type, c.sql_type, value.data(),
                                 c.indicator == kNoIndicator ? nullptr : &indicator, c.scale);
  EXPECT_EQ(r.literal(*b), c.literal);
}

INSTANTIATE_TEST_SUITE_P(Literals, LiteralTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LiteralCase>& info) {
                           std::string name;
                           for (const char* p = info.param.label; *p != '\0'; ++p) {
                             name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

// A literal far longer than io_buffer (20,480 bytes) comes out whole; an even
// run of apostrophes counts as already doubled.
TEST(CharacterLiteral, LongValueIsNeverCut) {
  ParamRecord r;
  std::string value(15000, '\'');
  value += std::string(30000, 'x');
  ParamBinding* b = r.bind_value(1, SQL_C_CHAR, SQL_VARCHAR, value.c_str(), nullptr);
  std::string literal = r.literal(*b);
  ASSERT_EQ(literal.size(), 1 + 15000 + 30000 + 1u);
  EXPECT_EQ(literal, "'" + std::string(15000, '\'') + std::string(30000, 'x') + "'");
}

// A value read in place has no alignment guarantee.
TEST(NumberLiteral, MisalignedValueIsRead) {
  ParamRecord r;
  alignas(8) unsigned char area[16] = {};
  double v = 6.25;
  memcpy(area + 1, &v, sizeof v);
  ParamBinding* b = r.bind_value(1, SQL_C_DOUBLE, SQL_DOUBLE, area + 1, nullptr, 2);
  EXPECT_EQ(r.literal(*b), "6.25");
}

TEST(NumberLiteral, NullValuePointerIsAnInvalidArgument) {
  ParamRecord r;
  int64_t length = 4;
  ParamBinding* b = r.bind_value(1, SQL_C_LONG, SQL_INTEGER, nullptr, &length);
  EXPECT_EQ(r.literal(*b), "!S1009 Invalid argument value");
}

}  // namespace
}  // namespace q4
