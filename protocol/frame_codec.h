// Encoding and decoding of one request or reply frame on byte spans, shared
// by the driver and q4lite, apart from any socket so that every bound can be
// tested on its own.
//
// A frame is: u16 frame length L (the whole frame, these two bytes included);
// on the first frame of a message only, a NUL-terminated lead string (the
// command code of a request, the status string of a reply); u16 chunk length
// n; u16 more flag; n payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4 {

// Bytes of the frame length field.
constexpr size_t kFrameLengthSize = 2;
// Bytes of the chunk length and more flag.
constexpr size_t kChunkHeaderSize = 4;

// Writes everything of one frame but its chunk at `frame`: the frame length,
// `lead` with its NUL when not null (`lead_length` excludes the NUL), the chunk
// length and the more flag. Returns the offset at which the caller places the
// `chunk_length` chunk bytes; the frame is then offset + chunk_length bytes
// long. The caller guarantees that much room and that it stays below 65536.
inline size_t put_frame_header(uint8_t* frame, const char* lead, size_t lead_length,
                               uint16_t chunk_length, bool more) {
  uint8_t* at = frame + kFrameLengthSize;
  if (lead != nullptr) {
    memcpy(at, lead, lead_length);
    at[lead_length] = 0;
    at += lead_length + 1;
  }
  at = put_u16(at, chunk_length);
  at = put_u16(at, more ? 1 : 0);
  size_t offset = static_cast<size_t>(at - frame);
  put_u16(frame, static_cast<uint16_t>(offset + chunk_length));
  return offset;
}

// Why a received frame cannot be taken. Every fault is damage to the stream:
// the exchange fails and the link is given up, never resynchronised.
enum class FrameFault {
  kNone,
  kLengthOutOfRange,  // L cannot hold a chunk header, or exceeds the frame area
  kUnterminatedLead,  // no NUL ends the lead string inside the frame
  kMissingHeader,     // fewer than 4 bytes left for chunk length and more flag
  kChunkTooLarge,     // n above the 20480 bytes a frame carries at most
  kChunkMismatch,     // n disagrees with the bytes the frame length leaves
};

// Checks a received frame length L before its body is read into an area of
// `area_size` bytes (the body is the L - 2 bytes after the length field).
inline FrameFault check_frame_length(uint16_t length, bool first, size_t area_size) {
  // The smallest frame is an empty chunk, after an empty lead string on the
  // first frame.
  size_t smallest = kFrameLengthSize + (first ? 1 : 0) + kChunkHeaderSize;
  if (length < smallest || length > area_size) return FrameFault::kLengthOutOfRange;
  return FrameFault::kNone;
}

// One decoded frame; the pointers point into the decoded body.
struct FrameView {
  const char* lead;    // first frame: the lead string; later frames: null
  size_t lead_length;  // excluding its NUL
  uint16_t chunk_length;
  bool more;  // any non-zero more flag announces a further frame
  const uint8_t* chunk;
};

// Decodes a frame body of `body_length` bytes (the frame without its length
// field). `first` says whether a lead string comes first. The chunk must fill
// the rest of the frame exactly: a frame whose length and chunk length
// disagree is damaged, whichever way they differ.
inline FrameFault decode_frame_body(const uint8_t* body, size_t body_length, bool first,
                                    FrameView* out) {
  Reader reader{body, body + body_length};
  out->lead = nullptr;
  out->lead_length = 0;
  if (first && !reader.get_cstring(&out->lead, &out->lead_length)) {
    return FrameFault::kUnterminatedLead;
  }
  uint16_t more = 0;
  if (!reader.get_u16(&out->chunk_length) || !reader.get_u16(&more)) {
    return FrameFault::kMissingHeader;
  }
  out->more = more != 0;
  if (out->chunk_length > kMaxChunk) return FrameFault::kChunkTooLarge;
  if (reader.remaining() != out->chunk_length) return FrameFault::kChunkMismatch;
  out->chunk = reader.pos;
  return FrameFault::kNone;
}

}  // namespace q4
