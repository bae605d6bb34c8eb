#include "statement/request_writer.h"

#include <charconv>

#include "core/memory.h"
#include "protocol/codec.h"
#include "statement/binary_blocks.h"

namespace q4 {

namespace {

// "0x" and the decimal digits of a non-negative 32-bit index.
constexpr uint64_t kTokenRoom = 2 + 10;

}  // namespace

bool RequestWriter::start(uint64_t text_length) {
  at_ = 0;
  uint64_t wanted = text_length + kRequestSlack;
  if (wanted <= stmt_->request_capacity && stmt_->request_buffer != nullptr) return true;
  drv_free(stmt_->request_buffer);
  stmt_->request_buffer = nullptr;
  stmt_->request_capacity = 0;
  auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, stmt_, wanted + 1));
  if (block == nullptr) return false;
  stmt_->request_buffer = block;
  stmt_->request_capacity = wanted;
  return true;
}

bool RequestWriter::grow(uint64_t needed) {
  if (needed <= stmt_->request_capacity && stmt_->request_buffer != nullptr) return true;
  // Doubling keeps a run of long literals from copying the payload each time.
  uint64_t capacity = needed + kRequestSlack;
  if (capacity < 2 * stmt_->request_capacity) capacity = 2 * stmt_->request_capacity;
  auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, stmt_, capacity + 1));
  if (block == nullptr) return false;
  uint64_t keep = stmt_->request_buffer == nullptr ? 0 : at_;
  if (keep > 0) memcpy(block, stmt_->request_buffer, keep);
  drv_free(stmt_->request_buffer);
  stmt_->request_buffer = block;
  stmt_->request_capacity = capacity;
  return true;
}

bool RequestWriter::append_u32(uint32_t value) {
  char* out = room(4);
  if (out == nullptr) return false;
  put_u32(reinterpret_cast<uint8_t*>(out), value);
  at_ += 4;
  return true;
}

bool RequestWriter::append_binary_value(const void* bytes, uint64_t count) {
  char* token = room(kTokenRoom);
  if (token == nullptr) return false;
  token[0] = '0';
  token[1] = 'x';
  char* end = std::to_chars(token + 2, token + kTokenRoom, stmt_->binary_count).ptr;
  at_ += static_cast<uint64_t>(end - token);
  return add_binary_block(stmt_, bytes, count);
}

bool RequestWriter::append_binary_blocks() {
  uint64_t total = 0;
  for (int32_t i = 0; i < stmt_->binary_count; ++i) total += stmt_->binary_lengths[i] + 1;
  char* out = total > 0 ? room(total) : nullptr;
  if (total > 0 && out == nullptr) {
    discard_binary_blocks(stmt_);
    return false;
  }
  for (int32_t i = 0; i < stmt_->binary_count; ++i) {
    memcpy(out, stmt_->binary_blocks[i], stmt_->binary_lengths[i]);
    out += stmt_->binary_lengths[i];
    *out++ = 0;
  }
  at_ += total;
  discard_binary_blocks(stmt_);
  return true;
}

bool RequestWriter::append_trailer(const char* name, uint64_t name_length) {
  if (name_length == 0) return append_byte(0);
  char* out = room(name_length + 3);
  if (out == nullptr) return false;
  memcpy(out, name, name_length);
  memset(out + name_length, 0, 3);
  at_ += name_length + 3;
  return true;
}

}  // namespace q4
