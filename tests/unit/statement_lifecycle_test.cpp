// Allocating, freeing and cancelling statements, and transactions (the
// requests these send are checked in the wire tests).
#include <functional>

#include "platform/heap.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

using StatementLifecycle = StatementTest;

// Only a setting beginning with an upper-case "Y" marks the statements (and
// sends an allocate request).
TEST_F(StatementLifecycle, DisableExtFetchIsReadFromItsFirstLetter) {
  for (auto [setting, expected] : {std::pair{"Y", 1}, {"No", 0}, {"yes", 0}, {"", 0}}) {
    strcpy(conn_->disable_ext_fetch, setting);
    if (expected) answer_ok(1);
    Statement* s = new_statement();
    ASSERT_NE(s, nullptr) << setting;
    EXPECT_EQ(s->ext_fetch_disabled, expected) << setting;
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

// A null output is "S1009"; no memory for the record nulls the handle and
// links nothing; no memory for either binary table leaves the record linked
// (for dropping) without writing the handle, and frees the table already made.
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
    EXPECT_EQ(drop(kept), SQL_SUCCESS);
  }
}

// A statement with an open result, bindings, a pending binary block and a
// piecewise read in progress.
Statement* loaded(Statement* s) {
  s->bound_columns = drv_alloc_array<BoundColumn>(nullptr, nullptr, 1);
  s->columns_bound = 1;
  s->parameters = drv_alloc_array<ParamBinding>(nullptr, nullptr, 1);
  s->parameters->buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 16);
  s->binary_blocks[0] = drv_alloc_array<uint8_t>(nullptr, nullptr, 8);
  s->binary_lengths[0] = 8;
  s->binary_count = 1;
  s->cursor_open = 1;
  s->column_count = 2;
  s->row_buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
  s->row_buffer_size = 1000;
  s->description_cache = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
  s->description_cache_size = 1000;
  s->descriptions_cached = 1;
  s->cursor_row = s->row_number = 5;
  s->getdata_column = 2;
  s->getdata_offset = 40;
  strcpy(s->cursor_name, "kept");
  return s;
}

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
    Statement* s = loaded(new_statement());
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

// After a failed release the record is out of the list (taken from its
// middle) but valid; a second drop once the link works must not follow its
// stale links; a new statement goes to the front.
TEST_F(StatementLifecycle, FailedReleaseKeepsTheRecordAndASecondDropIsSafe) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  Statement* c = new_statement();
  b->cursor_open = 1;
  int socket = conn_->socket;
  conn_->socket = kInvalidSocket;
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{c, a}));
  EXPECT_EQ(b->cursor_open, 0) << "the result is closed before the release";
  conn_->socket = socket;
  Statement* d = new_statement();
  EXPECT_EQ(drop(b), SQL_SUCCESS);
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{d, c, a}));
}

// An idle statement loses its result (a data-at-execution run survives);
// while another call runs on it nothing is touched.
TEST_F(StatementLifecycle, CancelDropsTheResultOfAnIdleStatementOnly) {
  Statement* s = loaded(new_statement());
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
  EXPECT_EQ(s->cursor_open + s->descriptions_cached + s->cursor_row, 0);
  EXPECT_EQ(s->row_buffer, nullptr);
  EXPECT_EQ(s->description_cache, nullptr);
  EXPECT_EQ(s->pending_parameter, 501u);
  EXPECT_EQ(diag(s), "");
  EXPECT_EQ(SQLSetCursorName(s, sql("after"), SQL_NTS), SQL_SUCCESS) << "the name is free again";
}

// These functions report a pending cancel as "S1000" "General error", rewind
// the cursor and clear in_call; without a cancel an earlier diagnostic
// survives their entry.
TEST_F(StatementLifecycle, PendingCancelAtEntry) {
  SQLCHAR name[40];
  SQLUINTEGER value;
  std::pair<const char*, std::function<SQLRETURN(Statement*)>> calls[] = {
      {"GetCursorName", [&](Statement* s) { return SQLGetCursorName(s, name, 40, nullptr); }},
      {"SetCursorName", [](Statement* s) { return SQLSetCursorName(s, sql("entry"), SQL_NTS); }},
      {"SetStmtOption", [](Statement* s) { return SQLSetStmtOption(s, SQL_ROWSET_SIZE, 4); }},
      {"GetStmtOption", [&](Statement* s) { return SQLGetStmtOption(s, SQL_ROWSET_SIZE, &value); }},
  };
  for (auto& [what, call] : calls) {
    SCOPED_TRACE(what);
    Statement* s = loaded(new_statement());
    s->cancel_requested = 1;
    EXPECT_EQ(outcome(call(s), s), "ERROR S1000 General error");
    EXPECT_EQ(s->cursor_row + s->in_call, 0);
    EXPECT_EQ(s->getdata_column, -1);
    EXPECT_EQ(s->cursor_open, 1) << "entry only rewinds";
    s->cancel_requested = s->cursor_open = 0;
    post_error(s, "older", "HY000");
    EXPECT_EQ(outcome(call(s), s), "OK HY000 older");
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

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
