#include <cstring>
#include <functional>

#include "statement/transact.h"
#include "statement_fixture.h"

namespace q4::test {
namespace {

using Cancel = StatementTest;

// A statement with an open result: a row block, descriptions and a cursor
// somewhere in the rows.
void open_result(Statement* s) {
  s->cursor_open = 1;
  s->column_count = 2;
  s->row_buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
  s->row_buffer_size = 1000;
  s->description_cache = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
  s->description_cache_size = 1000;
  s->descriptions_cached = 1;
  s->cursor_row = 3;
  s->row_number = 3;
}

TEST_F(Cancel, IdleStatementLosesItsResult) {
  Statement* s = new_statement();
  open_result(s);
  s->pending_parameter = 501;  // a data-at-execution run survives a cancel
  EXPECT_EQ(SQLCancel(s), SQL_SUCCESS);
  EXPECT_EQ(s->cursor_open, 0);
  EXPECT_EQ(s->row_buffer, nullptr);
  EXPECT_EQ(s->description_cache, nullptr);
  EXPECT_EQ(s->descriptions_cached, 0);
  EXPECT_EQ(s->cursor_row, 0);
  EXPECT_EQ(s->pending_parameter, 501u);
  EXPECT_EQ(s->cancel_requested, 0);
  EXPECT_EQ(diag(s), "");
  // With the result gone the cursor name can be set again.
  EXPECT_EQ(SQLSetCursorName(s, reinterpret_cast<SQLCHAR*>(const_cast<char*>("after")), SQL_NTS),
            SQL_SUCCESS);
}

// While another call runs on the statement its buffers are left alone; the
// request is raised only for the length of SQLCancel.
TEST_F(Cancel, StatementInACallKeepsItsResult) {
  Statement* s = new_statement();
  open_result(s);
  {
    InCall running(s);
    EXPECT_EQ(SQLCancel(s), SQL_SUCCESS);
    EXPECT_EQ(s->cursor_open, 1);
    EXPECT_NE(s->row_buffer, nullptr);
    EXPECT_EQ(s->cancel_requested, 0);
    EXPECT_EQ(s->in_call, 1) << "SQLCancel does not touch the caller's mark";
  }
  EXPECT_EQ(s->in_call, 0);
}

// The statement functions of this module report a pending cancel as
// "S1000" "General error", rewind the cursor, and clear in_call on return;
// without a cancel a pending diagnostic survives their entry.
struct EntryCase {
  const char* name;
  std::function<SQLRETURN(Statement*)> call;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
  *os << c.name;
}

class CancelAtEntry : public StatementTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(CancelAtEntry, ReportsGeneralErrorAndRewinds) {
  Statement* s = new_statement();
  open_result(s);
  s->getdata_column = 2;
  s->cancel_requested = 1;  // as if SQLCancel were between its two steps
  EXPECT_EQ(GetParam().call(s), SQL_ERROR);
  EXPECT_EQ(diag(s), "S1000 General error");
  EXPECT_EQ(s->cursor_row, 0);
  EXPECT_EQ(s->getdata_column, -1);
  EXPECT_EQ(s->cursor_open, 1) << "entry only rewinds";
  EXPECT_EQ(s->in_call, 0);
  s->cancel_requested = 0;
}

TEST_P(CancelAtEntry, LeavesAnEarlierDiagnosticWithoutACancel) {
  Statement* s = new_statement();
  post_error(s, "older", "HY000");
  SQLRETURN rc = GetParam().call(s);
  EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << diag(s);
  if (rc == SQL_SUCCESS) {
    EXPECT_EQ(diag(s), "HY000 older");
  }
  EXPECT_EQ(s->in_call, 0);
}

SQLCHAR g_name_buffer[40];
SQLCHAR g_new_name[] = "entry";
SQLUINTEGER g_option_value;

INSTANTIATE_TEST_SUITE_P(
    Functions, CancelAtEntry,
    ::testing::Values(
        EntryCase{"GetCursorName",
                  [](Statement* s) {
                    return SQLGetCursorName(s, g_name_buffer, sizeof g_name_buffer, nullptr);
                  }},
        EntryCase{"SetCursorName",
                  [](Statement* s) { return SQLSetCursorName(s, g_new_name, SQL_NTS); }},
        EntryCase{"SetScrollOptions",
                  [](Statement* s) {
                    s->cursor_open = s->cancel_requested ? 1 : 0;
                    return SQLSetScrollOptions(s, SQL_CONCUR_READ_ONLY, 0, 4);
                  }},
        EntryCase{"SetStmtOption",
                  [](Statement* s) { return SQLSetStmtOption(s, SQL_ROWSET_SIZE, 4); }},
        EntryCase{
            "GetStmtOption",
            [](Statement* s) { return SQLGetStmtOption(s, SQL_ROWSET_SIZE, &g_option_value); }}),
    [](const auto& info) { return std::string(info.param.name); });

using Transact = StatementTest;

TEST_F(Transact, UnknownCompletionTypeIsRefusedOnTheConnection) {
  EXPECT_EQ(SQLTransact(env_, conn_, 2), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1012 Invalid Transaction Code");
}

TEST_F(Transact, UnconnectedConnectionFailsToSend) {
  holder_.reset();
  holder_ = std::make_unique<ConnectionHolder>(env_);
  conn_ = holder_->get();
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, conn_, SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "08007 Communications_ERROR");
}

TEST(TransactEnvironment, WithoutConnectionsSucceeds) {
  Environment* env;
  ASSERT_EQ(alloc_environment(&env), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env, SQL_NULL_HDBC, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(free_environment(env), SQL_SUCCESS);
}

// The walk stops at the first failure: the unconnected connection (the
// newest, asked first) fails and the older one is not asked.
TEST_F(Transact, EnvironmentWalkStopsAtTheFirstFailure) {
  ConnectionHolder newest(env_);
  EXPECT_EQ(SQLTransact(env_, SQL_NULL_HDBC, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(newest.get()), "08007 Communications_ERROR");
  EXPECT_EQ(diag(conn_), "") << "the older connection must not be asked";
}

}  // namespace
}  // namespace q4::test
