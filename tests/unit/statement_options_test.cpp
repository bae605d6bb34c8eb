// Statement and connection options, cursor names and scroll options.
#include <cstdio>

#include "statement/cursor_name.h"
#include "statement/options.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

using Options = StatementTest;

// clang-format off
// read_back: the value afterwards; kPreset when nothing was stored.
struct SetCase { const char* what; SQLUSMALLINT option; uint32_t value; const char* outcome; uint32_t read_back; };
constexpr uint32_t kPreset = 1;
const char kBad[] = "ERROR S1009 Invalid argument value";
const SetCase kSetCases[] = {
    {"QueryTimeoutIgnored", SQL_QUERY_TIMEOUT, 30, "INFO 01S02 Not supported - Value option changed", 0},
    {"MaxRowsLargest", SQL_MAX_ROWS, 2147483646, "OK", 2147483646},
    {"MaxRowsTooLargeIgnored", SQL_MAX_ROWS, 2147483647, "INFO 01S02 Value option changed", kPreset},
    {"NoscanOff", SQL_NOSCAN, 0, "OK", 0},
    {"NoscanTwo", SQL_NOSCAN, 2, kBad, kPreset},
    {"MaxLength", SQL_MAX_LENGTH, 100, "ERROR S1C00 Driver not capable", 0},
    {"BindTypeTooLarge", SQL_BIND_TYPE, 2147483647, kBad, kPreset},
    {"CursorKeysetBecomesStatic", SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, "INFO 01S02 Value option changed", 3},
    {"CursorFour", SQL_CURSOR_TYPE, 4, kBad, kPreset},
    {"ConcurrencyFour", SQL_CONCURRENCY, 4, "OK", 4},
    {"ConcurrencyZero", SQL_CONCURRENCY, 0, kBad, kPreset},
    {"RowsetLargest", SQL_ROWSET_SIZE, 65535, "OK", 65535},
    {"RowsetZero", SQL_ROWSET_SIZE, 0, kBad, kPreset},
    {"RowsetTooLarge", SQL_ROWSET_SIZE, 65536, kBad, kPreset},
};
// clang-format on

class OptionRules : public StatementTest, public ::testing::WithParamInterface<SetCase> {};

// On a statement the rule posts there; through the connection it applies to
// the default, which a new statement copies (except the timeout and max
// length), and posts on the connection.
TEST_P(OptionRules, OnAStatementAndOnTheConnectionDefault) {
  const SetCase& c = GetParam();
  Statement* s = new_statement();
  s->max_rows = s->noscan = s->bind_type = s->concurrency = s->rowset_size = kPreset;
  s->cursor_type = kPreset;
  EXPECT_EQ(outcome(set_option(nullptr, s, c.option, c.value), s), c.outcome);
  EXPECT_EQ(diag(conn_), "");
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(get_stmt_option(s, c.option, &value), SQL_SUCCESS);
  EXPECT_EQ(value, c.read_back);

  conn_->default_max_rows = conn_->default_noscan = conn_->default_bind_type = kPreset;
  conn_->default_concurrency = conn_->default_rowset_size = conn_->default_cursor_type = kPreset;
  EXPECT_EQ(outcome(set_connect_option(conn_, c.option, c.value), conn_), c.outcome);
  if (c.option == SQL_QUERY_TIMEOUT || c.option == SQL_MAX_LENGTH) return;
  value = 0xDEADBEEF;
  EXPECT_EQ(get_stmt_option(new_statement(), c.option, &value), SQL_SUCCESS);
  EXPECT_EQ(value, c.read_back);
}

INSTANTIATE_TEST_SUITE_P(Table, OptionRules, ::testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.what); });

// Options outside the table: refusals (their texts differ in letter case
// between statement and connection), read-only ones, and capped ones.
TEST_F(Options, OptionsOutsideTheRules) {
  Statement* s = new_statement();
  s->row_number = 42;  // what the bookmark and the row number read
  const char kNotCapable[] = "ERROR S1C00 Driver not capable";
  // clang-format off
  struct Case { SQLUSMALLINT option; const char* on_set; const char* on_get; } cases[] = {
      {SQL_KEYSET_SIZE, kNotCapable, kNotCapable},
      {SQL_GET_BOOKMARK, "ERROR S1000 Bad option", "OK"},
      {15, "ERROR S1000 Bad option", "ERROR S1092 Bad Option"},
      {SQL_ACCESS_MODE, "ERROR S1000 Bad option", "ERROR S1092 Bad Option"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(SQLSetStmtOption(s, c.option, 1), s), c.on_set) << c.option;
    clear_diagnostic(s->sqlstate, s->message);
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(outcome(SQLGetStmtOption(s, c.option, &value), s), c.on_get) << c.option;
    EXPECT_EQ(value, c.on_get[0] == 'O' ? 42u : 0xDEADBEEF) << "nothing stored on an error";
  }
  EXPECT_EQ(outcome(SQLGetStmtOption(s, SQL_ROWSET_SIZE, nullptr), s), kBad);
  // Only the low 32 bits of vParam count.
  EXPECT_EQ(SQLSetStmtOption(s, SQL_ROWSET_SIZE, (SQLULEN{1} << 32) | 7), SQL_SUCCESS);
  EXPECT_EQ(s->rowset_size, 7u);

  // Connection options: the login timeout is capped at 32767 seconds (64-bit
  // values included); the access mode stays read-write, warning for read-only.
  const char kChanged[] = "INFO 01S02 Option value changed", kNotCapable2[] = "ERROR S1C00 Driver Not Capable";
  struct ConnCase { bool set; SQLUSMALLINT option; SQLULEN value; const char* outcome; } conn_cases[] = {
      {true, SQL_OPT_TRACE, 1, kNotCapable2}, {false, SQL_PACKET_SIZE, 0, kNotCapable2},
      {false, SQL_ROWSET_SIZE, 0, "ERROR S1092 Bad Option"}, {true, 999, 1, "ERROR S1000 Bad option"},
      {true, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY, kChanged}, {true, SQL_ACCESS_MODE, 7, "OK"},
      {true, SQL_LOGIN_TIMEOUT, 32767, "OK"}, {true, SQL_LOGIN_TIMEOUT, 40000, kChanged},
      {true, SQL_LOGIN_TIMEOUT, SQLULEN{1} << 32, kChanged},
  };
  // clang-format on
  for (const ConnCase& c : conn_cases) {
    uint32_t value = 99;
    SQLRETURN rc = c.set ? SQLSetConnectOption(conn_, c.option, c.value)
                         : get_connect_option(conn_, c.option, &value);
    EXPECT_EQ(outcome(rc, conn_), c.outcome) << c.option << " " << c.value;
    clear_diagnostic(conn_->sqlstate, conn_->message);
  }
  EXPECT_EQ(conn_->access_mode, 0u);
  EXPECT_EQ(conn_->login_timeout, 32767u);
  EXPECT_EQ(outcome(get_connect_option(conn_, SQL_AUTOCOMMIT, nullptr), conn_),
            "ERROR S1000 Bad pvParam");
}

// A connection default overwrites every existing statement, even when the new
// value is refused (the unchanged default is copied); options without a
// default leave the statements alone.
TEST_F(Options, ConnectionDefaultReachesEveryExistingStatement) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  EXPECT_EQ(SQLSetStmtOption(a, SQL_ROWSET_SIZE, 10), SQL_SUCCESS);
  EXPECT_EQ(b->rowset_size, 1u) << "a statement option stays on its statement";
  EXPECT_EQ(set_connect_option(conn_, SQL_ROWSET_SIZE, 5), SQL_SUCCESS);
  EXPECT_EQ(a->rowset_size + b->rowset_size + new_statement()->rowset_size, 15u);
  ASSERT_EQ(SQLSetStmtOption(a, SQL_NOSCAN, 0), SQL_SUCCESS);
  a->query_timeout = 9;
  EXPECT_EQ(set_connect_option(conn_, SQL_NOSCAN, 2), SQL_ERROR);
  EXPECT_EQ(a->noscan, 1u);
  EXPECT_EQ(set_connect_option(conn_, SQL_QUERY_TIMEOUT, 30), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(a->query_timeout, 0u);
  a->max_length = 5;
  a->row_number = 8;
  for (int option : {SQL_MAX_LENGTH, SQL_KEYSET_SIZE, SQL_ROW_NUMBER, 999}) {
    EXPECT_EQ(set_connect_option(conn_, option, 3), SQL_ERROR);
    propagate_option(conn_, option);
  }
  EXPECT_EQ(a->max_length, 5u);
  EXPECT_EQ(a->row_number, 8u);
  EXPECT_EQ(diag(a), "");
}

// The qualifier field holds 67 characters: a longer text is cut with a
// warning, and reading writes at most the field's 68 bytes.
TEST_F(Options, CurrentQualifierIsCutToTheFieldAndReadWithinIt) {
  const std::string longer = std::string(67, 'x') + "overflow";
  EXPECT_EQ(outcome(set_connect_option(conn_, SQL_CURRENT_QUALIFIER,
                                       reinterpret_cast<SQLULEN>(longer.c_str())),
                    conn_),
            "INFO 01S02 Option value changed");
  std::vector<char> out(68 + 16, '#');
  EXPECT_EQ(get_connect_option(conn_, SQL_CURRENT_QUALIFIER, out.data()), SQL_SUCCESS);
  EXPECT_EQ(std::string(out.data()), longer.substr(0, 67));
  for (size_t i = 68; i < out.size(); ++i) EXPECT_EQ(out[i], '#') << "wrote byte " << i;
  clear_diagnostic(conn_->sqlstate, conn_->message);
  EXPECT_EQ(outcome(set_connect_option(conn_, SQL_CURRENT_QUALIFIER, 0), conn_), kBad);
}

// While unconnected, autocommit is only stored but the isolation is sent.
TEST_F(Options, UnconnectedSettings) {
  unlink();
  EXPECT_EQ(outcome(set_connect_option(conn_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), conn_), "OK");
  EXPECT_EQ(conn_->autocommit, 0u);
  EXPECT_EQ(outcome(set_connect_option(conn_, SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), conn_),
            "ERROR 08007 Communications_ERROR");
  EXPECT_EQ(conn_->txn_isolation, 8u);
}

// --- Cursor names.

using CursorName = StatementTest;

const SQLCHAR* text(const char* s) {
  return reinterpret_cast<const SQLCHAR*>(s);
}

// 18 characters fit; with an explicit length of 18 the check counts one more.
TEST_F(CursorName, LengthRules) {
  const char k18[] = "ABCDEFGHIJKLMNOPQR", k19[] = "ABCDEFGHIJKLMNOPQRS";
  const char kNegative[] = "ERROR S1090 Invalid string or buffer length";
  // clang-format off
  struct Case { const char* name; SQLSMALLINT length; const char* outcome; const char* stored; } cases[] = {
      {k18, SQL_NTS, "OK", k18},
      {k18, 18, "ERROR 34000 Invalid cursor name - exceeds max length", ""},
      {k19, SQL_NTS, "ERROR 34000 Invalid cursor name", ""},
      {k19, 17, "OK", "ABCDEFGHIJKLMNOPQ"},
      {"cursor_one", 6, "OK", "cursor"},
      {"c", -1, kNegative, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    Statement* s = new_statement();
    EXPECT_EQ(outcome(set_cursor_name(s, text(c.name), c.length), s), c.outcome) << c.length;
    EXPECT_STREQ(s->cursor_name, c.stored);
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

// Checks come in a fixed order: version, null text, open cursor, length.
TEST_F(CursorName, RefusalsComeInOrder) {
  Statement* s = new_statement();
  s->cursor_open = 1;
  conn_->server_version = 700;
  EXPECT_EQ(outcome(set_cursor_name(s, nullptr, SQL_NTS), s), "ERROR IM001 Not Supported");
  conn_->server_version = 710;
  EXPECT_EQ(outcome(set_cursor_name(s, nullptr, 40), s), kBad);
  EXPECT_EQ(outcome(set_cursor_name(s, text("ABCDEFGHIJKLMNOPQRS"), SQL_NTS), s),
            "ERROR 24000 Invalid cursor state");
  SQLCHAR buffer[32];
  conn_->server_version = 709;
  EXPECT_EQ(outcome(get_cursor_name(s, buffer, 32, nullptr), s), "ERROR IM001 Not Supported");
  conn_->server_version = 720;
  EXPECT_EQ(outcome(get_cursor_name(s, buffer, -1, nullptr), s),
            "ERROR S1090 Invalid string or buffer length");
}

// Duplicates are per connection, case-sensitive, judged on the stored form;
// an unnamed statement's name is "" (so "" clashes), while its generated
// "SQL_CUR" + id-in-hex name is not stored and clashes with nothing.
TEST_F(CursorName, DuplicatesAndGeneratedNames) {
  const char kDuplicate[] = "ERROR 3C000 Duplicate cursor name";
  Statement* a = new_statement();
  Statement* b = new_statement();
  char generated[32], got[32];
  snprintf(generated, sizeof generated, "SQL_CUR%08X", statement_id(b));
  EXPECT_EQ(get_cursor_name(b, sql(got), 32, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(got, generated);
  EXPECT_EQ(outcome(set_cursor_name(a, text(""), SQL_NTS), a), kDuplicate);
  clear_diagnostic(a->sqlstate, a->message);
  EXPECT_EQ(outcome(set_cursor_name(a, text(generated), SQL_NTS), a), "OK");
  ASSERT_EQ(set_cursor_name(a, text("Orders"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(outcome(set_cursor_name(b, text("Orders"), SQL_NTS), b), kDuplicate);
  EXPECT_EQ(outcome(set_cursor_name(b, text("Orders_2024"), 6), b), kDuplicate);
  EXPECT_EQ(set_cursor_name(b, text("ORDERS"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(set_cursor_name(a, text("Orders"), SQL_NTS), SQL_SUCCESS) << "its own name again";
}

// Every buffer size with guard bytes: the copy stays inside cbCursorMax, is
// NUL-terminated when cut, zero-fills the rest when it fits, and always
// reports the full length.
TEST_F(CursorName, CopyIntoEveryBufferSize) {
  Statement* s = new_statement();
  const std::string name = "fifteen_letters";
  ASSERT_EQ(set_cursor_name(s, text(name.c_str()), SQL_NTS), SQL_SUCCESS);
  for (int size : {0, 1, 2, 15, 16, 20}) {
    SCOPED_TRACE("buffer " + std::to_string(size));
    std::vector<SQLCHAR> area(8 + size + 8, '#');
    SQLCHAR* buffer = area.data() + 8;
    SQLSMALLINT length = -1;
    clear_diagnostic(s->sqlstate, s->message);
    EXPECT_EQ(outcome(get_cursor_name(s, buffer, size, &length), s),
              size > 15 ? "OK" : "INFO 01004 Data truncated");
    EXPECT_EQ(length, 15);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(area[i] + area[8 + size + i], 2 * '#') << "guards";
    if (size > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), name.substr(0, size - 1));
    }
    for (int i = 16; i < size; ++i) EXPECT_EQ(buffer[i], 0) << "not zero-filled at " << i;
  }
}

// After a result the name and the scroll setting stay locked even after
// SQL_CLOSE, which only rewinds; SQLSetScrollOptions takes only the rowset.
TEST_F(CursorName, ScrollOptions) {
  Statement* s = new_statement();
  EXPECT_EQ(outcome(set_scroll_options(s, 0), s), kBad);
  EXPECT_EQ(SQLSetScrollOptions(s, SQL_CONCUR_VALUES, SQL_SCROLL_KEYSET_DRIVEN, 65535),
            SQL_SUCCESS);
  EXPECT_EQ(s->rowset_size, 65535u);
  EXPECT_EQ(s->concurrency, 1u) << "the concurrency argument has no effect";
  s->cursor_open = 1;
  EXPECT_EQ(free_statement(s, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(outcome(set_cursor_name(s, text("late"), SQL_NTS), s),
            "ERROR 24000 Invalid cursor state");
  EXPECT_EQ(outcome(set_scroll_options(s, 10), s), "ERROR 24000 Invalid cursor state");
  EXPECT_EQ(s->rowset_size, 65535u);
}

}  // namespace
}  // namespace q4
