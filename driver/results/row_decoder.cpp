#include "results/row_decoder.h"

#include "protocol/wire.h"

namespace q4 {

const uint8_t* decode_row(const uint8_t* row, const uint8_t* end, int32_t columns,
                          const uint8_t** values) {
  // Walk once to validate, so that a damaged row never leaves half a table.
  const uint8_t* at = row;
  for (int32_t i = 0; i < columns; ++i) {
    if (static_cast<size_t>(end - at) < kValueHeader) return nullptr;
    uint32_t data_length = load_u32(at + 2);
    if (static_cast<size_t>(end - at) - kValueHeader < data_length) return nullptr;
    at += kValueHeader + data_length;
  }
  // The status byte after the row must be inside the block too.
  if (at >= end) return nullptr;
  at = row;
  for (int32_t i = 0; i < columns; ++i) {
    values[i] = at;
    at += kValueHeader + load_u32(at + 2);
  }
  return at;
}

bool is_block_trailer(uint8_t status) {
  return status == kRowMore || status == kStatusWarning || status == kStatusError;
}

}  // namespace q4
