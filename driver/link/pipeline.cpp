#include "link/pipeline.h"

#include <cstring>

#include "core/memory.h"
#include "link/cancellable_wait.h"
#include "link/exchange_log.h"
#include "link/framing.h"
#include "link/transport.h"
#include "protocol/codec.h"
#include "protocol/frame_codec.h"

namespace q4 {

namespace {

// Queued frames go out together, so that a window of small requests costs a
// few system calls rather than one each. A batch goes as soon as it is this
// many requests, so the server works on it while the next is built.
constexpr int32_t kOutboxSize = 65536;
constexpr uint32_t kFlushBatch = 16;
// The inbox starts small and grows (doubling) only while the server sends
// faster than the replies are taken; a window's replies fit in the largest.
constexpr int32_t kInboxStart = 16384;
constexpr int32_t kInboxLimit = static_cast<int32_t>(kMaxPipelineWindow) * kFrameBufferSize;

// A one-frame request: length field, one-character command and its NUL,
// chunk header, payload.
constexpr int32_t kRequestFrameOverhead =
    static_cast<int32_t>(kFrameLengthSize + 2 + kChunkHeaderSize);

// Room at the inbox's end for what arrives next: the unread bytes move to
// the front, and a full inbox doubles up to its limit. False when it is
// full at its limit (more than a window's replies: a broken stream) or the
// larger block cannot be had.
bool make_inbox_room(Link* link) {
  if (link->inbox_start == link->inbox_end) link->inbox_start = link->inbox_end = 0;
  if (link->inbox_end < link->inbox_capacity) return true;
  int32_t unread = link->inbox_end - link->inbox_start;
  if (link->inbox_start > 0) {
    memmove(link->inbox, link->inbox + link->inbox_start, static_cast<size_t>(unread));
  } else {
    if (link->inbox_capacity >= kInboxLimit) return false;
    int32_t capacity = link->inbox_capacity * 2;
    auto* larger =
        static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, static_cast<size_t>(capacity)));
    if (larger == nullptr) return false;
    memcpy(larger, link->inbox, static_cast<size_t>(unread));
    drv_free(link->inbox);
    link->inbox = larger;
    link->inbox_capacity = capacity;
  }
  link->inbox_start = 0;
  link->inbox_end = unread;
  return true;
}

// Sends the outbox, reading into the inbox whatever arrives while the socket
// is full. LINK_OK or the failure.
LinkStatus flush(Pipeline* pipeline) {
  Link* link = pipeline->link;
  int32_t sent = 0;
  while (sent < link->outbox_length) {
    if (!make_inbox_room(link)) return LinkStatus::LINK_FAILED;
    LinkStatus status = LinkStatus::LINK_OK;
    int32_t received = link->inbox_end;
    int32_t left = send_exact_receiving(link->outbox + sent, link_channel(link),
                                        link->outbox_length - sent, pipeline->wait_seconds,
                                        link->inbox, link->inbox_capacity, &received, &status);
    link->inbox_end = received;
    if (status != LinkStatus::LINK_OK) return status;
    sent = link->outbox_length - left;
  }
  link->outbox_length = 0;
  pipeline->queued = 0;
  return LinkStatus::LINK_OK;
}

// Whether the inbox holds the whole next frame, so that reading it waits for
// nothing and the queued requests may wait for their batch.
bool inbox_holds_frame(const Link* link) {
  int32_t unread = link->inbox_end - link->inbox_start;
  return unread >= static_cast<int32_t>(kFrameLengthSize) &&
         load_u16(link->inbox + link->inbox_start) <= unread;
}

// Runs `wait` (a flush, a long request's frames, a reply) as a stretch that
// a cancel from another thread cuts (link/cancellable_wait.h); a cancel
// raised before it ends it too, since with requests in flight the link
// cannot be kept in step without waiting. LINK_CANCELLED then (the caller
// drops the link), else what `wait` returned.
template <typename Wait>
LinkStatus cancellable(Pipeline* pipeline, Wait wait) {
  CancellableWait stretch(pipeline->cancel, pipeline->link);
  if (stretch.cancelled_before_start()) return LinkStatus::LINK_CANCELLED;
  LinkStatus status = wait();
  return stretch.end() ? LinkStatus::LINK_CANCELLED : status;
}

// The link failed with `status`: the stream can no longer be followed.
LinkStatus fail(Pipeline* pipeline, LinkStatus status) {
  drop_link(pipeline->link);
  return status;
}

void log_reply(const Pipeline& pipeline, const SentAhead& request, int32_t received,
               const char* status, LinkStatus link_status) {
  const ExchangeLog* log = pipeline.link->log;
  if (log == nullptr) return;
  write_exchange_line(log, request.command, request.request_bytes, received, status, link_status,
                      request.started_ns);
}

}  // namespace

bool start_pipeline(Pipeline* pipeline, Link* link, uint32_t wait_seconds, CallSignal* cancel) {
  pipeline->link = link;
  pipeline->wait_seconds = wait_seconds;
  pipeline->cancel = cancel;
  pipeline->window = 1;
  pipeline->in_flight = pipeline->queued = pipeline->oldest = 0;
  if (link == nullptr || link->lost) return true;  // every send then fails as on a lost link
  if (link->outbox == nullptr) {
    link->outbox = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, kOutboxSize));
    if (link->outbox == nullptr) return false;
  }
  if (link->inbox == nullptr) {
    link->inbox = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, kInboxStart));
    if (link->inbox == nullptr) return false;
    link->inbox_capacity = kInboxStart;
  }
  link->outbox_length = 0;
  return true;
}

bool pipeline_has_room(const Pipeline& pipeline, int32_t length) {
  return pipeline.in_flight < pipeline.window && (length <= kMaxChunk || pipeline.in_flight == 0);
}

LinkStatus pipeline_send(Pipeline* pipeline, uint8_t command, const uint8_t* payload,
                         int32_t length) {
  Link* link = pipeline->link;
  if (link == nullptr || link->lost || !pipeline_has_room(*pipeline, length)) {
    return fail(pipeline, LinkStatus::LINK_FAILED);
  }
  if (length < 0) length = 0;
  SentAhead& entry = pipeline->sent[(pipeline->oldest + pipeline->in_flight) % kMaxPipelineWindow];
  entry = SentAhead{command, length, link->log != nullptr ? log_clock_ns() : 0};
  const char text[2] = {static_cast<char>(command), '\0'};
  if (length > kMaxChunk) {
    // Nothing is in flight: the frames may wait for their acknowledgements.
    LinkStatus status = cancellable(pipeline, [&] {
      return send_request(link, text, payload, length, pipeline->wait_seconds);
    });
    if (status != LinkStatus::LINK_OK) return fail(pipeline, status);
    ++pipeline->in_flight;
    return LinkStatus::LINK_OK;
  }
  if (link->outbox_length + kRequestFrameOverhead + length > kOutboxSize) {
    LinkStatus status = cancellable(pipeline, [&] { return flush(pipeline); });
    if (status != LinkStatus::LINK_OK) return fail(pipeline, status);
  }
  uint8_t* frame = link->outbox + link->outbox_length;
  size_t offset = put_frame_header(frame, text, 1, static_cast<uint16_t>(length), false);
  if (length > 0) memcpy(frame + offset, payload, static_cast<size_t>(length));
  link->outbox_length += static_cast<int32_t>(offset) + length;
  ++pipeline->queued;
  ++pipeline->in_flight;
  if (pipeline->queued >= kFlushBatch) {
    LinkStatus status = cancellable(pipeline, [&] { return flush(pipeline); });
    if (status != LinkStatus::LINK_OK) return fail(pipeline, status);
  }
  return LinkStatus::LINK_OK;
}

Exchanged pipeline_receive(Pipeline* pipeline, const ReplyArea& reply) {
  Exchanged result{LinkStatus::LINK_FAILED, false};
  Link* link = pipeline->link;
  if (link == nullptr || link->lost || pipeline->in_flight == 0) {
    fail(pipeline, LinkStatus::LINK_FAILED);
    return result;
  }
  const SentAhead& request = pipeline->sent[pipeline->oldest];
  result.sent = true;
  result.link_status = cancellable(pipeline, [&] {
    // Queued requests go before any wait for the server: it cannot answer
    // what it has not been sent.
    LinkStatus status = LinkStatus::LINK_OK;
    if (pipeline->queued > 0 && !inbox_holds_frame(link)) status = flush(pipeline);
    if (status != LinkStatus::LINK_OK) return status;
    // A reply of more frames is taken only when nothing else is in flight.
    Received received =
        receive_reply(link, reply, pipeline->wait_seconds, Reading::kAhead,
                      pipeline->in_flight > 1 ? FrameRule::kOneFrame : FrameRule::kAcknowledged);
    result.payload = received.payload;
    result.received = received.bytes;
    result.frames = received.frames;
    return received.status;
  });
  if (result.link_status == LinkStatus::LINK_CANCELLED) result.cancel = Exchanged::Cancel::kInWait;
  if (result.link_status != LinkStatus::LINK_OK) {
    log_reply(*pipeline, request, 0, nullptr, result.link_status);
    fail(pipeline, result.link_status);
    result.payload = ReplyPayload::kNone;
    result.received = 0;
    return result;
  }
  log_reply(*pipeline, request, result.received, reply.status, LinkStatus::LINK_OK);
  pipeline->oldest = (pipeline->oldest + 1) % kMaxPipelineWindow;
  --pipeline->in_flight;
  return result;
}

}  // namespace q4
