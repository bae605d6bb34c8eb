// Writing a request payload into the statement's request_buffer: the one
// place that knows offsets into that buffer and how it grows.
//
// A writer appends at the end of what it wrote. The buffer stays the
// statement's (request_buffer, request_capacity usable bytes and one spare
// byte): the payload outlives the writer, since send_execute and the fetch
// path's re-execution send it later. request_length is set only by finish(),
// so a payload left unfinished (the build failed) is never taken for one.
//
// The buffer only grows. An append that cannot grow it returns false (null
// for room()) with "S1001" posted on the statement through drv_alloc; the old
// block and what was written into it stay.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/records.h"

namespace q4 {

// Room kept in request_buffer beyond the text, for the statement id, the
// trailer and literals longer than the markers they replace.
constexpr uint64_t kRequestSlack = 2583;

class RequestWriter {
 public:
  explicit RequestWriter(Statement* stmt) : stmt_(stmt) {}
  RequestWriter(const RequestWriter&) = delete;
  RequestWriter& operator=(const RequestWriter&) = delete;

  // Starts an empty payload in a block with room for a text of `text_length`
  // bytes plus kRequestSlack: the statement's block when it has that room,
  // otherwise a new one of exactly that size (the old content is dropped, as
  // the payload is rebuilt from scratch). False when it cannot be allocated;
  // the statement then has no block at all.
  bool start(uint64_t text_length);

  bool append(const void* bytes, uint64_t count) {
    char* out = room(count);
    if (out == nullptr) return false;
    if (count > 0) memcpy(out, bytes, count);
    at_ += count;
    return true;
  }
  bool append_byte(uint8_t byte) { return append(&byte, 1); }
  // Big-endian, as every number on the wire.
  bool append_u32(uint32_t value);

  // At least `count` writable bytes at the end of the payload, for a value
  // formatted in place (they may also serve as scratch space); nothing of
  // them is part of the payload until commit().
  char* room(uint64_t count) {
    if (at_ + count > stmt_->request_capacity || stmt_->request_buffer == nullptr) {
      if (!grow(at_ + count)) return nullptr;
    }
    return reinterpret_cast<char*>(stmt_->request_buffer + at_);
  }
  // The first `count` bytes of the last room() now belong to the payload.
  void commit(uint64_t count) { at_ += count; }

  // A binary parameter value: the token "0x<i>" at the end of the payload,
  // i being the statement's binary_count, and a copy of its `count` bytes in
  // a new pending block (binary_blocks.h), which append_binary_blocks puts
  // after the text.
  bool append_binary_value(const void* bytes, uint64_t count);

  // Every pending binary block, each followed by a NUL. The blocks are freed
  // whether or not they could be appended.
  bool append_binary_blocks();

  // The cursor-name trailer: one NUL without a name (`name_length` 0);
  // otherwise the name, a NUL and two more NULs.
  bool append_trailer(const char* name, uint64_t name_length);

  // Bytes written so far.
  uint64_t length() const { return at_; }

  // Makes what was written the statement's request (request_length).
  void finish() { stmt_->request_length = at_; }

 private:
  // Makes the block hold at least `needed` usable bytes, keeping the payload.
  bool grow(uint64_t needed);

  Statement* stmt_;
  uint64_t at_ = 0;
};

}  // namespace q4
