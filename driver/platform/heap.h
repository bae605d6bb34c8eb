// Zero-filled heap blocks, the stand-in for the global heap.
#pragma once

#include <cstddef>

namespace q4 {

// Returns `size` zero-filled bytes (at least one byte is allocated for a size
// of 0), or null when memory runs out.
void* heap_alloc(size_t size);
void heap_free(void* block);

// Testing aid: the next `countdown` allocations succeed and the one after them
// fails; a negative countdown (the default) never fails. Process-wide.
void heap_fail_after(long countdown);

}  // namespace q4
