#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "results/convert.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";
constexpr int kGuard = 8;
constexpr uint8_t kFill = 0xEE;
constexpr SQLLEN kUnset = -12345;

Bytes text(const char* s) {
  return Bytes(s, s + strlen(s));
}
Bytes be32(int32_t v) {
  auto u = static_cast<uint32_t>(v);
  return {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
}
Bytes be16(int16_t v) {
  auto u = static_cast<uint16_t>(v);
  return {uint8_t(u >> 8), uint8_t(u)};
}

struct Result {
  SQLRETURN rc;
  std::string state;
  std::string message;  // after the prefix
  SQLLEN length;        // kUnset when not written
  Bytes out;            // the buffer after the call
  std::string str() const { return std::string(reinterpret_cast<const char*>(out.data())); }
  template <typename T>
  T as() const {
    T v;
    memcpy(&v, out.data(), sizeof v);
    return v;
  }
};

class Convert : public ::testing::Test {
 protected:
  void SetUp() override { override_utc_today(2023, 7, 9); }
  void TearDown() override { clear_utc_today_override(); }

  // Converts `value` into a buffer of `size` bytes (default: the buffer length,
  // at most 64) between guard bytes, and checks what must hold for every
  // conversion: the guards and the value (and the byte after it) unchanged,
  // nothing written on SQL_ERROR, a diagnostic exactly when rc is not success.
  Result run(SQLSMALLINT server, SQLSMALLINT c_type, const Bytes& value, SQLLEN buffer_length,
             int size = -1) {
    if (size < 0) size = buffer_length < 0 ? 0 : buffer_length > 64 ? 64 : int(buffer_length);
    Bytes data = value;
    data.push_back('7');  // the byte after the value: borrowed as NUL, then restored
    Bytes area(kGuard + size + kGuard, kFill);
    stmt->sqlstate[0] = '\0';
    Result r{};
    r.length = kUnset;
    r.rc = convert_value(stmt.get(), server, c_type, data.data(), int32_t(value.size()),
                         buffer_length, area.data() + kGuard, &r.length);
    r.state = stmt->sqlstate;
    std::string message = stmt->message;
    if (!r.state.empty()) r.message = message.substr(kPrefix.size());
    r.out.assign(area.begin() + kGuard, area.end() - kGuard);
    for (int i = 0; i < kGuard; ++i) {
      EXPECT_EQ(area[i], kFill) << "written before the buffer";
      EXPECT_EQ(area[kGuard + size + i], kFill) << "written past the buffer";
    }
    EXPECT_EQ(data.back(), '7') << "the byte after the value was not restored";
    data.pop_back();
    EXPECT_EQ(data, value) << "the value was changed";
    if (r.rc == SQL_ERROR) {
      EXPECT_EQ(r.length, kUnset) << "length written on error";
      EXPECT_EQ(r.out, Bytes(size, kFill)) << "buffer written on error";
    }
    EXPECT_EQ(r.state.empty(), r.rc == SQL_SUCCESS);
    if (r.rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(r.state + r.message, "01004Data truncated");
    }
    return r;
  }
  std::unique_ptr<Statement> stmt{new Statement()};
};

TEST_F(Convert, MatrixSendsEachPairToARuleOrRefusesIt) {
  // clang-format off
  const SQLSMALLINT c_types[] = {
      SQL_C_CHAR, SQL_C_BIT, SQL_C_TINYINT, SQL_C_STINYINT, SQL_C_UTINYINT, SQL_C_SHORT,
      SQL_C_SSHORT, SQL_C_USHORT, SQL_C_LONG, SQL_C_SLONG, SQL_C_ULONG, SQL_C_FLOAT, SQL_C_DOUBLE,
      SQL_C_DATE, SQL_C_TIME, SQL_C_TIMESTAMP, SQL_C_BINARY, SQL_C_DEFAULT,
      SQL_C_NUMERIC, SQL_C_WCHAR, SQL_C_SBIGINT, 0};  // not supported
  // clang-format on
  // '.' converts, 'R' is "07006", 'N' is "S1C00".
  struct Row {
    SQLSMALLINT type;
    Bytes value;
    const char* cells;
  } rows[] = {
      {SQL_CHAR, text("1"), "..................NNNN"},
      {SQL_VARCHAR, text("1"), "..................NNNN"},
      {SQL_NUMERIC, text("1"), ".............RRR..RRRR"},
      {SQL_INTEGER, be32(1), ".............RRR..RRRR"},
      {SQL_SMALLINT, be16(1), ".............RRR..RRRR"},
      {SQL_DATE, text("2024-01-05"), ".RRRRRRRRRRRR.R...RRRR"},
      {SQL_TIME, text("10:20:30"), ".RRRRRRRRRRRRR....RRRR"},
      {SQL_TIMESTAMP, text("2024-01-05 10:20:30"), ".RRRRRRRRRRRR.....RRRR"},
      {SQL_VARBINARY, Bytes{1, 2}, ".RRRRRRRRRRRRRRR..RRRR"},
      {SQL_LONGVARBINARY, Bytes{1, 2}, ".RRRRRRRRRRRRRRR..RRRR"},
      // Types the server never sends as values are not converted at all.
      {SQL_LONGVARCHAR, text("1"), "NNNNNNNNNNNNNNNNNNNNNN"},
      {SQL_DECIMAL, text("1"), "NNNNNNNNNNNNNNNNNNNNNN"},
      {SQL_BIGINT, Bytes(8, 0), "NNNNNNNNNNNNNNNNNNNNNN"},
      {SQL_BINARY, Bytes{1}, "NNNNNNNNNNNNNNNNNNNNNN"},
  };
  for (const Row& row : rows) {
    for (size_t i = 0; i < sizeof c_types / sizeof c_types[0]; ++i) {
      SCOPED_TRACE("server " + std::to_string(row.type) + " c " + std::to_string(c_types[i]));
      Result r = run(row.type, c_types[i], row.value, 32);
      std::string diag = r.state + " " + r.message;
      if (row.cells[i] == 'R') {
        EXPECT_EQ(diag, "07006 Restricted data type attribute violation");
      } else if (row.cells[i] == 'N') {
        EXPECT_EQ(diag, "S1C00 Driver not capable");
      } else {  // converted, or refused by the rule itself (text "1" is no date)
        EXPECT_NE(r.state, "07006");
        EXPECT_NE(r.state, "S1C00");
      }
    }
  }
}

// Every integer target at and beyond both ends of its range, from each source.
TEST_F(Convert, IntegerTargetsAcceptExactlyTheirRanges) {
  struct Case {
    SQLSMALLINT server;
    SQLSMALLINT c_type;
    const char* value;  // text for character and decimal sources
    int64_t stored;     // read back at the target's size and signedness
    const char* state;  // "" success, else the SQLSTATE
  } cases[] = {
      {SQL_INTEGER, SQL_C_UTINYINT, "255", 255, ""},
      {SQL_INTEGER, SQL_C_UTINYINT, "256", 0, "22003"},
      {SQL_INTEGER, SQL_C_UTINYINT, "300", 0, "22003"},
      {SQL_INTEGER, SQL_C_UTINYINT, "-1", 0, "22003"},
      {SQL_INTEGER, SQL_C_TINYINT, "-128", -128, ""},
      {SQL_INTEGER, SQL_C_STINYINT, "127", 127, ""},
      {SQL_INTEGER, SQL_C_STINYINT, "128", 0, "22003"},
      {SQL_INTEGER, SQL_C_TINYINT, "-129", 0, "22003"},
      {SQL_INTEGER, SQL_C_BIT, "1", 1, ""},
      {SQL_INTEGER, SQL_C_BIT, "2", 0, "22003"},
      {SQL_INTEGER, SQL_C_USHORT, "65535", 65535, ""},
      {SQL_INTEGER, SQL_C_USHORT, "65536", 0, "22003"},
      {SQL_INTEGER, SQL_C_SHORT, "-32768", -32768, ""},
      {SQL_INTEGER, SQL_C_SSHORT, "32768", 0, "22003"},
      {SQL_INTEGER, SQL_C_LONG, "-2147483648", -2147483648LL, ""},
      {SQL_INTEGER, SQL_C_ULONG, "2147483647", 2147483647, ""},
      {SQL_INTEGER, SQL_C_ULONG, "-1", 0, "22003"},
      {SQL_SMALLINT, SQL_C_USHORT, "-1", 0, "22003"},
      {SQL_SMALLINT, SQL_C_USHORT, "32767", 32767, ""},
      {SQL_SMALLINT, SQL_C_ULONG, "-1", 0, "22003"},
      {SQL_SMALLINT, SQL_C_SLONG, "-32768", -32768, ""},
      {SQL_SMALLINT, SQL_C_UTINYINT, "256", 0, "22003"},
      {SQL_CHAR, SQL_C_UTINYINT, "255", 255, ""},
      {SQL_CHAR, SQL_C_UTINYINT, "255.5", 0, "22003"},  // the range is checked before the cut
      {SQL_CHAR, SQL_C_UTINYINT, "-0.5", 0, "22003"},
      {SQL_CHAR, SQL_C_BIT, "1.9", 1, "01004"},  // a bit takes anything below 2
      {SQL_CHAR, SQL_C_BIT, "2", 0, "22003"},
      {SQL_CHAR, SQL_C_TINYINT, "-128", -128, ""},
      {SQL_CHAR, SQL_C_USHORT, "65536", 0, "22003"},
      {SQL_CHAR, SQL_C_LONG, "-2147483648", 0, "22003"},  // refused as text
      {SQL_CHAR, SQL_C_LONG, "-2147483647", -2147483647, ""},
      {SQL_CHAR, SQL_C_SLONG, "2147483648", 0, "22003"},
      {SQL_CHAR, SQL_C_ULONG, "4294967295", 4294967295LL, ""},
      {SQL_CHAR, SQL_C_ULONG, "4294967296", 0, "22003"},
      {SQL_CHAR, SQL_C_LONG, "12.0", 12, "01004"},  // any "." is a cut
      {SQL_CHAR, SQL_C_LONG, "12", 12, ""},
      {SQL_CHAR, SQL_C_LONG, "-12.5", -12, "01004"},
      {SQL_CHAR, SQL_C_SHORT, "+.", 0, "01004"},
      {SQL_NUMERIC, SQL_C_SHORT, "12.5", 12, "01004"},
      {SQL_NUMERIC, SQL_C_SHORT, "-12.5", -12, ""},  // negative cuts pass silently
      {SQL_NUMERIC, SQL_C_SHORT, "12.0", 12, ""},
      {SQL_NUMERIC, SQL_C_LONG, "1e5", 100000, ""},  // no form check on decimals
      {SQL_NUMERIC, SQL_C_UTINYINT, "256", 0, "22003"},
      {SQL_NUMERIC, SQL_C_LONG, "-2147483648", 0, "22003"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.server) + " " + std::to_string(c.c_type) + " " + c.value);
    Bytes value = c.server == SQL_INTEGER    ? be32(int32_t(strtoll(c.value, nullptr, 10)))
                  : c.server == SQL_SMALLINT ? be16(int16_t(strtoll(c.value, nullptr, 10)))
                                             : text(c.value);
    Result r = run(c.server, c.c_type, value, 8);
    EXPECT_EQ(r.state, c.state);
    if (r.rc == SQL_ERROR) continue;
    int64_t got = 0;
    int size = 1;
    // clang-format off
    switch (c.c_type) {
      case SQL_C_UTINYINT: case SQL_C_BIT: got = r.as<uint8_t>(); break;
      case SQL_C_TINYINT: case SQL_C_STINYINT: got = r.as<int8_t>(); break;
      case SQL_C_USHORT: got = r.as<uint16_t>(), size = 2; break;
      case SQL_C_SHORT: case SQL_C_SSHORT: got = r.as<int16_t>(), size = 2; break;
      case SQL_C_ULONG: got = r.as<uint32_t>(), size = 4; break;
      default: got = r.as<int32_t>(), size = 4; break;
    }
    // clang-format on
    EXPECT_EQ(got, c.stored);
    EXPECT_EQ(r.length, size);
    EXPECT_EQ(r.out[size], kFill) << "wrote more than the target's size";
  }
}

TEST_F(Convert, BufferLengthPicksTheIntegerWidthForLongsAndShorts) {
  Result low16 = run(SQL_INTEGER, SQL_C_LONG, be32(0x12345678), 2);
  EXPECT_EQ(low16.length, 2);
  EXPECT_EQ(low16.as<uint16_t>(), 0x5678);
  Result wide = run(SQL_SMALLINT, SQL_C_SHORT, be16(-2), 4);
  EXPECT_EQ(wide.length, 4);
  EXPECT_EQ(wide.as<int32_t>(), -2);
  Result by_default = run(SQL_INTEGER, SQL_C_DEFAULT, be32(70000), 2);  // as SQL_C_LONG
  EXPECT_EQ(by_default.as<uint16_t>(), 70000 & 0xFFFF);
  // A 64-bit length just above 4 GiB is clamped, not wrapped to 2.
  Result clamped = run(SQL_INTEGER, SQL_C_LONG, be32(0x12345678), (SQLLEN(1) << 32) + 2, 8);
  EXPECT_EQ(clamped.length, 4);
  EXPECT_EQ(clamped.as<int32_t>(), 0x12345678);
}

TEST_F(Convert, FloatsAndDoubles) {
  EXPECT_EQ(run(SQL_CHAR, SQL_C_FLOAT, text("0.1"), 4).as<float>(), 0.1f);
  EXPECT_EQ(run(SQL_CHAR, SQL_C_DOUBLE, text("-0.1"), 8).as<double>(), -0.1);
  EXPECT_EQ(run(SQL_NUMERIC, SQL_C_DOUBLE, text("2.5e10"), 8).as<double>(), 2.5e10);
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_FLOAT, be32(16777217), 4).as<float>(), 16777216.0f);
  Result d = run(SQL_SMALLINT, SQL_C_DOUBLE, be16(-7), 8);
  EXPECT_EQ(d.as<double>(), -7.0);
  EXPECT_EQ(d.length, 8);
}

TEST_F(Convert, CharacterTextThatIsNoNumberIsAnAssignmentError) {
  for (const char* bad : {"", "+", "-", " 1", "1 ", "1e5", "1.2.3", "abc", "0x10", "1,5", "--1"}) {
    Result r = run(SQL_VARCHAR, SQL_C_LONG, text(bad), 4);
    EXPECT_EQ(r.state + " " + r.message, "22005 Error in Assignment") << '"' << bad << '"';
  }
}

// The byte after the value may be a digit of the next value's header.
TEST_F(Convert, ByteAfterTheValueIsNotReadAsPartOfIt) {
  uint8_t row[] = {'1', '2', '5', '5'};
  SQLLEN length = 0;
  int32_t got = 0;
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_LONG, row, 2, 4, &got, &length), SQL_SUCCESS);
  EXPECT_EQ(got, 12);
  EXPECT_EQ(row[2], '5');
}

TEST_F(Convert, FormattedIntegersAndWholeNumericTextNeedTheWholeBuffer) {
  Result r = run(SQL_INTEGER, SQL_C_CHAR, be32(INT32_MIN), 12);
  EXPECT_EQ(r.str(), "-2147483648");
  EXPECT_EQ(r.length, 11);
  EXPECT_EQ(run(SQL_SMALLINT, SQL_C_CHAR, be16(-32768), 7).str(), "-32768");
  EXPECT_EQ(run(SQL_SMALLINT, SQL_C_CHAR, be16(0), 2).str(), "0");
  r = run(SQL_INTEGER, SQL_C_CHAR, be32(INT32_MIN), 11);
  EXPECT_EQ(r.state + " " + r.message, "22005 Error in assignment");
  r = run(SQL_NUMERIC, SQL_C_DEFAULT, text("123.45"), 7);
  EXPECT_EQ(r.str(), "123.45");
  EXPECT_EQ(r.length, 6);
  EXPECT_EQ(stmt->getdata_offset, 0u) << "whole text is not piecewise";
  r = run(SQL_NUMERIC, SQL_C_CHAR, text("123.45"), 6);
  EXPECT_EQ(r.state + " " + r.message, "22005 Error in assignment");
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_LONG, Bytes{0, 1}, 4).state, "22005");  // short integer
}

// Fixed copies: bytes + NUL when they fit, else buffer_length - 1 bytes + NUL.
TEST_F(Convert, FixedCopiesIntoBinary) {
  int32_t host = 0x01020304;
  Result r = run(SQL_INTEGER, SQL_C_BINARY, be32(host), 5);
  EXPECT_EQ(memcmp(r.out.data(), &host, 4), 0);
  EXPECT_EQ(r.out[4], 0);
  EXPECT_EQ(r.length, 4);
  r = run(SQL_INTEGER, SQL_C_BINARY, be32(host), 4);
  EXPECT_EQ(r.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(memcmp(r.out.data(), &host, 3), 0);
  EXPECT_EQ(r.out[3], 0);
  EXPECT_EQ(run(SQL_NUMERIC, SQL_C_BINARY, text("12.5"), 3).str(), "12");
  EXPECT_EQ(run(SQL_TIMESTAMP, SQL_C_BINARY, text("2024-01-05 10:20:30"), 32).length, 19);
  for (SQLLEN none : {0, -1}) {  // nothing can be written: the length and a cut
    r = run(SQL_DATE, SQL_C_BINARY, text("2024-01-05"), none);
    EXPECT_EQ(r.rc, SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(r.length, 10);
  }
}

struct Piece {
  const char* out;
  SQLLEN length;
  SQLRETURN rc;
};

TEST_F(Convert, PiecewiseTextRawAndHexadecimal) {
  struct Sequence {
    SQLSMALLINT server, c_type;
    Bytes value;
    SQLLEN buffer_length;
    std::vector<Piece> pieces;
  } sequences[] = {
      {SQL_CHAR,
       SQL_C_CHAR,
       text("abcdefghij"),
       4,
       {{"abc", 10, 1}, {"def", 7, 1}, {"ghi", 4, 1}, {"j", 1, 0}, {"", 0, 0}}},
      {SQL_VARCHAR, SQL_C_DEFAULT, text("abcd"), 5, {{"abcd", 4, 0}, {"", 0, 0}}},
      {SQL_CHAR, SQL_C_BINARY, text("abcde"), 2, {{"ab", 5, 1}, {"cd", 3, 1}, {"e", 1, 0}}},
      {SQL_LONGVARBINARY, SQL_C_DEFAULT, text("xyz"), 3, {{"xyz", 3, 0}, {"", 0, 0}}},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A, 0xFF}, 10, {{"0aff", 4, 0}}},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A, 0xFF}, 4, {{"0a", 4, 1}, {"ff", 2, 0}, {"", 0, 0}}},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A, 0xFF}, 5, {{"0aff", 4, 0}}},
      {SQL_VARBINARY,
       SQL_C_CHAR,
       Bytes{0x0A, 0xFF, 0x10},
       3,
       {{"0a", 6, 1}, {"ff", 4, 1}, {"10", 2, 0}, {"", 0, 0}}},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A}, 2, {{"", 2, 1}, {"", 2, 1}}},  // no room for a pair
      // Below 1 byte nothing is written and nothing is consumed.
      {SQL_CHAR, SQL_C_CHAR, text("abc"), 0, {{nullptr, 3, 1}, {nullptr, 3, 1}}},
      {SQL_CHAR, SQL_C_CHAR, text(""), 0, {{nullptr, 0, 1}}},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{1, 2}, -3, {{nullptr, 4, 1}}},
      {SQL_VARBINARY, SQL_C_BINARY, Bytes{1, 2}, 0, {{nullptr, 2, 1}}},
      {SQL_VARBINARY, SQL_C_BINARY, Bytes{}, 0, {{nullptr, 0, 0}}},
  };
  for (const Sequence& s : sequences) {
    stmt->getdata_offset = 0;
    for (size_t i = 0; i < s.pieces.size(); ++i) {
      SCOPED_TRACE("sequence buffer " + std::to_string(s.buffer_length) + " piece " +
                   std::to_string(i));
      const Piece& p = s.pieces[i];
      Result r = run(s.server, s.c_type, s.value, s.buffer_length);
      EXPECT_EQ(r.rc, p.rc == 1 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
      EXPECT_EQ(r.length, p.length);
      if (p.out == nullptr) {
        EXPECT_EQ(r.out, Bytes(r.out.size(), kFill));
      } else if (s.c_type == SQL_C_BINARY || s.server == SQL_LONGVARBINARY) {
        EXPECT_EQ(std::string(r.out.begin(), r.out.begin() + strlen(p.out)), p.out);
        if (strlen(p.out) < r.out.size()) {
          EXPECT_EQ(r.out[strlen(p.out)], kFill);
        }
      } else {
        EXPECT_EQ(r.str(), p.out);
      }
    }
  }
}

TEST_F(Convert, HexadecimalDigitsForEveryByteValue) {
  Bytes all(256);
  std::string expected;
  for (int i = 0; i < 256; ++i) {
    all[i] = uint8_t(i);
    char pair[3];
    snprintf(pair, sizeof pair, "%02x", i);
    expected += pair;
  }
  std::vector<char> out(513);
  SQLLEN length;
  all.push_back(0);
  EXPECT_EQ(convert_value(stmt.get(), SQL_VARBINARY, SQL_C_CHAR, all.data(), 256, 513, out.data(),
                          &length),
            SQL_SUCCESS);
  EXPECT_EQ(std::string(out.data()), expected);
}

TEST_F(Convert, NullBufferReportsLengthOrRefusesFixedTargets) {
  SQLLEN length = 0;
  uint8_t value[] = {'a', 'b', 'c', 0};
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_CHAR, value, 3, 100, nullptr, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(stmt->getdata_offset, 0u);
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_LONG, value, 3, 4, nullptr, &length),
            SQL_ERROR);
  EXPECT_STREQ(stmt->sqlstate, "S1009");
}

TEST_F(Convert, ServerDatesTimesAndTimestamps) {
  struct Case {
    SQLSMALLINT server, c_type;
    const char* value;
    std::vector<int> fields;  // the structure's fields, fraction last for timestamps
  } cases[] = {
      {SQL_DATE, SQL_C_DATE, "2024-01-05", {2024, 1, 5}},
      {SQL_DATE, SQL_C_DEFAULT, "2024-13-45", {2024, 13, 45}},  // no range checks
      {SQL_DATE, SQL_C_TIMESTAMP, "2024-01-05", {2024, 1, 5, 0, 0, 0, 0}},
      {SQL_TIME, SQL_C_TIME, "10:20:30", {10, 20, 30}},
      {SQL_TIME, SQL_C_TIMESTAMP, "10:20:30", {2023, 7, 9, 10, 20, 30, 0}},  // today (UTC)
      {SQL_TIMESTAMP, SQL_C_DATE, "2024-01-05 10:20:30", {2024, 1, 5}},
      {SQL_TIMESTAMP, SQL_C_TIME, "2024-01-05 10:20:30.25", {10, 20, 30}},
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP, "2024-01-05 10:20:30.25", {2024, 1, 5, 10, 20, 30, 0}},
      // The day ends at offset 10 whatever stands there.
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP, "2024-01-05910:20:30", {2024, 1, 5, 10, 20, 30, 0}},
      {SQL_CHAR, SQL_C_DATE, "2024-01-05", {2024, 1, 5}},
      {SQL_CHAR, SQL_C_TIME, "24:00:00", {24, 0, 0}},
      {SQL_CHAR, SQL_C_TIMESTAMP, "2024-02-30", {2024, 2, 30, 0, 0, 0, 0}},
      {SQL_CHAR, SQL_C_TIMESTAMP, "10:20:30", {2023, 7, 9, 10, 20, 30, 0}},
      {SQL_CHAR, SQL_C_TIMESTAMP, "2024-01-05 10:20:30", {2024, 1, 5, 10, 20, 30, 0}},
      {SQL_CHAR, SQL_C_TIMESTAMP, "2024-01-05 25:00:00", {2024, 1, 5, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Result r = run(c.server, c.c_type, text(c.value), 16);
    ASSERT_NE(r.rc, SQL_ERROR) << r.state;
    std::vector<int> got;
    if (c.fields.size() == 3) {
      EXPECT_EQ(r.length, 6);
      for (int i = 0; i < 3; ++i) {
        int16_t field;
        memcpy(&field, r.out.data() + 2 * i, sizeof field);
        got.push_back(field);
      }
      EXPECT_EQ(r.out[6], kFill);
    } else {
      TIMESTAMP_STRUCT ts = r.as<TIMESTAMP_STRUCT>();
      EXPECT_EQ(r.length, 16);
      got = {ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, int(ts.fraction)};
    }
    EXPECT_EQ(got, c.fields);
  }
}

TEST_F(Convert, DateAndTimeFailuresAndCuts) {
  struct Case {
    SQLSMALLINT server, c_type;
    const char* value;
    SQLLEN buffer_length;
    const char* diag;  // state and text, or "01004" alone
  } cases[] = {
      {SQL_DATE, SQL_C_DATE, "2024-", 6, "22005 Error in assignment"},
      {SQL_DATE, SQL_C_CHAR, "2024-1-5", 11, "22008 Datetime field overflow"},
      {SQL_TIME, SQL_C_TIME, "10-20-30", 6, "22008 Datetime field overflow"},
      {SQL_TIMESTAMP, SQL_C_DATE, "2024-01-05 10:2", 6, "22005 Error in assignment"},
      {SQL_TIMESTAMP, SQL_C_DATE, "2024-01-05 10:20", 6, "22008 Datetime field overflow"},
      {SQL_DATE, SQL_C_CHAR, "2024-01-05", 10, "22003 Numeric value out of range"},
      {SQL_TIME, SQL_C_CHAR, "10:20:30", 8, "22003 Numeric value out of range"},
      {SQL_TIMESTAMP, SQL_C_CHAR, "2024-01-05 10:20:30", 19, "22003 Numeric value out of range"},
      {SQL_CHAR, SQL_C_TIME, "25:00:00", 6, "22008 Datetime field overflow"},
      {SQL_CHAR, SQL_C_DATE, "2024-13-01", 6, "22008 Datetime field overflow"},
      {SQL_CHAR, SQL_C_TIMESTAMP, "hello!", 16, "22008 Datetime field overflow"},
      {SQL_CHAR, SQL_C_TIMESTAMP, "10:2", 16, "22008 Datetime field overflow"},
      {SQL_CHAR, SQL_C_DATE, "2024-01-05x", 6, ""},
      {SQL_CHAR, SQL_C_DATE, "2024-01-05xy", 6, "01004"},
      {SQL_CHAR, SQL_C_TIME, "10:20:30x", 6, ""},
      {SQL_CHAR, SQL_C_TIME, "10:20:30.5", 6, "01004"},
      {SQL_CHAR, SQL_C_TIME, "2024-01-05 10:20:30", 6, "01004"},
  };
  for (const Case& c : cases) {
    Result r = run(c.server, c.c_type, text(c.value), c.buffer_length);
    std::string diag = r.state.empty() || r.state == "01004" ? r.state : r.state + " " + r.message;
    EXPECT_EQ(diag, c.diag) << c.value;
  }
}

TEST_F(Convert, DateTimeAndTimestampText) {
  Result r = run(SQL_TIMESTAMP, SQL_C_CHAR, text("2024-01-05 10:20:30.123"), 20);
  EXPECT_EQ(r.str(), "2024-01-05 10:20:30");
  EXPECT_EQ(r.length, 19);
  r = run(SQL_DATE, SQL_C_DEFAULT, text("2024-01-05"), 16);  // as SQL_C_DATE
  EXPECT_EQ(r.length, 6);
  r = run(SQL_TIME, SQL_C_CHAR, text("10:20:30"), 9);
  EXPECT_EQ(r.str(), "10:20:30");
  EXPECT_EQ(run(SQL_DATE, SQL_C_CHAR, text("2024-01-5"), 11).length, 9);
}

}  // namespace
}  // namespace q4
