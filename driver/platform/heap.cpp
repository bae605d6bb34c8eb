#include "platform/heap.h"

#include <atomic>
#include <cstdlib>

namespace q4 {

namespace {
std::atomic<long> g_fail_countdown{-1};
}

void* heap_alloc(size_t size) {
  long left = g_fail_countdown.load(std::memory_order_relaxed);
  if (left >= 0) {
    g_fail_countdown.store(left - 1, std::memory_order_relaxed);
    if (left == 0) return nullptr;
  }
  return calloc(1, size == 0 ? 1 : size);
}

void heap_free(void* block) {
  free(block);
}

void heap_fail_after(long countdown) {
  g_fail_countdown.store(countdown);
}

}  // namespace q4
