// The one routine through which the driver writes a string or a byte string
// into an application buffer (column values, cursor names, information
// answers, column names). It posts nothing: the caller decides whether a cut
// is reported ("01004") or passes silently.
#pragma once

#include <cstdint>

namespace q4 {

enum class CopyMode {
  kText,   // the destination receives a NUL after the copied bytes
  kBytes,  // raw bytes, no terminator
  // UTF-8 source into 2-byte UTF-16 units with a 2-byte NUL: capacity, the
  // offset and `copied` count bytes as for kText, but full_length counts the
  // UTF-16 bytes that the rest of the source becomes. Only whole characters
  // are copied (a surrogate pair is never cut).
  kWideText,
};

struct CopyResult {
  int64_t copied;       // bytes of the source written (the NUL not counted)
  int64_t full_length;  // bytes the source holds from `offset` on: what the
                        // application is told as the value's length
  bool truncated;       // fewer than full_length bytes (text: or no NUL) fit
};

// Copies source[offset, length) into `dest`, which has room for `capacity`
// bytes, and never writes outside dest[0, capacity).
//
// kText: at most capacity - 1 bytes followed by a NUL; a source that needs
// all `capacity` bytes or more is cut (capacity - 1 bytes and the NUL).
// kBytes: at most capacity bytes.
// kWideText: at most capacity / w - 1 wide units (w = wide_unit_bytes())
// followed by a 0 unit (bytes short of a whole unit stay unused).
// A capacity below 1 (for kBytes: below 0 treated as 0; for kWideText below
// one unit) or a null `dest` writes nothing; for kText and kWideText that always
// counts as truncated, for kBytes only when bytes remain. An offset at or past `length` leaves
// nothing to copy (full_length 0): kText then writes just the NUL.
CopyResult copy_out(void* dest, int64_t capacity, const void* source, int64_t length,
                    int64_t offset, CopyMode mode);

}  // namespace q4
