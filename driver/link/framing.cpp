#include "link/framing.h"

#include <algorithm>
#include <cstring>

#include "link/transport.h"
#include "protocol/codec.h"
#include "protocol/frame_codec.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

// The transfers of one exchange: unbounded waits, or each limited to
// `wait_seconds`. A lost link's descriptor is never touched again. Bytes
// already read ahead into the link's inbox are taken before the socket's;
// with Reading::kAhead the socket is read in bulk through the inbox.
struct Transfers {
  Link* link;
  Channel channel;  // socket -1 when the link is lost
  uint32_t wait_seconds;
  LinkStatus* status;
  bool ahead = false;

  Transfers(Link* owner, uint32_t wait, LinkStatus* out)
      : link(owner),
        channel(owner == nullptr || owner->lost ? Channel(-1) : link_channel(owner)),
        wait_seconds(wait),
        status(out) {}

  int32_t buffered() const { return channel.socket < 0 ? 0 : link->inbox_end - link->inbox_start; }

  bool receive(void* to, int32_t count) const {
    // The common case, a plain exchange: nothing read ahead.
    if (!ahead && buffered() == 0) return read_socket(static_cast<uint8_t*>(to), count);
    return receive_through_inbox(static_cast<uint8_t*>(to), count);
  }
  bool receive_through_inbox(uint8_t* at, int32_t count) const {
    for (;;) {
      int32_t take = std::min(count, buffered());
      if (take > 0) {
        memcpy(at, link->inbox + link->inbox_start, static_cast<size_t>(take));
        link->inbox_start += take;
        at += take;
        count -= take;
      }
      if (count == 0) return true;
      if (!ahead || channel.socket < 0 || link->inbox == nullptr) break;
      if (!refill()) return false;
    }
    return read_socket(at, count);
  }
  bool read_socket(uint8_t* at, int32_t count) const {
    int32_t left = wait_seconds == 0 ? recv_exact(at, channel, count, status)
                                     : recv_exact_timed(at, channel, count, wait_seconds, status);
    return left == 0;
  }
  // `count` bytes in place in the inbox when it holds them all, else
  // received into `area`; null when a transfer failed.
  const uint8_t* view(uint8_t* area, int32_t count) const {
    if (buffered() >= count) {
      const uint8_t* at = link->inbox + link->inbox_start;
      link->inbox_start += count;
      return at;
    }
    return receive(area, count) ? area : nullptr;
  }
  // Reads what has arrived (at least a byte) into the emptied inbox.
  bool refill() const {
    link->inbox_start = link->inbox_end = 0;
    link->inbox_end =
        receive_available(link->inbox, channel, link->inbox_capacity, wait_seconds, status);
    return link->inbox_end > 0;
  }
  bool send(const void* from, int32_t count) const {
    int32_t left = wait_seconds == 0 ? send_exact(from, channel, count, status)
                                     : send_exact_timed(from, channel, count, wait_seconds, status);
    return left == 0;
  }
};

}  // namespace

LinkStatus send_request(Link* link, const char* command, const uint8_t* payload, int32_t length,
                        uint32_t wait_seconds) {
  LinkStatus status = LinkStatus::LINK_OK;
  Transfers transfers(link, wait_seconds, &status);
  if (transfers.channel.socket < 0) return LinkStatus::LINK_FAILED;
  uint8_t* frame_buffer = link->frame_buffer;
  size_t command_length = strlen(command);
  // Command codes are one character; a longer one must still leave room for a
  // full chunk in the first frame.
  if (kFrameLengthSize + command_length + 1 + kChunkHeaderSize + kMaxChunk >
      static_cast<size_t>(kFrameBufferSize)) {
    return LinkStatus::LINK_FAILED;
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
  return LinkStatus::LINK_OK;
}

Received receive_reply(Link* link, const ReplyArea& area, uint32_t wait_seconds, Reading reading,
                       FrameRule rule) {
  Received result{LinkStatus::LINK_OK, ReplyPayload::kNone, 0, 0};
  Transfers transfers(link, wait_seconds, &result.status);
  transfers.ahead = reading == Reading::kAhead;
  if (transfers.channel.socket < 0) {
    result.status = LinkStatus::LINK_FAILED;
    return result;
  }
  ReplyAssembler assembler(area, rule);
  for (;;) {
    uint8_t length_field[kFrameLengthSize];
    if (!transfers.receive(length_field, kFrameLengthSize)) break;
    int32_t body_length = assembler.body_length(load_u16(length_field));
    if (body_length < 0) break;
    const uint8_t* body = transfers.view(link->frame_buffer, body_length);
    if (body == nullptr) break;
    ReplyAssembler::Step step = assembler.take_body(body, body_length);
    if (step == ReplyAssembler::Step::kBroken) break;
    if (step == ReplyAssembler::Step::kComplete) {
      result.payload = assembler.payload();
      result.bytes = assembler.bytes();
      result.frames = assembler.frames();
      return result;
    }
    if (!transfers.send(&kAckByte, 1)) break;
  }
  // A reply the assembler cannot take is a broken stream: the exchange fails
  // like a failed transfer, so the caller gives the link up ("08S01") rather
  // than reading on from an unknown position.
  if (result.status == LinkStatus::LINK_OK) result.status = LinkStatus::LINK_FAILED;
  result.frames = assembler.frames();
  return result;
}

}  // namespace q4
