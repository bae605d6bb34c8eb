// Exact decimals and doubles in q4lite: the declarations of decimal columns that a double cannot
// hold, the order of their decimal text, values written with their scale, CAST columns described
// as the NUMERIC they were cast to, doubles as their shortest decimal, and numbers typed into a
// statement with more digits than a double keeps. (Through the driver: the e2e numbers script.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/decimal_text.h"
#include "server/storage/table_columns.h"
#include "server/storage/value_encoding.h"
#include "server/translation/cast_columns.h"
#include "server/translation/decimal_columns.h"
#include "server/translation/exact_literals.h"

namespace q4::test {
namespace {

TEST(DecimalColumns, DeclarationsADoubleCannotHoldBecomeDecimalText) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"CREATE TABLE t (k INTEGER, d NUMERIC(30,10), e DECIMAL(16, 2) NOT NULL)",
       "CREATE TABLE t (k INTEGER, d NUMERIC TEXT(30,10) COLLATE Q4DECIMAL, e DECIMAL TEXT(16, 2) COLLATE Q4DECIMAL NOT NULL)"},
      {"create temp table if not exists \"my t\" (\"a b\" dec(19), c numeric(18,0), d numeric(15,5), e numeric, f decimal(18,1))",
       "create temp table if not exists \"my t\" (\"a b\" dec TEXT(19) COLLATE Q4DECIMAL, c numeric(18,0), d numeric(15,5), e numeric, f decimal TEXT(18,1) COLLATE Q4DECIMAL)"},
      {"CREATE TABLE t (d NUMERIC(30,10) CHECK (d > 0), PRIMARY KEY (d), CONSTRAINT c UNIQUE (d))",
       "CREATE TABLE t (d NUMERIC TEXT(30,10) COLLATE Q4DECIMAL CHECK (d > 0), PRIMARY KEY (d), CONSTRAINT c UNIQUE (d))"},
      {"CREATE TABLE t (d NUMERIC(30,10) COLLATE BINARY)", "CREATE TABLE t (d NUMERIC TEXT(30,10) COLLATE BINARY)"},
      {"ALTER TABLE main.t ADD COLUMN d NUMERIC(38,2); ALTER TABLE t ADD e DECIMAL(20)",
       "ALTER TABLE main.t ADD COLUMN d NUMERIC TEXT(38,2) COLLATE Q4DECIMAL; ALTER TABLE t ADD e DECIMAL TEXT(20) COLLATE Q4DECIMAL"},
      {"INSERT INTO x VALUES (1); /* CREATE TABLE t (d NUMERIC(30,10)) */ CREATE TABLE u (d NUMERIC(20,2))",
       "INSERT INTO x VALUES (1); /* CREATE TABLE t (d NUMERIC(30,10)) */ CREATE TABLE u (d NUMERIC TEXT(20,2) COLLATE Q4DECIMAL)"},
  };
  // Left alone: other statements, literals, CREATE ... AS, other types and sizes.
  const std::string unchanged[] = {
      "SELECT 'CREATE TABLE t (d NUMERIC(30,10))'", "CREATE TABLE t AS SELECT 1.5 AS d",
      "CREATE INDEX i ON t (d)", "CREATE TABLE t (d VARCHAR(30), e NUMERIC(10,2), f DOUBLE, g NUMERIC(-1))",
      "CREATE TABLE t (d NUMERIC(18))", "WITH x AS (SELECT 1) SELECT * FROM x",
  };
  // clang-format on
  for (const auto& [in, out] : cases) {
    std::string sql = in;
    lite::rewrite_decimal_declarations(&sql);
    EXPECT_EQ(sql, out);
  }
  for (const std::string& in : unchanged) {
    std::string sql = in;
    lite::rewrite_decimal_declarations(&sql);
    EXPECT_EQ(sql, in);
  }
}

TEST(DecimalColumns, TheCollationOrdersNumbersByValueBeforeOtherText) {
  auto cmp = [](const std::string& a, const std::string& b) {
    int c = lite::compare_decimal_texts(a.data(), a.size(), b.data(), b.size());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  };
  // clang-format off
  const std::tuple<const char*, const char*, int> cases[] = {
      {"9", "10", -1}, {"1.5", "1.50", 0}, {"1.5", "15e-1", 0}, {"-0", "0.000", 0}, {"-1", "0", -1},
      {"-10", "-9", -1}, {"0.1", "0.09999999999999999999999", 1}, {"1.0e+300", "1e300", 0},
      {"12345678901234567890.0123456789", "12345678901234567890.012345678", 1},
      {"-12345678901234567890.0123456789", "-12345678901234567890.012345678", -1},
      {"1e99999999999", "1e9999999999", 0},  // both held at the exponent limit
      {"5", "abc", -1}, {"abc", "abd", -1}, {"ab", "abc", -1}, {" 7 ", "7", 0}, {"", "0", 1},
  };
  // clang-format on
  for (const auto& [a, b, order] : cases) {
    EXPECT_EQ(cmp(a, b), order) << a << " vs " << b;
    EXPECT_EQ(cmp(b, a), -order) << b << " vs " << a;
  }
}

TEST(DecimalColumns, DecimalTextIsWrittenWithItsScaleRoundedHalfAwayFromZero) {
  // clang-format off
  const std::tuple<const char*, int, const char*> cases[] = {
      {"1.5", 10, "1.5000000000"}, {"0.12345678905", 10, "0.1234567891"}, {"-0.004", 2, "0.00"},
      {"9.995", 2, "10.00"}, {"-9.995", 2, "-10.00"}, {"1.0e+20", 2, "100000000000000000000.00"},
      {"12345678901234567890.0123456789", 10, "12345678901234567890.0123456789"},
      {"-.5", 0, "-1"}, {"0.5e-3", 3, "0.001"}, {"007", 1, "7.0"},
      {"1.50", -1, "1.5"}, {"1.5e3", -1, "1500"}, {"-0", -1, "0"},
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

// Doubles travel as the shortest decimal that reads back as the same double, never with an
// exponent: 1e300 as a 1 and 300 zeros, not the double's 301 exact digits.
TEST(DecimalColumns, DoublesAreWrittenAsTheirShortestDecimal) {
  char text[lite::kValueScratch];
  for (double v : {1e300, 1e-300, 0.1, 5e-324, DBL_MAX, -DBL_MAX, 123456789012345678.0, 1e15, 0.3,
                   -2.5e-7, 9007199254740993.0}) {
    const std::string t(text, lite::format_decimal(v, -1, text, sizeof text));
    EXPECT_EQ(t.find_first_of("eE"), std::string::npos) << t;
    EXPECT_EQ(strtod(t.c_str(), nullptr), v) << t;
    // As many significant digits as the shortest scientific form has.
    char shortest[32];
    std::string s(
        shortest,
        std::to_chars(shortest, shortest + sizeof shortest, v, std::chars_format::scientific).ptr);
    auto significant = [](const std::string& x) {
      std::string digits;
      for (char c : x.substr(0, x.find('e'))) {
        if (isdigit(static_cast<unsigned char>(c))) digits += c;
      }
      digits.erase(0, digits.find_first_not_of('0'));
      digits.erase(digits.find_last_not_of('0') + 1);
      return digits;
    };
    EXPECT_EQ(significant(t), significant(s)) << t;
  }
  EXPECT_EQ(std::string(text, lite::format_decimal(1e300, -1, text, sizeof text)),
            "1" + std::string(300, '0'));
  EXPECT_EQ(std::string(text, lite::format_decimal(-0.0, -1, text, sizeof text)), "-0");
  EXPECT_EQ(std::string(text, lite::format_decimal(1e20, 2, text, sizeof text)),
            "100000000000000000000.00");
}

TEST(CastColumns, DecimalCastsOfTheSelectListWithTheirColumnNames) {
  // clang-format off
  const std::pair<const char*, std::vector<std::pair<std::string, std::string>>> cases[] = {
      {"SELECT cast(1.5 as numeric(10,3)) AS x, CAST('2' AS DECIMAL(12, 2)), cast(k AS INTEGER) AS i FROM t",
       {{"x", "numeric(10,3)"}, {"CAST('2' AS DECIMAL(12, 2))", "DECIMAL(12, 2)"}}},
      {"select distinct cast(cast(a as text) as dec(5,1)) \"q w\" from t where cast(b as numeric(9,9)) > 0",
       {{"q w", "dec(5,1)"}}},
      {"WITH v AS (SELECT cast(1 AS NUMERIC(3,1)) AS z) SELECT cast(z AS NUMERIC(4,2)) AS y FROM v",
       {{"y", "NUMERIC(4,2)"}}},
      {"SELECT cast(1 as numeric(5,2)) + 1 AS s, ',', (cast(1 as numeric(5,2)))", {}},
      {"INSERT INTO t VALUES (cast(1 AS NUMERIC(5,2)))", {}},
  };
  // clang-format on
  for (const auto& [sql, expected] : cases) {
    std::vector<std::pair<std::string, std::string>> got;
    for (const lite::CastColumn& c : lite::decimal_cast_columns(sql))
      got.emplace_back(c.name, c.type);
    EXPECT_EQ(got, expected) << sql;
  }
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
      {"insert into x (s, k, v) values (-" + l30 + ", 1, - 000123456789012345678901234567890),\n"
       "  (12345678901234567890123456789012345678, 2, 1234567890123456789012345678.0123456789)",
       "insert into x (s, k, v) values ('-" + l30 + "', 1, '-123456789012345678901234567890'),\n"
       "  ('12345678901234567890123456789012345678', 2, '1234567890123456789012345678.0123456789')"},
      // Sixteen digits are more than a double keeps; a point without decimals is dropped.
      {"INSERT INTO x (k, v) VALUES (1, 1234567890123.456), (2, 9223372036854775808), (3, 12345678901234567.)",
       "INSERT INTO x (k, v) VALUES (1, '1234567890123.456'), (2, '9223372036854775808'), (3, '12345678901234567')"},
      // INSERT ... SELECT and an upsert.
      {"INSERT INTO x (k, v, r) SELECT 1, " + l30 + ", " + l30 + " UNION ALL SELECT 2, -" + l30 + ", 0",
       "INSERT INTO x (k, v, r) SELECT 1, " + q30 + ", " + l30 + " UNION ALL SELECT 2, '-" + l30 + "', 0"},
      {"INSERT INTO x (k, v) SELECT k, " + l30 + " FROM (SELECT 1 AS k, " + l30 + ")",
       "INSERT INTO x (k, v) SELECT k, " + q30 + " FROM (SELECT 1 AS k, " + l30 + ")"},
      {"INSERT INTO x (k, v) VALUES (1, 0) ON CONFLICT (k) DO UPDATE SET v = " + l30,
       "INSERT INTO x (k, v) VALUES (1, 0) ON CONFLICT (k) DO UPDATE SET v = " + q30},
      // UPDATE ... SET and comparisons with a column, either side, qualified, IN, BETWEEN.
      {"UPDATE x SET v = " + l30 + ", r = " + l30 + " WHERE v = -" + l30 + " AND k = 1",
       "UPDATE x SET v = " + q30 + ", r = " + l30 + " WHERE v = '-" + l30 + "' AND k = 1"},
      {"SELECT a.k FROM x AS a JOIN main.x b ON b.k = a.k WHERE a.v >= " + l30 + " OR " + l30 +
           " <> b.v OR a.v IN (" + l30 + ", 1) OR b.v NOT BETWEEN -" + l30 + " AND " + l30 +
           " OR a.s==" + l30,
       "SELECT a.k FROM x AS a JOIN main.x b ON b.k = a.k WHERE a.v >= " + q30 + " OR " + q30 +
           " <> b.v OR a.v IN (" + q30 + ", 1) OR b.v NOT BETWEEN '-" + l30 + "' AND " + q30 +
           " OR a.s==" + q30},
      {"DELETE FROM main.x WHERE main.x.v != " + l30 + " AND [v] = " + l30,
       "DELETE FROM main.x WHERE main.x.v != " + q30 + " AND [v] = " + q30},
      {"SELECT CASE WHEN x.v < " + l30 + " THEN 1 END, count(*) FILTER (WHERE " + l30 + " > v) FROM x",
       "SELECT CASE WHEN x.v < " + q30 + " THEN 1 END, count(*) FILTER (WHERE " + q30 + " > v) FROM x"},
      // A column's DEFAULT.
      {"CREATE TABLE d (a NUMERIC(30,10) DEFAULT -" + l30 + ", b DOUBLE DEFAULT " + l30 + ")",
       "CREATE TABLE d (a NUMERIC TEXT(30,10) COLLATE Q4DECIMAL DEFAULT '-" + l30 + "', b DOUBLE DEFAULT " + l30 + ")"},
      // An item of the result: the exact NUMERIC under the name it had.
      {"SELECT " + l30 + ", -12345678901234567890.5 AS m, -\t12345678901234567890123 FROM x",
       "SELECT CAST(" + q30 + " AS NUMERIC TEXT(30,10)) AS \"" + l30 + "\", "
       "CAST('-12345678901234567890.5' AS NUMERIC TEXT(21,1)) AS m, "
       "CAST('-12345678901234567890123' AS NUMERIC TEXT(23,0)) AS \"-\t12345678901234567890123\" FROM x"},
      {"SELECT DISTINCT 0.12345678901234567890 x UNION SELECT 1.5",
       "SELECT DISTINCT CAST('0.12345678901234567890' AS NUMERIC TEXT(20,20)) x UNION SELECT 1.5"},
  };
  // Left alone: literals a double or a 64-bit integer holds, exponents, columns that do not keep
  // text, expressions, literals in strings, quoted names and comments.
  const std::string unchanged[] = {
      "INSERT INTO x (k, v) VALUES (1, .5), (2, 1e300), (3, 1234567890123456), (4, -9223372036854775808), "
      "(5, 0.0000000000000000001), (6, 1.50000000000000000000), (7, 12345678901234567890e-10)",
      "SELECT * FROM x WHERE u = " + l30 + " OR r < " + l30 + " OR n > " + l30 + " OR k = " + l30,
      "SELECT * FROM x WHERE v + 1 > " + l30 + " OR abs(v) = " + l30 + " OR v = k - " + l30 +
          " OR v = " + l30 + " + 1 OR v = " + l30 + " COLLATE BINARY OR nosuch = " + l30,
      "SELECT " + l30 + " + 1, max(" + l30 + ", 2), 0.30000000000000004, 3.141592653589793 FROM x",
      "SELECT '" + l30 + "', \"" + l30 + "\" FROM x -- v = " + l30 + "\n WHERE s = 'x' /* v = " + l30 + " */",
      "VALUES (" + l30 + ")", "SELECT * FROM x WHERE v = ?12345678901234567890",
      // A query named like the table is no table.
      "WITH x (v) AS (SELECT 1.5) SELECT * FROM x WHERE v > -" + l30,
      "WITH RECURSIVE x AS NOT MATERIALIZED (SELECT 1 AS v UNION ALL SELECT v + 1 FROM x WHERE v < 3) "
      "SELECT * FROM x WHERE x.v > -" + l30,
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
  auto exec = [](sqlite3* on, const char* sql) {
    EXPECT_EQ(sqlite3_exec(on, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(on);
  };
  lite::TableColumns columns;
  auto types = [&]() {
    const std::vector<std::string>* t = columns.value_columns(db, "", "t");
    return t == nullptr ? std::vector<std::string>{"<none>"} : *t;
  };
  using Types = std::vector<std::string>;
  EXPECT_EQ(types(), Types{"<none>"});
  exec(db, "CREATE TABLE t (k INTEGER, v TEXT, g INTEGER GENERATED ALWAYS AS (k + 1), r REAL)");
  EXPECT_EQ(types(), (Types{"INTEGER", "TEXT", "REAL"}));
  EXPECT_EQ(types(), (Types{"INTEGER", "TEXT", "REAL"}));
  exec(other, "ALTER TABLE t ADD COLUMN s VARCHAR(9)");
  EXPECT_EQ(types(), (Types{"INTEGER", "TEXT", "REAL", "VARCHAR(9)"}));
  exec(other, "DROP TABLE t; CREATE TABLE t (v TEXT, k INTEGER)");
  EXPECT_EQ(types(), (Types{"TEXT", "INTEGER"}));
  exec(db, "CREATE TEMP TABLE t (only REAL)");
  EXPECT_EQ(types(), Types{"REAL"});
  EXPECT_EQ(*columns.value_columns(db, "main", "t"), (Types{"TEXT", "INTEGER"}));
  exec(db, "DROP TABLE temp.t; DROP TABLE main.t");
  EXPECT_EQ(types(), Types{"<none>"});
  columns.clear();
  sqlite3_close(other);
  sqlite3_close(db);
  std::remove(path.c_str());
}

TEST(LongLiterals, OnlyTextsWithALongRunOfDigitsAreReadFurther) {
  // clang-format off
  const std::pair<const char*, bool> cases[] = {
      {"INSERT INTO t VALUES (1, 'abc', 2.5, NULL)", false}, {"SELECT 123456789012345", false},
      {"SELECT 1234567890123456", true}, {"SELECT 12345678.12345678", true},
      {"INSERT INTO t VALUES ('12345678901234567890.5')", false},
      {"SELECT \"12345678901234567890\", 'it''s 12345678901234567890'", false},
      {"SELECT 'a', 12345678901234567890", true},
      {"-- don't forget\nINSERT INTO t VALUES (12345678901234567890.5) /* it's */", true},
      {"/* 12345678901234567890 */ SELECT 1 -- 12345678901234567890", false},
      {"SELECT 'unterminated 12345678901234567890", false},
  };
  // clang-format on
  for (const auto& [text, may] : cases) EXPECT_EQ(lite::may_hold_long_literals(text), may) << text;
}

}  // namespace
}  // namespace q4::test
