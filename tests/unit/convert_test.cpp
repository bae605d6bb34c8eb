// Conversion of server values to C types (ranges, cuts, pieces, dates, times) and number parsing.
// Every value is converted where it lies, at the very end of a readable page whose next page
// faults when touched: a conversion reads its bytes and nothing after them, in any build.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "platform/clock.h"
#include "results/convert.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kGuard = 8;
constexpr uint8_t kFill = 0xEE;
constexpr SQLLEN kUnset = -12345;

// clang-format off
Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }
Bytes be16(int16_t v) { return {uint8_t(uint16_t(v) >> 8), uint8_t(v)}; }
Bytes be32(int32_t v) { auto u = uint32_t(v); return {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)}; }

struct Result {
  SQLRETURN rc;
  std::string diag;  // "SQLSTATE message" after the prefix, "" when none
  SQLLEN length;     // kUnset when not written
  Bytes out;         // the buffer after the call
  std::string str() const { return std::string(reinterpret_cast<const char*>(out.data())); }
  template <typename T> T as() const { T v; memcpy(&v, out.data(), sizeof v); return v; }
};
// clang-format on

class Convert : public ::testing::Test {
 protected:
  void SetUp() override {
    override_utc_today(2023, 7, 9);
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map =
        mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    base_ = static_cast<uint8_t*>(map);
    ASSERT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
  }
  void TearDown() override {
    clear_utc_today_override();
    munmap(base_, 2 * page_);
  }

  // Converts into `size` bytes (default: buffer length, at most 64) between guards; common checks.
  Result run(SQLSMALLINT server, SQLSMALLINT c_type, const Bytes& value, SQLLEN buffer_length,
             int size = -1) {
    if (size < 0) size = buffer_length < 0 ? 0 : buffer_length > 64 ? 64 : int(buffer_length);
    uint8_t* data = base_ + page_ - value.size();
    if (!value.empty()) memcpy(data, value.data(), value.size());
    Bytes area(kGuard + size + kGuard, kFill);
    stmt->sqlstate[0] = '\0';
    Result r{0, "", kUnset, {}};
    r.rc = convert_value(stmt.get(), server, c_type, data, int32_t(value.size()), buffer_length,
                         area.data() + kGuard, &r.length);
    if (stmt->sqlstate[0] != '\0') {
      r.diag = std::string(stmt->sqlstate) + " " + (stmt->message + strlen(kMessagePrefix));
    }
    r.out.assign(area.begin() + kGuard, area.end() - kGuard);
    EXPECT_EQ(Bytes(area.begin(), area.begin() + kGuard), Bytes(kGuard, kFill)) << "before";
    EXPECT_EQ(Bytes(area.end() - kGuard, area.end()), Bytes(kGuard, kFill)) << "past the buffer";
    EXPECT_EQ(Bytes(data, data + value.size()), value) << "the value changed";
    if (r.rc == SQL_ERROR) {
      EXPECT_EQ(r.length, kUnset) << "length written on error";
      EXPECT_EQ(r.out, Bytes(size, kFill)) << "buffer written on error";
    }
    EXPECT_EQ(r.diag.empty(), r.rc == SQL_SUCCESS);
    EXPECT_TRUE(r.rc != SQL_SUCCESS_WITH_INFO || r.diag == "01004 Data truncated" ||
                r.diag == "01S07 Fractional truncation")
        << r.diag;
    return r;
  }
  std::unique_ptr<Statement> stmt{new Statement()};
  uint8_t* base_ = nullptr;
  size_t page_ = 0;
};

// Integer targets at and beyond the ends of their ranges (size: the bytes stored).
TEST_F(Convert, IntegerTargetsAcceptExactlyTheirRanges) {
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; const char* value; int64_t stored; int size; const char* state; } cases[] = {
      {SQL_INTEGER, SQL_C_UTINYINT, "255", 255, 1, ""},    {SQL_INTEGER, SQL_C_UTINYINT, "256", 0, 1, "22003"},
      {SQL_CHAR, SQL_C_UTINYINT, "255.5", 0, 1, "22003"},  // the range is checked before the cut
      {SQL_CHAR, SQL_C_ULONG, "4294967296", 0, 4, "22003"}, {SQL_CHAR, SQL_C_LONG, "12.0", 12, 4, "01004"},  // any "." cuts
      {SQL_NUMERIC, SQL_C_SHORT, "12.5", 12, 2, "01004"},  {SQL_NUMERIC, SQL_C_SHORT, "-12.5", -12, 2, ""},  // silent
      {SQL_NUMERIC, SQL_C_SBIGINT, "9223372036854775807", INT64_MAX, 8, ""},
      {SQL_NUMERIC, SQL_C_SBIGINT, "9223372036854775808", 0, 8, "22003"},
      {SQL_CHAR, SQL_C_LONG, "", 0, 4, "22005"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    int64_t n = strtoll(c.value, nullptr, 10);
    Bytes value = c.server == SQL_INTEGER    ? be32(int32_t(n))
                  : c.server == SQL_SMALLINT ? be16(int16_t(n))
                                             : text(c.value);
    Result r = run(c.server, c.c_type, value, 16);
    EXPECT_EQ(r.diag.substr(0, 5), c.state);
    if (r.rc == SQL_ERROR) continue;
    EXPECT_EQ(memcmp(r.out.data(), &c.stored, c.size), 0) << "stored value (little-endian host)";
    EXPECT_EQ(r.length, c.size);
    EXPECT_EQ(r.out[c.size], kFill) << "wrote more than the target's size";
  }
}

// Widths from the buffer length (just above 4 GiB is clamped, not wrapped to 2); a null buffer
// reports a text's length, consuming nothing, and refuses fixed-size targets.
TEST_F(Convert, WidthsAndNullBuffers) {
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_LONG, be32(0x12345678), 2).as<uint16_t>(), 0x5678);
  EXPECT_EQ(run(SQL_NUMERIC, SQL_C_DOUBLE, text("2.5e"), 8).as<double>(), 2.5);
  Result clamped = run(SQL_INTEGER, SQL_C_LONG, be32(0x12345678), (SQLLEN(1) << 32) + 2, 8);
  EXPECT_EQ(clamped.length, 4);
  EXPECT_EQ(run(SQL_VARCHAR, SQL_C_LONG, text(" 1"), 4).diag, "22005 Error in Assignment");
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_LONG, Bytes{0, 1}, 4).diag.substr(0, 5), "22005");
  // The byte after the value may be a digit of the next value's header.
  uint8_t row[] = {'1', '2', '5', '5'};
  SQLLEN length = 0;
  int32_t got = 0;
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_LONG, row, 2, 4, &got, &length), SQL_SUCCESS);
  EXPECT_EQ(got, 12);
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_CHAR, row, 3, 100, nullptr, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(stmt->getdata_offset, 0u);
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_LONG, row, 3, 4, nullptr, &length),
            SQL_ERROR);
  EXPECT_STREQ(stmt->sqlstate, "S1009");
}

// Whole texts and binary copies fit or are cut (or refused); hexadecimal pieces go in whole pairs;
// below 1 byte nothing is written or consumed; pairs without a rule are refused.
TEST_F(Convert, WholeTextsCopiesAndPieces) {
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; Bytes value; SQLLEN buffer; std::vector<const char*> outs; SQLLEN length; const char* diag; } cases[] = {
      {SQL_INTEGER, SQL_C_CHAR, be32(INT32_MIN), 12, {"-2147483648"}, 11, ""},
      {SQL_INTEGER, SQL_C_CHAR, be32(INT32_MIN), 11, {}, kUnset, "22005 Error in assignment"},
      {SQL_NUMERIC, SQL_C_BINARY, text("12.5"), 3, {"12"}, 4, "01004 Data truncated"},
      {SQL_INTEGER, SQL_C_BINARY, be32(0x41424344), 4, {"DCB"}, 4, "01004 Data truncated"},  // host order
      // Dates and times as text: the layout and the fraction digits that fit (never a lone "."),
      // the whole length reported; below the layout and its NUL nothing ("22003"). (Nanoseconds
      // whole or cut within the fraction, the year 1: e2e/datetime_test.cpp.)
      {SQL_TIMESTAMP, SQL_C_CHAR, text("2024-01-05 10:20:30.123"), 21, {"2024-01-05 10:20:30"}, 23, "01004 Data truncated"},
      {SQL_TIMESTAMP, SQL_C_CHAR, text("2024-01-05 10:20:30.123"), 19, {}, kUnset, "22003 Numeric value out of range"},
      {SQL_TIME, SQL_C_CHAR, text("10:20:30.5"), 9, {"10:20:30"}, 10, "01004 Data truncated"},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A, 0xFF}, 4, {"0a", "ff", ""}, 0, ""},  // lengths 4, 2, 0
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A}, 2, {"", ""}, 2, "01004 Data truncated"},  // no room for a pair
      {SQL_CHAR, SQL_C_CHAR, text("abc"), 0, {nullptr, nullptr}, 3, "01004 Data truncated"},
      {SQL_DATE, SQL_C_LONG, text("2024-01-05"), 4, {}, kUnset, "07006 Restricted data type attribute violation"},
      {SQL_LONGVARCHAR, SQL_C_CHAR, text("1"), 4, {}, kUnset, "S1C00 Driver not capable"},  // never sent as a value
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buffer);
    stmt->getdata_offset = 0;
    Result r{};
    for (const char* out : c.outs.empty() ? std::vector<const char*>{nullptr} : c.outs) {
      r = run(c.server, c.c_type, c.value, c.buffer);
      EXPECT_EQ(out ? r.str() : "", out ? out : "");
      EXPECT_TRUE(out || r.out == Bytes(r.out.size(), kFill)) << "written into no room";
    }
    EXPECT_EQ(r.diag, c.diag);
    EXPECT_EQ(r.length, c.length) << "of the last call";
  }
}

// SQL_C_WCHAR: UTF-8 text in whole characters as UTF-16, lengths in bytes, a 2-byte NUL; other
// wire types as their character text. Each call's text and remaining length, then the last
// call's diagnostic.
TEST_F(Convert, WideTargetsGetUtf16InWholeCharacters) {
  const char kCut[] = "01004 Data truncated";
  // clang-format off
  struct Case { SQLSMALLINT server; Bytes value; SQLLEN buffer; std::vector<std::u16string> outs; std::vector<SQLLEN> lengths; const char* diag; } cases[] = {
      // 2-, 3- and 4-byte characters, "Zoë 東京 😀" (9 units, read whole: e2e/pyodbc_defaults_test.py),
      // two units at a time: the pair waits for a call with room for both halves.
      {SQL_VARCHAR, text("Zo\xC3\xAB \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80"), 6,
       {u"Zo", u"ë ", u"東京", u" ", u"😀", u""}, {18, 14, 10, 6, 4, 0}, ""},
      {SQL_VARCHAR, text("ab"), 1, {}, {4}, kCut},  // no room for the NUL: nothing written
      // Malformed bytes each become U+FFFD: a lead without continuation, a stray byte, a
      // sequence cut by the end of the value (byte by byte).
      {SQL_CHAR, Bytes{'a', 0xC3, '(', 0xFF, 0x9D, 0xE6, 0x9D}, 32, {u"a\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD"}, {14}, ""},
      // Other wire types: the character text, widened; the buffer must hold it all.
      {SQL_INTEGER, be32(INT32_MIN), 24, {u"-2147483648"}, {22}, ""},
      {SQL_INTEGER, be32(INT32_MIN), 23, {}, {}, "22005 Error in assignment"},
      {SQL_TIMESTAMP, text("2024-01-05 10:20:30.123456789"), 46, {u"2024-01-05 10:20:30.12"}, {58}, kCut},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buffer);
    stmt->getdata_offset = 0;
    Result r{};
    for (size_t i = 0; i < std::max<size_t>(1, c.outs.size()); ++i) {
      r = run(c.server, SQL_C_WCHAR, c.value, c.buffer);
      if (i < c.outs.size()) {
        std::u16string got(c.outs[i].size() + 1, u'?');
        memcpy(&got[0], r.out.data(), std::min(r.out.size(), 2 * got.size()));
        EXPECT_EQ(got, c.outs[i] + u'\0') << "call " << i;
      }
      if (i < c.lengths.size()) {
        EXPECT_EQ(r.length, c.lengths[i]) << "call " << i;
      }
    }
    EXPECT_EQ(r.diag, c.diag);
  }
}

// Date and time fields (a 3-field struct or a timestamp), or the diagnostic. (Nanoseconds, the year
// 1, a timestamp's time or fraction cut from a date or time: e2e/datetime_test.cpp.)
TEST_F(Convert, DatesTimesAndTimestamps) {
  const char kOverflow[] = "22008 Datetime field overflow", kCut[] = "01004 Data truncated";
  const char kRange[] = "22003 Numeric value out of range",
             kFraction[] = "01S07 Fractional truncation";
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; const char* value; std::vector<int> fields; const char* diag = ""; SQLLEN buffer = 16; } cases[] = {
      {SQL_DATE, SQL_C_DEFAULT, "2024-13-45", {2024, 13, 45}},  // no range checks
      {SQL_TIME, SQL_C_TIMESTAMP, "10:20:30", {2023, 7, 9, 10, 20, 30, 0}},  // today (UTC)
      {SQL_CHAR, SQL_C_TIME, "25:00:00", {}, kOverflow},
      {SQL_CHAR, SQL_C_DATE, "2024-01-05xy", {2024, 1, 5}, kCut},  // one trailing character is fine
      {SQL_DATE, SQL_C_DATE, "2024-", {}, "22005 Error in assignment"},
      {SQL_DATE, SQL_C_CHAR, "2024-1-5", {}, kOverflow, 11},
      {SQL_DATE, SQL_C_CHAR, "2024-01-05", {}, kRange, 10},
      // Fractions of 0 to 9 digits into nanoseconds; digits beyond the nanosecond are cut, and
      // only a cut that loses something (a digit not 0) is reported.
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP, "2024-02-29 10:20:30.000000001", {2024, 2, 29, 10, 20, 30, 1}},
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP, "2024-02-29 10:20:30.1234567891", {2024, 2, 29, 10, 20, 30, 123456789}, kFraction},
      {SQL_TIMESTAMP, SQL_C_DATE, "2024-02-29 00:00:00", {2024, 2, 29}},
      {SQL_TIME, SQL_C_TIME, "10:20:30.5", {10, 20, 30}, kFraction},
      {SQL_VARCHAR, SQL_C_TIME, "10:20:30.5", {10, 20, 30}, kCut},
  };
  // clang-format on
  for (const Case& c : cases) {
    Result r = run(c.server, c.c_type, text(c.value), c.buffer);
    EXPECT_EQ(r.diag, c.diag) << c.value;
    std::vector<int> got;
    if (r.length == 6) {
      int16_t f[3];
      memcpy(f, r.out.data(), sizeof f);
      got = {f[0], f[1], f[2]};
      EXPECT_EQ(r.out[6], kFill);
    } else if (r.length == 16) {
      TIMESTAMP_STRUCT ts = r.as<TIMESTAMP_STRUCT>();
      got = {ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, int(ts.fraction)};
    }
    EXPECT_EQ(got, c.fields) << c.value;
  }
}

// A double as the server writes it: the shortest digits that read back as the same double,
// never with an exponent (1e300 is a 1 and 300 zeros).
std::string server_text(double v) {
  char sci[40];
  std::string s(sci, std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr);
  const size_t e = s.find('e');
  const int exponent = atoi(s.c_str() + e + 1);
  const bool negative = s[0] == '-';
  std::string digits;
  for (size_t i = negative ? 1 : 0; i < e; ++i) {
    if (s[i] != '.') digits += s[i];
  }
  const int point = exponent + 1;  // digits before the point
  std::string fixed;
  if (point <= 0) {
    fixed = "0." + std::string(size_t(-point), '0') + digits;
  } else if (size_t(point) >= digits.size()) {
    fixed = digits + std::string(size_t(point) - digits.size(), '0');
  } else {
    fixed = digits.substr(0, size_t(point)) + "." + digits.substr(size_t(point));
  }
  return (negative ? "-" : "") + (fixed == "0" || fixed == "0.0" ? std::string("0") : fixed);
}

// Decimal text into doubles and floats is rounded once, exactly, as strtod/strtof round it: the
// driver used to build the value from 2^53-limited digits and powers of 5, and 1e300 arrived as
// 1.0000000000000003e+300. Integer targets read the text exactly too (no double in between).
TEST_F(Convert, DecimalTextIntoDoublesFloatsAndIntegersIsExact) {
  for (double v : {1e300, 1e-300, 0.1, 5e-324, DBL_MAX, -DBL_MAX, DBL_MIN, 2.2250738585072009e-308,
                   123456.789e-7, 9007199254740993.0, -0.0, 1e22, 1e23, 8.98846567431158e307}) {
    const std::string t = server_text(v);
    SCOPED_TRACE(t.substr(0, 40));
    for (SQLSMALLINT server : {SQL_NUMERIC, SQL_VARCHAR}) {
      Result r = run(server, SQL_C_DOUBLE, text(t.c_str()), 8);
      EXPECT_EQ(r.rc, SQL_SUCCESS);
      EXPECT_EQ(r.as<double>(), v);
      EXPECT_EQ(std::signbit(r.as<double>()), std::signbit(v));
      Result f = run(server, SQL_C_FLOAT, text(t.c_str()), 4);
      EXPECT_EQ(f.as<float>(), strtof(t.c_str(), nullptr)) << "rounded once, not through a double";
    }
  }
  // A float's own rounding: this text lies just above the midpoint between two floats, which a
  // double (rounded first) would land on exactly, and then round to the lower float.
  EXPECT_EQ(run(SQL_NUMERIC, SQL_C_FLOAT, text("1.0000000596046448"), 4).as<float>(),
            strtof("1.0000000596046448", nullptr));
  EXPECT_TRUE(std::isinf(run(SQL_NUMERIC, SQL_C_FLOAT, text("1e39"), 4).as<float>()));
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; const char* value; int64_t stored; const char* state; } cases[] = {
      {SQL_NUMERIC, SQL_C_SBIGINT, "9007199254740993.5", 9007199254740993LL, "01004"},  // a double says ...994
      {SQL_NUMERIC, SQL_C_SBIGINT, "-9223372036854775808.5", 0, "22003"},  // below the range once cut
      {SQL_NUMERIC, SQL_C_SBIGINT, "9223372036854775807.9", INT64_MAX, "01004"},  // below 2^63
      {SQL_NUMERIC, SQL_C_SBIGINT, "1.5e3", 1500, ""}, {SQL_NUMERIC, SQL_C_LONG, "12e-1", 1, "01004"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Result r = run(c.server, c.c_type, text(c.value), 8);
    EXPECT_EQ(r.diag.substr(0, 5), c.state);
    if (r.rc != SQL_ERROR) {
      EXPECT_EQ(memcmp(r.out.data(), &c.stored, size_t(r.length)), 0);
    }
  }
}

// SQL_NUMERIC_STRUCT's magnitude as decimal digits.
std::string magnitude_of(const SQL_NUMERIC_STRUCT& n) {
  unsigned __int128 v = 0;
  for (int i = 15; i >= 0; --i) v = v << 8 | n.val[i];
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + int(v % 10)));
    v /= 10;
  } while (v != 0);
  return digits;
}

// Into SQL_C_NUMERIC as ODBC fills it without descriptors (precision and scale 0 below): the
// driver's precision (38), scale 0, sign 1 for positive and zero, the magnitude little-endian; a
// cut fraction is "01S07" (the value cut toward zero), more than 38 digits "22003", text that is
// no number "22005". With the precision and scale of a row descriptor's record: the value scaled
// by 10^scale, cut toward zero past it ("01S07"), no more digits than the precision ("22003":
// nothing written), exact whatever the digit count. (30 digits at 30,4 and a 20-digit whole part
// cut to scale 0: odbc3/numeric_descriptor_test.c.)
TEST_F(Convert, NumericStructures) {
  const std::string max38(38, '9');
  const char kCut[] = "01S07 Fractional truncation", kRange[] = "22003 Numeric value out of range";
  const char kNoNumber[] = "22005 Error in Assignment",
             kRestricted[] = "07006 Restricted data type attribute violation";
  // clang-format off
  struct Case { SQLSMALLINT server; Bytes value; int precision, scale; int sign; std::string magnitude; const char* diag; } cases[] = {
      {SQL_NUMERIC, text("0"), 0, 0, 1, "0", ""},
      {SQL_NUMERIC, text("-12.5"), 0, 0, 0, "12", kCut},
      {SQL_NUMERIC, text(max38.c_str()), 0, 0, 1, max38, ""},
      {SQL_NUMERIC, text(("1" + std::string(38, '0')).c_str()), 0, 0, 0, "", kRange},
      {SQL_NUMERIC, text("-0.5"), 0, 0, 1, "0", kCut},  // a zero is positive
      {SQL_VARCHAR, text("12 "), 0, 0, 0, "", kNoNumber},
      {SQL_DATE, text("2024-01-05"), 0, 0, 0, "", kRestricted},
      // A descriptor's precision and scale.
      {SQL_NUMERIC, text("12345678901234567890123456.7891"), 30, 2, 1, "1234567890123456789012345678", kCut},
      {SQL_NUMERIC, text("12345678901234567890123456.7891"), 29, 4, 0, "", kRange},
      {SQL_NUMERIC, text("7"), 5, 4, 1, "70000", ""},
      {SQL_NUMERIC, text("7"), 4, 4, 0, "", kRange},
      {SQL_SMALLINT, be16(9), 1, 1, 0, "", kRange},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.precision) + "," + std::to_string(c.scale) + " " +
                 std::string(c.value.begin(), c.value.end()).substr(0, 40));
    stmt->numeric_precision = static_cast<uint8_t>(c.precision);
    stmt->numeric_scale = static_cast<int8_t>(c.scale);
    Result r = run(c.server, SQL_C_NUMERIC, c.value, sizeof(SQL_NUMERIC_STRUCT));
    EXPECT_EQ(r.diag, c.diag);
    if (r.rc == SQL_ERROR) continue;
    EXPECT_EQ(r.length, SQLLEN(sizeof(SQL_NUMERIC_STRUCT)));
    const auto n = r.as<SQL_NUMERIC_STRUCT>();
    EXPECT_EQ(n.precision, c.precision != 0 ? c.precision : 38);
    EXPECT_EQ(n.scale, c.scale);
    EXPECT_EQ(n.sign, c.sign);
    EXPECT_EQ(magnitude_of(n), c.magnitude);
  }
}

// A number that does not fit a character buffer whole: the same number in exponent form, every
// digit kept, when that fits; else its text cut within the fraction with "01004" when all that
// stands before the point fits; else "22003". A buffer of 16 bytes is Qt's for a double (column
// size 15 and the NUL; 1e300 there: odbc3/numeric_descriptor_test.c).
TEST_F(Convert, NumbersIntoCharacterBuffersTooShortForTheirText) {
  const std::string e300 = server_text(1e300), e_300 = server_text(1e-300);
  const std::string max = server_text(DBL_MAX);
  const char kCut[] = "01004 Data truncated", kRange[] = "22003 Numeric value out of range";
  // clang-format off
  struct Case { std::string value; SQLLEN buffer; const char* out; SQLLEN length; const char* diag; } cases[] = {
      {e_300, 16, "1e-300", 6, ""},
      {e300, 302, e300.c_str(), 301, ""},  // the server's text whenever it fits
      {e300, 7, "1e+300", 6, ""}, {e300, 6, nullptr, kUnset, kRange},
      {e_300, 6, "0.000", 302, kCut},  // no room for "1e-300": ODBC's cut
      {"0.1", 4, "0.1", 3, ""}, {"0.1", 3, "0", 3, kCut},  // no point without a digit after it
      {"12345678901234567890.0123456789", 25, "12345678901234567890.012", 31, kCut},
      {"12345678901234567890.0123456789", 20, nullptr, kUnset, kRange},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.substr(0, 30) + " into " + std::to_string(c.buffer));
    Result r = run(SQL_NUMERIC, SQL_C_CHAR, text(c.value.c_str()), c.buffer,
                   int(std::min<SQLLEN>(c.buffer, 400)));
    EXPECT_EQ(r.diag, c.diag);
    EXPECT_EQ(r.length, c.length);
    if (c.out != nullptr) {
      EXPECT_EQ(r.str(), c.out);
    }
  }
  // The same as UTF-16, lengths in bytes.
  Result wide = run(SQL_NUMERIC, SQL_C_WCHAR, text(e300.c_str()), 32);
  EXPECT_EQ(wide.rc, SQL_SUCCESS) << wide.diag;
  EXPECT_EQ(wide.length, 12);
  std::u16string got(7, u'?');
  memcpy(&got[0], wide.out.data(), 14);
  EXPECT_EQ(got, std::u16string(u"1e+300") + u'\0');
  EXPECT_EQ(run(SQL_NUMERIC, SQL_C_WCHAR, text(e300.c_str()), 12).diag, kRange);
}

}  // namespace
}  // namespace q4
