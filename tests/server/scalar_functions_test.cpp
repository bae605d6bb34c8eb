// The {fn ...} escapes as SQLite runs them. (The information request's masks
// of those functions and of CONVERT: the e2e scalar functions script.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "server/storage/sql_functions.h"
#include "server/translation/escape_translator.h"

namespace q4::test {
namespace {

// One function of each form beyond a rename (an expression, an overload by
// arity, a function SQLite is built with or q4lite registers), CONVERT, and
// the refusals: the escape after SELECT, and its value as SQLite gives it as
// text (or the refusal's message). The functions of an everyday report (UCASE,
// LEFT, LENGTH, IFNULL, CONCAT, ROUND, TRUNCATE, MOD, MONTHNAME, QUARTER,
// DAYOFWEEK, USER, CONVERT to SQL_VARCHAR, nested) are the e2e scalar
// functions script's.
TEST(ScalarFunctions, EachFormRunsOnSqlite) {
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
      {"{fn COT(1)}", "0.642092615934331"}, {"{fn RAND(7)} BETWEEN 0 AND 1", "1"},
      {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"}, {"{fn LENGTH('ab  ')}", "2"},
      {"{fn LOCATE('b', 'abcb', 3)}", "4"}, {"{fn RIGHT('abc', 0)}", ""}, {"{fn SOUNDEX('Robert')}", "R163"},
      {"{fn DATABASE()}", "main"}, {"{fn DAYNAME('2024-02-29')}", "Thursday"}, {"{fn WEEK('2024-02-29')}", "10"},
      {"{fn CONVERT('12.5', SQL_BIGINT)}", "12"}, {"{fn CONVERT('2024-02-29 10:11', SQL_TIMESTAMP)}", "2024-02-29 10:11:00"},
      {"{fn CONVERT(12, SQL_WCHAR)}", "CONVERT to an unsupported type: SQL_WCHAR", true},
      {"{fn CONVERT(12)}", "CONVERT takes a value and a type", true},
      {"{fn LEFT('abc')}", "wrong number of arguments to scalar function LEFT", true},
      {"{fn NOSUCH(1)}", "unsupported scalar function NOSUCH", true},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::string sql, got;
    const bool translated =
        lite::translate_escapes(std::string("SELECT ") + c.escape, 0, &sql, &got);
    EXPECT_EQ(!translated, c.refused) << c.escape;
    sqlite3_stmt* stmt = nullptr;
    if (translated && sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      got = text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
    } else if (translated) {
      got = sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    EXPECT_EQ(got, c.value) << sql;
  }
  sqlite3_close(db);
}

}  // namespace
}  // namespace q4::test
