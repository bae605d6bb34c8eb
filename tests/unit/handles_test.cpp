// S1001 on environment and connection allocation.
#include <gtest/gtest.h>
#include <sql.h>

#include "core/handles.h"
#include "platform/heap.h"

namespace q4 {
namespace {

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
