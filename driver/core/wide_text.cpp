#include "core/wide_text.h"

#include <cstring>

namespace q4 {

namespace {

uint16_t unit_at(const void* base, int64_t i) {
  uint16_t u;
  memcpy(&u, static_cast<const uint8_t*>(base) + 2 * i, sizeof u);
  return u;
}

void put_unit(void* base, int64_t i, uint32_t u) {
  uint16_t v = static_cast<uint16_t>(u);
  memcpy(static_cast<uint8_t*>(base) + 2 * i, &v, sizeof v);
}

bool is_continuation(uint8_t b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace

Utf8Step decode_utf8(const uint8_t* in, int64_t available) {
  const Utf8Step bad{kReplacementCharacter, 1};
  uint8_t lead = in[0];
  if (lead < 0x80) return Utf8Step{lead, 1};
  int32_t length;
  uint32_t cp;
  uint32_t lowest;  // below it the form is overlong
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1Fu;
    lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0Fu;
    lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07u;
    lowest = 0x10000;
  } else {
    return bad;  // continuation byte, C0/C1 overlong lead, or F5..FF
  }
  if (available < length) return bad;
  for (int32_t i = 1; i < length; ++i) {
    if (!is_continuation(in[i])) return bad;
    cp = cp << 6 | (in[i] & 0x3Fu);
  }
  if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return bad;
  return Utf8Step{cp, length};
}

int64_t utf16_units_of_utf8(const uint8_t* in, int64_t length) {
  int64_t units = 0;
  int64_t i = 0;
  while (i < length) {
    if (in[i] < 0x80) {  // ASCII runs are the common case
      ++units;
      ++i;
      continue;
    }
    Utf8Step step = decode_utf8(in + i, length - i);
    units += step.code_point >= 0x10000 ? 2 : 1;
    i += step.bytes;
  }
  return units;
}

Utf16Copy utf8_to_utf16(const uint8_t* in, int64_t length, void* out, int64_t room) {
  Utf16Copy r{0, 0};
  while (r.bytes_read < length) {
    uint8_t b = in[r.bytes_read];
    if (b < 0x80) {
      if (r.units_written >= room) break;
      put_unit(out, r.units_written++, b);
      ++r.bytes_read;
      continue;
    }
    Utf8Step step = decode_utf8(in + r.bytes_read, length - r.bytes_read);
    if (step.code_point >= 0x10000) {
      if (room - r.units_written < 2) break;  // never half a pair
      uint32_t v = step.code_point - 0x10000;
      put_unit(out, r.units_written++, 0xD800 + (v >> 10));
      put_unit(out, r.units_written++, 0xDC00 + (v & 0x3FF));
    } else {
      if (r.units_written >= room) break;
      put_unit(out, r.units_written++, step.code_point);
    }
    r.bytes_read += step.bytes;
  }
  return r;
}

int64_t utf16_to_utf8(const void* in, int64_t units, char* out, bool stop_at_nul) {
  char* p = out;
  for (int64_t i = 0; i < units; ++i) {
    uint32_t cp = unit_at(in, i);
    if (cp == 0 && stop_at_nul) break;
    if (cp < 0x80) {
      *p++ = static_cast<char>(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
      uint32_t low = unit_at(in, i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacementCharacter;  // unpaired
    if (cp < 0x800) {
      *p++ = static_cast<char>(0xC0 | cp >> 6);
    } else if (cp < 0x10000) {
      *p++ = static_cast<char>(0xE0 | cp >> 12);
      *p++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | cp >> 18);
      *p++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *p++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    }
    if (cp >= 0x80) *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p - out;
}

int64_t utf16_length(const void* in) {
  int64_t n = 0;
  while (unit_at(in, n) != 0) ++n;
  return n;
}

}  // namespace q4
