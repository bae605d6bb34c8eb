// Environment and connection lists, and S1001 on their allocation.
#include <gtest/gtest.h>
#include <sql.h>

#include <vector>

#include "core/handles.h"
#include "platform/heap.h"

namespace q4 {
namespace {

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
    std::vector<Connection*> expected, order;
    for (int i = 3; i >= 0; --i)
      if (i != freed) expected.push_back(c[i]);
    for (Connection* k = env->connections; k != nullptr; k = k->next) {
      EXPECT_EQ(k->prev, order.empty() ? nullptr : order.back()) << "back link broken";
      order.push_back(k);
    }
    EXPECT_EQ(order, expected) << freed;
    EXPECT_EQ(free_environment(env), SQL_SUCCESS);
    EXPECT_EQ(env->connections, c[3]) << "still valid, nothing freed";
    for (Connection* left : expected) free_connection(left);
    EXPECT_EQ(free_environment(env), SQL_SUCCESS);
  }
}

// Out of memory: the handle is nulled and nothing is linked.
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
}

}  // namespace
}  // namespace q4
