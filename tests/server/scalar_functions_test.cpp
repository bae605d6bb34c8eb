// The {fn ...} escapes as SQLite runs them, and the information request's
// masks of those functions and of CONVERT, as the driver has always read them.
#include <gtest/gtest.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <string>

#include "server/storage/sql_functions.h"
#include "server/translation/escape_translator.h"
#include "server/translation/scalar_functions.h"

namespace q4::test {
namespace {

// Every function the masks announce, CONVERT to every type, nesting, and the
// refusals: the escape after SELECT, and its value as SQLite gives it as text
// (or the refusal's message). The functions of an everyday report (UCASE, LEFT,
// IFNULL, CONCAT, ROUND, TRUNCATE, MOD, MONTHNAME, QUARTER, DAYOFWEEK, USER)
// are the e2e scalar functions script's.
TEST(ScalarFunctions, EveryFunctionRunsOnSqlite) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  lite::SessionNames names{"test", "main"};
  ASSERT_EQ(lite::register_sql_functions(db, &names), SQLITE_OK);
  const struct {
    const char* escape;
    const char* value;  // or the message of a refusal
    bool refused = false;
  } cases[] = {
      // clang-format off
      {"{fn ABS(-2)}", "2"}, {"{fn ACOS(1)}", "0.0"}, {"{fn ASIN(0)}", "0.0"},
      {"{fn ATAN(0)}", "0.0"}, {"{fn ATAN2(0, 1)}", "0.0"}, {"{fn CEILING(1.2)}", "2.0"},
      {"{fn COS(0)}", "1.0"}, {"{fn COT(1)}", "0.642092615934331"},
      {"{fn DEGREES({fn PI()})}", "180.0"}, {"{fn EXP(0)}", "1.0"}, {"{fn FLOOR(1.8)}", "1.0"},
      {"{fn LOG(1)}", "0.0"}, {"{fn LOG10(100)}", "2.0"},
      {"{fn PI()}", "3.14159265358979"}, {"{fn POWER(2, 10)}", "1024.0"},
      {"{fn RADIANS(180)}", "3.14159265358979"}, {"{fn RAND()} BETWEEN 0 AND 1", "1"},
      {"{fn RAND(7)} BETWEEN 0 AND 1", "1"}, {"{fn SIGN(-3)}", "-1"},
      {"{fn SIN(0)}", "0.0"}, {"{fn SQRT(16)}", "4.0"}, {"{fn TAN(0)}", "0.0"},
      {"{fn ASCII('a')}", "97"}, {"{fn CHAR(65)}", "A"},
      {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"},
      {"{fn LCASE('AbC')}", "abc"}, {"{fn LENGTH('ab  ')}", "2"},
      {"{fn LOCATE('b', 'abcb')}", "2"}, {"{fn LOCATE('b', 'abcb', 3)}", "4"},
      {"{fn LTRIM('  a')}", "a"}, {"{fn REPEAT('ab', 3)}", "ababab"},
      {"{fn REPLACE('aXa', 'X', 'y')}", "aya"}, {"{fn RIGHT('abc', 2)}", "bc"},
      {"{fn RIGHT('abc', 0)}", ""}, {"{fn RTRIM('a  ')}", "a"}, {"{fn SOUNDEX('Robert')}", "R163"},
      {"'[' || {fn SPACE(3)} || ']'", "[   ]"}, {"{fn SUBSTRING('abcdef', 3)}", "cdef"},
      {"{fn SUBSTRING('abcdef', 2, 3)}", "bcd"},
      {"{fn DATABASE()}", "main"},
      {"length({fn CURDATE()})", "10"}, {"length({fn CURTIME()})", "8"},
      {"length({fn NOW()})", "19"}, {"{fn DAYNAME('2024-02-29')}", "Thursday"},
      {"{fn DAYOFMONTH('2024-02-29')}", "29"},
      {"{fn DAYOFYEAR('2024-02-29')}", "60"}, {"{fn HOUR('2024-02-29 10:11:12')}", "10"},
      {"{fn MINUTE('2024-02-29 10:11:12')}", "11"}, {"{fn MONTH('2024-02-29')}", "2"},
      {"{fn SECOND('2024-02-29 10:11:12')}", "12"}, {"{fn WEEK('2024-02-29')}", "10"},
      {"{fn YEAR('2024-02-29')}", "2024"}, {"{fn ucase({fn left('abc', 2)})}", "AB"},
      {"{fn CONVERT('12.5', SQL_BIGINT)}", "12"}, {"{fn CONVERT('ab', SQL_BINARY)}", "ab"},
      {"{fn CONVERT(2, SQL_BIT)}", "1"}, {"{fn CONVERT(12, SQL_CHAR)}", "12"},
      {"{fn CONVERT('2024-02-29 10:11:12', SQL_DATE)}", "2024-02-29"},
      {"{fn CONVERT('12.5', SQL_DECIMAL)}", "12.5"}, {"{fn CONVERT('12.5', SQL_DOUBLE)}", "12.5"},
      {"{fn CONVERT('12.5', SQL_FLOAT)}", "12.5"}, {"{fn CONVERT('12.5', SQL_INTEGER)}", "12"},
      {"{fn CONVERT('ab', SQL_LONGVARBINARY)}", "ab"}, {"{fn CONVERT(12, SQL_LONGVARCHAR)}", "12"},
      {"{fn CONVERT('12.5', SQL_NUMERIC)}", "12.5"}, {"{fn CONVERT('12.5', SQL_REAL)}", "12.5"},
      {"{fn CONVERT('12.5', SQL_SMALLINT)}", "12"},
      {"{fn CONVERT('2024-02-29 10:11:12', SQL_TIME)}", "10:11:12"},
      {"{fn CONVERT('2024-02-29 10:11', SQL_TIMESTAMP)}", "2024-02-29 10:11:00"},
      {"{fn CONVERT('12.5', SQL_TINYINT)}", "12"}, {"{fn CONVERT('ab', SQL_VARBINARY)}", "ab"},
      {"{fn CONVERT(12, sql_varchar )}", "12"},
      {"{fn CONVERT(12, SQL_WCHAR)}", "CONVERT to an unsupported type: SQL_WCHAR", true},
      {"{fn CONVERT(12)}", "CONVERT takes a value and a type", true},
      {"{fn LEFT('abc')}", "wrong number of arguments to scalar function LEFT", true},
      {"{fn RAND(1, 2)}", "wrong number of arguments to scalar function RAND", true},
      {"{fn NOSUCH(1)}", "unsupported scalar function NOSUCH", true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escape);
    std::string sql;
    std::string error;
    const bool translated =
        lite::translate_escapes(std::string("SELECT ") + c.escape, 0, &sql, &error);
    EXPECT_EQ(!translated, c.refused);
    if (!translated) {
      EXPECT_EQ(error, c.value);
      continue;
    }
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW) << sql;
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    EXPECT_EQ(std::string(text != nullptr ? reinterpret_cast<const char*>(text) : "NULL"), c.value)
        << sql;
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
}

TEST(ScalarFunctions, InformationMasks) {
  constexpr uint16_t kConvert = SQL_CONVERT_FUNCTIONS;
  constexpr uint32_t kNone = uint32_t(lite::kNoInformation);
  // clang-format off
  const struct {
    uint16_t first;
    uint16_t second;
    uint32_t mask;
  } cases[] = {
      {SQL_NUMERIC_FUNCTIONS, 0, 0x00FFFFFF},   // all 24 of ODBC 2
      {SQL_STRING_FUNCTIONS, 0, 0x00077FFF},    // all but DIFFERENCE
      {SQL_SYSTEM_FUNCTIONS, 0, 0x00000007},    // USERNAME, DBNAME, IFNULL
      {SQL_TIMEDATE_FUNCTIONS, 0, 0x00019FFF},  // all but TIMESTAMPADD, TIMESTAMPDIFF
      // What CONVERT turns each type into.
      {kConvert, SQL_CONVERT_BIGINT, 0x00047FFF}, {kConvert, SQL_CONVERT_BINARY, 0x00040F01},
      {kConvert, SQL_CONVERT_BIT, 0x00047FFF}, {kConvert, SQL_CONVERT_CHAR, 0x0007FFFF},
      {kConvert, SQL_CONVERT_DATE, 0x00028301}, {kConvert, SQL_CONVERT_DECIMAL, 0x00047FFF},
      {kConvert, SQL_CONVERT_DOUBLE, 0x00047FFF}, {kConvert, SQL_CONVERT_FLOAT, 0x00047FFF},
      {kConvert, SQL_CONVERT_INTEGER, 0x00047FFF}, {kConvert, SQL_CONVERT_LONGVARCHAR, 0x0007FFFF},
      {kConvert, SQL_CONVERT_NUMERIC, 0x00047FFF}, {kConvert, SQL_CONVERT_REAL, 0x00047FFF},
      {kConvert, SQL_CONVERT_SMALLINT, 0x00047FFF}, {kConvert, SQL_CONVERT_TIME, 0x00010301},
      {kConvert, SQL_CONVERT_TIMESTAMP, 0x00038301}, {kConvert, SQL_CONVERT_TINYINT, 0x00047FFF},
      {kConvert, SQL_CONVERT_VARBINARY, 0x00040F01}, {kConvert, SQL_CONVERT_VARCHAR, 0x0007FFFF},
      {kConvert, SQL_CONVERT_LONGVARBINARY, 0x00040F01},
      // Nothing to say.
      {kConvert, SQL_CONVERT_BIGINT - 1, kNone}, {kConvert, SQL_CONVERT_LONGVARBINARY + 1, kNone},
      {SQL_NUMERIC_FUNCTIONS, 1, kNone}, {kConvert - 1, 0, kNone}, {SQL_CONVERT_BIGINT, 0, kNone},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(uint32_t(lite::server_information(c.first, c.second)), c.mask)
        << c.first << " " << c.second;
  }
}

}  // namespace
}  // namespace q4::test
