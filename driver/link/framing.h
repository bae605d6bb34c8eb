// Request and reply framing over a link: the two halves of an exchange
// (link.h), which the pipeline, the tests and the benchmark also reach on
// their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link.h"
#include "link/reply_assembler.h"

namespace q4 {

// Sends `command` (NUL-terminated) with `length` payload bytes, cut into
// frames of at most 20480 payload bytes built in the link's frame buffer.
// Each wait is unbounded when `wait_seconds` is 0, else limited to it. A
// length below 0 sends an empty payload. Returns LINK_OK or the failed
// transfer's LinkStatus (LINK_FAILED without sending anything when the link
// is lost or the command string leaves no room for a full chunk). Drops
// nothing: that is exchange()'s part.
LinkStatus send_request(Link* link, const char* command, const uint8_t* payload, int32_t length,
                        uint32_t wait_seconds);

// How the bytes of a reply are read. Bytes already in the link's inbox are
// always taken first.
enum class Reading : uint8_t {
  kExact,  // each read asks the socket for just the bytes wanted
  // The socket is read in bulk through the link's inbox (replies to requests
  // sent ahead, link/pipeline.h); a frame the inbox holds whole is assembled
  // where it lies.
  kAhead,
};

// How a reply's receiving went.
struct Received {
  // LINK_OK when the reply arrived whole; otherwise the failed transfer's
  // status, or LINK_FAILED for a broken stream.
  LinkStatus status;
  ReplyPayload payload;  // with LINK_OK: what the reply brought
  int32_t bytes;         // with kBytes: the payload bytes (above 0); else 0
  int32_t frames;        // the frames taken
  bool ok() const { return status == LinkStatus::LINK_OK; }
};

// Receives one reply into `area` (link/reply_assembler.h tells what a
// broken stream is), waiting as send_request does, and sends the
// acknowledgement each frame that announces another is owed. Nothing is
// ever written outside the status area, the destination or the grown block.
// A frame's body is read into the link's frame buffer unless the inbox held
// it whole; the logon reads a broken-off refusal there.
Received receive_reply(Link* link, const ReplyArea& area, uint32_t wait_seconds,
                       Reading reading = Reading::kExact,
                       FrameRule rule = FrameRule::kAcknowledged);

}  // namespace q4
