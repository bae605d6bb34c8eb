#include "results/copy_out.h"

#include <cstring>

namespace q4 {

CopyResult copy_out(void* dest, int64_t capacity, const void* source, int64_t length,
                    int64_t offset, CopyMode mode) {
  if (offset < 0) offset = 0;
  CopyResult result{0, length > offset ? length - offset : 0, false};
  if (dest == nullptr || capacity < 0) capacity = 0;

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
