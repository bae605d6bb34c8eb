// Request and reply framing over a connection's socket.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q4 {

struct ExchangeLog;

// Sends `command` (NUL-terminated) with `length` payload bytes, cut into
// frames of at most 20480 payload bytes built in `frame_buffer`
// (kFrameBufferSize bytes). `plain` selects the untimed transfers; otherwise
// each wait is limited to `wait_seconds`. A length below 0 sends an empty
// payload. Returns 0 or the failed transfer's LinkStatus (LINK_FAILED without
// sending anything when the command string leaves no room for a full chunk).
uint32_t send_request(const char* command, int32_t length, const uint8_t* payload, int socket,
                      uint8_t* frame_buffer, bool plain, uint32_t wait_seconds);

// Receives one reply.
// - status_out/status_size: receives the NUL-terminated status string.
// - capacity: room at `destination`; 0 (or less) asks for the status string
//   only.
// - growable: null, or the address of a drv_alloc block pointer that may be
//   replaced by a larger block (the bytes received so far and at least one
//   spare byte after them; the old block is freed); *grown (in/out, may be
//   null) non-zero means payload goes
//   to *growable rather than to destination, and is set to 1 when it was
//   replaced.
// Returns 0 when a transfer failed or the stream is broken (*status says
// which; a broken stream is LINK_FAILED), -1 for a status-only call, a reply
// without payload or a failed allocation (the rest of that reply is read and
// dropped, so the link stays usable), else the payload byte count.
// A broken stream is any reply this side cannot take whole: a frame length
// that cannot hold a frame or exceeds kFrameBufferSize, a chunk above 20480
// bytes or disagreeing with its frame length, a status string longer than
// status_size - 1, payload beyond a fixed destination, further frames after
// an empty first chunk or announced to a status-only call. Nothing is ever
// written outside status_out, the destination or the grown block.
int32_t receive_reply(int32_t* grown, char* status_out, size_t status_size, int32_t capacity,
                      uint8_t* destination, int socket, uint8_t* frame_buffer, uint8_t** growable,
                      bool plain, uint32_t* status, uint32_t wait_seconds);

// One exchange whose reply is read for its status string only: sends the
// request, then receives the status into `status_out` (any payload is a
// broken stream). Returns LINK_OK, or the LinkStatus of the failed transfer.
// The exchange goes into `log` (the connection's driver log; null: off).
uint32_t exchange_status(const char* command, int32_t length, const uint8_t* payload, int socket,
                         uint8_t* frame_buffer, char* status_out, size_t status_size, bool plain,
                         uint32_t wait_seconds, const ExchangeLog* log);

}  // namespace q4
