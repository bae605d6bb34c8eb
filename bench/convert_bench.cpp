// Conversion cost per value kind: convert_value called again and again on one
// value lying in a buffer, as the row walker hands it over, into a target of
// the kind an application binds. Prints nanoseconds per conversion for each
// kind; with a kind's name it runs that kind alone, which is the way to count
// its instructions: under
// `valgrind --tool=callgrind --toggle-collect='q4::convert_value*'`,
// `build/q4_convert_bench 100000 date` reports the instructions of 100,000
// conversions as its "I refs".
//
// Usage: q4_convert_bench [conversions per kind, default 2000000] [kind]
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/records.h"
#include "results/convert.h"

namespace {

struct Kind {
  const char* name;
  SQLSMALLINT server_type;
  SQLSMALLINT c_type;
  const char* value;
  int32_t length;
  SQLLEN buffer_length = 64;  // the target buffer's length
};

// 1e300 as the server writes a double: 301 digits, no exponent.
#define Q4_TEN_ZEROS "0000000000"
#define Q4_HUNDRED_ZEROS                                                                     \
  Q4_TEN_ZEROS Q4_TEN_ZEROS Q4_TEN_ZEROS Q4_TEN_ZEROS Q4_TEN_ZEROS Q4_TEN_ZEROS Q4_TEN_ZEROS \
      Q4_TEN_ZEROS Q4_TEN_ZEROS Q4_TEN_ZEROS
const char kOneE300[] = "1" Q4_HUNDRED_ZEROS Q4_HUNDRED_ZEROS Q4_HUNDRED_ZEROS;
static_assert(sizeof kOneE300 == 302, "1 and 300 zeros");

// A kind whose value is the literal `value` (NULs inside it included: its
// length is the literal's).
template <size_t N>
constexpr Kind kind(const char* name, SQLSMALLINT server_type, SQLSMALLINT c_type,
                    const char (&value)[N], SQLLEN buffer_length = 64) {
  return Kind{name, server_type, c_type, value, static_cast<int32_t>(N - 1), buffer_length};
}

// The results benchmark's columns first (bound as it binds them), then the
// parsing conversions it does not use. One row a kind: the rows are alike on
// purpose, a table to add a kind to rather than code repeated.
const Kind kKinds[] = {
    kind("integer", SQL_INTEGER, SQL_C_LONG, "\x00\x01\x02\x03"),
    kind("varchar", SQL_VARCHAR, SQL_C_CHAR, "customer name 12345"),
    kind("numeric-char", SQL_NUMERIC, SQL_C_CHAR, "12345.67"),
    kind("date", SQL_DATE, SQL_C_DATE, "2003-04-15"),
    kind("timestamp", SQL_TIMESTAMP, SQL_C_TIMESTAMP, "2003-04-15 10:20:30"),
    kind("numeric-double", SQL_NUMERIC, SQL_C_DOUBLE, "-12345.5"),
    kind("numeric-bigint", SQL_NUMERIC, SQL_C_SBIGINT, "9223372036854775"),
    kind("char-long", SQL_CHAR, SQL_C_LONG, "12345"),
    kind("char-date", SQL_CHAR, SQL_C_DATE, "2003-04-15"),
    kind("timestamp-fraction", SQL_TIMESTAMP, SQL_C_TIMESTAMP, "2003-04-15 10:20:30.123456"),
    kind("timestamp-char", SQL_TIMESTAMP, SQL_C_CHAR, "2003-04-15 10:20:30.123456"),
    // Floating-point values as the server sends them (shortest decimal text
    // without exponent), and exact decimals into the numeric structure.
    kind("numeric-float", SQL_NUMERIC, SQL_C_FLOAT, "-12345.5"),
    kind("double-0.1", SQL_NUMERIC, SQL_C_DOUBLE, "0.1"),
    kind("double-1e300", SQL_NUMERIC, SQL_C_DOUBLE, kOneE300),
    kind("double-1e300-char16", SQL_NUMERIC, SQL_C_CHAR, kOneE300, 16),
    kind("numeric-struct", SQL_NUMERIC, SQL_C_NUMERIC, "12345.67"),
    kind("numeric-struct-30", SQL_NUMERIC, SQL_C_NUMERIC, "12345678901234567890.0123456789"),
};

// Converts `kind` `count` times; returns a sum over the results so that the
// work cannot be left out.
long run(q4::Statement* stmt, const Kind& kind, long count) {
  uint8_t value[320] = {};
  memcpy(value, kind.value, static_cast<size_t>(kind.length));
  alignas(16) uint8_t out[64];
  SQLLEN length = 0;
  long sum = 0;
  for (long i = 0; i < count; ++i) {
    stmt->getdata_offset = 0;
    q4::convert_value(stmt, kind.server_type, kind.c_type, value, kind.length, kind.buffer_length,
                      out, &length);
    sum += out[0] + length;
    stmt->sqlstate[0] = '\0';  // a warning or refusal is posted each time
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  long count = argc > 1 ? atol(argv[1]) : 2000000;
  const char* only = argc > 2 ? argv[2] : nullptr;
  std::unique_ptr<q4::Statement> stmt{new q4::Statement()};
  long sum = 0;
  printf("convert_value, %ld conversions per kind\n", count);
  for (const Kind& kind : kKinds) {
    if (only != nullptr && strcmp(only, kind.name) != 0) continue;
    auto start = std::chrono::steady_clock::now();
    sum += run(stmt.get(), kind, count);
    std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    printf("  %-15s %7.1f ns\n", kind.name, count > 0 ? took.count() / count : 0.0);
  }
  printf("(checksum %ld)\n", sum);
  return 0;
}
