// Environment and connection lists, and S1001 on allocation.
#include <gtest/gtest.h>
#include <sql.h>

#include <vector>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/memory.h"
#include "platform/heap.h"

namespace q4 {
namespace {

std::vector<Connection*> walk(Environment* env) {
  std::vector<Connection*> order;
  for (Connection* c = env->connections; c != nullptr; c = c->next) {
    EXPECT_EQ(c->prev, order.empty() ? nullptr : order.back()) << "back link broken";
    order.push_back(c);
  }
  return order;
}

// Freeing the newest, a middle or the oldest of three connections keeps the
// list consistent; a new one goes to the front. An environment with
// connections left is not freed.
TEST(Handles, FreeingOneConnectionKeepsTheOthersLinked) {
  for (int freed : {2, 1, 0}) {
    Environment* env;
    ASSERT_EQ(alloc_environment(&env), SQL_SUCCESS);
    Connection* c[4];
    for (int i = 0; i < 3; ++i) ASSERT_EQ(alloc_connection(env, &c[i]), SQL_SUCCESS);
    free_connection(c[freed]);
    ASSERT_EQ(alloc_connection(env, &c[3]), SQL_SUCCESS);
    std::vector<Connection*> expected;
    for (int i = 3; i >= 0; --i)
      if (i != freed) expected.push_back(c[i]);
    EXPECT_EQ(walk(env), expected) << freed;
    EXPECT_EQ(free_environment(env), SQL_SUCCESS);
    EXPECT_EQ(env->connections, c[3]) << "still valid, nothing freed";
    for (Connection* left : expected) free_connection(left);
    EXPECT_EQ(free_environment(env), SQL_SUCCESS);
  }
}

// Out of memory: the handle is nulled, nothing is linked; drv_alloc posts
// "S1001" on the statement when given one, else on the connection.
TEST(Handles, OutOfMemory) {
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
  Statement stmt{};
  Connection owner{};
  heap_fail_after(0);
  EXPECT_EQ(drv_alloc(&owner, &stmt, 10), nullptr);
  EXPECT_STREQ(stmt.sqlstate, "S1001");
  EXPECT_STREQ(owner.sqlstate, "");
  heap_fail_after(0);
  EXPECT_EQ(drv_alloc(&owner, nullptr, 10), nullptr);
  EXPECT_EQ(std::string(owner.message), std::string(kMessagePrefix) + "Memory allocation failure");
}

}  // namespace
}  // namespace q4
