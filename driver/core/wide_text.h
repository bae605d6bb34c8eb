// UTF-8 and UTF-16 at the edges of the driver. The server's text is taken as
// UTF-8; applications that speak wide text use unixODBC's 2-byte SQLWCHAR,
// UTF-16 in the host's byte order. Values stay UTF-8 bytes inside the driver
// and are converted only where they enter (a wide parameter, a wide statement
// text) or leave (a column copied into a wide buffer).
//
// Malformed input is never an error and never read past its end:
//   - UTF-8: a byte that does not begin a well-formed sequence (a stray
//     continuation byte, an overlong form, an encoded surrogate, a value above
//     U+10FFFF, a sequence cut by the end of the value) becomes U+FFFD and
//     consumes that one byte; decoding resumes at the next byte. So every
//     byte of the value is accounted for, and counting and copying agree.
//   - UTF-16: an unpaired surrogate becomes U+FFFD.
// Units are read and written with memcpy: application buffers need not be
// aligned.
#pragma once

#include <cstdint>

namespace q4 {

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

struct Utf8Step {
  uint32_t code_point;
  int32_t bytes;  // 1 to 4
};

// The code point that starts at `in`; `available` (1 or more) bytes may be
// read.
Utf8Step decode_utf8(const uint8_t* in, int64_t available);

// UTF-16 units (not bytes) that the UTF-8 text in[0, length) becomes.
int64_t utf16_units_of_utf8(const uint8_t* in, int64_t length);

struct Utf16Copy {
  int64_t bytes_read;     // UTF-8 bytes consumed: whole characters only
  int64_t units_written;  // UTF-16 units written
};

// Converts in[0, length) into at most `room` UTF-16 units at `out`, whole
// characters only: a character whose units do not all fit (a surrogate pair
// with one unit of room left) stops the copy. Writes no terminator.
Utf16Copy utf8_to_utf16(const uint8_t* in, int64_t length, void* out, int64_t room);

// Converts `units` UTF-16 units at `in` into UTF-8 at `out`, which must have
// room for 3 bytes per unit (a surrogate pair, two units, takes 4). Stops
// early at a 0 unit when `stop_at_nul`. Returns the bytes written.
int64_t utf16_to_utf8(const void* in, int64_t units, char* out, bool stop_at_nul);

// Units before the first 0 unit.
int64_t utf16_length(const void* in);

}  // namespace q4
