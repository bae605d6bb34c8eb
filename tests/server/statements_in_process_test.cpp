// q4lite's statements in process: the guard that refuses text which is no date or time (the
// constraints a CREATE TABLE or an ADD COLUMN gets) with server error 22007, the values as they
// travel (fractions kept, short years of older rows padded), the {fn ...} escapes as SQLite runs
// them. (How date and time
// columns are described: the e2e datetime script; the type names of declared types: the e2e
// pyodbc script.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "protocol/codec.h"
#include "protocol/wire.h"
#include "server/storage/sql_functions.h"
#include "server/storage/statement.h"
#include "server/storage/value_encoding.h"

namespace q4::test {
namespace {

class Database {
 public:
  Database() {
    sqlite3_open(":memory:", &db_);
    lite::register_sql_functions(db_, &names_);
  }
  ~Database() { sqlite3_close(db_); }
  // "K", or the "E" status of a refusal.
  std::string run(const std::string& sql) {
    lite::Outcome o = lite::run_text(db_, sql, {}, false);
    return o.ok || o.cursor ? "K" : o.error_status;
  }
  // The first column of every row as it travels (its wire type when asked, then its text or
  // its integer), or the "E" status of a refusal.
  std::vector<std::string> values(const std::string& sql, bool typed = true) {
    lite::Outcome o = lite::run_text(db_, sql, {}, false);
    if (!o.cursor) return {o.error_status};
    std::vector<std::string> out;
    uint8_t scratch[lite::kValueScratch];
    while (o.cursor->announce() == lite::Cursor::kMore) {
      lite::ValueView v = o.cursor->value(0, scratch);
      out.push_back((typed ? std::to_string(static_cast<int16_t>(v.type)) + " " : "") +
                    (v.type == kSqlInteger && v.length == 4
                         ? std::to_string(int32_t(load_u32(v.data)))
                         : std::string(reinterpret_cast<const char*>(v.data), v.length)));
    }
    return out;
  }
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  lite::SessionNames names_{"test", "main"};
};

// The leading number of an "E" status, 0 for "K".
int refusal(const std::string& status) {
  return status == "K" ? 0 : std::atoi(status.c_str() + 1);
}

constexpr int kRefused = 22007;

// Every form a client writes, the calendar's edges, and what is no date at all.
TEST(DatetimeGuard, RefusesTextThatIsNoDateOrTimeOfItsColumn) {
  Database db;
  ASSERT_EQ(db.run("CREATE TABLE t (id INTEGER, d DATE, tm TIME, ts TIMESTAMP)"), "K");
  // clang-format off
  struct Case { const char* column; const char* value; bool refused; } cases[] = {
      {"d", "'2024-02-29'", false}, {"d", "'2023-02-29'", true}, {"d", "'2000-02-29'", false},
      {"d", "'1900-02-29'", true}, {"d", "'2024-04-31'", true}, {"d", "'2024-13-01'", true},
      {"d", "'2024-01-00'", true}, {"d", "'0001-01-01'", false}, {"d", "'9999-12-31'", false},
      {"d", "'0000-01-01'", true}, {"d", "'99-12-31'", true}, {"d", "'2024-1-05'", true},
      {"d", "''", true}, {"d", "20240101", true}, {"d", "x'00'", true}, {"d", "NULL", false},
      {"d", "'2024-02-29 10:11:12.5'", false}, {"d", "'2024-02-29 25:00'", true},
      {"ts", "'2024-02-29T23:59'", false}, {"ts", "'2024-02-29'", false},
      {"ts", "'9999-12-31 23:59:59.999999999'", false}, {"ts", "'2024-02-29 10:1'", true},
      {"ts", "'2024-02-29x10:11'", true}, {"ts", "'2024-02-29 24:00:00'", true},
      {"ts", "'2024-02-29 23:59:60'", true}, {"ts", "'10:11:12'", true},
      {"ts", "CURRENT_TIMESTAMP", false}, {"ts", "julianday('now')", true},
      {"tm", "'00:00'", false}, {"tm", "'10:11:12.123456789'", false}, {"tm", "'24:00:00'", true},
      {"tm", "'1:02:03'", true}, {"tm", "'2024-02-29 10:11:12'", true}, {"tm", "CURRENT_TIME", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    const std::string insert =
        "INSERT INTO t (id, " + std::string(c.column) + ") VALUES (1, " + c.value + ")";
    const std::string status = db.run(insert);
    EXPECT_EQ(refusal(status), c.refused ? kRefused : 0) << insert << ": " << status;
    ASSERT_EQ(db.run("DELETE FROM t"), "K");
  }
  // An update is held to the same rule.
  ASSERT_EQ(db.run("INSERT INTO t (id) VALUES (2)"), "K");
  EXPECT_EQ(refusal(db.run("UPDATE t SET d = '2023-02-29' WHERE id = 2")), kRefused);
  // The refusal names its constraint, and so its column.
  EXPECT_EQ(db.run("INSERT INTO t (d) VALUES ('1-01-01')"),
            "E22007 CHECK constraint failed: q4lite:22007:d");
}

// The guard goes with its column: renamed, dropped, added later; quoted names work.
TEST(DatetimeGuard, FollowsTheColumnThroughAlterTable) {
  Database db;
  ASSERT_EQ(db.run("CREATE TABLE t (id INTEGER, \"when it was\" DATE, e TIMESTAMP)"), "K");
  EXPECT_EQ(refusal(db.run("INSERT INTO t VALUES (1, '1-01-01', NULL)")), kRefused);
  ASSERT_EQ(db.run("ALTER TABLE t RENAME COLUMN \"when it was\" TO day"), "K");
  EXPECT_EQ(refusal(db.run("INSERT INTO t (day) VALUES ('2023-02-29')")), kRefused);
  ASSERT_EQ(db.run("ALTER TABLE t DROP COLUMN day"), "K");
  ASSERT_EQ(db.run("ALTER TABLE t ADD COLUMN later TIME"), "K");
  EXPECT_EQ(refusal(db.run("INSERT INTO t (later) VALUES ('25:00')")), kRefused);
  EXPECT_EQ(refusal(db.run(">INSERT INTO t (e) VALUES ('soon')")), kRefused);  // raw SQL as well
  EXPECT_EQ(db.run("INSERT INTO t (id, e, later) VALUES (1, '2024-02-29 10:11:12.5', '10:11')"),
            "K");
}

// Values travel normalised: "T" as a blank, seconds added, short years of older rows padded,
// fractions as stored; what is no date or time of the column travels as text.
TEST(DatetimeValues, TravelNormalisedWithTheirFraction) {
  constexpr int kD = kSqlDate, kT = kSqlTime, kS = kSqlTimestamp, kText = kSqlVarchar;
  // More fraction digits than a value carries: it travels as text.
  const std::string long_fraction = "2024-02-29 03:04:05." + std::string(65, '1');
  // clang-format off
  struct Case { const char* column; const char* stored; int type; const char* travels; } cases[] = {
      {"d", "1-01-01", kD, "0001-01-01"},
      {"d", "12345-01-01", kText, "12345-01-01"}, {"ts", "2024-02-29T03:04", kS, "2024-02-29 03:04:00"},
      {"ts", "999-02-28 03:04:05.5", kS, "0999-02-28 03:04:05.5"},
      {"ts", "2024-02-29 03:04:05.", kS, "2024-02-29 03:04:05"},
      {"ts", "2024-02-29  10:11:12Z", kS, "2024-02-29 10:11:12"},  // what SQLite reads
      {"ts", "2024-02-29 x", kText, "2024-02-29 x"}, {"tm", "2024-02-29 10:11", kT, "10:11:00"},
      {"tm", "10:11:12+01:00", kT, "10:11:12"}, {"tm", "noon", kText, "noon"},
      {"ts", long_fraction.c_str(), kText, long_fraction.c_str()},
  };
  // clang-format on
  Database db;
  // Without the guard (a table made elsewhere), so that any text can be stored.
  ASSERT_EQ(sqlite3_exec(db.db(), "CREATE TABLE t (d DATE, tm TIME, ts TIMESTAMP)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  for (const Case& c : cases) {
    ASSERT_EQ(db.run("DELETE FROM t"), "K");
    ASSERT_EQ(db.run("INSERT INTO t (" + std::string(c.column) + ") VALUES ('" + c.stored + "')"),
              "K");
    EXPECT_EQ(db.values("SELECT " + std::string(c.column) + " FROM t"),
              std::vector<std::string>{std::to_string(c.type) + " " + c.travels})
        << c.stored;
  }
}

// One scalar function of each form beyond a rename (an expression, an overload by arity, a
// function SQLite is built with or q4lite registers), CONVERT, and the refusals' messages. The
// functions of an everyday report (UCASE, LEFT, LENGTH, IFNULL, CONCAT, ROUND, TRUNCATE, MOD,
// MONTHNAME, QUARTER, DAYOFWEEK, USER, CONVERT to SQL_VARCHAR, nested) and the information
// request's masks are the e2e scalar functions script's.
TEST(ScalarFunctions, EachFormRunsOnSqlite) {
  Database db;
  const std::pair<const char*, const char*> cases[] = {
      // clang-format off
      {"{fn COT(1)}", "0.6420926159343306"}, {"{fn RAND(7)} BETWEEN 0 AND 1", "1"},
      {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"}, {"{fn LENGTH('ab  ')}", "2"},
      {"{fn LOCATE('b', 'abcb', 3)}", "4"}, {"{fn RIGHT('abc', 0)}", ""}, {"{fn SOUNDEX('Robert')}", "R163"},
      {"{fn DATABASE()}", "main"}, {"{fn DAYNAME('2024-02-29')}", "Thursday"}, {"{fn WEEK('2024-02-29')}", "10"},
      {"{fn CONVERT('12.5', SQL_BIGINT)}", "12"}, {"{fn CONVERT('2024-02-29 10:11', SQL_TIMESTAMP)}", "2024-02-29 10:11:00"},
      {"{fn CONVERT(12, SQL_WCHAR)}", "E19 CONVERT to an unsupported type: SQL_WCHAR"},
      {"{fn CONVERT(12)}", "E19 CONVERT takes a value and a type"},
      {"{fn LEFT('abc')}", "E19 wrong number of arguments to scalar function LEFT"},
      {"{fn NOSUCH(1)}", "E98 unsupported scalar function NOSUCH"},
      // clang-format on
  };
  for (const auto& [escape, value] : cases)
    EXPECT_EQ(db.values(std::string("SELECT ") + escape, false), std::vector<std::string>{value})
        << escape;
}

}  // namespace
}  // namespace q4::test
