// Request and reply framing over a link: the two halves of an exchange
// (link.h), which the tests and the benchmark also reach on their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link.h"

namespace q4 {

// Sends `command` (NUL-terminated) with `length` payload bytes, cut into
// frames of at most 20480 payload bytes built in the link's frame buffer.
// Each wait is unbounded when `wait_seconds` is 0, else limited to it. A
// length below 0 sends an empty payload. Returns LINK_OK or the failed
// transfer's LinkStatus (LINK_FAILED without sending anything when the link
// is lost or the command string leaves no room for a full chunk). Drops
// nothing: that is exchange()'s part.
uint32_t send_request(Link* link, const char* command, const uint8_t* payload, int32_t length,
                      uint32_t wait_seconds);

// Receives one reply into `reply` (see ReplyArea), waits as send_request.
// Returns 0 when a transfer failed or the stream is broken (*status says
// which; a broken stream is LINK_FAILED), -1 for a status-only area, a reply
// without payload or a failed allocation (the rest of that reply is read and
// dropped, so the link stays usable), else the payload byte count.
// A broken stream is any reply this side cannot take whole: a frame length
// that cannot hold a frame or exceeds kFrameBufferSize, a chunk above 20480
// bytes or disagreeing with its frame length, a status string longer than
// status_size - 1, payload beyond a fixed destination, further frames after
// an empty first chunk or announced to a status-only area. Nothing is ever
// written outside the status area, the destination or the grown block.
int32_t receive_reply(Link* link, const ReplyArea& reply, uint32_t wait_seconds, uint32_t* status);

}  // namespace q4
