// A connection's link to its server: the socket, the area every frame of the
// connection is assembled in, and whether the link was lost. Callers ask for
// whole exchanges (one request, one reply) and never touch the descriptor;
// a failed exchange drops the link in one place, here, and every later
// exchange on it fails at once. Posting diagnostics is the callers' business.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/call_state.h"
#include "link/reply_assembler.h"
#include "link/tls_session.h"
#include "link/transport.h"
#include "protocol/wire.h"

namespace q4 {

struct ExchangeLog;

// "Socket" value of a link whose descriptor is gone.
constexpr int kInvalidSocket = -1;

struct Link {
  int socket;
  // The TLS session over the socket (link/tls_session.h), or null for plain
  // TCP; freed with the descriptor.
  ssl_st* tls;
  // The descriptor was closed after a failure. The number may already belong
  // to another file of the process, so it is never used or closed again.
  int32_t lost;
  // Allocated by open_link or link_on_socket (close_link frees it), rather
  // than placed in storage of the caller's.
  int32_t owned;
  const ExchangeLog* log;  // the connection's log, or null: every exchange is logged there
  // Requests sent ahead of their replies (link/pipeline.h): the frames
  // queued for the server (`outbox`, outbox_length bytes used), and bytes of
  // replies read before they were asked for (`inbox`, unread from
  // inbox_start to inbox_end; every receive takes them first). Both null
  // until a pipeline first runs on the link; freed by close_link.
  uint8_t* outbox;
  int32_t outbox_length;
  uint8_t* inbox;
  int32_t inbox_capacity;
  int32_t inbox_start;
  int32_t inbox_end;
  // Frames are built and received here. One area serves the connection and
  // all its statements: the connection's call lock lets one exchange run at
  // a time.
  uint8_t frame_buffer[kFrameBufferSize];
};

// Opens a link to `host` at `port` (network byte order), waiting at most
// `wait_seconds` (0: 32767) for the connection. Null on failure, with
// *failure (and for kSocket *error) saying why. The socket is non-blocking,
// close-on-exec, with TCP keepalive probes, and holds one use of the socket
// layer until close_link. The record is placed in `storage` when given (a
// connection record's link_area, so that a connect allocates no 20 KB
// block), else allocated.
Link* open_link(const char* host, uint16_t port, uint32_t wait_seconds, const ExchangeLog* log,
                OpenFailure* failure, int* error, void* storage = nullptr);

// The channel a link's transfers run on: its socket and TLS session.
inline Channel link_channel(const Link* link) {
  return Channel(link->socket, link->tls);
}

// Encrypts a link just opened: the TLS handshake of `request`, waiting at
// most `wait_milliseconds`. On failure the link is dropped (its descriptor
// closed; close_link still frees the record) and the result says why.
TlsStart start_tls(Link* link, const TlsRequest& request, int wait_milliseconds);

// After the logon a plain link's transfers block in the kernel (no poll()
// before each); a TLS link keeps its non-blocking socket, since a session may
// have to write while reading.
void use_session_transfers(Link* link);

#ifdef Q4_TEST_SEAMS
// Test builds only: wraps a descriptor connected by other means (a socket
// pair) as a link; null when the record cannot be allocated (the descriptor
// stays the caller's then).
Link* link_on_socket(int socket, const ExchangeLog* log);
#endif

// Closes the descriptor (unless a failure already did), ends the link's use
// of the socket layer and frees the record unless it was the caller's
// storage. Null is ignored.
void close_link(Link* link);

// How an exchange went.
struct Exchanged {
  // LINK_OK when a whole reply arrived. LINK_CANCELLED when a cancel from
  // another thread ended it (see `cancel`). Otherwise the failure (a broken
  // stream is LINK_FAILED, a wait past the limit LINK_TIMEOUT), and the link
  // has been dropped.
  LinkStatus link_status;
  // The request went out whole; false also when the link was already lost.
  bool sent;
  // With LINK_OK: what the reply brought (link/reply_assembler.h), and with
  // ReplyPayload::kBytes its byte count in `received` (0 otherwise).
  ReplyPayload payload = ReplyPayload::kNone;
  int32_t received = 0;
  // With LINK_OK: the frames the reply came in.
  int32_t frames = 0;
  // With LINK_CANCELLED: kBeforeSend, the request was already raised as the
  // exchange began (nothing sent, the link untouched), or kInWait, the
  // cancel cut the wait (the link has been dropped, like after a failure).
  enum class Cancel : uint8_t { kNone, kBeforeSend, kInWait };
  Cancel cancel = Cancel::kNone;
  bool ok() const { return link_status == LinkStatus::LINK_OK; }
};

// One exchange: sends `command` (NUL-terminated; the command codes are one
// character) with `length` payload bytes, receives the reply into `reply`,
// and writes the exchange's line to the log. Each wait is unbounded when
// `wait_seconds` is 0, else limited to it. A null link fails like a lost one.
// `cancel`, when given, is the signal of the statement call the exchange
// works for: a cancel from another thread ends the exchange (before it
// starts, or by cutting its wait; link/cancellable_wait.h).
Exchanged exchange(Link* link, const char* command, const uint8_t* payload, int32_t length,
                   const ReplyArea& reply, uint32_t wait_seconds, CallSignal* cancel = nullptr);

// The same for a one-byte command code.
inline Exchanged exchange(Link* link, uint8_t command, const uint8_t* payload, int32_t length,
                          const ReplyArea& reply, uint32_t wait_seconds,
                          CallSignal* cancel = nullptr) {
  const char text[2] = {static_cast<char>(command), '\0'};
  return exchange(link, text, payload, length, reply, wait_seconds, cancel);
}

// Closes the descriptor after a failure, once, and ends its use of the
// socket layer; the record stays until close_link.
void drop_link(Link* link);

#ifdef Q4_TEST_SEAMS
// Test builds only: the links holding a use of the socket layer. POSIX
// sockets need no start-up or clean-up, so only the tests count them, to see
// each opened link balanced by exactly one clean-up.
int socket_layer_users();
#endif

}  // namespace q4
