// Big-endian integer codec shared by the driver and q4lite.
//
// put_* append to a caller-owned byte area and return the position after the
// written value; the caller guarantees the room. get_* read from a cursor that
// they advance, and return false (leaving the cursor alone) when fewer bytes
// remain than the value needs: a short buffer is reported, never over-read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q4 {

inline uint8_t* put_u16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v >> 8);
  at[1] = static_cast<uint8_t>(v);
  return at + 2;
}

inline uint8_t* put_u32(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v >> 24);
  at[1] = static_cast<uint8_t>(v >> 16);
  at[2] = static_cast<uint8_t>(v >> 8);
  at[3] = static_cast<uint8_t>(v);
  return at + 4;
}

inline uint16_t load_u16(const uint8_t* at) {
  return static_cast<uint16_t>((uint16_t{at[0]} << 8) | at[1]);
}

inline uint32_t load_u32(const uint8_t* at) {
  return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

// A read cursor over [pos, end).
struct Reader {
  const uint8_t* pos;
  const uint8_t* end;

  size_t remaining() const { return static_cast<size_t>(end - pos); }

  bool get_u8(uint8_t* v) {
    if (remaining() < 1) return false;
    *v = *pos++;
    return true;
  }
  bool get_u16(uint16_t* v) {
    if (remaining() < 2) return false;
    *v = load_u16(pos);
    pos += 2;
    return true;
  }
  bool get_u32(uint32_t* v) {
    if (remaining() < 4) return false;
    *v = load_u32(pos);
    pos += 4;
    return true;
  }
  // Points *bytes at the next n bytes and skips them.
  bool get_bytes(size_t n, const uint8_t** bytes) {
    if (remaining() < n) return false;
    *bytes = pos;
    pos += n;
    return true;
  }
  // A NUL-terminated string: *text points at it, *length excludes the NUL.
  bool get_cstring(const char** text, size_t* length) {
    for (const uint8_t* p = pos; p < end; ++p) {
      if (*p == 0) {
        *text = reinterpret_cast<const char*>(pos);
        *length = static_cast<size_t>(p - pos);
        pos = p + 1;
        return true;
      }
    }
    return false;
  }
};

}  // namespace q4
