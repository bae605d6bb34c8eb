#include "link/frame_codec.h"

#include <cstring>

#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4 {

size_t put_frame_header(uint8_t* frame, const char* lead, size_t lead_length, uint16_t chunk_length,
                        bool more) {
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

FrameFault check_frame_length(uint16_t length, bool first, size_t area_size) {
  // The smallest frame is an empty chunk, after an empty lead string on the
  // first frame.
  size_t smallest = kFrameLengthSize + (first ? 1 : 0) + kChunkHeaderSize;
  if (length < smallest || length > area_size) return FrameFault::kLengthOutOfRange;
  return FrameFault::kNone;
}

FrameFault decode_frame_body(const uint8_t* body, size_t body_length, bool first, FrameView* out) {
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
