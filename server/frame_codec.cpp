#include "server/frame_codec.h"

#include <cstring>

#include "protocol/codec.h"

namespace q4::lite {

bool parse_frame(const uint8_t* body, size_t size, bool first, FrameView* out) {
  Reader in{body, body + size};
  *out = FrameView{};
  if (first) {
    const size_t limit = size < kMaxCommandLength + 1 ? size : kMaxCommandLength + 1;
    const void* nul = std::memchr(body, 0, limit);
    if (nul == nullptr) return false;
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - body);
    out->command = std::string_view(reinterpret_cast<const char*>(body), length);
    in.pos = body + length + 1;
  }
  uint16_t chunk_length = 0;
  uint16_t more = 0;
  if (!in.get_u16(&chunk_length) || !in.get_u16(&more)) return false;
  if (chunk_length > kMaxChunk || in.remaining() != chunk_length) return false;
  out->chunk = in.pos;
  out->chunk_length = chunk_length;
  out->more = more != 0;
  return true;
}

size_t put_frame_header(uint8_t* at, const char* status, size_t status_length,
                        uint16_t chunk_length, bool more) {
  uint8_t* p = at + 2;
  if (status != nullptr) {
    std::memcpy(p, status, status_length);
    p += status_length;
    *p++ = 0;
  }
  p = put_u16(p, chunk_length);
  p = put_u16(p, more ? 1 : 0);
  const size_t header = static_cast<size_t>(p - at);
  put_u16(at, static_cast<uint16_t>(header + chunk_length));
  return header;
}

}  // namespace q4::lite
