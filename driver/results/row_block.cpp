#include "results/row_block.h"

#include <cstring>

#include "core/memory.h"

namespace q4 {

namespace {

constexpr int32_t kBufferStep = 1000;

}  // namespace

bool RowBlock::reserve(int32_t length, int32_t columns) {
  // A row of a block takes a value header per column: a block of `length`
  // bytes cannot hold a row of more columns than that, so the index is never
  // sized beyond what the block could fill, whatever column count a reply
  // claimed. A block of more columns is not held (adopt), which is what such
  // a block deserves.
  int32_t room = columns;
  if (room > length / static_cast<int32_t>(kValueHeader)) {
    room = length / static_cast<int32_t>(kValueHeader);
  }
  const bool grow_bytes = bytes_ == nullptr || capacity_ < length;
  const bool grow_index = index_block_ == nullptr || index_room_ < room;
  if (!grow_bytes && !grow_index) return true;

  // Both blocks are had before either is given up, so that a failure leaves
  // the held block, and with it the cursor, as it was.
  const int32_t size = (length / kBufferStep + 1) * kBufferStep;
  uint8_t* bytes = nullptr;
  if (grow_bytes) {
    bytes = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, static_cast<size_t>(size)));
    if (bytes == nullptr) return false;
  }
  const uint8_t** index = nullptr;
  if (grow_index) {
    index = drv_alloc_array<const uint8_t*>(nullptr, nullptr, 2 * static_cast<size_t>(room));
    if (index == nullptr) {
      drv_free(bytes);
      return false;
    }
  }
  discard();
  if (grow_bytes) {
    drv_free(bytes_);
    bytes_ = bytes;
    capacity_ = size;
    length_ = 0;
  }
  if (grow_index) {
    drv_free(index_block_);
    index_block_ = index;
    index_ = index;
    spare_ = index + room;
    index_room_ = room;
  }
  return true;
}

bool RowBlock::adopt(int32_t length, int32_t columns, FirstRow start) {
  length_ = length;
  columns_ = columns;
  row_end_ = nullptr;
  held_ = columns <= index_room_;
  if (start == FirstRow::kAhead) return true;
  return held_ && seek_to_first();
}

bool RowBlock::store(const uint8_t* data, int32_t length, int32_t columns) {
  discard();
  if (!reserve(length, columns)) return false;
  if (length > 0) memcpy(bytes_, data, static_cast<size_t>(length));
  return adopt(length, columns, FirstRow::kAhead);
}

void RowBlock::release() {
  drv_free(bytes_);
  drv_free(index_block_);
  *this = RowBlock{};
}

RowStep RowBlock::end_of_rows() {
  const uint8_t status = *row_end_;
  // Any byte other than a row separator or a trailer means the row before it
  // held fewer values than the result has columns (or the block is garbage).
  if (!is_block_trailer(status)) return RowStep::kDamaged;
  discard();
  switch (status) {
    case kRowMore:
      return RowStep::kMore;
    case kStatusWarning:
      return RowStep::kEnd;
    default:
      return RowStep::kError;
  }
}

}  // namespace q4
