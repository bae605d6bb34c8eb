#include "link/reply_assembler.h"

#include <algorithm>

#include "core/memory.h"

namespace q4 {

bool ReplyAssembler::make_room(int32_t length) {
  if (discarding_) return true;
  // A fixed destination that the reply outgrows: the callers of fixed areas
  // ask only for replies that fit, so more bytes mean a stream that is not
  // what the exchange expects. Nothing is written past the area.
  if (area_.growable == nullptr) return false;
  // The block at least doubles, so a long reply costs a linear number of
  // copies.
  constexpr int64_t kLargest = INT32_MAX;
  int64_t size = std::min(std::max(total_ + length, 2 * (total_ + room_)), kLargest);
  auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, static_cast<size_t>(size)));
  if (block == nullptr) {
    // Memory ran out, the stream is sound: the rest of the reply is still
    // taken and acknowledged, so that the link stays in step, but dropped.
    discarding_ = true;
    return true;
  }
  if (total_ > 0) memcpy(block, base_, static_cast<size_t>(total_));
  drv_free(*area_.growable);
  *area_.growable = block;
  if (area_.grown != nullptr) *area_.grown = 1;
  base_ = block;
  room_ = size - total_;
  return true;
}

}  // namespace q4
