// Parsing numbers, dates and times out of server text (the number shapes
// accepted are checked through the conversions).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "results/parse.h"

namespace q4 {
namespace {

// Up to 16 significant digits and |exponent| <= 22 round correctly (as
// strtod); larger powers of five come from repeated squaring and may lie a
// few units in the last place off (doubles of one sign order like their bits).
TEST(ParseDouble, MatchesStrtod) {
  for (const char* text : {"0.1", "3.141592653589793", "-123456.789e-7", "1e22", "1e-22"}) {
    EXPECT_EQ(parse_double(text), strtod(text, nullptr)) << text;
  }
  for (const char* text : {"1e308", "-2.2250738585072014e-308"}) {
    double a = parse_double(text), b = strtod(text, nullptr);
    int64_t x, y;
    memcpy(&x, &a, sizeof x);
    memcpy(&y, &b, sizeof y);
    EXPECT_LE(std::llabs(x - y), 8) << text;
  }
}

TEST(ParseDouble, EdgesAndStops) {
  // clang-format off
  struct Case { const char* text; double value; } cases[] = {
      {"1e-400", 0.0}, {"0e999999999999", 0.0},  // zero, not NaN
      {"0.1000000000000000000000000009", 0.1},    // digits beyond 2^53 are dropped
      {"  42", 42.0}, {"\t42", 0.0},  // only spaces are skipped
      {"1.5.5", 1.5}, {"2e", 2.0},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(parse_double(c.text), c.value) << c.text;
  EXPECT_TRUE(std::isinf(parse_double("1e99999999999999999999")));
  EXPECT_TRUE(std::signbit(parse_double("-0.0e5")));
  for (auto [text, value] : {std::pair<const char*, int>{" \t-42x", -42}, {"12 3", 12}, {"", 0}}) {
    EXPECT_EQ(parse_int(text), value) << text;
  }
}

TEST(ParseDateTime, LayoutsAndRanges) {
  // clang-format off
  struct Case { const char* text; bool is_time, ok; int a = 0, b = 0, c = 0; } cases[] = {
      {"2024-02-30", 0, 1, 2024, 2, 30},  // days are checked only for 1..31
      {"2024-01-05 10:20", 0, 1, 2024, 1, 5},
      {"2024-13-01", 0, 0}, {"2024-01-32", 0, 0}, {"2024-1-05", 0, 0},
      {"24:00:00", 1, 1, 24, 0, 0}, {"2024-01-05 10:20:30", 1, 1, 10, 20, 30},
      {"25:00:00", 1, 0}, {"10:20:60", 1, 0}, {"1:20:30", 1, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    int32_t length = static_cast<int32_t>(strlen(c.text));
    std::vector<int> got(3);
    bool ok;
    if (c.is_time) {
      TimeFields t{};
      ok = parse_time(c.text, length, &t);
      got = {t.hour, t.minute, t.second};
    } else {
      DateFields d{};
      ok = parse_date(c.text, length, &d);
      got = {d.year, d.month, d.day};
    }
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) {
      EXPECT_EQ(got, (std::vector<int>{c.a, c.b, c.c})) << c.text;
    }
  }
  // Separators beyond the length are not read.
  DateFields d;
  TimeFields t;
  EXPECT_FALSE(parse_date("2024-01-05", 7, &d));
  EXPECT_FALSE(parse_time("2024-01-05 10:20:30", 16, &t));
}

}  // namespace
}  // namespace q4
