// Conversions and parsers read a value where it lies: its bytes and nothing after them. Each
// case runs twice, with the value at the very end of a readable page (the next page faults when
// touched) and followed by a byte that would change the result if it were read.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/records.h"
#include "results/convert.h"
#include "results/parse.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes text(const char* s) {
  return Bytes(s, s + strlen(s));
}

// Two pages, the second inaccessible: place() puts bytes at the end of the first.
class GuardedPage {
 public:
  GuardedPage() {
    size_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map =
        mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(map, MAP_FAILED);
    base_ = static_cast<uint8_t*>(map);
    EXPECT_EQ(mprotect(base_ + size_, size_, PROT_NONE), 0);
  }
  ~GuardedPage() { munmap(base_, 2 * size_); }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;

  const uint8_t* place(const Bytes& value) {
    uint8_t* at = base_ + size_ - value.size();
    if (!value.empty()) memcpy(at, value.data(), value.size());
    return at;
  }

 private:
  uint8_t* base_ = nullptr;
  size_t size_ = 0;
};

// The result of a conversion in a few characters: the value written (numbers, fields as
// Y-M-D h:m:s, text, UTF-16 units in hexadecimal) and " 01004" after a cut, or the SQLSTATE.
std::string render(Statement* stmt, SQLRETURN rc, SQLSMALLINT c_type, const uint8_t* out) {
  if (rc == SQL_ERROR) return stmt->sqlstate;
  char s[80];
  int16_t f[3];
  memcpy(f, out, sizeof f);
  switch (c_type) {
    case SQL_C_LONG: {
      int32_t v;
      memcpy(&v, out, sizeof v);
      snprintf(s, sizeof s, "%d", v);
      break;
    }
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: {
      long long v;
      memcpy(&v, out, sizeof v);
      snprintf(s, sizeof s, "%lld", v);
      break;
    }
    case SQL_C_DOUBLE: {
      double v;
      memcpy(&v, out, sizeof v);
      snprintf(s, sizeof s, "%.17g", v);
      break;
    }
    case SQL_C_DATE:
      snprintf(s, sizeof s, "%d-%d-%d", f[0], f[1], f[2]);
      break;
    case SQL_C_TIME:
      snprintf(s, sizeof s, "%d:%d:%d", f[0], f[1], f[2]);
      break;
    case SQL_C_TIMESTAMP: {
      TIMESTAMP_STRUCT ts;
      memcpy(&ts, out, sizeof ts);
      snprintf(s, sizeof s, "%d-%d-%d %d:%d:%d", ts.year, ts.month, ts.day, ts.hour, ts.minute,
               ts.second);
      break;
    }
    case SQL_C_WCHAR: {
      std::string units;
      for (const uint8_t* p = out; p[0] != 0 || p[1] != 0; p += 2) {
        snprintf(s, sizeof s, "%s%04x", units.empty() ? "" : " ", p[0] | p[1] << 8);
        units += s;
      }
      snprintf(s, sizeof s, "%s", units.c_str());
      break;
    }
    default:  // SQL_C_CHAR
      snprintf(s, sizeof s, "%s", reinterpret_cast<const char*>(out));
      break;
  }
  return std::string(s) + (rc == SQL_SUCCESS_WITH_INFO ? " " + std::string(stmt->sqlstate) : "");
}

// One row per conversion kind; `after` would change the result if it were read as part of the
// value (what it would give is noted where it is not obvious).
TEST(ConvertInPlace, NothingAfterTheValueIsRead) {
  // clang-format off
  struct Case { SQLSMALLINT server, c_type; Bytes value; uint8_t after; const char* expect; } cases[] = {
      // Character text to numbers.
      {SQL_CHAR, SQL_C_LONG, text("12"), '7', "12"},
      {SQL_CHAR, SQL_C_LONG, text(""), '7', "22005"},
      {SQL_CHAR, SQL_C_LONG, text("-"), '1', "22005"},
      {SQL_CHAR, SQL_C_DOUBLE, text("1."), '5', "1"},
      {SQL_CHAR, SQL_C_UBIGINT, text("-0"), '1', "0"},  // "-01": out of range
      // Decimal values to numbers: parsed, and digit strings read exactly.
      {SQL_NUMERIC, SQL_C_DOUBLE, text("2.5e"), '3', "2.5"},
      {SQL_NUMERIC, SQL_C_SBIGINT, text("922337203685477580"), '7', "922337203685477580"},
      // Integers shorter than their width stay refused.
      {SQL_INTEGER, SQL_C_LONG, Bytes{0, 0, 1}, 2, "22005"},
      // Character text to dates, times and timestamps.
      {SQL_CHAR, SQL_C_DATE, text("2024-01-0"), '5', "22008"},  // day 0
      {SQL_CHAR, SQL_C_DATE, text("2024-01-1"), '5', "2024-1-1"},
      {SQL_CHAR, SQL_C_TIME, text("10:20:3"), '0', "10:20:3"},
      {SQL_CHAR, SQL_C_TIME, text("10:20:"), '3', "22008"},
      {SQL_CHAR, SQL_C_TIMESTAMP, text("2024-01-05 10:20:"), '3', "2024-1-5 0:0:0"},  // no time
      // Server dates, times and timestamps: fields at fixed offsets, and their text.
      {SQL_DATE, SQL_C_DATE, text("2024-01-0"), '9', "2024-1-0"},
      {SQL_DATE, SQL_C_DATE, text("2024-01"), '-', "22008"},  // no "-" at offset 7
      {SQL_TIME, SQL_C_TIME, text("10:20:3"), '7', "10:20:3"},
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP, text("2024-01-05 10:20:3"), '7', "2024-1-5 10:20:3"},
      {SQL_DATE, SQL_C_CHAR, text("2024-01-0"), '5', "2024-01-0"},
      // Text, numbers as text, bytes as hexadecimal digits, UTF-8 into UTF-16.
      {SQL_CHAR, SQL_C_CHAR, text("abc"), 'd', "abc"},
      {SQL_NUMERIC, SQL_C_CHAR, text("12.5"), '0', "12.5"},
      {SQL_VARBINARY, SQL_C_CHAR, Bytes{0xAB}, 0xCD, "ab"},
      {SQL_CHAR, SQL_C_WCHAR, Bytes{'a', 0xC3}, 0xA9, "0061 fffd"},  // "a\u00e9" if read
  };
  // clang-format on
  GuardedPage page;
  std::unique_ptr<Statement> stmt{new Statement()};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value.begin(), c.value.end()));
    Bytes followed = c.value;
    followed.push_back(c.after);
    for (const uint8_t* data :
         {page.place(c.value), static_cast<const uint8_t*>(followed.data())}) {
      uint8_t out[64] = {};
      SQLLEN length = 0;
      stmt->sqlstate[0] = '\0';
      stmt->getdata_offset = 0;
      SQLRETURN rc = convert_value(stmt.get(), c.server, c.c_type, data, int32_t(c.value.size()),
                                   sizeof out, out, &length);
      EXPECT_EQ(render(stmt.get(), rc, c.c_type, out), c.expect)
          << (data == followed.data() ? "followed by a byte" : "at the end of the page");
    }
  }
}

// The parsers directly, at the end of the page and with a byte after the text.
TEST(ConvertInPlace, ParsersStopAtTheLength) {
  enum Parser { kNumber, kDouble, kInt, kDate, kTime };
  // clang-format off
  struct Case { Parser parser; const char* text; char after; const char* expect; } cases[] = {
      {kNumber, "12", 'x', "valid"}, {kNumber, "+", '1', "invalid"}, {kNumber, "", '1', "invalid"},
      {kDouble, "1.5e", '7', "1.5"}, {kDouble, " -", '2', "-0"},
      {kInt, " -12", '3', "-12"}, {kInt, "", '9', "0"},
      {kDate, "2024-01-1", '5', "2024-1-1"}, {kDate, "2024-01", '-', "invalid"},
      {kTime, "10:20:3", '0', "10:20:3"}, {kTime, "10:20:", '1', "invalid"},
      {kTime, "2024-01-05 10:20:", '3', "invalid"},  // the time of a timestamp text
  };
  // clang-format on
  GuardedPage page;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Bytes followed = text(c.text);
    followed.push_back(static_cast<uint8_t>(c.after));
    for (const uint8_t* at :
         {page.place(text(c.text)), static_cast<const uint8_t*>(followed.data())}) {
      const char* t = reinterpret_cast<const char*>(at);
      int32_t n = int32_t(strlen(c.text));
      char s[48];
      DateFields date;
      TimeFields time;
      switch (c.parser) {
        case kNumber:
          snprintf(s, sizeof s, "%s", scan_number(t, n).valid ? "valid" : "invalid");
          break;
        case kDouble:
          snprintf(s, sizeof s, "%g", parse_double(t, n));
          break;
        case kInt:
          snprintf(s, sizeof s, "%d", parse_int(t, n));
          break;
        case kDate:
          if (parse_date(t, n, &date)) {
            snprintf(s, sizeof s, "%d-%d-%d", date.year, date.month, date.day);
          } else {
            snprintf(s, sizeof s, "invalid");
          }
          break;
        case kTime:
          if (parse_time(t, n, &time)) {
            snprintf(s, sizeof s, "%d:%d:%d", time.hour, time.minute, time.second);
          } else {
            snprintf(s, sizeof s, "invalid");
          }
          break;
      }
      EXPECT_EQ(std::string(s), c.expect)
          << (at == followed.data() ? "followed by a byte" : "at the end of the page");
    }
  }
}

}  // namespace
}  // namespace q4
