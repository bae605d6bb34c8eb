// libFuzzer target: the row decoder alone, on a row block as a server might
// send it. Bytes 0-1 give the column count, the rest is the block; the rows
// are walked as the fetch code walks them, every value looked at. Whatever
// the bytes, nothing may be read outside the block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/codec.h"
#include "results/row_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // A row of a block takes six bytes a column at least: the count needs no
  // more room than a block could fill.
  const int32_t columns = q4::load_u16(data) % 4096;
  const uint8_t* block = data + 2;
  const uint8_t* end = data + size;
  std::vector<const uint8_t*> values(static_cast<size_t>(columns) + 1);
  uint32_t checksum = 0;
  for (const uint8_t* row = block;;) {
    const uint8_t* status = q4::decode_row(row, end, columns, values.data());
    if (status == nullptr) break;
    for (int32_t i = 0; i < columns; ++i) {
      q4::RowValue value = q4::value_at(values[static_cast<size_t>(i)]);
      if (value.length > 0) checksum += value.data[value.length - 1] + value.data[0] + value.type;
    }
    if (*status != 'K') break;
    row = status + 1;
  }
  return checksum == 0xFFFFFFFF ? 1 : 0;
}
