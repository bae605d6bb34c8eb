#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "core/handles.h"
#include "core/diagnostics.h"
#include "core/memory.h"
#include "platform/heap.h"

namespace q4 {
namespace {

std::vector<Connection*> walk(Environment* env) {
  std::vector<Connection*> order;
  Connection* prev = nullptr;
  for (Connection* c = env->connections; c != nullptr; c = c->next) {
    EXPECT_EQ(c->prev, prev) << "back link broken";
    order.push_back(c);
    prev = c;
  }
  return order;
}

class ConnectionListTest : public ::testing::TestWithParam<int> {};

// Freeing the first, a middle and the last of three connections must leave a
// consistent doubly linked list (newest first).
TEST_P(ConnectionListTest, FreeingOneKeepsTheOthersLinked) {
  Environment* env;
  ASSERT_EQ(alloc_environment(&env), SQL_SUCCESS);
  Connection* c[3];
  for (auto& slot : c) ASSERT_EQ(alloc_connection(env, &slot), SQL_SUCCESS);
  EXPECT_EQ(walk(env), (std::vector<Connection*>{c[2], c[1], c[0]}));

  int victim = GetParam();
  free_connection(c[victim]);
  std::vector<Connection*> expected;
  for (int i = 2; i >= 0; --i)
    if (i != victim) expected.push_back(c[i]);
  EXPECT_EQ(walk(env), expected);

  Connection* fresh;
  ASSERT_EQ(alloc_connection(env, &fresh), SQL_SUCCESS);
  EXPECT_EQ(env->connections, fresh);
  expected.insert(expected.begin(), fresh);
  EXPECT_EQ(walk(env), expected);

  for (Connection* left : expected) free_connection(left);
  EXPECT_EQ(env->connections, nullptr);
  EXPECT_EQ(free_environment(env), SQL_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLast, ConnectionListTest, ::testing::Values(2, 1, 0));

TEST(Handles, FreeEnvWithConnectionLeftKeepsEnvironmentUsable) {
  Environment* env;
  ASSERT_EQ(alloc_environment(&env), SQL_SUCCESS);
  Connection* conn;
  ASSERT_EQ(alloc_connection(env, &conn), SQL_SUCCESS);
  EXPECT_EQ(free_environment(env), SQL_SUCCESS);
  EXPECT_EQ(env->connections, conn);  // still valid, nothing freed
  free_connection(conn);
  EXPECT_EQ(free_environment(env), SQL_SUCCESS);
}

TEST(Handles, FreshConnectionDefaults) {
  Environment* env;
  ASSERT_EQ(alloc_environment(&env), SQL_SUCCESS);
  Connection* conn;
  ASSERT_EQ(alloc_connection(env, &conn), SQL_SUCCESS);
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(conn->autocommit, 1u);
  EXPECT_EQ(conn->txn_isolation, 2u);
  EXPECT_EQ(conn->login_timeout, 0u);
  EXPECT_STREQ(conn->current_qualifier, "");
  EXPECT_STREQ(conn->disable_ext_fetch, "No");
  EXPECT_EQ(conn->default_concurrency, 1u);
  EXPECT_EQ(conn->default_noscan, 1u);
  EXPECT_EQ(conn->default_retrieve_data, 1u);
  EXPECT_EQ(conn->default_rowset_size, 1u);
  EXPECT_EQ(conn->default_max_rows, 0u);
  free_connection(conn);
  free_environment(env);
}

TEST(Handles, OutOfMemoryNullsTheHandleAndPostsNothing) {
  Environment* env = reinterpret_cast<Environment*>(0x1);
  heap_fail_after(0);
  EXPECT_EQ(alloc_environment(&env), SQL_ERROR);
  EXPECT_EQ(env, nullptr);
  ASSERT_EQ(alloc_environment(&env), SQL_SUCCESS);
  Connection* conn = reinterpret_cast<Connection*>(0x1);
  heap_fail_after(0);
  EXPECT_EQ(alloc_connection(env, &conn), SQL_ERROR);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(env->connections, nullptr);
  free_environment(env);
}

TEST(Memory, FailedAllocationPostsOnTheNamedHandle) {
  Statement stmt{};
  Connection conn{};
  heap_fail_after(0);
  EXPECT_EQ(drv_alloc(&conn, &stmt, 10), nullptr);
  EXPECT_STREQ(stmt.sqlstate, "S1001");
  EXPECT_STREQ(conn.sqlstate, "");
  heap_fail_after(0);
  EXPECT_EQ(drv_alloc(&conn, nullptr, 10), nullptr);
  EXPECT_STREQ(conn.sqlstate, "S1001");
  EXPECT_STREQ(conn.message, "[Halvex Software][ODBC Q4 Driver]Memory allocation failure");
}

TEST(EnterStatement, CancelClosesCursorAndReportsByVariant) {
  auto* stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
  post_error(stmt, "older", "HY000");
  EXPECT_EQ(enter_statement(stmt, true), SQL_SUCCESS);
  EXPECT_STREQ(stmt->sqlstate, "HY000") << "a pending diagnostic must survive entry";

  for (bool as_cancel : {true, false}) {
    stmt->cursor_row = 7;
    stmt->getdata_column = 3;
    stmt->cancel_requested = 1;
    EXPECT_EQ(enter_statement(stmt, as_cancel), SQL_ERROR);
    EXPECT_STREQ(stmt->sqlstate, as_cancel ? "S1008" : "S1000");
    EXPECT_EQ(stmt->cursor_row, 0);
    EXPECT_EQ(stmt->getdata_column, -1);
  }
  drv_free(stmt);
}

}  // namespace
}  // namespace q4
