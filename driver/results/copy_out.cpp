#include "results/copy_out.h"

#include <cstring>

#include "core/wide_text.h"

namespace q4 {

namespace {

// Out of line: the narrow copies, a value or more per row, keep their short
// frame without the registers this one needs.
[[gnu::noinline]] CopyResult copy_wide(void* dest, int64_t capacity, const uint8_t* source,
                                       int64_t length) {
  CopyResult result{0, 0, true};
  const int64_t unit = wide_unit_bytes();
  if (dest == nullptr || capacity < unit) {
    result.full_length = unit * wide_units_of_utf8(source, length);
    return result;
  }
  WideUnitsCopy c = utf8_to_wide(source, length, dest, capacity / unit - 1);
  put_wide_nul(dest, c.units_written);
  result.copied = c.bytes_read;
  result.truncated = c.bytes_read < length;
  int64_t rest =
      result.truncated ? wide_units_of_utf8(source + c.bytes_read, length - c.bytes_read) : 0;
  result.full_length = unit * (c.units_written + rest);
  return result;
}

}  // namespace

CopyResult copy_out(void* dest, int64_t capacity, const void* source, int64_t length,
                    int64_t offset, CopyMode mode) {
  if (offset < 0) offset = 0;
  CopyResult result{0, length > offset ? length - offset : 0, false};
  if (dest == nullptr || capacity < 0) capacity = 0;
  if (mode == CopyMode::kWideText) {
    const auto* from = static_cast<const uint8_t*>(source) + offset;
    return copy_wide(dest, capacity, from, result.full_length);
  }

  // Room for data: the text mode keeps one byte for the terminator.
  int64_t room = mode == CopyMode::kText ? capacity - 1 : capacity;
  if (room < 0) {  // text without room even for the NUL: nothing is written
    result.truncated = true;
    return result;
  }
  result.copied = result.full_length < room ? result.full_length : room;
  result.truncated = result.copied < result.full_length;
  auto* out = static_cast<char*>(dest);
  if (result.copied > 0) {
    memcpy(out, static_cast<const char*>(source) + offset, static_cast<size_t>(result.copied));
  }
  if (mode == CopyMode::kText) out[result.copied] = '\0';
  return result;
}

}  // namespace q4
