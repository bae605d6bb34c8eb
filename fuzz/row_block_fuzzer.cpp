// libFuzzer target: the row block type alone (results/row_block.h), on a row
// block as a server might send it. Bytes 0-1 give the column count, the rest
// is the block; it is stored and walked as the fetch code walks it, every
// value looked at, then walked again from its first row as a rewind does.
// Whatever the bytes, nothing may be read outside the block, and a damaged
// row must leave the row before it current and whole.
#include <cstddef>
#include <cstdint>

#include "protocol/codec.h"
#include "results/row_block.h"

namespace {

uint32_t look_at_row(const q4::RowBlock& block, int32_t columns) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < columns; ++i) {
    q4::RowValue value = block.value(i);
    if (value.length > 0) sum += value.data[value.length - 1] + value.data[0] + value.type;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size - 2 > INT32_MAX) return 0;
  const int32_t columns = q4::load_u16(data) % 4096;
  const int32_t length = static_cast<int32_t>(size - 2);
  q4::RowBlock block{};
  if (!block.store(data + 2, length, columns)) return 0;
  uint32_t checksum = 0;
  // First as a stored reply is read, then as a fetched block that starts
  // with its first row current.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      if (!block.adopt(length, columns, q4::FirstRow::kCurrent)) break;
      checksum += look_at_row(block, columns);
    }
    if (!block.holds_rows_of(columns)) break;
    q4::RowStep step;
    while ((step = block.next()) == q4::RowStep::kRow) checksum += look_at_row(block, columns);
    // Damage leaves the last good row current and whole.
    if (step == q4::RowStep::kDamaged && block.valid()) checksum += look_at_row(block, columns);
  }
  block.release();
  return checksum == 0xFFFFFFFF ? 1 : 0;
}
