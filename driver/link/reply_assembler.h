// Assembling one reply from its frames, apart from any socket.
//
// The receiver (link/framing.cpp) reads each frame from wherever its bytes
// are (the socket, or the link's inbox of replies read ahead) and hands the
// assembler the frame's length field, then its body. The assembler checks
// both, writes the status string and the payload into the caller's
// ReplyArea, says after each frame whether the sender waits for an
// acknowledgement, and says when the reply is whole. It reads nothing but
// the views it is given and writes nothing outside the area (and the block a
// growable area moves into).
//
// Damage fails closed: a frame the assembler cannot take is a broken stream,
// and so is every frame offered after it. The caller drops the link; nothing
// is ever resynchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/frame_codec.h"
#include "protocol/wire.h"

namespace q4 {

// Where a reply goes.
struct ReplyArea {
  char* status;        // receives the NUL-terminated status string
  size_t status_size;  // a longer status string is a broken stream
  // Room for the payload; a capacity of 0 (or less) asks for the status only.
  uint8_t* destination = nullptr;
  int32_t capacity = 0;
  // Optional: the address of a drv_alloc block pointer that a payload larger
  // than `capacity` moves into; the block is replaced by a larger one as the
  // payload grows (the old one freed), and *grown (in/out, may be null)
  // non-zero means the payload lies in *growable rather than `destination`.
  uint8_t** growable = nullptr;
  int32_t* grown = nullptr;
};

// What a whole reply brought.
enum class ReplyPayload : uint8_t {
  kNone,   // no payload: the reply carried none, or the area asked for the status only
  kBytes,  // payload bytes (at least one), in the destination or the grown block
  // More payload than the area held, and the larger block could not be
  // allocated: the reply was still read to its end and acknowledged (the
  // link stays in step), its payload dropped. Memory ran out, nothing else.
  kDropped,
};

// Whether a reply may come in more than one frame.
enum class FrameRule : uint8_t {
  kAcknowledged,  // each frame that announces another is acknowledged
  // A reply of more frames is a broken stream: its acknowledgement would
  // reach the server behind requests already sent (link/pipeline.h).
  kOneFrame,
};

class ReplyAssembler {
 public:
  // What the receiver does after a frame.
  enum class Step : uint8_t {
    kAcknowledge,  // send the acknowledgement, then read the next frame
    kComplete,     // the reply is whole: payload() and bytes() tell what it brought
    kBroken,       // a broken stream: the link must be dropped
  };

  // `area` is written until the reply is whole or broken; its status
  // string is written as the first frame is taken.
  ReplyAssembler(const ReplyArea& area, FrameRule rule);
  ReplyAssembler(const ReplyAssembler&) = delete;
  ReplyAssembler& operator=(const ReplyAssembler&) = delete;

  // The next frame's length field arrived: the body bytes that follow it,
  // or -1 when the length cannot be a frame's (too short for its headers, or
  // longer than kFrameBufferSize); the stream is then broken.
  int32_t body_length(uint16_t frame_length);

  // Takes the body (the frame after its length field) announced by
  // body_length(): decodes it and takes the frame.
  Step take_body(const uint8_t* body, int32_t length);

  // Takes a decoded frame (the first one carries the status string as its
  // lead; `chunk` holds chunk_length bytes). Broken: a frame after the reply
  // is whole, a first frame without a lead, a status string too long for its
  // area, a chunk above 20480 bytes, more frames announced to a status-only
  // area or after an empty first chunk or under kOneFrame, a payload beyond
  // a fixed destination or past INT32_MAX bytes.
  Step take(const FrameView& frame);

  // After kComplete.
  ReplyPayload payload() const;
  int32_t bytes() const {
    return payload() == ReplyPayload::kBytes ? static_cast<int32_t>(total_) : 0;
  }
  // Frames taken so far.
  int32_t frames() const { return frames_; }

 private:
  enum class State : uint8_t { kReading, kComplete, kBroken };
  Step broken() {
    state_ = State::kBroken;
    return Step::kBroken;
  }
  // Places `length` payload bytes after those taken; false when a fixed
  // destination would overflow.
  bool store(const uint8_t* chunk, int32_t length);
  // Room for `length` more bytes: a larger block, or, when none can be had,
  // the payload dropped from here on. False for a fixed destination.
  bool make_room(int32_t length);

  const ReplyArea area_;
  const FrameRule rule_;
  State state_ = State::kReading;
  bool status_only_;
  // Set when a larger block could not be had: the rest of the reply is still
  // taken and acknowledged, but dropped.
  bool discarding_ = false;
  int32_t frames_ = 0;
  int64_t total_ = 0;  // payload bytes taken, dropped ones included
  int64_t room_;       // bytes left at base_ after the payload taken
  uint8_t* base_;      // where the payload taken so far lies, contiguously
};

// Every frame of every reply passes here: the definitions are inline, and
// only a growing block leaves them (make_room).

inline ReplyAssembler::ReplyAssembler(const ReplyArea& area, FrameRule rule)
    : area_(area),
      rule_(rule),
      // A capacity below 0 asks for no payload either.
      status_only_(area.capacity <= 0),
      room_(area.capacity <= 0 ? 0 : area.capacity),
      base_(area.grown != nullptr && *area.grown != 0 && area.growable != nullptr
                ? *area.growable
                : area.destination) {}

inline int32_t ReplyAssembler::body_length(uint16_t frame_length) {
  if (state_ != State::kReading ||
      check_frame_length(frame_length, frames_ == 0, kFrameBufferSize) != FrameFault::kNone) {
    broken();
    return -1;
  }
  return frame_length - static_cast<int32_t>(kFrameLengthSize);
}

inline ReplyAssembler::Step ReplyAssembler::take_body(const uint8_t* body, int32_t length) {
  FrameView frame;
  if (state_ != State::kReading || length < 0 ||
      decode_frame_body(body, static_cast<size_t>(length), frames_ == 0, &frame) !=
          FrameFault::kNone) {
    return broken();
  }
  return take(frame);
}

inline ReplyAssembler::Step ReplyAssembler::take(const FrameView& frame) {
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
  // A payload counts in 32 signed bits.
  if (chunk > kMaxChunk || total_ + chunk > INT32_MAX) return broken();
  if (chunk > 0 && !store(frame.chunk, chunk)) return broken();
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

inline bool ReplyAssembler::store(const uint8_t* chunk, int32_t length) {
  if (length > room_ && !make_room(length)) return false;
  if (discarding_) return true;
  memcpy(base_ + total_, chunk, static_cast<size_t>(length));
  room_ -= length;
  return true;
}

inline ReplyPayload ReplyAssembler::payload() const {
  if (state_ != State::kComplete || total_ == 0) return ReplyPayload::kNone;
  return discarding_ ? ReplyPayload::kDropped : ReplyPayload::kBytes;
}

}  // namespace q4
