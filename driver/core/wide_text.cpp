#include "core/wide_text.h"

#include <cstring>

namespace q4 {

namespace {

// The two unit types; every conversion below is written once as a template
// on the unit and chosen by the process's width once per call, never per
// character.
template <typename Unit>
Unit unit_at(const void* base, int64_t i) {
  Unit u;
  memcpy(&u, static_cast<const uint8_t*>(base) + sizeof(Unit) * i, sizeof u);
  return u;
}

template <typename Unit>
void put_unit(void* base, int64_t i, uint32_t u) {
  Unit v = static_cast<Unit>(u);
  memcpy(static_cast<uint8_t*>(base) + sizeof(Unit) * i, &v, sizeof v);
}

bool is_continuation(uint8_t b) {
  return (b & 0xC0) == 0x80;
}

bool wide_is_utf32() {
  return wide_unit_bytes() == 4;
}

template <typename Unit>
int64_t units_of_utf8(const uint8_t* in, int64_t length) {
  int64_t units = 0;
  int64_t i = 0;
  while (i < length) {
    if (in[i] < 0x80) {  // ASCII runs are the common case
      ++units;
      ++i;
      continue;
    }
    Utf8Step step = decode_utf8(in + i, length - i);
    units += sizeof(Unit) == 2 && step.code_point >= 0x10000 ? 2 : 1;
    i += step.bytes;
  }
  return units;
}

template <typename Unit>
WideUnitsCopy to_wide(const uint8_t* in, int64_t length, void* out, int64_t room) {
  WideUnitsCopy r{0, 0};
  while (r.bytes_read < length) {
    uint8_t b = in[r.bytes_read];
    if (b < 0x80) {
      if (r.units_written >= room) break;
      put_unit<Unit>(out, r.units_written++, b);
      ++r.bytes_read;
      continue;
    }
    Utf8Step step = decode_utf8(in + r.bytes_read, length - r.bytes_read);
    if (sizeof(Unit) == 2 && step.code_point >= 0x10000) {
      if (room - r.units_written < 2) break;  // never half a pair
      uint32_t v = step.code_point - 0x10000;
      put_unit<Unit>(out, r.units_written++, 0xD800 + (v >> 10));
      put_unit<Unit>(out, r.units_written++, 0xDC00 + (v & 0x3FF));
    } else {
      if (r.units_written >= room) break;
      put_unit<Unit>(out, r.units_written++, step.code_point);
    }
    r.bytes_read += step.bytes;
  }
  return r;
}

template <typename Unit>
int64_t from_wide(const void* in, int64_t units, char* out, bool stop_at_nul) {
  char* p = out;
  for (int64_t i = 0; i < units; ++i) {
    uint32_t cp = unit_at<Unit>(in, i);
    if (cp == 0 && stop_at_nul) break;
    if (cp < 0x80) {
      *p++ = static_cast<char>(cp);
      continue;
    }
    if (sizeof(Unit) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
      uint32_t low = unit_at<Unit>(in, i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    // An unpaired surrogate, or a UTF-32 unit that is no code point.
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
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
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p - out;
}

template <typename Unit>
int64_t length_of(const void* in) {
  int64_t n = 0;
  while (unit_at<Unit>(in, n) != 0) ++n;
  return n;
}

template <typename Unit>
void widen(void* buffer, int64_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (int64_t i = count; i-- > 0;) put_unit<Unit>(buffer, i, bytes[i]);
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

int64_t wide_units_of_utf8(const uint8_t* in, int64_t length) {
  return wide_is_utf32() ? units_of_utf8<uint32_t>(in, length)
                         : units_of_utf8<uint16_t>(in, length);
}

WideUnitsCopy utf8_to_wide(const uint8_t* in, int64_t length, void* out, int64_t room) {
  return wide_is_utf32() ? to_wide<uint32_t>(in, length, out, room)
                         : to_wide<uint16_t>(in, length, out, room);
}

int64_t wide_to_utf8(const void* in, int64_t units, char* out, bool stop_at_nul) {
  return wide_is_utf32() ? from_wide<uint32_t>(in, units, out, stop_at_nul)
                         : from_wide<uint16_t>(in, units, out, stop_at_nul);
}

int64_t wide_length(const void* in) {
  return wide_is_utf32() ? length_of<uint32_t>(in) : length_of<uint16_t>(in);
}

void put_wide_nul(void* out, int64_t units) {
  memset(static_cast<uint8_t*>(out) + wide_unit_bytes() * units, 0,
         static_cast<size_t>(wide_unit_bytes()));
}

void widen_ascii_in_place(void* buffer, int64_t count) {
  if (wide_is_utf32()) {
    widen<uint32_t>(buffer, count);
  } else {
    widen<uint16_t>(buffer, count);
  }
}

}  // namespace q4
