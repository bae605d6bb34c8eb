#include "statement/binary_blocks.h"

#include <charconv>
#include <cstring>

#include "core/memory.h"

namespace q4 {

namespace {

// Digits of a 64-bit count, the NUL after them and one spare byte.
constexpr uint64_t kCountRoom = 20 + 1 + 1;

// A request may carry any number of binary values: full tables double
// instead of refusing the statement. The old tables stay when memory runs
// out.
bool grow_tables(Statement* stmt) {
  int32_t capacity =
      stmt->binary_capacity < kInitialBinarySlots ? kInitialBinarySlots : 2 * stmt->binary_capacity;
  auto* blocks = drv_alloc_array<uint8_t*>(nullptr, stmt, capacity);
  if (blocks == nullptr) return false;
  auto* lengths = drv_alloc_array<uint64_t>(nullptr, stmt, capacity);
  if (lengths == nullptr) {
    drv_free(blocks);
    return false;
  }
  if (stmt->binary_count > 0) {
    memcpy(blocks, stmt->binary_blocks, sizeof(uint8_t*) * stmt->binary_count);
    memcpy(lengths, stmt->binary_lengths, sizeof(uint64_t) * stmt->binary_count);
  }
  drv_free(stmt->binary_blocks);
  drv_free(stmt->binary_lengths);
  stmt->binary_blocks = blocks;
  stmt->binary_lengths = lengths;
  stmt->binary_capacity = capacity;
  return true;
}

}  // namespace

bool add_binary_block(Statement* stmt, const void* bytes, uint64_t count) {
  if (stmt->binary_count >= stmt->binary_capacity || stmt->binary_blocks == nullptr) {
    if (!grow_tables(stmt)) return false;
  }
  auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, kCountRoom + count));
  if (block == nullptr) return false;
  char* digits = reinterpret_cast<char*>(block);
  char* digits_end = std::to_chars(digits, digits + 20, count).ptr;
  *digits_end = '\0';  // the block is zero-filled; kept for the reader
  uint64_t head = static_cast<uint64_t>(digits_end - digits) + 1;
  if (count > 0) memcpy(block + head, bytes, count);
  stmt->binary_blocks[stmt->binary_count] = block;
  stmt->binary_lengths[stmt->binary_count] = head + count;
  ++stmt->binary_count;
  return true;
}

void discard_binary_blocks(Statement* stmt) {
  for (int32_t i = 0; i < stmt->binary_count; ++i) {
    drv_free(stmt->binary_blocks[i]);
    stmt->binary_blocks[i] = nullptr;
    stmt->binary_lengths[i] = 0;
  }
  stmt->binary_count = 0;
}

void release_binary_tables(Statement* stmt) {
  discard_binary_blocks(stmt);
  drv_free(stmt->binary_blocks);
  stmt->binary_blocks = nullptr;
  drv_free(stmt->binary_lengths);
  stmt->binary_lengths = nullptr;
  stmt->binary_capacity = 0;
}

}  // namespace q4
