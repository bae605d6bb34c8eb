// The literal each bound value becomes (common types round-trip in the e2e parameter test).
#include <cmath>

#include "statement_fixture.h"

namespace q4 {
namespace {

constexpr int64_t kNoIndicator = INT64_MIN;

template <typename T>
std::string raw(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

// UTF-16 units as bytes, with a 0 unit after them (for SQL_NTS).
std::string wide(const std::u16string& s) {
  return std::string(reinterpret_cast<const char*>(s.c_str()), 2 * (s.size() + 1));
}

struct Case {
  SQLSMALLINT c_type, sql_type;
  std::string value;  // the bytes the value pointer points at (a NUL follows)
  int64_t indicator;  // kNoIndicator: no length/indicator variable
  SQLSMALLINT scale;
  const char* literal;  // "!SQLSTATE message" for a refusal
};

const char kRestricted[] = "!07006 Restricted data type attribute violation";
const char kGeneral[] = "!S1000 General error";
const char kLength[] = "!S1090 Invalid string or buffer length";

// clang-format off
const Case kCases[] = {
    // Character values: apostrophes doubled unless already an even run.
    {SQL_C_CHAR, SQL_VARCHAR, "O'Brien", kNoIndicator, 0, "'O''Brien'"},
    {SQL_C_CHAR, SQL_VARCHAR, "ABCDEF", 3, 0, "'ABC'"},
    {SQL_C_CHAR, SQL_VARCHAR, std::string("AB\0CD", 5), 5, 0, "'AB'"},  // a NUL ends the value
    {SQL_C_CHAR, SQL_VARCHAR, "abc", -4, 0, kLength},
    // Trailing spaces: dropped for SQL_CHAR, never down to nothing.
    {SQL_C_CHAR, SQL_CHAR, "   ", SQL_NTS, 0, "' '"},
    // Wide text: UTF-8 in the statement, the same quoting and padding rules; lengths in bytes.
    {SQL_C_WCHAR, SQL_WVARCHAR, wide(u"O'Brien Zoë 東京 😀"), SQL_NTS, 0, "'O''Brien Zo\xC3\xAB \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80'"},
    {SQL_C_WCHAR, SQL_VARCHAR, wide(u"abcd"), 5, 0, "'ab'"},  // half a unit is not read
    {SQL_C_WCHAR, SQL_WCHAR, wide(u"AB  "), 8, 0, "'AB'"},
    {SQL_C_WCHAR, SQL_VARCHAR, wide(u"x\xD83D!"), SQL_NTS, 0, "'x\xEF\xBF\xBD!'"},  // unpaired surrogate
    {SQL_C_WCHAR, SQL_DATE, wide(u"{d '2024-03-05'}"), SQL_NTS, 0, "{d '2024-03-05'}"},
    {SQL_C_DEFAULT, SQL_WLONGVARCHAR, wide(u"ë"), 2, 0, "'\xC3\xAB'"},
    // The other integer widths.
    {SQL_C_SBIGINT, SQL_BIGINT, raw<int64_t>(INT64_MIN), 8, 0, "-9223372036854775808"},
    {SQL_C_UBIGINT, SQL_BIGINT, raw<uint64_t>(UINT64_MAX), 8, 0, "18446744073709551615"},
    {SQL_C_TINYINT, SQL_SMALLINT, raw<int8_t>(-128), 1, 0, "-128"},
    {SQL_C_STINYINT, SQL_SMALLINT, raw<int8_t>(-1), 1, 0, "-1"},
    {SQL_C_UTINYINT, SQL_SMALLINT, raw<uint8_t>(255), 1, 0, "255"},
    // Floating point bound to a floating or character type: every digit needed to read the
    // value back, whatever the scale; no exponent, any locale.
    {SQL_C_DOUBLE, SQL_DOUBLE, raw(3.25), 8, 0, "3.25"},
    {SQL_C_DOUBLE, SQL_FLOAT, raw(-1e10), 8, 2, "-10000000000"},
    {SQL_C_DOUBLE, SQL_VARCHAR, raw(1e-7), 8, 0, "0.0000001"},
    {SQL_C_FLOAT, SQL_REAL, raw(0.1f), 4, 0, "0.1"},  // the float's own shortest form
    {SQL_C_DOUBLE, SQL_DOUBLE, raw(std::nan("")), 8, 2, "!22003 Numeric value out of range"},
    // ... and to a decimal or integer type: `scale` decimals, rounded.
    {SQL_C_DOUBLE, SQL_NUMERIC, raw(2.675001), 8, 2, "2.68"},
    {SQL_C_DOUBLE, SQL_INTEGER, raw(3.25), 8, 0, "3"},
    // Default parameters are not offered.
    {SQL_C_LONG, SQL_INTEGER, raw<int32_t>(1), SQL_DEFAULT_PARAM, 0, "!IM001 Driver does not support this function"},
    // SQL_C_DEFAULT: the C type the SQL type implies.
    {SQL_C_DEFAULT, SQL_REAL, raw(1.25), 8, 1, "1.25"},  // a double
    {SQL_C_DEFAULT, SQL_FLOAT, raw(1.5), SQL_NULL_DATA, 0, kRestricted},  // checked before NULL
    {0, SQL_INTEGER, raw<int32_t>(1), 4, 0, kGeneral},  // no literal: only SQL_C_DEFAULT is mapped
    // Only the indicator's low 32 bits count: a 32-bit SQL_NULL_DATA in a
    // zeroed 64-bit variable is NULL, not four billion bytes to read.
    {SQL_C_BINARY, SQL_VARBINARY, "abc", 0xFFFFFFFFll, 0, "NULL"},
    {SQL_C_CHAR, SQL_VARCHAR, "abc", (int64_t{1} << 32) | 2, 0, "'ab'"},
    // Binary values: a token in the text (the bytes go in a block) needing a byte count.
    {SQL_C_BINARY, SQL_VARBINARY, "abc", 3, 0, "0x0"},
    {SQL_C_BINARY, SQL_VARBINARY, "abc", SQL_NTS, 0, kLength},
};
// clang-format on

// make_literal of `b` alone: the text it appends, or "!" and the diagnostic.
std::string literal(StatementRecord& r, const ParamBinding& b) {
  RequestWriter out(r.stmt);
  if (!out.start(0)) return "!no request buffer";
  if (make_literal(r.stmt, b, &out) != SQL_SUCCESS) return "!" + diag(r.stmt);
  return std::string(reinterpret_cast<const char*>(r.stmt->request_buffer), out.length());
}

TEST(Literal, ValueBecomesItsLiteral) {
  for (const Case& c : kCases) {
    StatementRecord r;
    std::string value = c.value;  // a modifiable copy with a NUL after it
    int64_t indicator = c.indicator;
    ParamBinding* b = r.bind(1, c.indicator == kNoIndicator ? nullptr : &indicator, c.c_type,
                             c.sql_type, value.data(), c.scale);
    EXPECT_EQ(literal(r, *b), c.literal) << c.c_type << " " << c.sql_type << " " << c.indicator;
  }
}

}  // namespace
}  // namespace q4
