#include "results/row_decoder.h"

#include "protocol/wire.h"

namespace q4 {

const uint8_t* decode_row(const uint8_t* row, const uint8_t* end, int32_t columns,
                          const uint8_t** values) {
  const uint8_t* at = row;
  for (int32_t i = 0; i < columns; ++i) {
    const size_t left = static_cast<size_t>(end - at);
    if (left < kValueHeader) return nullptr;
    const uint32_t data_length = load_u32(at + 2);
    if (left - kValueHeader < data_length) return nullptr;
    values[i] = at;
    at += kValueHeader + data_length;
  }
  // The status byte after the row must be inside the block too.
  return at < end ? at : nullptr;
}

bool is_block_trailer(uint8_t status) {
  return status == kRowMore || status == kStatusWarning || status == kStatusError;
}

}  // namespace q4
