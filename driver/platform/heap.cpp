#include "platform/heap.h"

#include <cstdlib>

#ifdef Q4_TEST_SEAMS
#include <atomic>
#endif

namespace q4 {

namespace {

void* zero_filled(size_t size) {
  return calloc(1, size == 0 ? 1 : size);
}

}  // namespace

#ifndef Q4_TEST_SEAMS

// The library users load: the C heap and nothing else, so that an allocation
// costs no check for the tests' sake.
void* heap_alloc(size_t size) {
  return zero_filled(size);
}

void heap_free(void* block) {
  free(block);
}

#else

// The tests' heap: the same blocks, counted, and failing when armed.
namespace {

std::atomic<long> g_countdown{-1};
std::atomic<bool> g_from_then_on{false};
std::atomic<long> g_failures{0};
std::atomic<long> g_live{0};

bool fails_now() {
  long left = g_countdown.load(std::memory_order_relaxed);
  if (left < 0) return false;
  if (left > 0) {
    g_countdown.store(left - 1, std::memory_order_relaxed);
    return false;
  }
  if (!g_from_then_on.load(std::memory_order_relaxed)) {
    g_countdown.store(-1, std::memory_order_relaxed);
  }
  g_failures.fetch_add(1, std::memory_order_relaxed);
  return true;
}

}  // namespace

void* heap_alloc(size_t size) {
  if (fails_now()) return nullptr;
  void* block = zero_filled(size);
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void heap_free(void* block) {
  if (block == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  free(block);
}

void heap_fail_after(long countdown, HeapFault fault) {
  g_from_then_on.store(fault == HeapFault::kFromThenOn);
  g_failures.store(0);
  g_countdown.store(countdown < 0 ? -1 : countdown);
}

long heap_failures() {
  return g_failures.load();
}

long heap_live_blocks() {
  return g_live.load();
}

#endif

}  // namespace q4
