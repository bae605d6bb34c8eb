#include "server/network/link.h"

#include <cstring>

#include "protocol/codec.h"
#include "protocol/frame_codec.h"
#include "protocol/wire.h"

namespace q4::lite {

namespace {
// Bytes after the length field of the largest request frame we accept.
constexpr size_t kMaxRequestFrameBody = kMaxCommandLength + 1 + kChunkHeaderSize + kMaxChunk;
// Room for the largest request frame and for the largest reply frame
// (2 + status + NUL + 4 + chunk).
constexpr size_t kFrameRoom = 2 + kMaxStatusLength + 1 + 4 + kMaxChunk;
// A request payload far above this is dropped; the limit only keeps a
// connection's memory bounded, so its capacity is returned after big requests.
constexpr size_t kKeepCapacity = 1u << 20;
}  // namespace

Link::Link(Channel& channel, size_t max_payload)
    : channel_(channel), max_payload_(max_payload), frame_(kFrameRoom) {}

ReadStatus Link::read_request(Request* request) {
  request->command.clear();
  if (request->payload.capacity() > kKeepCapacity) std::vector<uint8_t>().swap(request->payload);
  request->payload.clear();
  request->too_large = false;
  bool first = true;
  for (;;) {
    uint8_t length_bytes[2];
    if (!channel_.read_exact(length_bytes, 2)) {
      return first ? ReadStatus::kClosed : ReadStatus::kBroken;
    }
    const uint16_t length = load_u16(length_bytes);
    if (check_frame_length(length, first, kFrameLengthSize + kMaxRequestFrameBody) !=
        FrameFault::kNone) {
      return ReadStatus::kBroken;
    }
    const size_t body = length - kFrameLengthSize;
    if (!channel_.read_exact(frame_.data(), body)) return ReadStatus::kBroken;
    FrameView view;
    if (decode_frame_body(frame_.data(), body, first, &view) != FrameFault::kNone ||
        view.lead_length > kMaxCommandLength) {
      return ReadStatus::kBroken;
    }
    if (first) request->command.assign(view.lead, view.lead_length);
    const size_t kept = request->payload.size();
    if (kept + view.chunk_length <= max_payload_) {
      request->payload.insert(request->payload.end(), view.chunk, view.chunk + view.chunk_length);
    } else {
      request->too_large = true;
    }
    if (!view.more) return ReadStatus::kOk;
    const uint8_t ack = kAckByte;
    if (!channel_.write_all(&ack, 1)) return ReadStatus::kBroken;
    first = false;
  }
}

bool Link::send_reply(std::string_view status, const Piece* pieces, size_t count) {
  const size_t status_length = status.size() < kMaxStatusLength ? status.size() : kMaxStatusLength;
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += pieces[i].length;

  size_t piece = 0;
  size_t piece_offset = 0;
  bool first = true;
  do {
    const size_t chunk = total < static_cast<size_t>(kMaxChunk) ? total : kMaxChunk;
    total -= chunk;
    const bool more = total > 0;
    uint8_t* at = frame_.data();
    // The status text may hold NUL bytes from a server message; cut it there.
    size_t text_length = status_length;
    if (first) {
      const void* nul = std::memchr(status.data(), 0, status_length);
      if (nul != nullptr) text_length = static_cast<const char*>(nul) - status.data();
    }
    const size_t header = put_frame_header(at, first ? status.data() : nullptr, text_length,
                                           static_cast<uint16_t>(chunk), more);
    bool sent;
    if (chunk > 0 && pieces[piece].length - piece_offset >= chunk) {
      // The chunk lies inside one piece: it goes out from there, uncopied.
      sent = channel_.write_two(at, header, pieces[piece].data + piece_offset, chunk);
      piece_offset += chunk;
      if (piece_offset == pieces[piece].length) {
        ++piece;
        piece_offset = 0;
      }
    } else {
      size_t used = header;
      size_t need = chunk;
      while (need > 0) {
        const Piece& p = pieces[piece];
        const size_t take = p.length - piece_offset < need ? p.length - piece_offset : need;
        std::memcpy(at + used, p.data + piece_offset, take);
        used += take;
        need -= take;
        piece_offset += take;
        if (piece_offset == p.length) {
          ++piece;
          piece_offset = 0;
        }
      }
      sent = channel_.write_all(at, used);
    }
    if (!sent) return false;
    if (more) {
      uint8_t ack;
      if (!channel_.read_exact(&ack, 1)) return false;
    }
    first = false;
  } while (total > 0);
  return true;
}

}  // namespace q4::lite
