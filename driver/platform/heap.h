// Zero-filled heap blocks, the stand-in for the global heap.
#pragma once

#include <cstddef>

namespace q4 {

// Returns `size` zero-filled bytes (at least one byte is allocated for a size
// of 0), or null when memory runs out.
void* heap_alloc(size_t size);
void heap_free(void* block);

#ifdef Q4_TEST_SEAMS
// Test builds only (the library users load has none of this): allocation
// faults injected on purpose, and the blocks handed out and not yet freed.
// Process-wide; arm and read it from one thread.

// Whether an armed heap fails one allocation or every one from then on.
enum class HeapFault { kOnce, kFromThenOn };

// Arms the heap: the next `countdown` allocations succeed and the one after
// them fails (with kFromThenOn, every later one fails too). A negative
// countdown (the default) disarms it. Either way the count of failed
// allocations starts again from 0.
void heap_fail_after(long countdown, HeapFault fault = HeapFault::kOnce);

// Allocations failed on purpose since heap_fail_after was last called.
long heap_failures();

// Blocks heap_alloc returned that heap_free has not taken back yet.
long heap_live_blocks();
#endif

}  // namespace q4
