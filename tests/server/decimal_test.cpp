// Exact decimals and doubles in q4lite: the declarations of decimal columns that a double cannot
// hold, values written with their scale, and numbers typed into a statement with more digits
// than a double keeps. (Through the driver, CAST columns described as decimals included: the e2e
// numbers script; doubles read back exactly: the e2e numbers and Qt scripts.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/decimal_text.h"
#include "server/storage/table_columns.h"
#include "server/storage/value_encoding.h"
#include "server/translation/decimal_columns.h"
#include "server/translation/exact_literals.h"

namespace q4::test {
namespace {

TEST(DecimalColumns, DeclarationsADoubleCannotHoldBecomeDecimalText) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"CREATE TABLE t (e DECIMAL(16, 2) NOT NULL)",
       "CREATE TABLE t (e DECIMAL TEXT(16, 2) COLLATE Q4DECIMAL NOT NULL)"},
      {"create temp table if not exists \"my t\" (\"a b\" dec(19), c numeric(18,0), d numeric(15,5), e numeric, f decimal(18,1))",
       "create temp table if not exists \"my t\" (\"a b\" dec TEXT(19) COLLATE Q4DECIMAL, c numeric(18,0), d numeric(15,5), e numeric, f decimal TEXT(18,1) COLLATE Q4DECIMAL)"},
      {"CREATE TABLE t (d NUMERIC(30,10) COLLATE BINARY)", "CREATE TABLE t (d NUMERIC TEXT(30,10) COLLATE BINARY)"},
      {"ALTER TABLE main.t ADD COLUMN d NUMERIC(38,2); ALTER TABLE t ADD e DECIMAL(20)",
       "ALTER TABLE main.t ADD COLUMN d NUMERIC TEXT(38,2) COLLATE Q4DECIMAL; ALTER TABLE t ADD e DECIMAL TEXT(20) COLLATE Q4DECIMAL"},
      {"INSERT INTO x VALUES (1); /* CREATE TABLE t (d NUMERIC(30,10)) */ CREATE TABLE u (d NUMERIC(20,2))",
       "INSERT INTO x VALUES (1); /* CREATE TABLE t (d NUMERIC(30,10)) */ CREATE TABLE u (d NUMERIC TEXT(20,2) COLLATE Q4DECIMAL)"},
  };
  // Left alone: other statements, literals, CREATE ... AS, other types and sizes.
  const std::string unchanged[] = {
      "SELECT 'CREATE TABLE t (d NUMERIC(30,10))'", "CREATE TABLE t AS SELECT 1.5 AS d",
      "CREATE TABLE t (d VARCHAR(30), e NUMERIC(10,2), f DOUBLE, g NUMERIC(-1))",
  };
  // clang-format on
  auto rewritten = [](std::string sql) {
    lite::rewrite_decimal_declarations(&sql);
    return sql;
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(rewritten(in), out);
  for (const std::string& in : unchanged) EXPECT_EQ(rewritten(in), in);
}

TEST(DecimalColumns, DecimalTextIsWrittenWithItsScaleRoundedHalfAwayFromZero) {
  // clang-format off
  const std::tuple<const char*, int, const char*> cases[] = {
      {"0.12345678905", 10, "0.1234567891"}, {"-0.004", 2, "0.00"}, {"-9.995", 2, "-10.00"},
      {"1.0e+20", 2, "100000000000000000000.00"}, {"-.5", 0, "-1"}, {"1.50", -1, "1.5"},
      {"1.5e3", -1, "1500"},
  };
  // clang-format on
  for (const auto& [in, scale, out] : cases) {
    DecimalText d;
    ASSERT_TRUE(read_decimal_text(in, strlen(in), &d)) << in;
    char text[lite::kValueScratch];
    const size_t n = lite::format_decimal_text(d, scale, text, sizeof text);
    EXPECT_EQ(std::string(text, n), out) << in << " scale " << scale;
  }
  DecimalText huge;
  ASSERT_TRUE(read_decimal_text("1e999999", 8, &huge));
  char text[lite::kValueScratch];
  EXPECT_EQ(lite::format_decimal_text(huge, 2, text, sizeof text), 0u) << "does not fit";
}

// The rewrite of long numeric literals against a database with a column of every kind: the exact
// decimal v, a double r, a character column s, an untyped column u, a NUMERIC(10,2) n that SQLite
// keeps as numbers. A literal becomes text only where it meets a column that keeps text, and
// becomes an exact NUMERIC only as an item of a query's result that a double would change.
TEST(LongLiterals, BecomeTextWhereTheyMeetAColumnThatKeepsText) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(lite::register_decimal_collation(db), SQLITE_OK);
  lite::TableColumns columns;
  lite::DatabaseTypes types(db, &columns);
  auto rewritten = [&types](std::string sql) {
    lite::rewrite_decimal_declarations(&sql);
    if (lite::may_hold_long_literals(sql)) lite::rewrite_long_literals(&sql, 0, &types);
    return sql;
  };
  ASSERT_EQ(sqlite3_exec(db,
                         rewritten("CREATE TABLE x (k INTEGER PRIMARY KEY, v NUMERIC(30,10), "
                                   "r DOUBLE, s VARCHAR(40), u, n NUMERIC(10,2))")
                             .c_str(),
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string l30 = "12345678901234567890.0123456789";
  const std::string q30 = "'" + l30 + "'";
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      // Values of an INSERT, by position: only v and s keep text.
      {"INSERT INTO x VALUES (1, " + l30 + ", " + l30 + ", " + l30 + ", " + l30 + ", " + l30 + ")",
       "INSERT INTO x VALUES (1, " + q30 + ", " + l30 + ", " + q30 + ", " + l30 + ", " + l30 + ")"},
      // Listed columns; a unary minus, leading zeros, 38 digits, an integer beyond 64 bits.
      {"insert into x (s, k, v) values (-" + l30 + ", 1, - 000123456789012345678901234567890)",
       "insert into x (s, k, v) values ('-" + l30 + "', 1, '-123456789012345678901234567890')"},
      // One past the largest 64-bit integer; a point without decimals is dropped.
      {"INSERT INTO x (k, v) VALUES (2, 9223372036854775808), (3, 12345678901234567.)",
       "INSERT INTO x (k, v) VALUES (2, '9223372036854775808'), (3, '12345678901234567')"},
      // INSERT ... SELECT and an upsert.
      {"INSERT INTO x (k, v, r) SELECT 1, " + l30 + ", " + l30 + " UNION ALL SELECT 2, -" + l30 + ", 0",
       "INSERT INTO x (k, v, r) SELECT 1, " + q30 + ", " + l30 + " UNION ALL SELECT 2, '-" + l30 + "', 0"},
      {"INSERT INTO x (k, v) VALUES (1, 0) ON CONFLICT (k) DO UPDATE SET v = " + l30,
       "INSERT INTO x (k, v) VALUES (1, 0) ON CONFLICT (k) DO UPDATE SET v = " + q30},
      // Comparisons with a column, either side, qualified, IN, BETWEEN.
      {"SELECT a.k FROM x AS a JOIN main.x b ON b.k = a.k WHERE a.v >= " + l30 + " OR " + l30 +
           " <> b.v OR a.v IN (" + l30 + ", 1) OR b.v NOT BETWEEN -" + l30 + " AND " + l30 +
           " OR a.s==" + l30,
       "SELECT a.k FROM x AS a JOIN main.x b ON b.k = a.k WHERE a.v >= " + q30 + " OR " + q30 +
           " <> b.v OR a.v IN (" + q30 + ", 1) OR b.v NOT BETWEEN '-" + l30 + "' AND " + q30 +
           " OR a.s==" + q30},
      // A column's DEFAULT.
      {"CREATE TABLE d (a NUMERIC(30,10) DEFAULT -" + l30 + ", b DOUBLE DEFAULT " + l30 + ")",
       "CREATE TABLE d (a NUMERIC TEXT(30,10) COLLATE Q4DECIMAL DEFAULT '-" + l30 + "', b DOUBLE DEFAULT " + l30 + ")"},
  };
  // Left alone: literals a double or a 64-bit integer holds, exponents, columns that do not keep
  // text, expressions, literals in strings, quoted names and comments.
  const std::string unchanged[] = {
      "INSERT INTO x (k, v) VALUES (1, .5), (2, 1e300), (3, 1234567890123456), (4, -9223372036854775808), "
      "(5, 0.0000000000000000001), (6, 1.50000000000000000000), (7, 12345678901234567890e-10)",
      "SELECT * FROM x WHERE u = " + l30 + " OR r < " + l30 + " OR n > " + l30 + " OR k = " + l30,
      "SELECT * FROM x WHERE v + 1 > " + l30 + " OR abs(v) = " + l30 + " OR v = k - " + l30 +
          " OR v = " + l30 + " + 1 OR v = " + l30 + " COLLATE BINARY OR nosuch = " + l30,
      // A query named like the table is no table.
      "WITH x (v) AS (SELECT 1.5) SELECT * FROM x WHERE v > -" + l30,
  };
  // clang-format on
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(rewritten(in), out);
    sqlite3_stmt* stmt = nullptr;  // and SQLite compiles what it became
    EXPECT_EQ(sqlite3_prepare_v2(db, out.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << out << ": " << sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
  }
  for (const std::string& in : unchanged) EXPECT_EQ(rewritten(in), in);
  // Only the statement from the offset on, up to its ";".
  std::string two =
      "SELECT 1; INSERT INTO x (v) VALUES (" + l30 + "); INSERT INTO x (v) VALUES (" + l30 + ")";
  lite::rewrite_long_literals(&two, 9, &types);
  EXPECT_EQ(two, "SELECT 1; INSERT INTO x (v) VALUES (" + q30 + "); INSERT INTO x (v) VALUES (" +
                     l30 + ")");
  columns.clear();
  sqlite3_close(db);
}

// The columns an INSERT without a column list fills are kept per connection and follow the
// table: another connection's ALTER, a table dropped and made again in another order, a temporary
// table that hides it. Generated columns take no value.
TEST(LongLiterals, KeptTableColumnsFollowTheSchema) {
  const std::string path = ::testing::TempDir() + "q4lite_table_columns.db";
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  lite::TableColumns columns;
  using Types = std::vector<std::string>;
  // clang-format off
  const struct { sqlite3* on; const char* sql; const char* schema; Types types; } steps[] = {
      {db, "CREATE TABLE t (k INTEGER, v TEXT, g INTEGER GENERATED ALWAYS AS (k + 1), r REAL)", "", {"INTEGER", "TEXT", "REAL"}},
      {other, "ALTER TABLE t ADD COLUMN s VARCHAR(9)", "", {"INTEGER", "TEXT", "REAL", "VARCHAR(9)"}},
      {other, "DROP TABLE t; CREATE TABLE t (v TEXT, k INTEGER)", "", {"TEXT", "INTEGER"}},
      {db, "CREATE TEMP TABLE t (only REAL)", "", {"REAL"}},
      {db, "SELECT 1", "main", {"TEXT", "INTEGER"}},
      {db, "DROP TABLE temp.t; DROP TABLE main.t", "", {"<none>"}},
  };
  // clang-format on
  EXPECT_EQ(columns.value_columns(db, "", "t"), nullptr);
  for (const auto& step : steps) {
    EXPECT_EQ(sqlite3_exec(step.on, step.sql, nullptr, nullptr, nullptr), SQLITE_OK)
        << step.sql << ": " << sqlite3_errmsg(step.on);
    const Types* t = columns.value_columns(db, step.schema, "t");
    EXPECT_EQ(t == nullptr ? Types{"<none>"} : *t, step.types) << step.sql;
  }
  columns.clear();
  sqlite3_close(other);
  sqlite3_close(db);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace q4::test
