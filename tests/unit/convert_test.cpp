// Conversion of server values to C types: the matrix, ranges, cuts,
// piecewise reads, dates and times.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

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
  void SetUp() override { override_utc_today(2023, 7, 9); }
  void TearDown() override { clear_utc_today_override(); }

  // Converts `value` into `size` bytes (default: the buffer length, at most
  // 64) between guard bytes, checking what holds for every conversion: guards,
  // the value and the byte after it unchanged, nothing written on SQL_ERROR,
  // a diagnostic exactly when rc is not success, and "01004" for a warning.
  Result run(SQLSMALLINT server, SQLSMALLINT c_type, const Bytes& value, SQLLEN buffer_length,
             int size = -1) {
    if (size < 0) size = buffer_length < 0 ? 0 : buffer_length > 64 ? 64 : int(buffer_length);
    Bytes data = value;
    data.push_back('7');  // the byte after the value: borrowed as NUL, then restored
    const Bytes before = data;
    Bytes area(kGuard + size + kGuard, kFill);
    stmt->sqlstate[0] = '\0';
    Result r{0, "", kUnset, {}};
    r.rc = convert_value(stmt.get(), server, c_type, data.data(), int32_t(value.size()),
                         buffer_length, area.data() + kGuard, &r.length);
    if (stmt->sqlstate[0] != '\0') {
      r.diag = std::string(stmt->sqlstate) + " " + (stmt->message + strlen(kMessagePrefix));
    }
    r.out.assign(area.begin() + kGuard, area.end() - kGuard);
    EXPECT_EQ(Bytes(area.begin(), area.begin() + kGuard), Bytes(kGuard, kFill)) << "before";
    EXPECT_EQ(Bytes(area.end() - kGuard, area.end()), Bytes(kGuard, kFill)) << "past the buffer";
    EXPECT_EQ(data, before) << "the value or the byte after it changed";
    if (r.rc == SQL_ERROR) {
      EXPECT_EQ(r.length, kUnset) << "length written on error";
      EXPECT_EQ(r.out, Bytes(size, kFill)) << "buffer written on error";
    }
    EXPECT_EQ(r.diag.empty(), r.rc == SQL_SUCCESS);
    EXPECT_TRUE(r.rc != SQL_SUCCESS_WITH_INFO || r.diag == "01004 Data truncated") << r.diag;
    return r;
  }
  std::unique_ptr<Statement> stmt{new Statement()};
};

TEST_F(Convert, MatrixSendsEachPairToARuleOrRefusesIt) {
  // clang-format off
  const SQLSMALLINT c_types[] = {SQL_C_CHAR, SQL_C_BIT, SQL_C_TINYINT, SQL_C_STINYINT, SQL_C_UTINYINT,
      SQL_C_SHORT, SQL_C_SSHORT, SQL_C_USHORT, SQL_C_LONG, SQL_C_SLONG, SQL_C_ULONG, SQL_C_FLOAT,
      SQL_C_DOUBLE, SQL_C_DATE, SQL_C_TIME, SQL_C_TIMESTAMP, SQL_C_BINARY, SQL_C_DEFAULT,
      SQL_C_NUMERIC, SQL_C_WCHAR, SQL_C_SBIGINT, 0};
  // '.' converts (or its rule refuses the value), 'R' is "07006", 'N' "S1C00".
  struct Row { SQLSMALLINT type; Bytes value; const char* cells; } rows[] = {
      {SQL_CHAR, text("1"), "..................NNNN"},
      {SQL_NUMERIC, text("1"), ".............RRR..RRRR"},
      {SQL_INTEGER, be32(1), ".............RRR..RRRR"},
      {SQL_DATE, text("2024-01-05"), ".RRRRRRRRRRRR.R...RRRR"},
      {SQL_TIME, text("10:20:30"), ".RRRRRRRRRRRRR....RRRR"},
      {SQL_TIMESTAMP, text("2024-01-05 10:20:30"), ".RRRRRRRRRRRR.....RRRR"},
      {SQL_VARBINARY, Bytes{1, 2}, ".RRRRRRRRRRRRRRR..RRRR"},
      {SQL_LONGVARCHAR, text("1"), "NNNNNNNNNNNNNNNNNNNNNN"},  // never sent as a value
  };
  // clang-format on
  for (const Row& row : rows) {
    for (size_t i = 0; i < sizeof c_types / sizeof c_types[0]; ++i) {
      std::string diag = run(row.type, c_types[i], row.value, 32).diag.substr(0, 5);
      std::string want = row.cells[i] == 'R' ? "07006" : row.cells[i] == 'N' ? "S1C00" : "";
      if (want.empty()) {
        EXPECT_TRUE(diag != "07006" && diag != "S1C00") << row.type << " to " << c_types[i];
      } else {
        EXPECT_EQ(diag, want) << row.type << " to " << c_types[i];
      }
    }
  }
}

// Integer targets at and beyond the ends of their ranges.
TEST_F(Convert, IntegerTargetsAcceptExactlyTheirRanges) {
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; const char* value; int64_t stored; const char* state; } cases[] = {
      {SQL_INTEGER, SQL_C_UTINYINT, "255", 255, ""},       {SQL_INTEGER, SQL_C_UTINYINT, "256", 0, "22003"},
      {SQL_INTEGER, SQL_C_UTINYINT, "-1", 0, "22003"},     {SQL_INTEGER, SQL_C_BIT, "2", 0, "22003"},
      {SQL_INTEGER, SQL_C_LONG, "-2147483648", -2147483648LL, ""}, {SQL_SMALLINT, SQL_C_USHORT, "-1", 0, "22003"},
      {SQL_CHAR, SQL_C_UTINYINT, "255.5", 0, "22003"},     // the range is checked before the cut
      {SQL_CHAR, SQL_C_LONG, "-2147483648", 0, "22003"},   {SQL_CHAR, SQL_C_ULONG, "4294967295", 4294967295LL, ""},
      {SQL_CHAR, SQL_C_ULONG, "4294967296", 0, "22003"},   {SQL_CHAR, SQL_C_LONG, "12.0", 12, "01004"},  // any "." cuts
      {SQL_NUMERIC, SQL_C_SHORT, "12.5", 12, "01004"},     {SQL_NUMERIC, SQL_C_SHORT, "-12.5", -12, ""},  // silent
      {SQL_NUMERIC, SQL_C_LONG, "1e5", 100000, ""},  // no form check
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.server) + " " + std::to_string(c.c_type) + " " + c.value);
    Bytes value = c.server == SQL_INTEGER    ? be32(int32_t(strtoll(c.value, nullptr, 10)))
                  : c.server == SQL_SMALLINT ? be16(int16_t(strtoll(c.value, nullptr, 10)))
                                             : text(c.value);
    Result r = run(c.server, c.c_type, value, 8);
    EXPECT_EQ(r.diag.substr(0, 5), c.state);
    if (r.rc == SQL_ERROR) continue;
    int size = c.c_type == SQL_C_USHORT || c.c_type == SQL_C_SHORT || c.c_type == SQL_C_SSHORT ? 2
               : c.c_type == SQL_C_LONG || c.c_type == SQL_C_SLONG || c.c_type == SQL_C_ULONG  ? 4
                                                                                               : 1;
    EXPECT_EQ(memcmp(r.out.data(), &c.stored, size), 0) << "stored value (little-endian host)";
    EXPECT_EQ(r.length, size);
    EXPECT_EQ(r.out[size], kFill) << "wrote more than the target's size";
  }
}

// Longs and shorts take their width from the buffer length; a 64-bit length
// just above 4 GiB is clamped, not wrapped to 2.
TEST_F(Convert, NumbersAndTheirWidths) {
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_LONG, be32(0x12345678), 2).as<uint16_t>(), 0x5678);
  Result wide = run(SQL_SMALLINT, SQL_C_SHORT, be16(-2), 4);
  EXPECT_EQ(wide.length, 4);
  EXPECT_EQ(wide.as<int32_t>(), -2);
  Result clamped = run(SQL_INTEGER, SQL_C_LONG, be32(0x12345678), (SQLLEN(1) << 32) + 2, 8);
  EXPECT_EQ(clamped.length, 4);
  EXPECT_EQ(clamped.as<int32_t>(), 0x12345678);
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_FLOAT, be32(16777217), 4).as<float>(), 16777216.0f);
  EXPECT_EQ(run(SQL_VARCHAR, SQL_C_LONG, text(" 1"), 4).diag, "22005 Error in Assignment");
  EXPECT_EQ(run(SQL_INTEGER, SQL_C_LONG, Bytes{0, 1}, 4).diag.substr(0, 5), "22005");
  // The byte after the value may be a digit of the next value's header.
  uint8_t row[] = {'1', '2', '5', '5'};
  SQLLEN length = 0;
  int32_t got = 0;
  EXPECT_EQ(convert_value(stmt.get(), SQL_CHAR, SQL_C_LONG, row, 2, 4, &got, &length), SQL_SUCCESS);
  EXPECT_EQ(got, 12);
}

// Formatted integers, whole numeric text and fixed copies into binary: bytes
// and a NUL when they fit, else buffer_length - 1 bytes and a NUL (or an
// error for text that must be whole).
TEST_F(Convert, WholeTextsAndFixedCopies) {
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; Bytes value; SQLLEN buffer; const char* out; SQLLEN length; const char* diag; } cases[] = {
      {SQL_INTEGER, SQL_C_CHAR, be32(INT32_MIN), 12, "-2147483648", 11, ""},
      {SQL_INTEGER, SQL_C_CHAR, be32(INT32_MIN), 11, nullptr, kUnset, "22005 Error in assignment"},
      {SQL_NUMERIC, SQL_C_CHAR, text("123.45"), 6, nullptr, kUnset, "22005 Error in assignment"},
      {SQL_NUMERIC, SQL_C_BINARY, text("12.5"), 3, "12", 4, "01004 Data truncated"},
      {SQL_INTEGER, SQL_C_BINARY, be32(0x41424344), 4, "DCB", 4, "01004 Data truncated"},  // host order
      {SQL_TIMESTAMP, SQL_C_CHAR, text("2024-01-05 10:20:30.123"), 20, "2024-01-05 10:20:30", 19, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    Result r = run(c.server, c.c_type, c.value, c.buffer);
    EXPECT_EQ(r.diag, c.diag) << c.length;
    EXPECT_EQ(r.length, c.length);
    if (c.out != nullptr) {
      EXPECT_EQ(r.str(), c.out);
    }
  }
  EXPECT_EQ(stmt->getdata_offset, 0u) << "whole text is not piecewise";
}

// Successive calls continue where the last one stopped (plain text and bytes
// in pieces are read back in the wire tests); hexadecimal goes in whole
// pairs; below 1 byte nothing is written and nothing consumed.
TEST_F(Convert, PiecewiseHexadecimalAndEmptyBuffers) {
  // clang-format off
  struct Piece { const char* out; SQLLEN length; bool cut; };  // out nullptr: nothing written
  struct Sequence { SQLSMALLINT server, c_type; Bytes value; SQLLEN buffer; std::vector<Piece> pieces; } sequences[] = {
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A, 0xFF}, 4, {{"0a", 4, 1}, {"ff", 2, 0}, {"", 0, 0}}},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0x0A}, 2, {{"", 2, 1}, {"", 2, 1}}},  // no room for a pair
      {SQL_CHAR, SQL_C_CHAR, text("abc"), 0, {{nullptr, 3, 1}, {nullptr, 3, 1}}},
  };
  // clang-format on
  for (const Sequence& s : sequences) {
    stmt->getdata_offset = 0;
    for (size_t i = 0; i < s.pieces.size(); ++i) {
      SCOPED_TRACE("buffer " + std::to_string(s.buffer) + " piece " + std::to_string(i));
      const Piece& p = s.pieces[i];
      Result r = run(s.server, s.c_type, s.value, s.buffer);
      EXPECT_EQ(r.rc, p.cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
      EXPECT_EQ(r.length, p.length);
      if (p.out == nullptr) {
        EXPECT_EQ(r.out, Bytes(r.out.size(), kFill));
      } else {
        EXPECT_EQ(r.str(), p.out);
      }
    }
  }
}

// A null buffer reports the length of text (consuming nothing) and refuses
// fixed-size targets.
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

// Date and time fields (a 3-field struct or a timestamp), or the diagnostic.
TEST_F(Convert, DatesTimesAndTimestamps) {
  const char kOverflow[] = "22008 Datetime field overflow", kCut[] = "01004 Data truncated";
  const char kAssign[] = "22005 Error in assignment", kRange[] = "22003 Numeric value out of range";
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; const char* value; std::vector<int> fields; const char* diag = ""; SQLLEN buffer = 16; } cases[] = {
      {SQL_DATE, SQL_C_DEFAULT, "2024-13-45", {2024, 13, 45}},  // no range checks
      {SQL_TIME, SQL_C_TIMESTAMP, "10:20:30", {2023, 7, 9, 10, 20, 30, 0}},  // today (UTC)
      {SQL_TIMESTAMP, SQL_C_TIME, "2024-01-05 10:20:30.25", {10, 20, 30}},
      {SQL_CHAR, SQL_C_TIME, "25:00:00", {}, kOverflow},
      {SQL_CHAR, SQL_C_DATE, "2024-01-05x", {2024, 1, 5}},
      {SQL_CHAR, SQL_C_DATE, "2024-01-05xy", {2024, 1, 5}, kCut},
      {SQL_DATE, SQL_C_DATE, "2024-", {}, kAssign},
      {SQL_TIMESTAMP, SQL_C_DATE, "2024-01-05 10:20", {}, kOverflow},
      {SQL_DATE, SQL_C_CHAR, "2024-1-5", {}, kOverflow, 11},
      {SQL_DATE, SQL_C_CHAR, "2024-01-05", {}, kRange, 10},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Result r = run(c.server, c.c_type, text(c.value), c.buffer);
    EXPECT_EQ(r.diag, c.diag);
    std::vector<int> got;
    if (c.fields.size() == 3) {
      EXPECT_EQ(r.length, 6);
      int16_t f[3];
      memcpy(f, r.out.data(), sizeof f);
      got = {f[0], f[1], f[2]};
      EXPECT_EQ(r.out[6], kFill);
    } else if (!c.fields.empty()) {
      TIMESTAMP_STRUCT ts = r.as<TIMESTAMP_STRUCT>();
      EXPECT_EQ(r.length, 16);
      got = {ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, int(ts.fraction)};
    }
    EXPECT_EQ(got, c.fields);
  }
}

}  // namespace
}  // namespace q4
