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
    // Floating point: scale decimals, rounded; no exponent, any locale.
    {SQL_C_DOUBLE, SQL_DOUBLE, raw(2.675001), 8, 2, "2.68"},
    {SQL_C_DOUBLE, SQL_DOUBLE, raw(std::nan("")), 8, 2, "!22003 Numeric value out of range"},
    // Default parameters are not offered.
    {SQL_C_LONG, SQL_INTEGER, raw<int32_t>(1), SQL_DEFAULT_PARAM, 0, "!IM001 Driver does not support this function"},
    // SQL_C_DEFAULT: the C type the SQL type implies.
    {SQL_C_DEFAULT, SQL_REAL, raw(1.5), 8, 1, "1.5"},  // a double
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
  if (!reserve_request(r.stmt, 0, 16)) return "!no request buffer";
  uint64_t at = 4;
  if (make_literal(r.stmt, b, &at) != SQL_SUCCESS) return "!" + diag(r.stmt);
  return std::string(reinterpret_cast<const char*>(r.stmt->request_buffer) + 4, at - 4);
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
