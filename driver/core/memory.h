// Every allocation of the driver, records and buffers alike, goes through
// drv_alloc so that running out of memory becomes an "S1001" diagnostic on the
// handle the caller names.
#pragma once

#include <cstddef>

namespace q4 {

// Handles a failed allocation may post on (core/records.h).
struct Connection;
struct Statement;

// A zero-filled block of `size` bytes, or null. On failure "S1001" is posted
// on `stmt` when given, else on `conn` when given, else nowhere.
void* drv_alloc(Connection* conn, Statement* stmt, size_t size);

// Returns a block to the heap; null is ignored.
void drv_free(void* block);

// Frees a block a record holds and forgets it: the pointer becomes null and
// the size recorded for it 0.
template <typename T, typename Size>
void release_block(T*& block, Size& size) {
  drv_free(block);
  block = nullptr;
  size = 0;
}

// Typed convenience: an array of `count` zero-filled T.
template <typename T>
T* drv_alloc_array(Connection* conn, Statement* stmt, size_t count) {
  return static_cast<T*>(drv_alloc(conn, stmt, sizeof(T) * count));
}

}  // namespace q4
