#include "link/reply_assembler.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

constexpr int64_t kMaxReplyBytes = INT32_MAX;

}  // namespace

ReplyAssembler::ReplyAssembler(const ReplyArea& area, FrameRule rule)
    : area_(area),
      rule_(rule),
      // A capacity below 0 asks for no payload either.
      status_only_(area.capacity <= 0),
      room_(area.capacity <= 0 ? 0 : area.capacity),
      base_(area.grown != nullptr && *area.grown != 0 && area.growable != nullptr
                ? *area.growable
                : area.destination) {}

int32_t ReplyAssembler::body_length(uint16_t frame_length) {
  if (state_ != State::kReading ||
      check_frame_length(frame_length, frames_ == 0, kFrameBufferSize) != FrameFault::kNone) {
    broken();
    return -1;
  }
  return frame_length - static_cast<int32_t>(kFrameLengthSize);
}

ReplyAssembler::Step ReplyAssembler::take_body(const uint8_t* body, int32_t length) {
  FrameView frame;
  if (state_ != State::kReading || length < 0 ||
      decode_frame_body(body, static_cast<size_t>(length), frames_ == 0, &frame) !=
          FrameFault::kNone) {
    return broken();
  }
  return take(frame);
}

ReplyAssembler::Step ReplyAssembler::take(const FrameView& frame) {
  if (state_ != State::kReading) return broken();
  bool first = frames_ == 0;
  ++frames_;
  if (frame.more && rule_ == FrameRule::kOneFrame) return broken();
  if (first) {
    if (frame.lead == nullptr || frame.lead_length >= area_.status_size) return broken();
    memcpy(area_.status, frame.lead, frame.lead_length);
    area_.status[frame.lead_length] = '\0';
    if (status_only_) {
      // Further frames to a status-only call would be left unread and
      // desynchronise the link; a single frame's chunk is simply not wanted.
      if (frame.more) return broken();
      state_ = State::kComplete;
      return Step::kComplete;
    }
  }

  int32_t chunk = frame.chunk_length;
  if (chunk > kMaxChunk || total_ + chunk > kMaxReplyBytes) return broken();
  if (chunk > 0 && !discarding_ && !store(frame.chunk, chunk)) return broken();
  total_ += chunk;

  if (total_ == 0) {
    // No payload. An empty first chunk that still announces a further frame
    // is damage: ending here would leave that frame in the stream.
    if (frame.more) return broken();
    state_ = State::kComplete;
    return Step::kComplete;
  }
  if (frame.more) return Step::kAcknowledge;
  state_ = State::kComplete;
  return Step::kComplete;
}

bool ReplyAssembler::store(const uint8_t* chunk, int32_t length) {
  if (length > room_) {
    // A fixed destination that the reply outgrows: the callers of fixed
    // areas ask only for replies that fit, so more bytes mean a stream that
    // is not what the exchange expects. Nothing is written past the area.
    if (area_.growable == nullptr) return false;
    // The block at least doubles, so a long reply costs a linear number of
    // copies.
    int64_t size = std::max(total_ + length, 2 * (total_ + room_));
    size = std::min(size, kMaxReplyBytes);
    auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, static_cast<size_t>(size)));
    if (block == nullptr) {
      discarding_ = true;
      return true;
    }
    if (total_ > 0) memcpy(block, base_, static_cast<size_t>(total_));
    drv_free(*area_.growable);
    *area_.growable = block;
    if (area_.grown != nullptr) *area_.grown = 1;
    base_ = block;
    room_ = size - total_;
  }
  memcpy(base_ + total_, chunk, static_cast<size_t>(length));
  room_ -= length;
  return true;
}

ReplyPayload ReplyAssembler::payload() const {
  if (state_ != State::kComplete || total_ == 0) return ReplyPayload::kNone;
  return discarding_ ? ReplyPayload::kDropped : ReplyPayload::kBytes;
}

}  // namespace q4
