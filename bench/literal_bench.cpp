// Literal cost per parameter kind: the request of "SELECT ?" built again and
// again with one bound value, as every execution (and every row of a
// parameter array) builds it. Prints nanoseconds per request for each kind;
// with a kind's name it runs that kind alone, which is the way to count its
// instructions: under
// `valgrind --tool=callgrind --toggle-collect='q4::build_request*'`,
// `build/q4_literal_bench 100000 char-double` reports the instructions of
// 100,000 requests as its "I refs". The character kinds bound as a number or
// a date include the check of the text against that type.
//
// Usage: q4_literal_bench [requests per kind, default 1000000] [kind]
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "core/records.h"
#include "statement/request.h"

namespace {

struct Kind {
  const char* name;
  SQLSMALLINT c_type;
  SQLSMALLINT sql_type;
  const void* value;
  SQLLEN length;
  SQLSMALLINT scale;
};

const double kDouble = -12345.5;
const int32_t kLong = 123456;
const SQL_NUMERIC_STRUCT kNumeric = {30, 10, 1, {0x15, 0x81, 0xE9, 0x7D, 0xF4, 0x10, 0x22, 0x11}};

const Kind kKinds[] = {
    {"char-varchar", SQL_C_CHAR, SQL_VARCHAR, "customer name 12345", SQL_NTS, 0},
    {"char-double", SQL_C_CHAR, SQL_DOUBLE, "-12345.5", SQL_NTS, 0},
    {"char-integer", SQL_C_CHAR, SQL_INTEGER, "123456", SQL_NTS, 0},
    {"char-numeric", SQL_C_CHAR, SQL_NUMERIC, "12345678901234567890.0123456789", SQL_NTS, 10},
    {"char-date", SQL_C_CHAR, SQL_DATE, "2003-04-15", SQL_NTS, 0},
    {"char-timestamp", SQL_C_CHAR, SQL_TIMESTAMP, "2003-04-15 10:20:30.123", SQL_NTS, 0},
    {"wchar-double", SQL_C_WCHAR, SQL_DOUBLE, u"-12345.5", SQL_NTS, 0},
    {"double", SQL_C_DOUBLE, SQL_DOUBLE, &kDouble, 8, 0},
    {"long", SQL_C_LONG, SQL_INTEGER, &kLong, 4, 0},
    {"numeric-struct", SQL_C_NUMERIC, SQL_NUMERIC, &kNumeric, sizeof kNumeric, 10},
};

// Builds the request `count` times; returns a sum over the requests so that
// the work cannot be left out.
long run(q4::Statement* stmt, q4::ParamBinding* binding, const Kind& kind, long count) {
  int64_t length = kind.length;
  binding->c_type = kind.c_type;
  binding->sql_type = kind.sql_type;
  binding->value = const_cast<void*>(kind.value);
  binding->indicator = &length;
  binding->scale = kind.scale;
  long sum = 0;
  for (long i = 0; i < count; ++i) {
    if (q4::build_request(stmt, "SELECT ?", 8) != SQL_SUCCESS) {
      fprintf(stderr, "%s: %s %s\n", kind.name, stmt->sqlstate, stmt->message);
      return sum;
    }
    sum += static_cast<long>(stmt->request_length);
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  long count = argc > 1 ? atol(argv[1]) : 1000000;
  const char* only = argc > 2 ? argv[2] : nullptr;
  auto* conn =
      static_cast<q4::Connection*>(q4::drv_alloc(nullptr, nullptr, sizeof(q4::Connection)));
  auto* stmt = static_cast<q4::Statement*>(q4::drv_alloc(nullptr, nullptr, sizeof(q4::Statement)));
  auto* binding =
      static_cast<q4::ParamBinding*>(q4::drv_alloc(nullptr, nullptr, sizeof(q4::ParamBinding)));
  conn->server_version = 754;
  stmt->connection = conn;
  binding->number = 1;
  app_param_desc(stmt).records = binding;
  long sum = 0;
  printf("build_request of \"SELECT ?\", %ld requests per kind\n", count);
  for (const Kind& kind : kKinds) {
    if (only != nullptr && strcmp(only, kind.name) != 0) continue;
    auto start = std::chrono::steady_clock::now();
    sum += run(stmt, binding, kind, count);
    std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    printf("  %-15s %7.1f ns\n", kind.name, count > 0 ? took.count() / count : 0.0);
  }
  printf("(checksum %ld)\n", sum);
  q4::drv_free(stmt->request_buffer);
  q4::drv_free(binding);
  q4::drv_free(stmt);
  q4::drv_free(conn);
  return 0;
}
