#include "core/memory.h"

#include "core/diagnostics.h"
#include "platform/heap.h"

namespace q4 {

void* drv_alloc(Connection* conn, Statement* stmt, size_t size) {
  void* block = heap_alloc(size);
  if (block != nullptr) return block;
  if (stmt != nullptr) {
    post_error(stmt, kDiagMemory);
  } else if (conn != nullptr) {
    post_connection_error(conn, kDiagMemory);
  }
  return nullptr;
}

void drv_free(void* block) {
  if (block != nullptr) heap_free(block);
}

}  // namespace q4
