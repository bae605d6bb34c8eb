#include "link/framing.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "protocol/frame_codec.h"
#include "link/transport.h"
#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

// The transfers of one exchange: unbounded waits, or each limited to
// `wait_seconds`. A lost link's descriptor is never touched again. Bytes
// already read ahead into the link's inbox are taken before the socket's;
// with `read_ahead` the socket is read in bulk through the inbox.
struct Transfers {
  Link* link;
  int socket;
  uint32_t wait_seconds;
  uint32_t* status;
  bool read_ahead = false;

  Transfers(Link* owner, uint32_t wait, uint32_t* out)
      : link(owner),
        socket(owner == nullptr || owner->lost ? -1 : owner->socket),
        wait_seconds(wait),
        status(out) {}

  bool receive(void* to, int32_t count) const {
    auto* at = static_cast<uint8_t*>(to);
    for (;;) {
      int32_t buffered = socket < 0 ? 0 : link->inbox_end - link->inbox_start;
      int32_t take = std::min(count, buffered);
      if (take > 0) {
        memcpy(at, link->inbox + link->inbox_start, static_cast<size_t>(take));
        link->inbox_start += take;
        at += take;
        count -= take;
      }
      if (count == 0) return true;
      if (!read_ahead || socket < 0 || link->inbox == nullptr) break;
      if (!refill()) return false;
    }
    int32_t left = wait_seconds == 0 ? recv_exact(at, socket, count, status)
                                     : recv_exact_timed(at, socket, count, wait_seconds, status);
    return left == 0;
  }
  // Reads what has arrived (at least a byte) into the emptied inbox.
  bool refill() const {
    link->inbox_start = link->inbox_end = 0;
    link->inbox_end =
        receive_available(link->inbox, socket, link->inbox_capacity, wait_seconds, status);
    return link->inbox_end > 0;
  }
  bool send(const void* from, int32_t count) const {
    int32_t left = wait_seconds == 0 ? send_exact(from, socket, count, status)
                                     : send_exact_timed(from, socket, count, wait_seconds, status);
    return left == 0;
  }
};

// A reply the framing cannot take is a broken stream: the exchange fails like
// a failed transfer, so the caller gives the link up ("08S01") rather than
// reading on from an unknown position.
int32_t broken_stream(uint32_t* status) {
  *status = LINK_FAILED;
  return 0;
}

constexpr int64_t kMaxReplyBytes = INT32_MAX;

}  // namespace

uint32_t send_request(Link* link, const char* command, const uint8_t* payload, int32_t length,
                      uint32_t wait_seconds) {
  uint32_t status = LINK_OK;
  Transfers transfers(link, wait_seconds, &status);
  if (transfers.socket < 0) return LINK_FAILED;
  uint8_t* frame_buffer = link->frame_buffer;
  size_t command_length = strlen(command);
  // Command codes are one character; a longer one must still leave room for a
  // full chunk in the first frame.
  if (kFrameLengthSize + command_length + 1 + kChunkHeaderSize + kMaxChunk >
      static_cast<size_t>(kFrameBufferSize)) {
    return LINK_FAILED;
  }

  // A negative length is taken as an empty payload.
  int32_t remaining = length > 0 ? length : 0;
  const uint8_t* position = payload;
  const char* lead = command;
  do {
    int32_t chunk = remaining < kMaxChunk ? remaining : kMaxChunk;
    bool more = remaining > kMaxChunk;
    size_t offset =
        put_frame_header(frame_buffer, lead, command_length, static_cast<uint16_t>(chunk), more);
    if (chunk > 0) memcpy(frame_buffer + offset, position, static_cast<size_t>(chunk));
    if (!transfers.send(frame_buffer, static_cast<int32_t>(offset) + chunk)) return status;
    if (more) {
      uint8_t ack;  // the server's acknowledgement; its value carries nothing
      if (!transfers.receive(&ack, 1)) return status;
    }
    remaining -= chunk;
    position += chunk;
    lead = nullptr;
  } while (remaining > 0);
  return 0;
}

int32_t receive_reply(Link* link, const ReplyArea& reply, uint32_t wait_seconds, uint32_t* status) {
  *status = LINK_OK;
  Transfers transfers(link, wait_seconds, status);
  transfers.read_ahead = reply.read_ahead;
  if (transfers.socket < 0) {
    *status = LINK_FAILED;
    return 0;
  }
  uint8_t* frame_buffer = link->frame_buffer;
  int32_t unused_flag = 0;
  int32_t* grown = reply.grown != nullptr ? reply.grown : &unused_flag;
  uint8_t** growable = reply.growable;
  uint8_t* destination = reply.destination;
  const int32_t capacity = reply.capacity;

  // A capacity below 0 asks for no payload either.
  bool status_only = capacity <= 0;
  int64_t total = 0;
  int64_t room = status_only ? 0 : capacity;
  // Payload received so far lies contiguously from `base`.
  uint8_t* base = (*grown != 0 && growable != nullptr) ? *growable : destination;
  // Set when a larger block could not be had: the rest of the reply is still
  // read and acknowledged, so that the link stays in step for the next
  // exchange, but dropped, and the result is -1.
  bool discarding = false;

  for (bool first = true;; first = false) {
    uint8_t length_field[kFrameLengthSize];
    if (!transfers.receive(length_field, kFrameLengthSize)) return 0;
    uint16_t frame_length = load_u16(length_field);
    if (check_frame_length(frame_length, first, kFrameBufferSize) != FrameFault::kNone) {
      return broken_stream(status);
    }
    int32_t body_length = frame_length - static_cast<int32_t>(kFrameLengthSize);
    if (!transfers.receive(frame_buffer, body_length)) return 0;
    FrameView frame;
    if (decode_frame_body(frame_buffer, static_cast<size_t>(body_length), first, &frame) !=
        FrameFault::kNone) {
      return broken_stream(status);
    }

    if (reply.frames != nullptr) *reply.frames = first ? 1 : *reply.frames + 1;
    // Acknowledging would put the byte behind requests already sent.
    if (frame.more && reply.one_frame) return broken_stream(status);
    if (first) {
      if (frame.lead_length >= reply.status_size) return broken_stream(status);
      memcpy(reply.status, frame.lead, frame.lead_length + 1);
      // Further frames to a status-only call would be left unread and
      // desynchronise the link; a single frame's chunk is simply not wanted.
      if (status_only) return frame.more ? broken_stream(status) : -1;
    }

    int32_t chunk = frame.chunk_length;
    if (total + chunk > kMaxReplyBytes) return broken_stream(status);
    if (chunk > 0 && !discarding) {
      if (chunk > room) {
        // A fixed destination that the reply outgrows: the callers of fixed
        // areas ask only for replies that fit, so more bytes mean a stream
        // that is not what the exchange expects. Nothing is written past the
        // area; the exchange fails.
        if (growable == nullptr) return broken_stream(status);
        // The block at least doubles, so a long reply costs a linear number
        // of copies.
        int64_t size = std::max(total + chunk, 2 * (total + room));
        size = std::min(size, kMaxReplyBytes);
        auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, static_cast<size_t>(size)));
        if (block == nullptr) {
          discarding = true;
        } else {
          if (total > 0) memcpy(block, base, static_cast<size_t>(total));
          drv_free(*growable);
          *growable = block;
          *grown = 1;
          base = block;
          room = size - total;
        }
      }
      if (!discarding) {
        memcpy(base + total, frame.chunk, static_cast<size_t>(chunk));
        room -= chunk;
      }
    }
    total += chunk;

    if (total == 0) {
      // No payload. An empty first chunk that still announces a further frame
      // is damage: ending here would leave that frame in the stream.
      return frame.more ? broken_stream(status) : -1;
    }
    if (!frame.more) return discarding ? -1 : static_cast<int32_t>(total);
    if (!transfers.send(&kAckByte, 1)) return 0;
  }
}

}  // namespace q4
