#include <cstring>

#include "platform/heap.h"
#include "statement/cursor.h"
#include "statement_fixture.h"

namespace q4::test {
namespace {

using StatementLifecycle = StatementTest;

TEST_F(StatementLifecycle, NewStatementCopiesTheConnectionDefaults) {
  conn_->default_async_enable = 1;
  conn_->default_concurrency = 4;
  conn_->default_cursor_type = 3;
  conn_->default_max_rows = 77;
  conn_->default_noscan = 0;
  conn_->default_query_timeout = 30;  // never copied
  conn_->default_use_bookmarks = 1;
  conn_->default_bind_type = 24;
  conn_->default_retrieve_data = 0;
  conn_->default_rowset_size = 12;
  Statement* s = new_statement();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->connection, conn_);
  EXPECT_EQ(s->async_enable, 1u);
  EXPECT_EQ(s->concurrency, 4u);
  EXPECT_EQ(s->cursor_type, 3u);
  EXPECT_EQ(s->max_rows, 77u);
  EXPECT_EQ(s->noscan, 0u);
  EXPECT_EQ(s->use_bookmarks, 1u);
  EXPECT_EQ(s->bind_type, 24u);
  EXPECT_EQ(s->retrieve_data, 0u);
  EXPECT_EQ(s->rowset_size, 12u);
  EXPECT_EQ(s->query_timeout, 0u);
  EXPECT_EQ(s->max_length, 0u);
  EXPECT_EQ(s->getdata_column, -1);
  EXPECT_EQ(s->binary_capacity, kInitialBinarySlots);
  ASSERT_NE(s->binary_blocks, nullptr);
  ASSERT_NE(s->binary_lengths, nullptr);
  EXPECT_EQ(s->ext_fetch_disabled, 0);
  EXPECT_EQ(s->cursor_name[0], '\0');
}

// Only a setting that begins with an upper-case "Y" marks the statements.
TEST_F(StatementLifecycle, DisableExtFetchIsReadFromItsFirstLetter) {
  struct Case {
    const char* setting;
    int32_t expected;
  } cases[] = {{"Yes", 1}, {"Y", 1}, {"No", 0}, {"yes", 0}, {"", 0}};
  for (const Case& c : cases) {
    strcpy(conn_->disable_ext_fetch, c.setting);
    if (c.expected) holder_->answer_ok(1);  // the allocate request's reply
    Statement* s = new_statement();
    ASSERT_NE(s, nullptr) << c.setting;
    EXPECT_EQ(s->ext_fetch_disabled, c.expected) << c.setting;
    EXPECT_EQ(drop(s), SQL_SUCCESS);
  }
}

TEST_F(StatementLifecycle, AllocateRequestFailureKeepsTheRecordLinkedAndUnreturned) {
  strcpy(conn_->disable_ext_fetch, "Yes");
  int socket = conn_->socket;
  conn_->socket = kInvalidSocket;  // the request cannot go out
  Statement* out = reinterpret_cast<Statement*>(0x1234);
  EXPECT_EQ(alloc_statement(conn_, &out), SQL_ERROR);
  EXPECT_EQ(out, reinterpret_cast<Statement*>(0x1234)) << "the handle must not be written";
  EXPECT_EQ(diag(conn_), "08S01 Communications_ERROR");
  ASSERT_EQ(statements_of(conn_).size(), 1u) << "the record stays for SQLDisconnect";
  conn_->socket = socket;
}

TEST_F(StatementLifecycle, NullOutputPostsBadArgOnTheConnection) {
  EXPECT_EQ(alloc_statement(conn_, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1009 Bad Arg");
  EXPECT_EQ(conn_->statements, nullptr);
}

TEST_F(StatementLifecycle, OutOfMemoryForTheRecordNullsTheHandle) {
  Statement* out = reinterpret_cast<Statement*>(0x1234);
  heap_fail_after(0);
  EXPECT_EQ(alloc_statement(conn_, &out), SQL_ERROR);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(diag(conn_), "S1001 Memory allocation failure");
  EXPECT_EQ(conn_->statements, nullptr);
}

// The record is allocated and linked; either binary table then fails.
TEST_F(StatementLifecycle, OutOfMemoryForABinaryTableKeepsTheRecordLinked) {
  for (long fail_at : {1L, 2L}) {
    Statement* out = reinterpret_cast<Statement*>(0x1234);
    heap_fail_after(fail_at);
    EXPECT_EQ(alloc_statement(conn_, &out), SQL_ERROR);
    EXPECT_EQ(out, reinterpret_cast<Statement*>(0x1234));
    EXPECT_EQ(diag(conn_), "S1001 Memory allocation failure");
    Statement* kept = conn_->statements;
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->binary_blocks, nullptr);
    EXPECT_EQ(kept->binary_lengths, nullptr) << "the table already allocated must be freed";
    EXPECT_EQ(drop(kept), SQL_SUCCESS) << "a half-built record can still be dropped";
  }
}

class StatementListDrop : public StatementTest, public ::testing::WithParamInterface<int> {};

// Dropping the first, a middle or the last of three statements leaves the
// list consistent, and a new statement goes to the front.
TEST_P(StatementListDrop, DroppingOneKeepsTheOthersLinked) {
  Statement* s[3];
  for (auto& slot : s) slot = new_statement();
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{s[2], s[1], s[0]}));
  int victim = GetParam();
  EXPECT_EQ(drop(s[victim]), SQL_SUCCESS);
  std::vector<Statement*> expected;
  for (int i = 2; i >= 0; --i)
    if (i != victim) expected.push_back(s[i]);
  EXPECT_EQ(statements_of(conn_), expected);

  Statement* fresh = new_statement();
  expected.insert(expected.begin(), fresh);
  EXPECT_EQ(statements_of(conn_), expected);
}

INSTANTIATE_TEST_SUITE_P(NewestMiddleOldest, StatementListDrop, ::testing::Values(2, 1, 0));

// What each SQLFreeStmt option releases, and what it leaves.
struct FreeCase {
  const char* name;
  SQLUSMALLINT option;
  bool frees_columns;
  bool frees_parameters;
  bool rewinds;
};

void PrintTo(const FreeCase& c, std::ostream* os) {
  *os << c.name;
}

class FreeOptions : public StatementTest, public ::testing::WithParamInterface<FreeCase> {};

TEST_P(FreeOptions, ReleasesExactlyWhatTheOptionNames) {
  const FreeCase& c = GetParam();
  Statement* s = new_statement();
  // A statement with an open result, bindings of both kinds and pending
  // binary blocks.
  auto* column = drv_alloc_array<BoundColumn>(nullptr, nullptr, 1);
  s->bound_columns = column;
  s->columns_bound = 1;
  auto* binding = drv_alloc_array<ParamBinding>(nullptr, nullptr, 1);
  binding->buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 16);
  s->parameters = binding;
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

  EXPECT_EQ(free_statement(s, c.option), SQL_SUCCESS);

  // Every option resets the piecewise read and the pending binary blocks.
  EXPECT_EQ(s->getdata_column, -1);
  EXPECT_EQ(s->getdata_offset, 0u);
  EXPECT_EQ(s->binary_count, 0);
  EXPECT_EQ(s->binary_blocks[0], nullptr);
  EXPECT_EQ(s->bound_columns == nullptr, c.frees_columns);
  EXPECT_EQ(s->columns_bound, c.frees_columns ? 0 : 1);
  EXPECT_EQ(s->parameters == nullptr, c.frees_parameters);
  EXPECT_EQ(s->cursor_row, c.rewinds ? 0 : 5);
  // No option but SQL_DROP ends the result or forgets the name.
  EXPECT_EQ(s->cursor_open, 1);
  EXPECT_NE(s->row_buffer, nullptr);
  EXPECT_STREQ(s->cursor_name, "kept");
  EXPECT_EQ(statements_of(conn_), std::vector<Statement*>{s});
  // The fixture's drop frees whatever the option left.
}

INSTANTIATE_TEST_SUITE_P(Options, FreeOptions,
                         ::testing::Values(FreeCase{"Close", SQL_CLOSE, false, false, true},
                                           FreeCase{"Unbind", SQL_UNBIND, true, false, false},
                                           FreeCase{"ResetParams", SQL_RESET_PARAMS, false, true,
                                                    false},
                                           FreeCase{"Unknown", 9, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Under the leak checker this fails if dropping forgets any owned block.
TEST_F(StatementLifecycle, DropFreesEverythingTheStatementOwns) {
  Statement* s = new_statement();
  for (int i = 0; i < 2; ++i) {
    auto* column = drv_alloc_array<BoundColumn>(nullptr, nullptr, 1);
    column->next = s->bound_columns;
    s->bound_columns = column;
    auto* binding = drv_alloc_array<ParamBinding>(nullptr, nullptr, 1);
    if (i == 0) binding->buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 32);
    binding->next = s->parameters;
    s->parameters = binding;
  }
  s->binary_blocks[0] = drv_alloc_array<uint8_t>(nullptr, nullptr, 8);
  s->binary_blocks[1] = drv_alloc_array<uint8_t>(nullptr, nullptr, 8);
  s->binary_count = 2;
  s->statement_text = drv_alloc_array<char>(nullptr, nullptr, 20);
  s->request_buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 2600);
  s->row_buffer = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
  s->value_table = drv_alloc_array<uint8_t*>(nullptr, nullptr, 4);
  s->description_cache = drv_alloc_array<uint8_t>(nullptr, nullptr, 1000);
  s->cursor_open = 1;
  EXPECT_EQ(drop(s), SQL_SUCCESS);
  EXPECT_EQ(conn_->statements, nullptr);
}

// The release fails: the statement is out of the list but still valid, and
// dropping it again once the link works must not disturb the other
// statements (its old links are stale by then).
TEST_F(StatementLifecycle, FailedReleaseKeepsTheRecordAndASecondDropIsSafe) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  Statement* c = new_statement();
  b->cursor_open = 1;
  int socket = conn_->socket;
  conn_->socket = kInvalidSocket;
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "08S01 Communications_ERROR");
  EXPECT_STREQ(b->sqlstate, "") << "a link failure is reported on the connection";
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{c, a}));
  EXPECT_EQ(b->cursor_open, 0) << "the result is closed before the release";
  conn_->socket = socket;

  Statement* d = new_statement();
  EXPECT_EQ(drop(b), SQL_SUCCESS);
  EXPECT_EQ(statements_of(conn_), (std::vector<Statement*>{d, c, a}));
}

TEST(StatementEntryPoints, NullHandlesAreInvalid) {
  EXPECT_EQ(SQLAllocStmt(SQL_NULL_HDBC, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLFreeStmt(SQL_NULL_HSTMT, SQL_DROP), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetCursorName(SQL_NULL_HSTMT, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLSetCursorName(SQL_NULL_HSTMT, nullptr, 0), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLSetScrollOptions(SQL_NULL_HSTMT, 0, 0, 1), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLSetConnectOption(SQL_NULL_HDBC, SQL_AUTOCOMMIT, 0), SQL_INVALID_HANDLE);
  SQLUINTEGER value;
  EXPECT_EQ(SQLGetConnectOption(SQL_NULL_HDBC, SQL_AUTOCOMMIT, &value), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLSetStmtOption(SQL_NULL_HSTMT, SQL_NOSCAN, 0), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetStmtOption(SQL_NULL_HSTMT, SQL_NOSCAN, &value), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, SQL_NULL_HDBC, SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLCancel(SQL_NULL_HSTMT), SQL_INVALID_HANDLE);
}

// Through the exported function: the handle reaches the application, and an
// allocation failure of the record nulls it.
TEST_F(StatementLifecycle, AllocStmtStoresTheHandle) {
  SQLHSTMT handle = nullptr;
  EXPECT_EQ(SQLAllocStmt(conn_, &handle), SQL_SUCCESS);
  EXPECT_EQ(handle, conn_->statements);
  heap_fail_after(0);
  SQLHSTMT failed = reinterpret_cast<SQLHSTMT>(0x1234);
  EXPECT_EQ(SQLAllocStmt(conn_, &failed), SQL_ERROR);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(SQLAllocStmt(conn_, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(conn_), "S1009 Bad Arg");
}

}  // namespace
}  // namespace q4::test
