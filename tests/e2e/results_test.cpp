// Reading results through the Driver Manager: every wire type into the C
// types that take it, and a million rows through bound columns.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support.h"

namespace q4e2e {
namespace {

// The C value in a buffer, written out: numbers in decimal, structures in
// their usual text form, binary values in hexadecimal.
std::string render(SQLSMALLINT c_type, const void* buffer, SQLLEN length) {
  char text[128];
  const auto* b = static_cast<const unsigned char*>(buffer);
  switch (c_type) {
    case SQL_C_CHAR:
      return std::string(static_cast<const char*>(buffer));
    case SQL_C_LONG:
      return std::to_string(*static_cast<const SQLINTEGER*>(buffer));
    case SQL_C_SHORT:
      return std::to_string(*static_cast<const SQLSMALLINT*>(buffer));
    case SQL_C_TINYINT:
      return std::to_string(*static_cast<const SQLSCHAR*>(buffer));
    case SQL_C_FLOAT:
      snprintf(text, sizeof text, "%g", *static_cast<const float*>(buffer));
      break;
    case SQL_C_DOUBLE:
      snprintf(text, sizeof text, "%g", *static_cast<const double*>(buffer));
      break;
    case SQL_C_DATE: {
      const auto* d = static_cast<const DATE_STRUCT*>(buffer);
      snprintf(text, sizeof text, "%04d-%02d-%02d", d->year, d->month, d->day);
      break;
    }
    case SQL_C_TIME: {
      const auto* t = static_cast<const TIME_STRUCT*>(buffer);
      snprintf(text, sizeof text, "%02d:%02d:%02d", t->hour, t->minute, t->second);
      break;
    }
    case SQL_C_TIMESTAMP: {
      const auto* ts = static_cast<const TIMESTAMP_STRUCT*>(buffer);
      snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%u", ts->year, ts->month, ts->day,
               ts->hour, ts->minute, ts->second, static_cast<unsigned>(ts->fraction));
      break;
    }
    case SQL_C_BINARY: {
      std::string hex;
      for (SQLLEN i = 0; i < length; ++i) {
        snprintf(text, sizeof text, "%02x", b[i]);
        hex += text;
      }
      return hex;
    }
    default:
      return "?";
  }
  return text;
}

class Results : public Connected {};

std::string utc_today() {
  time_t now = time(nullptr);
  struct tm day;
  gmtime_r(&now, &day);
  char text[16];
  strftime(text, sizeof text, "%Y-%m-%d", &day);
  return text;
}

TEST_F(Results, EveryWireTypeIntoEachCType) {
  exec(
      "CREATE TABLE every_type (i INTEGER, s SMALLINT, c CHAR(4), v VARCHAR(30), "
      "vn VARCHAR(10), n NUMERIC(9,3), d DATE, t TIME, ts TIMESTAMP, vb VARBINARY(8), lb BLOB)");
  exec(
      "INSERT INTO every_type VALUES (42, -7, 'ab', 'O''Brien', '12.5', 3.5, '2024-02-29', "
      "'07:08:09', '2024-01-02 03:04:05', x'00ff10', x'cafe')");
  // SQL_C_DEFAULT is rendered as the type the driver picks for the column.
  // clang-format off
  const struct { const char* column; SQLSMALLINT c_type, rendered_as; std::string expected; } cases[] = {
      {"i", SQL_C_CHAR, SQL_C_CHAR, "42"}, {"i", SQL_C_LONG, SQL_C_LONG, "42"},
      {"i", SQL_C_SHORT, SQL_C_SHORT, "42"}, {"i", SQL_C_TINYINT, SQL_C_TINYINT, "42"},
      {"i", SQL_C_DOUBLE, SQL_C_DOUBLE, "42"}, {"i", SQL_C_FLOAT, SQL_C_FLOAT, "42"},
      {"i", SQL_C_DEFAULT, SQL_C_LONG, "42"},
      {"s", SQL_C_CHAR, SQL_C_CHAR, "-7"}, {"s", SQL_C_SHORT, SQL_C_SHORT, "-7"},
      {"s", SQL_C_LONG, SQL_C_LONG, "-7"}, {"s", SQL_C_DOUBLE, SQL_C_DOUBLE, "-7"},
      {"c", SQL_C_CHAR, SQL_C_CHAR, "ab"}, {"c", SQL_C_BINARY, SQL_C_BINARY, "6162"},
      {"v", SQL_C_CHAR, SQL_C_CHAR, "O'Brien"}, {"v", SQL_C_DEFAULT, SQL_C_CHAR, "O'Brien"},
      {"vn", SQL_C_DOUBLE, SQL_C_DOUBLE, "12.5"}, {"vn", SQL_C_FLOAT, SQL_C_FLOAT, "12.5"},
      {"n", SQL_C_CHAR, SQL_C_CHAR, "3.500"}, {"n", SQL_C_DOUBLE, SQL_C_DOUBLE, "3.5"},
      {"n", SQL_C_FLOAT, SQL_C_FLOAT, "3.5"}, {"n", SQL_C_DEFAULT, SQL_C_CHAR, "3.500"},
      {"d", SQL_C_CHAR, SQL_C_CHAR, "2024-02-29"}, {"d", SQL_C_DATE, SQL_C_DATE, "2024-02-29"},
      {"d", SQL_C_TIMESTAMP, SQL_C_TIMESTAMP, "2024-02-29 00:00:00.0"},
      {"t", SQL_C_CHAR, SQL_C_CHAR, "07:08:09"}, {"t", SQL_C_TIME, SQL_C_TIME, "07:08:09"},
      {"t", SQL_C_TIMESTAMP, SQL_C_TIMESTAMP, utc_today() + " 07:08:09.0"},
      {"ts", SQL_C_CHAR, SQL_C_CHAR, "2024-01-02 03:04:05"},
      {"ts", SQL_C_DATE, SQL_C_DATE, "2024-01-02"}, {"ts", SQL_C_TIME, SQL_C_TIME, "03:04:05"},
      {"ts", SQL_C_TIMESTAMP, SQL_C_TIMESTAMP, "2024-01-02 03:04:05.0"},
      {"vb", SQL_C_CHAR, SQL_C_CHAR, "00ff10"}, {"vb", SQL_C_BINARY, SQL_C_BINARY, "00ff10"},
      {"vb", SQL_C_DEFAULT, SQL_C_BINARY, "00ff10"},
      {"lb", SQL_C_CHAR, SQL_C_CHAR, "cafe"}, {"lb", SQL_C_BINARY, SQL_C_BINARY, "cafe"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " as C type " + std::to_string(c.c_type));
    exec(std::string("SELECT ") + c.column + " FROM every_type");
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << diag();
    alignas(8) unsigned char buffer[64] = {};
    SQLLEN length = 0;
    ASSERT_EQ(SQLGetData(stmt_, 1, c.c_type, buffer, sizeof buffer, &length), SQL_SUCCESS)
        << diag();
    EXPECT_EQ(render(c.rendered_as, buffer, length), c.expected);
    EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
  }
}

TEST_F(Results, AMillionRowsThroughBoundColumns) {
  constexpr int kRows = 1000000;
  exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
       std::to_string(kRows) + ") SELECT i, 'name ' || i, i % 1000, i * 0.25 FROM n");
  SQLINTEGER id = 0;
  char name[24];
  SQLSMALLINT small = 0;
  double quarter = 0;
  SQLLEN name_length = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, name, sizeof name, &name_length), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_SHORT, &small, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 4, SQL_C_DOUBLE, &quarter, 0, nullptr), SQL_SUCCESS);
  const auto started = std::chrono::steady_clock::now();
  int rows = 0, wrong = 0;
  char expected_name[24];
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS) {
    ++rows;
    snprintf(expected_name, sizeof expected_name, "name %d", rows);
    if ((id != rows || strcmp(name, expected_name) != 0 || small != rows % 1000 ||
         quarter != rows * 0.25 || name_length != static_cast<SQLLEN>(strlen(expected_name))) &&
        ++wrong <= 3) {
      ADD_FAILURE() << "row " << rows << ": " << id << " " << name << " " << small << " "
                    << quarter;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(rc, SQL_NO_DATA_FOUND) << diag();
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(wrong, 0);
  printf("%d rows with 4 bound columns in %.2f s (%.0f rows/s)\n", rows, seconds, rows / seconds);
}

}  // namespace
}  // namespace q4e2e
