// The literal each bound value becomes in the request, alone and as the rows of a column-wise
// parameter array, each read at its own offset (common types round-trip in the e2e parameter test).
#include <cmath>
#include <tuple>

#include "platform/clock.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

template <typename T>
std::string raw(std::initializer_list<T> values) {
  std::string bytes;
  for (const T& v : values) bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
  return bytes;
}

// UTF-16 units as bytes, with a 0 unit after them (for SQL_NTS).
std::string wide(const std::u16string& s) {
  return std::string(reinterpret_cast<const char*>(s.c_str()), 2 * (s.size() + 1));
}

// SQL_NUMERIC_STRUCTs with the magnitude given in decimal digits, back to back.
std::string numerics(std::initializer_list<std::tuple<int, int, const char*>> values) {
  std::vector<SQL_NUMERIC_STRUCT> all;
  for (const auto& [sign, scale, digits] : values) {
    SQL_NUMERIC_STRUCT n{};
    n.precision = 38;
    n.scale = static_cast<SQLSCHAR>(scale);
    n.sign = static_cast<SQLCHAR>(sign);
    unsigned __int128 v = 0;
    for (const char* p = digits; *p; ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
    for (int i = 0; i < 16; ++i) n.val[i] = static_cast<SQLCHAR>(v >> (8 * i));
    all.push_back(n);
  }
  return std::string(reinterpret_cast<const char*>(all.data()), all.size() * sizeof all[0]);
}

struct Case {
  SQLSMALLINT c_type, sql_type;
  std::string value;                // one value, or the rows back to back (a NUL follows)
  std::vector<int64_t> indicators;  // one per row; none: no length/indicator variable
  SQLSMALLINT scale;
  std::vector<const char*> literals;  // one per row; "!SQLSTATE message" for a refusal
  int64_t buffer_length = 0;
};

constexpr int64_t kNts = SQL_NTS, kNull = SQL_NULL_DATA;
const char kRestricted[] = "!07006 Restricted data type attribute violation";
const char kGeneral[] = "!S1000 General error";
const char kLength[] = "!S1090 Invalid string or buffer length";
const char kOverflow[] = "!22008 Datetime field overflow";

// clang-format off
const Case kCases[] = {
    // Character values: an apostrophe doubled, two adjacent ones copied as they stand, so that
    // three become four (lone ones, narrow and wide: e2e/pyodbc_test.py, pyodbc_defaults_test.py).
    {SQL_C_CHAR, SQL_VARCHAR, "O'Brien, it''s '''", {}, 0, {"'O''Brien, it''s '''''"}},
    {SQL_C_CHAR, SQL_VARCHAR, "ABCDEF", {3}, 0, {"'ABC'"}},
    {SQL_C_CHAR, SQL_VARCHAR, "abc", {-4}, 0, {kLength}},
    // Trailing spaces: dropped for SQL_CHAR, never down to nothing.
    {SQL_C_CHAR, SQL_CHAR, "   ", {kNts}, 0, {"' '"}},
    // Wide text: UTF-8 in the statement, the same padding rules; lengths in bytes.
    {SQL_C_WCHAR, SQL_VARCHAR, wide(u"abcd"), {5}, 0, {"'ab'"}},  // half a unit is not read
    {SQL_C_WCHAR, SQL_VARCHAR, wide(u"x\xD83D!"), {kNts}, 0, {"'x\xEF\xBF\xBD!'"}},  // unpaired surrogate
    // Floating point bound to a floating or character type: every digit needed to read the
    // value back, whatever the scale; no exponent, any locale.
    {SQL_C_DOUBLE, SQL_DOUBLE, raw({3.25}), {8}, 0, {"3.25"}},
    {SQL_C_FLOAT, SQL_REAL, raw({0.1f}), {4}, 0, {"0.1"}},  // the float's own shortest form
    {SQL_C_DOUBLE, SQL_DOUBLE, raw({std::nan("")}), {8}, 2, {"!22003 Numeric value out of range"}},
    // ... and to a decimal or integer type: `scale` decimals, rounded.
    {SQL_C_DOUBLE, SQL_NUMERIC, raw({2.675001}), {8}, 2, {"2.68"}},
    {SQL_C_DOUBLE, SQL_INTEGER, raw({3.25}), {8}, 0, {"3"}},
    // SQL_NUMERIC_STRUCT: the magnitude over 10 to the binding's decimal digits (the structure's
    // own precision and scale are not read), quoted as the exact decimal; sign 0 is negative
    // (30 digits at scale 10: odbc3/numeric_descriptor_test.c).
    {SQL_C_NUMERIC, SQL_DECIMAL, numerics({{0, 2, "5"}}), {19}, 2, {"'-0.05'"}},
    {SQL_C_NUMERIC, SQL_NUMERIC, numerics({{0, 0, "0"}}), {19}, 3, {"'0.000'"}},  // no "-0"
    {SQL_C_NUMERIC, SQL_NUMERIC, numerics({{0, 0, "340282366920938463463374607431768211455"}}), {19}, 38,
     {"'-3.40282366920938463463374607431768211455'"}},  // all 128 bits
    {SQL_C_NUMERIC, SQL_NUMERIC, numerics({{1, 2, "125"}, {0, 2, "750"}, {1, 2, "1"}}), {}, 2,
     {"'1.25'", "'-7.50'", "'0.01'"}},  // an array steps by the structure's 19 bytes
    // Default parameters are not offered.
    {SQL_C_LONG, SQL_INTEGER, raw<int32_t>({1}), {SQL_DEFAULT_PARAM}, 0, {"!IM001 Driver does not support this function"}},
    // SQL_C_DEFAULT: the C type the SQL type implies.
    {SQL_C_DEFAULT, SQL_FLOAT, raw({1.5}), {kNull}, 0, {kRestricted}},  // checked before NULL
    {0, SQL_INTEGER, raw<int32_t>({1}), {4}, 0, {kGeneral}},  // no literal: only SQL_C_DEFAULT is mapped
    // Only the indicator's low 32 bits count: a 32-bit SQL_NULL_DATA in a
    // zeroed 64-bit variable is NULL, not four billion bytes to read.
    {SQL_C_BINARY, SQL_VARBINARY, "abc", {0xFFFFFFFFll}, 0, {"NULL"}},
    {SQL_C_CHAR, SQL_VARCHAR, "abc", {(int64_t{1} << 32) | 2}, 0, {"'ab'"}},
    // Binary values: a token in the text (the bytes go in a block) needing a byte count.
    {SQL_C_BINARY, SQL_VARBINARY, "abc", {3}, 0, {"0x0"}},
    {SQL_C_BINARY, SQL_VARBINARY, "abc", {kNts}, 0, {kLength}},
    // Arrays: each row at its offset, the element size of its C type.
    {SQL_C_LONG, SQL_INTEGER, raw<int32_t>({1, -2, 3}), {4, 4, 4}, 0, {"1", "-2", "3"}},
    // Dates and times: four-digit years (years 1 to 9999: e2e/pyodbc_datetime_test.py); only what the calendar holds (year 1 to 9999, February
    // 29 of leap years, hours to 23), anything else "22008" before anything is sent.
    {SQL_C_DATE, SQL_DATE, raw<DATE_STRUCT>({{2024, 2, 29}, {2023, 2, 29}, {2000, 2, 29}, {1900, 2, 29}, {2024, 4, 31}}), {}, 0,
     {"'2024-02-29'", kOverflow, "'2000-02-29'", kOverflow, kOverflow}},
    {SQL_C_TIME, SQL_TIME, raw<TIME_STRUCT>({{0, 0, 0}, {10, 20, 30}, {23, 59, 59}, {24, 0, 0}, {1, 60, 0}, {1, 0, 60}}), {}, 0,
     {"'00:00:00'", "'10:20:30'", "'23:59:59'", kOverflow, kOverflow, kOverflow}},
    // Timestamps carry their fraction to the nanosecond, without trailing zeros; a whole second
    // is written as it always was.
    {SQL_C_TIMESTAMP, SQL_TIMESTAMP,
     raw<TIMESTAMP_STRUCT>({{2024, 1, 2, 3, 4, 5, 0}, {2024, 3, 5, 10, 20, 30, 500000000}, {2024, 3, 5, 10, 20, 30, 123000000},
                            {2024, 3, 5, 10, 20, 30, 123456000}, {2024, 3, 5, 10, 20, 30, 123456789}, {2024, 3, 5, 10, 20, 30, 1}}), {}, 0,
     {"'2024-01-02 03:04:05'", "'2024-03-05 10:20:30.5'", "'2024-03-05 10:20:30.123'", "'2024-03-05 10:20:30.123456'",
      "'2024-03-05 10:20:30.123456789'", "'2024-03-05 10:20:30.000000001'"}},
    {SQL_C_TIMESTAMP, SQL_TIMESTAMP,
     raw<TIMESTAMP_STRUCT>({{1, 1, 1, 0, 0, 0, 0}, {2000, 2, 29, 23, 59, 59, 999999999}, {2023, 2, 29, 0, 0, 0, 0},
                            {2024, 1, 1, 24, 0, 0, 0}, {2024, 1, 1, 0, 0, 0, 1000000000}}), {}, 0,
     {"'0001-01-01 00:00:00'", "'2000-02-29 23:59:59.999999999'", kOverflow, kOverflow, kOverflow}},
    // Bound to a time parameter a timestamp is its time, fraction and all.
    {SQL_C_TIMESTAMP, SQL_TIME, raw<TIMESTAMP_STRUCT>({{2024, 3, 5, 10, 20, 30, 250000000}, {2024, 3, 5, 0, 0, 0, 0}}), {}, 0,
     {"'10:20:30.25'", "'00:00:00'"}},
    {SQL_C_SBIGINT, SQL_BIGINT, raw<int64_t>({1, INT64_MIN, 3}), {}, 0, {"1", "-9223372036854775808", "3"}},
    {SQL_C_UBIGINT, SQL_BIGINT, raw<uint64_t>({1, UINT64_MAX, 3}), {}, 0, {"1", "18446744073709551615", "3"}},
    // SQL_C_DEFAULT steps by the size of the C type its SQL type implies.
    {SQL_C_DEFAULT, SQL_INTEGER, raw<int32_t>({7, 8, 9}), {}, 0, {"7", "8", "9"}},
    // Character values step by cbValueMax, whatever their lengths; wide ones in bytes.
    {SQL_C_CHAR, SQL_VARCHAR, std::string("ab\0\0\0\0it's\0\0xyz\0\0\0", 18), {kNts, kNts, 2}, 0,
     {"'ab'", "'it''s'", "'xy'"}, 6},
    {SQL_C_WCHAR, SQL_WVARCHAR, raw<SQLWCHAR>({'a', 0, 0, 0, 'c', 'd', 0, 0, 0xE9, 0x27, 0, 0}),
     {kNts, kNts, kNts}, 0, {"'a'", "'cd'", "'\xC3\xA9'''"}, 8},
    // NULL rows come from the indicator array, whatever the value holds.
    {SQL_C_LONG, SQL_INTEGER, raw<int32_t>({1, 2, 3}), {0, kNull, 0}, 0, {"1", "NULL", "3"}},
};
// clang-format on

TEST(Literal, EachRowBecomesItsLiteral) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.c_type) + " " + std::to_string(c.sql_type) + " " +
                 c.literals.back());
    StatementRecord r;
    std::string value = c.value;  // a modifiable copy with a NUL after it
    std::vector<int64_t> indicators = c.indicators;
    ParamBinding* b = r.bind(1, indicators.empty() ? nullptr : indicators.data(), c.c_type,
                             c.sql_type, value.data(), c.scale);
    b->buffer_length = c.buffer_length;
    for (uint64_t row = 0; row < c.literals.size(); ++row) {
      r.stmt->param_row = row;
      clear_diagnostic(r.stmt->sqlstate, r.stmt->message);
      std::string text = build_request(r.stmt, "SELECT ?", 8) == SQL_SUCCESS
                             ? reinterpret_cast<const char*>(r.stmt->request_buffer) + 4
                             : "SELECT !" + diag(r.stmt);
      EXPECT_EQ(text, "SELECT " + std::string(c.literals[row])) << "row " << row;
    }
  }
}

// A time bound to a timestamp parameter is dated today (UTC), as a time read as a timestamp
// is; bound to a time or a character type it stays a time.
TEST(Literal, TimeForATimestampIsDatedToday) {
  override_utc_today(987, 6, 5);
  for (auto [sql_type, literal] :
       {std::pair<SQLSMALLINT, const char*>{SQL_TIMESTAMP, "'0987-06-05 07:08:09'"},
        {SQL_TIME, "'07:08:09'"},
        {SQL_VARCHAR, "'07:08:09'"}}) {
    StatementRecord r;
    TIME_STRUCT t{7, 8, 9};
    r.bind(1, nullptr, SQL_C_TIME, sql_type, &t, 0);
    ASSERT_EQ(build_request(r.stmt, "SELECT ?", 8), SQL_SUCCESS) << diag(r.stmt);
    EXPECT_EQ(reinterpret_cast<const char*>(r.stmt->request_buffer) + 4,
              "SELECT " + std::string(literal));
  }
  clear_utc_today_override();
}

}  // namespace
}  // namespace q4
