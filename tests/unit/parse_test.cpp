#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "results/parse.h"

namespace q4 {
namespace {

TEST(ScanNumber, AcceptsOnlySignDigitsAndOnePoint) {
  struct Case {
    const char* text;
    bool valid, sign, point;
  } cases[] = {
      {"12", true, false, false},   {"+12", true, true, false},   {"-1.5", true, true, true},
      {".", true, false, true},     {"007.", true, false, true},  {"", false, false, false},
      {"-", false, true, false},    {"+-1", false, true, false},  {"1.2.3", false, false, true},
      {" 1", false, false, false},  {"1 ", false, false, false},  {"1e5", false, false, false},
      {"0x1", false, false, false}, {"1,5", false, false, false},
  };
  for (const Case& c : cases) {
    NumberShape s = scan_number(c.text);
    EXPECT_EQ(s.valid, c.valid) << '"' << c.text << '"';
    if (c.valid) {
      EXPECT_EQ(s.has_sign, c.sign) << c.text;
    }
    if (c.valid) {
      EXPECT_EQ(s.has_point, c.point) << c.text;
    }
  }
}

// With at most 16 significant digits and |exponent| <= 22 both 5^|e| and the
// mantissa are exact, so the result is correctly rounded: equal to strtod's.
TEST(ParseDouble, ShortDecimalsMatchCorrectRounding) {
  for (const char* text :
       {"0.1", "0.2", "0.3", "12.5", "-3.25", "3.141592653589793", "1e5", "1E-3", "12.5e-3",
        "2.5e+10", "9007199254740991", "0.000001", "-123456.789e-7", "1e22", "1e-22"}) {
    EXPECT_EQ(parse_double(text), strtod(text, nullptr)) << text;
  }
}

// Doubles of one sign are ordered like their bit patterns.
int64_t ulps_apart(double a, double b) {
  int64_t x, y;
  memcpy(&x, &a, sizeof x);
  memcpy(&y, &b, sizeof y);
  return x > y ? x - y : y - x;
}

// Large powers of five are built by repeated squaring, each step rounding
// once, so results may lie a few units in the last place from the nearest.
TEST(ParseDouble, LargeAndSmallMagnitudesStayWithinAFewUlps) {
  for (const char* text : {"1e308", "1.5e300", "1e-300", "123456789012345678901234", "4.9e-200",
                           "-2.2250738585072014e-308", "6.02214076e23"}) {
    EXPECT_LE(ulps_apart(parse_double(text), strtod(text, nullptr)), 8) << text;
  }
  EXPECT_TRUE(std::isinf(parse_double("1e309")));
  EXPECT_EQ(parse_double("1e-400"), 0.0);
}

TEST(ParseDouble, DigitsBeyondTwoToThe53OnlyShiftTheExponentOrAreDropped) {
  EXPECT_EQ(parse_double("123456789012345678901234"), parse_double("123456789012345670000000"));
  EXPECT_EQ(parse_double("0.1000000000000000000000000009"), 0.1);
}

TEST(ParseDouble, StopsAtTheFirstCharacterThatFitsNoStep) {
  EXPECT_EQ(parse_double("  42"), 42.0);
  EXPECT_EQ(parse_double("\t42"), 0.0);  // only spaces are skipped
  EXPECT_EQ(parse_double("+7x"), 7.0);
  EXPECT_EQ(parse_double("1.5.5"), 1.5);
  EXPECT_EQ(parse_double("2e"), 2.0);
  EXPECT_EQ(parse_double("abc"), 0.0);
}

TEST(ParseDouble, ZeroWithHugeExponentIsZeroNotNan) {
  EXPECT_EQ(parse_double("0e999999999999"), 0.0);
  EXPECT_TRUE(std::signbit(parse_double("-0.0e5")));
  EXPECT_TRUE(std::isinf(parse_double("1e99999999999999999999")));
}

TEST(ParseInt, SkipsBlanksAndStopsAtNonDigit) {
  EXPECT_EQ(parse_int(" \t-42x"), -42);
  EXPECT_EQ(parse_int("+7"), 7);
  EXPECT_EQ(parse_int("12 3"), 12);
  EXPECT_EQ(parse_int("x1"), 0);
  EXPECT_EQ(parse_int(""), 0);
}

TEST(ParseDateTime, LayoutsAndRanges) {
  struct Case {
    const char* text;
    bool is_time, ok;
    int a, b, c;
  } cases[] = {
      {"2024-02-30", false, true, 2024, 2, 30},  // days are checked only for 1..31
      {"0000-12-31", false, true, 0, 12, 31},
      {"2024-01-5", false, true, 2024, 1, 5},
      {"2024-01-5-", false, true, 2024, 1, 5},  // cut at every "-"
      {"2024-01-05 10:20", false, true, 2024, 1, 5},
      {"2024-13-01", false, false, 0, 0, 0},
      {"2024-00-01", false, false, 0, 0, 0},
      {"2024-01-32", false, false, 0, 0, 0},
      {"2024-01-00", false, false, 0, 0, 0},
      {"2024-1-05", false, false, 0, 0, 0},
      {"2024-01-", false, false, 0, 0, 0},
      {"+024-01-05", false, false, 0, 0, 0},
      {"2024-01-0.", false, false, 0, 0, 0},
      {"10:20:30", true, true, 10, 20, 30},
      {"24:00:00", true, true, 24, 0, 0},
      {"10:20:3", true, true, 10, 20, 3},
      {"2024-01-05 10:20:30", true, true, 10, 20, 30},
      {"25:00:00", true, false, 0, 0, 0},
      {"10:60:00", true, false, 0, 0, 0},
      {"10:20:60", true, false, 0, 0, 0},
      {"10:20:", true, false, 0, 0, 0},
      {"1:20:30", true, false, 0, 0, 0},
      {"2024-01-05 10:20", true, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int32_t length = static_cast<int32_t>(strlen(c.text));
    int got[3];
    bool ok;
    if (c.is_time) {
      TimeFields t{};
      ok = parse_time(c.text, length, &t);
      got[0] = t.hour, got[1] = t.minute, got[2] = t.second;
    } else {
      DateFields d{};
      ok = parse_date(c.text, length, &d);
      got[0] = d.year, got[1] = d.month, got[2] = d.day;
    }
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) {
      EXPECT_EQ(std::vector<int>(got, got + 3), (std::vector<int>{c.a, c.b, c.c})) << c.text;
    }
  }
}

TEST(ParseDateTime, SeparatorsBeyondTheLengthAreNotRead) {
  DateFields d;
  TimeFields t;
  EXPECT_FALSE(parse_date("2024-01-05", 7, &d));            // the "-" at 7 lies past the value
  EXPECT_FALSE(parse_time("2024-01-05 10:20:30", 16, &t));  // so does the ":" at 16
}

}  // namespace
}  // namespace q4
