// UTF-8 inside the driver, the Driver Manager's SQLWCHAR at its edges. The
// server's text is taken as UTF-8 and values stay UTF-8 bytes inside the
// driver; they are converted only where they enter (a wide parameter, a wide
// statement text) or leave (a column copied into a wide buffer).
//
// A wide unit is what the Driver Manager in the process calls SQLWCHAR:
// unixODBC's is 2 bytes, UTF-16 in the host's byte order; iODBC's is the C
// library's wchar_t, 4 bytes of UTF-32. The width is the process's, chosen
// once when the first environment is allocated (set_wide_width) and read by
// every conversion below; every length a wide call reports in bytes is a
// count of units times wide_unit_bytes().
//
// Malformed input is never an error and never read past its end:
//   - UTF-8: a byte that does not begin a well-formed sequence (a stray
//     continuation byte, an overlong form, an encoded surrogate, a value above
//     U+10FFFF, a sequence cut by the end of the value) becomes U+FFFD and
//     consumes that one byte; decoding resumes at the next byte. So every
//     byte of the value is accounted for, and counting and copying agree.
//   - UTF-16: an unpaired surrogate becomes U+FFFD; UTF-32: a surrogate or a
//     value above U+10FFFF does.
// Units are read and written with memcpy: application buffers need not be
// aligned.
#pragma once

#include <atomic>
#include <cstdint>

namespace q4 {

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

enum class WideWidth : uint8_t { kUtf16 = 2, kUtf32 = 4 };

namespace detail {
inline std::atomic<uint8_t> g_wide_unit_bytes{static_cast<uint8_t>(WideWidth::kUtf16)};
}  // namespace detail

inline void set_wide_width(WideWidth width) {
  detail::g_wide_unit_bytes.store(static_cast<uint8_t>(width), std::memory_order_relaxed);
}

// Bytes per wide unit: 2 or 4.
inline int64_t wide_unit_bytes() {
  return detail::g_wide_unit_bytes.load(std::memory_order_relaxed);
}

// UTF-8 bytes one wide unit can become at most: 3 for a UTF-16 unit (a
// surrogate pair, two units, makes 4), 4 for a UTF-32 one.
inline int64_t utf8_bytes_per_wide_unit() {
  return wide_unit_bytes() == 4 ? 4 : 3;
}

struct Utf8Step {
  uint32_t code_point;
  int32_t bytes;  // 1 to 4
};

// The code point that starts at `in`; `available` (1 or more) bytes may be
// read.
Utf8Step decode_utf8(const uint8_t* in, int64_t available);

// Wide units (not bytes) that the UTF-8 text in[0, length) becomes.
int64_t wide_units_of_utf8(const uint8_t* in, int64_t length);

struct WideUnitsCopy {
  int64_t bytes_read;     // UTF-8 bytes consumed: whole characters only
  int64_t units_written;  // wide units written
};

// Converts in[0, length) into at most `room` wide units at `out`, whole
// characters only: a character whose units do not all fit (a surrogate pair
// with one unit of room left) stops the copy. Writes no terminator.
WideUnitsCopy utf8_to_wide(const uint8_t* in, int64_t length, void* out, int64_t room);

// Converts `units` wide units at `in` into UTF-8 at `out`, which must have
// room for utf8_bytes_per_wide_unit() bytes per unit. Stops early at a 0 unit when `stop_at_nul`.
// Returns the bytes written.
int64_t wide_to_utf8(const void* in, int64_t units, char* out, bool stop_at_nul);

// Units before the first 0 unit.
int64_t wide_length(const void* in);

// Writes the 0 unit that ends a text of `units` units at `out`.
void put_wide_nul(void* out, int64_t units);

// Widens `count` ASCII bytes at the start of `buffer` in place into wide
// units (character i moves to bytes [w*i, w*i + w)).
void widen_ascii_in_place(void* buffer, int64_t count);

}  // namespace q4
