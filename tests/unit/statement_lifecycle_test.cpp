// Freeing statements (their requests are checked in the wire tests; allocating handles with each
// allocation failing: allocation_failure_test.cpp).
#include "statement_fixture.h"

namespace q4 {
namespace {

using StatementLifecycle = StatementTest;

// What each SQLFreeStmt option releases; all reset the piecewise read and binary blocks.
TEST_F(StatementLifecycle, FreeOptionsReleaseExactlyWhatTheyName) {
  struct Case {
    SQLUSMALLINT option;
    bool frees_columns, frees_parameters, rewinds;
  } cases[] = {{SQL_CLOSE, false, false, true},
               {SQL_UNBIND, true, false, false},
               {SQL_RESET_PARAMS, false, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    Statement* s = new_statement();  // a result open, bindings, a binary block, a piecewise read
    app_row_desc(s).records = drv_alloc_array<BoundColumn>(nullptr, nullptr, 1);
    app_param_desc(s).records = drv_alloc_array<ParamBinding>(nullptr, nullptr, 1);
    s->binary_blocks[0] = drv_alloc_array<uint8_t>(nullptr, nullptr, 8);
    s->binary_lengths[0] = 8;
    s->binary_count = 1;
    s->cursor_open = 1;
    result_set(s).cursor_row = 5;
    s->getdata_column = 2;
    s->getdata_offset = 40;
    EXPECT_EQ(free_statement(s, c.option), SQL_SUCCESS);
    EXPECT_EQ(s->getdata_column, -1);
    EXPECT_EQ(s->getdata_offset + s->binary_count, 0u);
    EXPECT_EQ(s->binary_blocks[0], nullptr);
    EXPECT_EQ(app_row_desc(s).records == nullptr, c.frees_columns);
    EXPECT_EQ(app_param_desc(s).records == nullptr, c.frees_parameters);
    EXPECT_EQ(result_set(s).cursor_row, c.rewinds ? 0 : 5);
    EXPECT_EQ(s->cursor_open, 1);
    EXPECT_EQ(drop(s), SQL_SUCCESS);  // under the leak checker: frees what is left
  }
}

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
