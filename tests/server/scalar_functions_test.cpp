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
// (or the refusal's message).
TEST(ScalarFunctions, EveryFunctionRunsOnSqlite) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  lite::SessionNames names{"test", "main"};
  ASSERT_EQ(lite::register_sql_functions(db, &names), SQLITE_OK);
  const struct {
    const char* escape;
    const char* value;  // or the message of a refusal
    bool refused;
  } cases[] = {
      // clang-format off
      {"{fn ABS(-2)}", "2", false},
      {"{fn ACOS(1)}", "0.0", false},
      {"{fn ASIN(0)}", "0.0", false},
      {"{fn ATAN(0)}", "0.0", false},
      {"{fn ATAN2(0, 1)}", "0.0", false},
      {"{fn CEILING(1.2)}", "2.0", false},
      {"{fn COS(0)}", "1.0", false},
      {"{fn COT(1)}", "0.642092615934331", false},
      {"{fn DEGREES({fn PI()})}", "180.0", false},
      {"{fn EXP(0)}", "1.0", false},
      {"{fn FLOOR(1.8)}", "1.0", false},
      {"{fn LOG(1)}", "0.0", false},
      {"{fn LOG10(100)}", "2.0", false},
      {"{fn MOD(7, 3)}", "1", false},
      {"{fn PI()}", "3.14159265358979", false},
      {"{fn POWER(2, 10)}", "1024.0", false},
      {"{fn RADIANS(180)}", "3.14159265358979", false},
      {"{fn RAND()} BETWEEN 0 AND 1", "1", false},
      {"{fn RAND(7)} BETWEEN 0 AND 1", "1", false},
      {"{fn ROUND(1.25, 1)}", "1.3", false},
      {"{fn SIGN(-3)}", "-1", false},
      {"{fn SIN(0)}", "0.0", false},
      {"{fn SQRT(16)}", "4.0", false},
      {"{fn TAN(0)}", "0.0", false},
      {"{fn TRUNCATE(1.29, 1)}", "1.2", false},
      {"{fn ASCII('a')}", "97", false},
      {"{fn CHAR(65)}", "A", false},
      {"{fn CONCAT('a', 'b')}", "ab", false},
      {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef", false},
      {"{fn LCASE('AbC')}", "abc", false},
      {"{fn LEFT('abc', 2)}", "ab", false},
      {"{fn LENGTH('ab  ')}", "2", false},
      {"{fn LOCATE('b', 'abcb')}", "2", false},
      {"{fn LOCATE('b', 'abcb', 3)}", "4", false},
      {"{fn LTRIM('  a')}", "a", false},
      {"{fn REPEAT('ab', 3)}", "ababab", false},
      {"{fn REPLACE('aXa', 'X', 'y')}", "aya", false},
      {"{fn RIGHT('abc', 2)}", "bc", false},
      {"{fn RIGHT('abc', 0)}", "", false},
      {"{fn RTRIM('a  ')}", "a", false},
      {"{fn SOUNDEX('Robert')}", "R163", false},
      {"'[' || {fn SPACE(3)} || ']'", "[   ]", false},
      {"{fn SUBSTRING('abcdef', 3)}", "cdef", false},
      {"{fn SUBSTRING('abcdef', 2, 3)}", "bcd", false},
      {"{fn UCASE('ab')}", "AB", false},
      {"{fn DATABASE()}", "main", false},
      {"{fn IFNULL(NULL, 'x')}", "x", false},
      {"{fn USER()}", "test", false},
      {"length({fn CURDATE()})", "10", false},
      {"length({fn CURTIME()})", "8", false},
      {"length({fn NOW()})", "19", false},
      {"{fn DAYNAME('2024-02-29')}", "Thursday", false},
      {"{fn DAYOFMONTH('2024-02-29')}", "29", false},
      {"{fn DAYOFWEEK('2024-02-29')}", "5", false},
      {"{fn DAYOFYEAR('2024-02-29')}", "60", false},
      {"{fn HOUR('2024-02-29 10:11:12')}", "10", false},
      {"{fn MINUTE('2024-02-29 10:11:12')}", "11", false},
      {"{fn MONTH('2024-02-29')}", "2", false},
      {"{fn MONTHNAME('2024-02-29')}", "February", false},
      {"{fn QUARTER('2024-08-01')}", "3", false},
      {"{fn SECOND('2024-02-29 10:11:12')}", "12", false},
      {"{fn WEEK('2024-02-29')}", "10", false},
      {"{fn YEAR('2024-02-29')}", "2024", false},
      {"{fn ucase({fn left('abc', 2)})}", "AB", false},
      {"{fn CONVERT('12.5', SQL_BIGINT)}", "12", false},
      {"{fn CONVERT('ab', SQL_BINARY)}", "ab", false},
      {"{fn CONVERT(2, SQL_BIT)}", "1", false},
      {"{fn CONVERT(12, SQL_CHAR)}", "12", false},
      {"{fn CONVERT('2024-02-29 10:11:12', SQL_DATE)}", "2024-02-29", false},
      {"{fn CONVERT('12.5', SQL_DECIMAL)}", "12.5", false},
      {"{fn CONVERT('12.5', SQL_DOUBLE)}", "12.5", false},
      {"{fn CONVERT('12.5', SQL_FLOAT)}", "12.5", false},
      {"{fn CONVERT('12.5', SQL_INTEGER)}", "12", false},
      {"{fn CONVERT('ab', SQL_LONGVARBINARY)}", "ab", false},
      {"{fn CONVERT(12, SQL_LONGVARCHAR)}", "12", false},
      {"{fn CONVERT('12.5', SQL_NUMERIC)}", "12.5", false},
      {"{fn CONVERT('12.5', SQL_REAL)}", "12.5", false},
      {"{fn CONVERT('12.5', SQL_SMALLINT)}", "12", false},
      {"{fn CONVERT('2024-02-29 10:11:12', SQL_TIME)}", "10:11:12", false},
      {"{fn CONVERT('2024-02-29 10:11', SQL_TIMESTAMP)}", "2024-02-29 10:11:00", false},
      {"{fn CONVERT('12.5', SQL_TINYINT)}", "12", false},
      {"{fn CONVERT('ab', SQL_VARBINARY)}", "ab", false},
      {"{fn CONVERT(12, sql_varchar )}", "12", false},
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
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_BIGINT, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_BINARY, 0x00040F01},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_BIT, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_CHAR, 0x0007FFFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_DATE, 0x00028301},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_DECIMAL, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_DOUBLE, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_FLOAT, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_INTEGER, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_LONGVARCHAR, 0x0007FFFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_NUMERIC, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_REAL, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_SMALLINT, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_TIME, 0x00010301},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_TIMESTAMP, 0x00038301},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_TINYINT, 0x00047FFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_VARBINARY, 0x00040F01},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_VARCHAR, 0x0007FFFF},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_LONGVARBINARY, 0x00040F01},
      // Nothing to say.
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_BIGINT - 1, uint32_t(lite::kNoInformation)},
      {SQL_CONVERT_FUNCTIONS, SQL_CONVERT_LONGVARBINARY + 1, uint32_t(lite::kNoInformation)},
      {SQL_NUMERIC_FUNCTIONS, 1, uint32_t(lite::kNoInformation)},
      {SQL_CONVERT_FUNCTIONS - 1, 0, uint32_t(lite::kNoInformation)},
      {SQL_CONVERT_BIGINT, 0, uint32_t(lite::kNoInformation)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(uint32_t(lite::server_information(c.first, c.second)), c.mask)
        << c.first << " " << c.second;
  }
}

}  // namespace
}  // namespace q4::test
