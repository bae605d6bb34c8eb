#include "link/link.h"

#include <unistd.h>

#include <atomic>
#include <new>

#include "core/memory.h"
#include "link/cancellable_wait.h"
#include "link/exchange_log.h"
#include "link/framing.h"

namespace q4 {

namespace {

#ifdef Q4_TEST_SEAMS
// Links open in this process (one use of the socket layer each).
std::atomic<int> g_users{0};
void count_socket_layer_use(int change) {
  g_users.fetch_add(change);
}
#else
void count_socket_layer_use(int) {}
#endif

// A new link's state around its socket: no session, an empty pipeline (its
// buffers unallocated), not lost. The frame buffer needs no clearing.
void start_link(Link* link, int socket, bool owned, const ExchangeLog* log) {
  link->owned = owned ? 1 : 0;
  link->socket = socket;
  link->tls = nullptr;
  link->outbox = nullptr;
  link->outbox_length = 0;
  link->inbox = nullptr;
  link->inbox_capacity = 0;
  link->inbox_start = 0;
  link->inbox_end = 0;
  link->lost = 0;
  link->log = log;
  count_socket_layer_use(1);
}

}  // namespace

#ifdef Q4_TEST_SEAMS
int socket_layer_users() {
  return g_users.load();
}
#endif

Link* open_link(const char* host, uint16_t port, uint32_t wait_seconds, const ExchangeLog* log,
                OpenFailure* failure, int* error, void* storage) {
  *error = 0;
  Link* link = storage != nullptr ? new (storage) Link
                                  : static_cast<Link*>(drv_alloc(nullptr, nullptr, sizeof(Link)));
  if (link == nullptr) {
    *failure = OpenFailure::kMemory;
    return nullptr;
  }
  // Storage of the caller's holds what an earlier link left there.
  int socket = open_socket(host, port, wait_seconds, failure, error);
  if (socket < 0) {
    if (storage == nullptr) drv_free(link);
    return nullptr;
  }
  start_link(link, socket, storage == nullptr, log);
  *failure = OpenFailure::kNone;
  return link;
}

#ifdef Q4_TEST_SEAMS
Link* link_on_socket(int socket, const ExchangeLog* log) {
  auto* link = static_cast<Link*>(drv_alloc(nullptr, nullptr, sizeof(Link)));
  if (link == nullptr) return nullptr;
  start_link(link, socket, /*owned=*/true, log);
  return link;
}
#endif

TlsStart start_tls(Link* link, const TlsRequest& request, int wait_milliseconds) {
  TlsStart start = tls_handshake(link->socket, request, wait_milliseconds);
  if (start.session == nullptr) {
    drop_link(link);
  } else {
    link->tls = start.session;
  }
  return start;
}

void use_session_transfers(Link* link) {
  if (link->tls == nullptr) set_blocking(link->socket, true);
}

void drop_link(Link* link) {
  if (link == nullptr || link->lost) return;
  // A broken stream is left without a close_notify.
  tls_end(link->tls, false);
  link->tls = nullptr;
  close(link->socket);
  count_socket_layer_use(-1);
  link->lost = 1;
}

void close_link(Link* link) {
  if (link == nullptr) return;
  if (!link->lost && link->tls != nullptr) {
    // A link in step ends its session properly: the server reads the end of
    // the session rather than a cut stream.
    tls_end(link->tls, true);
    link->tls = nullptr;
  }
  drop_link(link);
  drv_free(link->outbox);
  drv_free(link->inbox);
  if (link->owned) drv_free(link);
}

Exchanged exchange(Link* link, const char* command, const uint8_t* payload, int32_t length,
                   const ReplyArea& reply, uint32_t wait_seconds, CallSignal* cancel) {
  Exchanged result{LinkStatus::LINK_OK, false};
  CancellableWait wait(cancel, link);
  if (wait.cancelled_before_start()) {
    // Nothing went out: the link stays in step, and there is nothing to log.
    result.link_status = LinkStatus::LINK_CANCELLED;
    result.cancel = Exchanged::Cancel::kBeforeSend;
    return result;
  }
  const ExchangeLog* log = link != nullptr ? link->log : nullptr;
  LoggedExchange logged(log, static_cast<uint8_t>(command[0]), length);
  result.link_status = send_request(link, command, payload, length, wait_seconds);
  if (result.link_status == LinkStatus::LINK_OK) {
    result.sent = true;
    Received received = receive_reply(link, reply, wait_seconds);
    result.link_status = received.status;
    result.payload = received.payload;
    result.received = received.bytes;
    result.frames = received.frames;
  }
  if (wait.end()) {
    // The cancel shut the socket down, whatever the transfers made of it;
    // even a reply that arrived whole cannot be told from a cut one.
    result.link_status = LinkStatus::LINK_CANCELLED;
    result.cancel = Exchanged::Cancel::kInWait;
  }
  if (!result.ok()) {
    // Whatever broke, the stream can no longer be trusted: a broken frame is
    // a broken link, never resynchronised, and a late reply would be taken
    // for the answer to the next request.
    logged.done(0, nullptr, result.link_status);
    drop_link(link);
    result.payload = ReplyPayload::kNone;
    result.received = 0;
    return result;
  }
  logged.done(result.received, reply.status, LinkStatus::LINK_OK);
  return result;
}

}  // namespace q4
