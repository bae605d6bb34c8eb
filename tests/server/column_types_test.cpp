// How q4lite types its columns, in process: the guard that refuses text which is no date or time
// (the constraints a CREATE TABLE or an ADD COLUMN gets) with server errors 22007 and 22008, the
// values as they travel (fractions kept, short years of older rows padded). (How date and time
// columns are described: the e2e datetime script; the type names of declared types: the e2e
// pyodbc script.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "protocol/wire.h"
#include "server/storage/sql_functions.h"
#include "server/storage/statement.h"
#include "server/storage/value_encoding.h"
#include "server/translation/datetime_checks.h"

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
  // The first column of every row as it travels (its wire type, then its text).
  std::vector<std::string> values(const std::string& sql) {
    lite::Outcome o = lite::run_text(db_, sql, {}, false);
    std::vector<std::string> out;
    if (!o.cursor) return {"no result: " + o.error_status};
    uint8_t scratch[lite::kValueScratch];
    while (o.cursor->announce() == lite::Cursor::kMore) {
      lite::ValueView v = o.cursor->value(0, scratch);
      out.push_back(std::to_string(static_cast<int16_t>(v.type)) + " " +
                    std::string(reinterpret_cast<const char*>(v.data), v.length));
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
      {"d", "'2024-00-10'", true}, {"d", "'2024-01-00'", true},
      {"d", "'0001-01-01'", false}, {"d", "'0099-12-31'", false}, {"d", "'0999-06-30'", false},
      {"d", "'1000-01-01'", false}, {"d", "'9999-12-31'", false}, {"d", "'0000-01-01'", true},
      {"d", "'1-01-01'", true}, {"d", "'99-12-31'", true}, {"d", "'2024-1-05'", true},
      {"d", "'-001-01-01'", true}, {"d", "'tomorrow'", true}, {"d", "''", true},
      {"d", "20240101", true}, {"d", "2.5", true}, {"d", "x'00'", true}, {"d", "NULL", false},
      {"d", "'2024-02-29 10:11:12.5'", false}, {"d", "'2024-02-29 25:00'", true},
      {"ts", "'2024-02-29 00:00:00'", false}, {"ts", "'2024-02-29T23:59'", false}, {"ts", "'2024-02-29'", false},
      {"ts", "'2024-02-29 23:59:59.123456789'", false}, {"ts", "'2024-02-29 23:59:59.9999999'", false},
      {"ts", "'0001-01-01 23:59:59.999999'", false}, {"ts", "'9999-12-31 23:59:59.999999999'", false},
      {"ts", "'2024-02-29 10'", true}, {"ts", "'2024-02-29 10:1'", true},
      {"ts", "'2024-02-29x10:11'", true}, {"ts", "'2024-02-29 24:00:00'", true},
      {"ts", "'2024-02-29 23:60:00'", true}, {"ts", "'2024-02-29 23:59:60'", true},
      {"ts", "'10:11:12'", true}, {"ts", "CURRENT_TIMESTAMP", false},
      {"ts", "strftime('%Y-%m-%d %H:%M:%f', 'now')", false}, {"ts", "julianday('now')", true},
      {"tm", "'23:59:59'", false}, {"tm", "'00:00'", false}, {"tm", "'10:11:12.5'", false},
      {"tm", "'10:11:12.123456789'", false}, {"tm", "'24:00:00'", true}, {"tm", "'10:60'", true},
      {"tm", "'23:59:59.9999'", false}, {"tm", "'1:02:03'", true}, {"tm", "'noon'", true},
      {"tm", "'2024-02-29 10:11:12'", true}, {"tm", "36000", true}, {"tm", "CURRENT_TIME", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    const std::string insert =
        "INSERT INTO t (id, " + std::string(c.column) + ") VALUES (1, " + c.value + ")";
    const std::string status = db.run(insert);
    EXPECT_EQ(refusal(status), c.refused ? kRefused : 0) << insert << ": " << status;
    // An update is held to the same rule.
    ASSERT_EQ(db.run("INSERT INTO t (id) VALUES (2)"), "K");
    EXPECT_EQ(refusal(db.run("UPDATE t SET " + std::string(c.column) + " = " + c.value +
                             " WHERE id = 2")),
              c.refused ? kRefused : 0)
        << "update to " << c.value;
    ASSERT_EQ(db.run("DELETE FROM t"), "K");
  }
  // The refusal names its constraint, and so its column.
  EXPECT_EQ(db.run("INSERT INTO t (d) VALUES ('1-01-01')"),
            "E22007 CHECK constraint failed: q4lite:22007:d");
}

// Which columns of which statements get the guard; nothing else changes.
TEST(DatetimeGuard, OnlyDateAndTimeColumnsOfTheirDefinitions) {
  // clang-format off
  struct Case { const char* sql; std::vector<const char*> guarded; } cases[] = {
      {"CREATE TABLE IF NOT EXISTS main.\"my t\" (\"a \"\"b\" DATE, [c] TIMESTAMP(6) NOT NULL, `e` time,"
       " n DECIMAL(10, 2) DEFAULT 0, x DATE GENERATED ALWAYS AS ('2024-01-01'), y DATE AS ('2024-01-01'),"
       " v VARCHAR(10), CONSTRAINT pk PRIMARY KEY (n), CHECK (n > 0))",
       {"a \"\"b", "c", "e"}},
      {"create temporary table b (date date, time time, stamp datetime)", {"date", "time", "stamp"}},
      {"CREATE TABLE a (d DATE); INSERT INTO a (d) SELECT NULL WHERE 'x;' <> ''; ALTER TABLE a ADD COLUMN z DATE",
       {"d", "z"}},
      {"ALTER TABLE main.base ADD w TIMESTAMP DEFAULT '2024-01-01 00:00:00'", {"w"}},
      {"CREATE TABLE c AS SELECT * FROM base", {}},
      {"ALTER TABLE base ADD COLUMN w TEXT", {}},
      {"CREATE VIRTUAL TABLE v USING fts5(d)", {}},
      {"SELECT 'CREATE TABLE x (d DATE)' -- CREATE TABLE y (d DATE)\n", {}},
      {"CREATE TABLE u (\n  d DATE, -- a comment, (with a parenthesis\n  t TIME /* , x DATE */\n)", {"d", "t"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::string sql = c.sql;
    lite::add_datetime_checks(&sql);
    std::vector<std::string> names;
    for (size_t at = sql.find(lite::kDatetimeCheck); at != std::string::npos;
         at = sql.find(lite::kDatetimeCheck, at + 1)) {
      const size_t begin = at + lite::kDatetimeCheck.size();
      size_t end = begin;
      while (end < sql.size() && !(sql[end] == '"' && sql[end + 1] != '"'))
        end += sql[end] == '"' ? 2 : 1;
      names.push_back(sql.substr(begin, end - begin));
    }
    EXPECT_EQ(names, std::vector<std::string>(c.guarded.begin(), c.guarded.end())) << sql;
    if (c.guarded.empty()) {
      EXPECT_EQ(sql, c.sql);
    }
    // The guarded text is still SQL SQLite takes.
    Database db;
    ASSERT_EQ(sqlite3_exec(db.db(), "CREATE TABLE base (d DATE)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    if (std::string(c.sql).find("fts5") == std::string::npos) {
      EXPECT_EQ(db.run(c.sql), "K") << sql;
    }
  }
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
  const std::string kDate = std::to_string(kSqlDate), kTime = std::to_string(kSqlTime),
                    kStamp = std::to_string(kSqlTimestamp), kText = std::to_string(kSqlVarchar);
  // clang-format off
  struct Case { const char* column; const char* stored; std::string travels; } cases[] = {
      {"d", "0001-01-01", kDate + " 0001-01-01"}, {"d", "1-01-01", kDate + " 0001-01-01"},
      {"d", "99-12-31", kDate + " 0099-12-31"}, {"d", "2024-02-29 10:11:12", kDate + " 2024-02-29"},
      {"d", "12345-01-01", kText + " 12345-01-01"}, {"d", "-1-01-01", kText + " -1-01-01"},
      {"ts", "2024-02-29T03:04", kStamp + " 2024-02-29 03:04:00"},
      {"ts", "2024-02-29", kStamp + " 2024-02-29 00:00:00"},
      {"ts", "2024-02-29 03:04:05.123456789", kStamp + " 2024-02-29 03:04:05.123456789"},
      {"ts", "999-02-28 03:04:05.5", kStamp + " 0999-02-28 03:04:05.5"},
      {"ts", "2024-02-29 03:04:05.", kStamp + " 2024-02-29 03:04:05"},
      {"ts", "2024-02-29 03:04:05.1234567890123", kStamp + " 2024-02-29 03:04:05.1234567890123"},
      {"ts", "2024-02-29  10:11:12Z", kStamp + " 2024-02-29 10:11:12"},  // what SQLite reads
      {"ts", "2024-02-2910:11", kStamp + " 2024-02-29 10:11:00"}, {"ts", "2024-02-29 ", kStamp + " 2024-02-29 00:00:00"},
      {"ts", "2024-02-29 x", kText + " 2024-02-29 x"},
      {"tm", "10:11:12.5", kTime + " 10:11:12.5"}, {"tm", "2024-02-29 10:11", kTime + " 10:11:00"},
      {"tm", "10:11:12+01:00", kTime + " 10:11:12"},
      {"tm", "noon", kText + " noon"},
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
              std::vector<std::string>{c.travels})
        << c.stored;
  }
  // More fraction digits than a value carries: it travels as text.
  const std::string long_fraction = "2024-02-29 03:04:05." + std::string(65, '1');
  ASSERT_EQ(db.run("UPDATE t SET ts = '" + long_fraction + "'"), "K");
  EXPECT_EQ(db.values("SELECT ts FROM t"), std::vector<std::string>{kText + " " + long_fraction});
}

}  // namespace
}  // namespace q4::test
