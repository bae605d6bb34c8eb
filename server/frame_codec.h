// The server's half of the request/reply framing, on byte spans only: no
// socket here (link.h moves the frames).
//
// Frame: u16 length L (the whole frame, these two bytes included); in the
// first frame of a message a NUL-terminated command or status string; u16
// chunk length n; u16 more flag; n payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/wire.h"

namespace q4::lite {

// Longest command string accepted in a request frame. The driver's commands
// are one byte; anything longer than this is taken as framing damage.
constexpr size_t kMaxCommandLength = 16;
// Bytes after the length field of the largest request frame we accept.
constexpr size_t kMaxRequestFrameBody = kMaxCommandLength + 1 + 4 + kMaxChunk;
// Longest status text (letter included) that a reply carries; longer server
// messages are cut. The driver's smallest status area for a connection-level
// exchange holds 1030 bytes.
constexpr size_t kMaxStatusLength = 1000;

// One received frame, viewed in place. `command` is set for a first frame
// only (points into the frame, not NUL-terminated in the view).
struct FrameView {
  std::string_view command;
  const uint8_t* chunk = nullptr;
  uint16_t chunk_length = 0;
  bool more = false;
};

// Parses the `size` bytes that followed a frame's length field. `first` says
// whether the frame opens a request (and so carries the command string).
// Returns false when the frame is malformed: the chunk length disagrees with
// the frame length, exceeds kMaxChunk, or the command string is unterminated
// or too long. A false return means the stream is out of step.
bool parse_frame(const uint8_t* body, size_t size, bool first, FrameView* out);

// Writes the header of a reply frame at `at`: the length field, the status
// string with its NUL when `status` is non-null (first frame), the chunk
// length and the more flag. Returns the header's size; the caller appends the
// chunk_length payload bytes. `at` must have room for 2 + status + 1 + 4.
size_t put_frame_header(uint8_t* at, const char* status, size_t status_length,
                        uint16_t chunk_length, bool more);

}  // namespace q4::lite
