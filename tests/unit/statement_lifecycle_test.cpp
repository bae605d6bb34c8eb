// Allocating, freeing and cancelling statements, and transactions.
#include <functional>

#include "platform/heap.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

using StatementLifecycle = StatementTest;

// The copied defaults are checked per option in the option tests.
TEST_F(StatementLifecycle, NewStatementStartsClean) {
  conn_->default_query_timeout = 30;  // never copied
  Statement* s = new_statement();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->query_timeout + s->max_length, 0u);
  EXPECT_EQ(s->getdata_column, -1);
  EXPECT_EQ(s->binary_capacity, kInitialBinarySlots);
  EXPECT_NE(s->binary_blocks, nullptr);
  EXPECT_NE(s->binary_lengths, nullptr);
}

// Only a setting beginning with an upper-case "Y" marks the statements (and
// sends an allocate request).
TEST_F(StatementLifecycle, DisableExtFetchIsReadFromItsFirstLetter) {
  for (auto [setting, expected] : {std::pair{"Yes", 1}, {"Y", 1}, {"No", 0}, {"yes", 0}, {"", 0}}) {
    strcpy(conn_->disable_ext_fetch, setting);
    if (expected) holder_->answer_ok(1);
    Statement* s = new_statement();
    ASSERT_NE(s, nullptr) << setting;
    EXPECT_EQ(s->ext_fetch_disabled, expected) << setting;
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

// Failures: a null output, no memory for the record (handle nulled) or for
// either binary table (the record stays linked, the handle is not written).
// A failed allocate request is in the wire tests.
TEST_F(StatementLifecycle, AllocationFailures) {
  EXPECT_EQ(SQLAllocStmt(conn_, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1009 Bad Arg");
  SQLHSTMT out = reinterpret_cast<SQLHSTMT>(0x1234);
  heap_fail_after(0);
  EXPECT_EQ(SQLAllocStmt(conn_, &out), SQL_ERROR);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(diag(conn_), "S1001 Memory allocation failure");
  EXPECT_EQ(conn_->statements, nullptr);

  for (long fail_at : {1L, 2L}) {
    Statement* kept = reinterpret_cast<Statement*>(0x1234);
    heap_fail_after(fail_at);
    EXPECT_EQ(alloc_statement(conn_, &kept), SQL_ERROR);
    EXPECT_EQ(kept, reinterpret_cast<Statement*>(0x1234));
    EXPECT_EQ(diag(conn_), "S1001 Memory allocation failure");
    kept = conn_->statements;
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->binary_blocks, nullptr);
    EXPECT_EQ(kept->binary_lengths, nullptr) << "the table already allocated must be freed";
    EXPECT_EQ(drop(kept), SQL_SUCCESS) << "a half-built record can still be dropped";
  }
}

class StatementListDrop : public StatementTest, public ::testing::WithParamInterface<int> {};

// Dropping the newest, a middle or the oldest of three statements keeps the
// list consistent; a new statement goes to the front.
TEST_P(StatementListDrop, DroppingOneKeepsTheOthersLinked) {
  Statement* s[3];
  for (auto& slot : s) slot = new_statement();
  EXPECT_EQ(drop(s[GetParam()]), SQL_SUCCESS);
  std::vector<Statement*> expected;
  for (int i = 2; i >= 0; --i)
    if (i != GetParam()) expected.push_back(s[i]);
  EXPECT_EQ(statements_of(conn_), expected);
  expected.insert(expected.begin(), new_statement());
  EXPECT_EQ(statements_of(conn_), expected);
}

INSTANTIATE_TEST_SUITE_P(NewestMiddleOldest, StatementListDrop, ::testing::Values(2, 1, 0));

// What each SQLFreeStmt option releases; every option resets the piecewise
// read and the pending binary blocks, none but SQL_DROP ends the result.
TEST_F(StatementLifecycle, FreeOptionsReleaseExactlyWhatTheyName) {
  struct Case {
    SQLUSMALLINT option;
    bool frees_columns, frees_parameters, rewinds;
  } cases[] = {{SQL_CLOSE, false, false, true},
               {SQL_UNBIND, true, false, false},
               {SQL_RESET_PARAMS, false, true, false},
               {9, false, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    Statement* s = new_statement();
    s->bound_columns = drv_alloc_array<BoundColumn>(nullptr, nullptr, 1);
    s->columns_bound = 1;
    s->parameters = drv_alloc_array<ParamBinding>(nullptr, nullptr, 1);
    s->parameters->buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 16);
    s->binary_blocks[0] = drv_alloc_array<uint8_t>(nullptr, nullptr, 8);
    s->binary_lengths[0] = 8;
    s->binary_count = 1;
    s->cursor_open = 1;
    s->row_buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 100);
    s->row_buffer_size = 100;
    s->cursor_row = 5;
    s->getdata_column = 2;
    s->getdata_offset = 40;
    strcpy(s->cursor_name, "kept");
    s->statement_text = drv_alloc_array<char>(nullptr, nullptr, 20);
    s->request_buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 2600);
    s->value_table = drv_alloc_array<uint8_t*>(nullptr, nullptr, 4);
    s->description_cache = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
    EXPECT_EQ(free_statement(s, c.option), SQL_SUCCESS);
    EXPECT_EQ(s->getdata_column, -1);
    EXPECT_EQ(s->getdata_offset, 0u);
    EXPECT_EQ(s->binary_count, 0);
    EXPECT_EQ(s->binary_blocks[0], nullptr);
    EXPECT_EQ(s->bound_columns == nullptr, c.frees_columns);
    EXPECT_EQ(s->columns_bound, c.frees_columns ? 0 : 1);
    EXPECT_EQ(s->parameters == nullptr, c.frees_parameters);
    EXPECT_EQ(s->cursor_row, c.rewinds ? 0 : 5);
    EXPECT_EQ(s->cursor_open, 1);
    EXPECT_NE(s->row_buffer, nullptr);
    EXPECT_STREQ(s->cursor_name, "kept");
    EXPECT_EQ(drop(s), SQL_SUCCESS);  // under the leak checker: frees what is left
  }
}

// The release fails: the statement is out of the list but valid, and a
// second drop once the link works must not disturb the others (its old links
// are stale by then).
TEST_F(StatementLifecycle, FailedReleaseKeepsTheRecordAndASecondDropIsSafe) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  Statement* c = new_statement();
  b->cursor_open = 1;
  int socket = conn_->socket;
  conn_->socket = kInvalidSocket;
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "08S01 Communications_ERROR");
  EXPECT_EQ(diag(b), "") << "a link failure is reported on the connection";
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{c, a}));
  EXPECT_EQ(b->cursor_open, 0) << "the result is closed before the release";
  conn_->socket = socket;
  Statement* d = new_statement();
  EXPECT_EQ(drop(b), SQL_SUCCESS);
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{d, c, a}));
}

TEST(StatementEntryPoints, NullHandlesAreInvalid) {
  SQLUINTEGER value;
  for (SQLRETURN rc :
       {SQLAllocStmt(SQL_NULL_HDBC, nullptr), SQLFreeStmt(SQL_NULL_HSTMT, SQL_DROP),
        SQLGetCursorName(SQL_NULL_HSTMT, nullptr, 0, nullptr),
        SQLSetCursorName(SQL_NULL_HSTMT, nullptr, 0), SQLSetScrollOptions(SQL_NULL_HSTMT, 0, 0, 1),
        SQLSetConnectOption(SQL_NULL_HDBC, SQL_AUTOCOMMIT, 0),
        SQLGetConnectOption(SQL_NULL_HDBC, SQL_AUTOCOMMIT, &value),
        SQLSetStmtOption(SQL_NULL_HSTMT, SQL_NOSCAN, 0),
        SQLGetStmtOption(SQL_NULL_HSTMT, SQL_NOSCAN, &value),
        SQLTransact(SQL_NULL_HENV, SQL_NULL_HDBC, SQL_COMMIT), SQLCancel(SQL_NULL_HSTMT)}) {
    EXPECT_EQ(rc, SQL_INVALID_HANDLE);
  }
}

// --- Cancel.

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

// An idle statement loses its result (a data-at-execution run survives);
// while another call runs on it the buffers are left alone.
TEST_F(StatementLifecycle, CancelDropsTheResultOfAnIdleStatementOnly) {
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
  s->pending_parameter = 501;
  EXPECT_EQ(SQLCancel(s), SQL_SUCCESS);
  EXPECT_EQ(s->cursor_open, 0);
  EXPECT_EQ(s->row_buffer, nullptr);
  EXPECT_EQ(s->description_cache, nullptr);
  EXPECT_EQ(s->descriptions_cached, 0);
  EXPECT_EQ(s->cursor_row, 0);
  EXPECT_EQ(s->pending_parameter, 501u);
  EXPECT_EQ(s->cancel_requested, 0);
  EXPECT_EQ(diag(s), "");
  EXPECT_EQ(SQLSetCursorName(s, sql("after"), SQL_NTS), SQL_SUCCESS) << "the name is free again";
}

// The statement functions here report a pending cancel as "S1000" "General
// error", rewind the cursor and clear in_call; without a cancel an earlier
// diagnostic survives their entry.
TEST_F(StatementLifecycle, PendingCancelAtEntry) {
  SQLCHAR name[40];
  SQLUINTEGER value;
  std::pair<const char*, std::function<SQLRETURN(Statement*)>> calls[] = {
      {"GetCursorName", [&](Statement* s) { return SQLGetCursorName(s, name, 40, nullptr); }},
      {"SetCursorName", [](Statement* s) { return SQLSetCursorName(s, sql("entry"), SQL_NTS); }},
      {"SetScrollOptions",
       [](Statement* s) {
         s->cursor_open = s->cancel_requested;
         return SQLSetScrollOptions(s, SQL_CONCUR_READ_ONLY, 0, 4);
       }},
      {"SetStmtOption", [](Statement* s) { return SQLSetStmtOption(s, SQL_ROWSET_SIZE, 4); }},
      {"GetStmtOption", [&](Statement* s) { return SQLGetStmtOption(s, SQL_ROWSET_SIZE, &value); }},
  };
  for (auto& [what, call] : calls) {
    SCOPED_TRACE(what);
    Statement* s = new_statement();
    open_result(s);
    s->getdata_column = 2;
    s->cancel_requested = 1;
    EXPECT_EQ(call(s), SQL_ERROR);
    EXPECT_EQ(diag(s), "S1000 General error");
    EXPECT_EQ(s->cursor_row, 0);
    EXPECT_EQ(s->getdata_column, -1);
    EXPECT_EQ(s->cursor_open, 1) << "entry only rewinds";
    EXPECT_EQ(s->in_call, 0);
    s->cancel_requested = 0;
    EXPECT_EQ(drop(s), SQL_SUCCESS);

    s = new_statement();
    post_error(s, "older", "HY000");
    SQLRETURN rc = call(s);
    EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << diag(s);
    if (rc == SQL_SUCCESS) {
      EXPECT_EQ(diag(s), "HY000 older");
    }
    EXPECT_EQ(s->in_call, 0);
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

// --- Transactions (the exchanges themselves are in the wire tests).

TEST_F(StatementLifecycle, TransactRefusalsAndFailures) {
  EXPECT_EQ(SQLTransact(env_, conn_, 2), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1012 Invalid Transaction Code");
  unlink();
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, conn_, SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "08007 Communications_ERROR");
  Environment* empty;
  ASSERT_EQ(alloc_environment(&empty), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(empty, SQL_NULL_HDBC, SQL_COMMIT), SQL_SUCCESS) << "no connections";
  EXPECT_EQ(free_environment(empty), SQL_SUCCESS);
}

}  // namespace
}  // namespace q4
