#include <cstring>

#include "statement/options.h"
#include "statement_fixture.h"

namespace q4::test {
namespace {

using Options = StatementTest;

uint32_t get_stmt(Statement* s, SQLUSMALLINT option) {
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(get_stmt_option(s, option, &value), SQL_SUCCESS) << option << " " << diag(s);
  return value;
}

struct SetCase {
  const char* what;
  SQLUSMALLINT option;
  uint32_t value;
  SQLRETURN rc;
  const char* expected_diag;  // "" when nothing is posted
  uint32_t read_back;         // the option's value afterwards (before: preset)
};

void PrintTo(const SetCase& c, std::ostream* os) {
  *os << c.what;
}

// Before each case the statement holds these values, so that "nothing
// stored" shows as the preset.
constexpr uint32_t kPreset = 1;

class StatementOptionRules : public StatementTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(StatementOptionRules, OnAStatement) {
  const SetCase& c = GetParam();
  Statement* s = new_statement();
  s->max_rows = s->noscan = s->async_enable = s->bind_type = s->concurrency = kPreset;
  s->rowset_size = s->retrieve_data = s->use_bookmarks = s->cursor_type = kPreset;
  EXPECT_EQ(set_option(nullptr, s, c.option, c.value), c.rc);
  EXPECT_EQ(diag(s), c.expected_diag);
  EXPECT_EQ(diag(conn_), "") << "statement options post on the statement";
  EXPECT_EQ(get_stmt(s, c.option), c.read_back);
}

// Through the connection the same rules apply to the connection's default,
// and the diagnostic goes to the connection; a new statement shows the
// default.
TEST_P(StatementOptionRules, OnTheConnectionDefault) {
  const SetCase& c = GetParam();
  conn_->default_max_rows = conn_->default_noscan = conn_->default_async_enable = kPreset;
  conn_->default_bind_type = conn_->default_concurrency = conn_->default_rowset_size = kPreset;
  conn_->default_retrieve_data = conn_->default_use_bookmarks = kPreset;
  conn_->default_cursor_type = kPreset;
  EXPECT_EQ(set_connect_option(conn_, c.option, c.value), c.rc);
  EXPECT_EQ(diag(conn_), c.expected_diag);
  Statement* s = new_statement();
  // query timeout and max length are never copied into new statements.
  if (c.option != SQL_QUERY_TIMEOUT && c.option != SQL_MAX_LENGTH) {
    EXPECT_EQ(get_stmt(s, c.option), c.read_back);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatementOptionRules,
    ::testing::Values(
        SetCase{"QueryTimeoutIgnored", SQL_QUERY_TIMEOUT, 30, SQL_SUCCESS_WITH_INFO,
                "01S02 Not supported - Value option changed", 0},
        SetCase{"MaxRowsLargest", SQL_MAX_ROWS, 2147483646, SQL_SUCCESS, "", 2147483646},
        SetCase{"MaxRowsTooLargeIgnored", SQL_MAX_ROWS, 2147483647, SQL_SUCCESS_WITH_INFO,
                "01S02 Value option changed", kPreset},
        SetCase{"MaxRowsZero", SQL_MAX_ROWS, 0, SQL_SUCCESS, "", 0},
        SetCase{"NoscanOff", SQL_NOSCAN, 0, SQL_SUCCESS, "", 0},
        SetCase{"NoscanTwo", SQL_NOSCAN, 2, SQL_ERROR, "S1009 Invalid argument value", kPreset},
        SetCase{"MaxLength", SQL_MAX_LENGTH, 100, SQL_ERROR, "S1C00 Driver not capable", 0},
        SetCase{"AsyncOff", SQL_ASYNC_ENABLE, 0, SQL_SUCCESS, "", 0},
        SetCase{"AsyncTwo", SQL_ASYNC_ENABLE, 2, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"BindTypeRowWise", SQL_BIND_TYPE, 48, SQL_SUCCESS, "", 48},
        SetCase{"BindTypeTooLarge", SQL_BIND_TYPE, 2147483647, SQL_ERROR,
                "S1009 Invalid argument value", kPreset},
        SetCase{"CursorForwardOnly", SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, SQL_SUCCESS, "", 0},
        SetCase{"CursorStatic", SQL_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_SUCCESS, "", 3},
        SetCase{"CursorKeysetBecomesStatic", SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN,
                SQL_SUCCESS_WITH_INFO, "01S02 Value option changed", 3},
        SetCase{"CursorDynamicBecomesStatic", SQL_CURSOR_TYPE, SQL_CURSOR_DYNAMIC,
                SQL_SUCCESS_WITH_INFO, "01S02 Value option changed", 3},
        SetCase{"CursorFour", SQL_CURSOR_TYPE, 4, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"ConcurrencyFour", SQL_CONCURRENCY, 4, SQL_SUCCESS, "", 4},
        SetCase{"ConcurrencyZero", SQL_CONCURRENCY, 0, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"ConcurrencyFive", SQL_CONCURRENCY, 5, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"RowsetLargest", SQL_ROWSET_SIZE, 65535, SQL_SUCCESS, "", 65535},
        SetCase{"RowsetZero", SQL_ROWSET_SIZE, 0, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"RowsetTooLarge", SQL_ROWSET_SIZE, 65536, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"RetrieveOff", SQL_RETRIEVE_DATA, 0, SQL_SUCCESS, "", 0},
        SetCase{"RetrieveTwo", SQL_RETRIEVE_DATA, 2, SQL_ERROR, "S1009 Invalid argument value",
                kPreset},
        SetCase{"BookmarksOff", SQL_USE_BOOKMARKS, 0, SQL_SUCCESS, "", 0},
        SetCase{"BookmarksTwo", SQL_USE_BOOKMARKS, 2, SQL_ERROR, "S1009 Invalid argument value",
                kPreset}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Options, OptionsThatCannotBeSetOrRead) {
  Statement* s = new_statement();
  s->row_number = 42;  // what the bookmark and the row number read
  struct Case {
    SQLUSMALLINT option;
    const char* on_set;
    const char* on_get;  // "" when it reads
  } cases[] = {
      {SQL_KEYSET_SIZE, "S1C00 Driver not capable", "S1C00 Driver not capable"},
      {SQL_SIMULATE_CURSOR, "S1C00 Driver not capable", "S1C00 Driver not capable"},
      {SQL_GET_BOOKMARK, "S1000 Bad option", ""},
      {SQL_ROW_NUMBER, "S1000 Bad option", ""},
      {15, "S1000 Bad option", "S1092 Bad Option"},
      {SQL_ACCESS_MODE, "S1000 Bad option", "S1092 Bad Option"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    EXPECT_EQ(SQLSetStmtOption(s, c.option, 1), SQL_ERROR);
    EXPECT_EQ(diag(s), c.on_set);
    clear_diagnostic(s->sqlstate, s->message);
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(SQLGetStmtOption(s, c.option, &value), c.on_get[0] ? SQL_ERROR : SQL_SUCCESS);
    EXPECT_EQ(diag(s), c.on_get);
    EXPECT_EQ(value, c.on_get[0] ? 0xDEADBEEF : 42u) << "nothing stored on an error";
  }
}

// Only the low 32 bits of vParam count for a statement.
TEST_F(Options, SetStmtOptionUsesTheLow32Bits) {
  Statement* s = new_statement();
  EXPECT_EQ(SQLSetStmtOption(s, SQL_ROWSET_SIZE, (SQLULEN{1} << 32) | 7), SQL_SUCCESS);
  EXPECT_EQ(s->rowset_size, 7u);
}

TEST_F(Options, GetStmtOptionWithoutDestinationIsRefused) {
  Statement* s = new_statement();
  EXPECT_EQ(SQLGetStmtOption(s, SQL_ROWSET_SIZE, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(s), "S1009 Invalid argument value");
}

TEST_F(Options, ConnectionDefaultReachesEveryExistingStatement) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  EXPECT_EQ(SQLSetStmtOption(a, SQL_ROWSET_SIZE, 10), SQL_SUCCESS);
  EXPECT_EQ(a->rowset_size, 10u);
  EXPECT_EQ(b->rowset_size, 1u) << "a statement option stays on its statement";
  EXPECT_EQ(set_connect_option(conn_, SQL_ROWSET_SIZE, 5), SQL_SUCCESS);
  EXPECT_EQ(a->rowset_size, 5u);
  EXPECT_EQ(b->rowset_size, 5u);
  EXPECT_EQ(new_statement()->rowset_size, 5u);
}

// A refused value still overwrites the statements with the unchanged
// connection default.
TEST_F(Options, RefusedConnectionValueStillResetsTheStatements) {
  Statement* a = new_statement();
  ASSERT_EQ(SQLSetStmtOption(a, SQL_NOSCAN, 0), SQL_SUCCESS);
  a->query_timeout = 9;  // as if an older driver had stored one
  EXPECT_EQ(set_connect_option(conn_, SQL_NOSCAN, 2), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1009 Invalid argument value");
  EXPECT_EQ(diag(a), "");
  EXPECT_EQ(a->noscan, 1u);
  EXPECT_EQ(set_connect_option(conn_, SQL_QUERY_TIMEOUT, 30), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(a->query_timeout, 0u);
}

// Options without a connection default leave the statements alone.
TEST_F(Options, OptionsWithoutDefaultDoNotPropagate) {
  Statement* a = new_statement();
  a->max_length = 5;
  a->row_number = 8;
  for (int option : {SQL_MAX_LENGTH, SQL_KEYSET_SIZE, SQL_SIMULATE_CURSOR, SQL_GET_BOOKMARK,
                     SQL_ROW_NUMBER, 999}) {
    EXPECT_EQ(set_connect_option(conn_, option, 3), SQL_ERROR);
    propagate_option(conn_, option);
  }
  EXPECT_EQ(a->max_length, 5u);
  EXPECT_EQ(a->row_number, 8u);
}

TEST_F(Options, FreshConnectionAnswers) {
  uint32_t value = 99;
  struct Case {
    SQLUSMALLINT option;
    uint32_t expected;
  } cases[] = {
      {SQL_AUTOCOMMIT, 1}, {SQL_TXN_ISOLATION, 2}, {SQL_ACCESS_MODE, 0}, {SQL_LOGIN_TIMEOUT, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(get_connect_option(conn_, c.option, &value), SQL_SUCCESS);
    EXPECT_EQ(value, c.expected) << c.option;
  }
  char qualifier[8] = "xxxxxxx";
  EXPECT_EQ(get_connect_option(conn_, SQL_CURRENT_QUALIFIER, qualifier), SQL_SUCCESS);
  EXPECT_STREQ(qualifier, "");
}

TEST_F(Options, LoginTimeoutIsCappedWithAWarning) {
  struct Case {
    SQLULEN value;
    SQLRETURN rc;
    uint32_t stored;
  } cases[] = {{40000, SQL_SUCCESS_WITH_INFO, 32767},
               {32767, SQL_SUCCESS, 32767},
               {15, SQL_SUCCESS, 15},
               {SQLULEN{1} << 32, SQL_SUCCESS_WITH_INFO, 32767}};
  for (const Case& c : cases) {
    clear_diagnostic(conn_->sqlstate, conn_->message);
    EXPECT_EQ(SQLSetConnectOption(conn_, SQL_LOGIN_TIMEOUT, c.value), c.rc);
    EXPECT_EQ(diag(conn_), c.rc == SQL_SUCCESS ? "" : "01S02 Option value changed");
    EXPECT_EQ(conn_->login_timeout, c.stored);
  }
}

TEST_F(Options, AccessModeStaysReadWrite) {
  EXPECT_EQ(set_connect_option(conn_, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diag(conn_), "01S02 Option value changed");
  clear_diagnostic(conn_->sqlstate, conn_->message);
  EXPECT_EQ(set_connect_option(conn_, SQL_ACCESS_MODE, 7), SQL_SUCCESS);
  EXPECT_EQ(diag(conn_), "");
  EXPECT_EQ(conn_->access_mode, 0u);
}

TEST_F(Options, ConnectionOptionsTheDriverDoesNotOffer) {
  uint32_t value;
  for (SQLUSMALLINT option :
       {SQL_OPT_TRACE, SQL_OPT_TRACEFILE, SQL_TRANSLATE_DLL, SQL_TRANSLATE_OPTION, SQL_ODBC_CURSORS,
        SQL_QUIET_MODE, SQL_PACKET_SIZE}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(set_connect_option(conn_, option, 1), SQL_ERROR);
    EXPECT_EQ(diag(conn_), "S1C00 Driver Not Capable");
    EXPECT_EQ(get_connect_option(conn_, option, &value), SQL_ERROR);
    EXPECT_EQ(diag(conn_), "S1C00 Driver Not Capable");
  }
  for (int option : {SQL_ROWSET_SIZE, SQL_QUERY_TIMEOUT, 999}) {
    EXPECT_EQ(get_connect_option(conn_, option, &value), SQL_ERROR);
    EXPECT_EQ(diag(conn_), "S1092 Bad Option");
  }
  EXPECT_EQ(set_connect_option(conn_, 999, 1), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1000 Bad option");
  EXPECT_EQ(get_connect_option(conn_, SQL_AUTOCOMMIT, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1000 Bad pvParam");
}

// The qualifier field holds 67 characters: a longer text is cut with a
// warning, and reading it writes at most the 68 bytes the field holds.
TEST_F(Options, CurrentQualifierIsCutToTheFieldAndReadWithinIt) {
  const std::string fits(67, 'q');
  EXPECT_EQ(
      set_connect_option(conn_, SQL_CURRENT_QUALIFIER, reinterpret_cast<SQLULEN>(fits.c_str())),
      SQL_SUCCESS);
  EXPECT_EQ(diag(conn_), "");
  const std::string longer = std::string(67, 'x') + "overflow";
  EXPECT_EQ(
      set_connect_option(conn_, SQL_CURRENT_QUALIFIER, reinterpret_cast<SQLULEN>(longer.c_str())),
      SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diag(conn_), "01S02 Option value changed");
  EXPECT_EQ(std::string(conn_->current_qualifier), longer.substr(0, 67));

  std::vector<char> out(68 + 16, '#');
  EXPECT_EQ(get_connect_option(conn_, SQL_CURRENT_QUALIFIER, out.data()), SQL_SUCCESS);
  EXPECT_EQ(std::string(out.data()), longer.substr(0, 67));
  for (size_t i = 68; i < out.size(); ++i) EXPECT_EQ(out[i], '#') << "wrote byte " << i;

  EXPECT_EQ(set_connect_option(conn_, SQL_CURRENT_QUALIFIER, 0), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1009 Invalid argument value");
}

// Settings the request cannot carry fail before anything is sent, and keep
// failing until corrected.
TEST_F(Options, UnencodableSettingFailsUntilCorrected) {
  holder_.reset();  // an unconnected connection: nothing can be sent anyway
  holder_ = std::make_unique<ConnectionHolder>(env_);
  conn_ = holder_->get();
  EXPECT_EQ(set_connect_option(conn_, SQL_TXN_ISOLATION, 3), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1002 Bad Trans Setting");
  EXPECT_EQ(conn_->txn_isolation, 3u) << "the refused value stays stored";
  EXPECT_EQ(send_connection_settings(conn_), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1002 Bad Trans Setting");
  conn_->txn_isolation = 2;
  conn_->autocommit = 5;
  EXPECT_EQ(send_connection_settings(conn_), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1002 Bad Trans Setting");
  conn_->autocommit = 1;
  conn_->access_mode = 2;
  EXPECT_EQ(send_connection_settings(conn_), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1002 Bad Trans Setting");
}

TEST_F(Options, AutocommitWhileUnconnectedIsOnlyStored) {
  holder_.reset();
  holder_ = std::make_unique<ConnectionHolder>(env_);
  conn_ = holder_->get();
  EXPECT_EQ(set_connect_option(conn_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(conn_->autocommit, 0u);
  EXPECT_EQ(diag(conn_), "");
  // The isolation is sent connected or not: here the send fails.
  EXPECT_EQ(set_connect_option(conn_, SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "08007 Communications_ERROR");
  EXPECT_EQ(conn_->txn_isolation, 8u);
}

}  // namespace
}  // namespace q4::test
