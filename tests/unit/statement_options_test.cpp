// Statement and connection options, cursor names, and freeing statements (their requests are
// checked in the wire tests; allocating a statement with each allocation failing:
// allocation_failure_test.cpp).
#include <cstdio>

#include "statement/cursor_name.h"
#include "statement/options.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

using Options = StatementTest;
using CursorName = StatementTest;

const char kBad[] = "ERROR S1009 Invalid argument value";

// Each rule on a statement, and on the connection default a new statement copies (but two).
TEST_F(Options, RulesOnAStatementAndOnTheConnectionDefault) {
  constexpr uint32_t kPreset = 1;
  // clang-format off
  // read_back: the value afterwards; kPreset when nothing was stored.
  struct Case { SQLUSMALLINT option; uint32_t value; const char* outcome; uint32_t read_back; } cases[] = {
      {SQL_MAX_ROWS, 2147483646, "OK", 2147483646},
      {SQL_MAX_ROWS, 2147483647, "INFO 01S02 Value option changed", kPreset},
      {SQL_NOSCAN, 2, kBad, kPreset},
      {SQL_MAX_LENGTH, 100, "ERROR S1C00 Driver not capable", 0},
      {SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, "INFO 01S02 Value option changed", SQL_CURSOR_STATIC},
      {SQL_ROWSET_SIZE, 65535, "OK", 65535},
      {SQL_ROWSET_SIZE, 65536, kBad, kPreset},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.option << " " << c.value);
    Statement* s = new_statement();
    s->max_rows = s->noscan = app_row_desc(s).array_size = s->cursor_type = kPreset;
    EXPECT_EQ(outcome(set_option(nullptr, s, c.option, c.value), s), c.outcome);
    EXPECT_EQ(diag(conn_), "");
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(get_stmt_option(s, c.option, &value), SQL_SUCCESS);
    EXPECT_EQ(value, c.read_back);
    conn_->default_max_rows = conn_->default_noscan = kPreset;
    conn_->default_rowset_size = conn_->default_cursor_type = kPreset;
    EXPECT_EQ(outcome(set_connect_option(conn_, c.option, c.value), conn_), c.outcome);
    clear_diagnostic(conn_->sqlstate, conn_->message);
    if (c.option == SQL_MAX_LENGTH) continue;
    EXPECT_EQ(get_stmt_option(new_statement(), c.option, &value), SQL_SUCCESS);
    EXPECT_EQ(value, c.read_back);
  }
}

// 18 characters fit (an explicit 18 counts one more); checks: version, null, open cursor, length.
TEST_F(CursorName, Refusals) {
  const char k18[] = "ABCDEFGHIJKLMNOPQR", k19[] = "ABCDEFGHIJKLMNOPQRS";
  // clang-format off
  struct Case { const char* name; SQLSMALLINT length; uint16_t version; bool open; const char* outcome; const char* stored; } cases[] = {
      {k18, SQL_NTS, 754, 0, "OK", k18},
      {k18, 18, 754, 0, "ERROR 34000 Invalid cursor name - exceeds max length", ""},
      {k19, SQL_NTS, 754, 0, "ERROR 34000 Invalid cursor name", ""},
      {k19, 17, 754, 0, "OK", "ABCDEFGHIJKLMNOPQ"},
      {nullptr, SQL_NTS, 700, 1, "ERROR IM001 Not Supported", ""},
      {nullptr, 40, 710, 1, kBad, ""},
      {k19, SQL_NTS, 710, 1, "ERROR 24000 Invalid cursor state", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    Statement* s = new_statement();
    conn_->server_version = c.version;
    s->cursor_open = c.open;
    EXPECT_EQ(outcome(set_cursor_name(s, sql(c.name), c.length), s), c.outcome) << c.length;
    EXPECT_STREQ(s->cursor_name, c.stored);
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

// Duplicates: per connection, case-sensitive, on the stored form; an unnamed statement's is ""
// (its generated name is not stored). Reads are cut with "01004", refused below level 710.
TEST_F(CursorName, DuplicatesAndReads) {
  const char kDuplicate[] = "ERROR 3C000 Duplicate cursor name";
  Statement* a = new_statement();
  Statement* b = new_statement();
  SQLCHAR name[32];
  SQLSMALLINT length = 0;
  EXPECT_EQ(outcome(set_cursor_name(a, sql(""), SQL_NTS), a), kDuplicate);
  ASSERT_EQ(set_cursor_name(a, sql("Orders"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(outcome(set_cursor_name(b, sql("Orders_2024"), 6), b), kDuplicate);
  EXPECT_EQ(set_cursor_name(b, sql("ORDERS"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(outcome(SQLGetCursorName(a, name, 4, &length), a), "INFO 01004 Data truncated");
  EXPECT_EQ(length, 6);
  conn_->server_version = 709;
  EXPECT_EQ(outcome(SQLGetCursorName(a, name, sizeof name, &length), a),
            "ERROR IM001 Not Supported");
}

// Null connections and pointers: plain errors, not SQL_INVALID_HANDLE.
TEST_F(CursorName, ConnectOptionReadsRefused) {
  SQLUINTEGER value = 0;
  EXPECT_EQ(SQLGetConnectOption(conn_, SQL_AUTOCOMMIT, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1000 Bad pvParam");
  EXPECT_EQ(SQLGetConnectOption(conn_, SQL_ROWSET_SIZE, &value), SQL_ERROR);
  EXPECT_EQ(conn_->sqlstate, std::string("S1092"));
  EXPECT_EQ(SQLGetConnectOption(nullptr, SQL_AUTOCOMMIT, &value), SQL_ERROR);
}

using StatementLifecycle = StatementTest;

// A failed release unlinks but keeps the record; a second drop must not follow stale links. Once
// the link is lost there is no server session to release in: drops free the record and succeed.
TEST_F(StatementLifecycle, FailedReleaseKeepsTheRecordAndASecondDropIsSafe) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  Statement* c = new_statement();
  const uint8_t damaged[] = {0x00, 0x01};  // a frame length that cannot hold a frame
  ASSERT_EQ(write(far_end_, damaged, sizeof damaged), 2);
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "08S01 Communications_ERROR");
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{c, a}));
  EXPECT_EQ(conn_->unreleased, b);
  Statement* d = new_statement();
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(conn_->unreleased, nullptr);
  EXPECT_EQ(free_statement(c, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{d, a}));
  for (Statement* s : {d, a}) EXPECT_EQ(free_statement(s, SQL_DROP), SQL_SUCCESS);
}

}  // namespace
}  // namespace q4
