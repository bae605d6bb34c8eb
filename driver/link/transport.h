// TCP transport: opening a socket, and the transfer operations the framing
// layer is built on, over plain TCP or a TLS session (link/tls_session.h).
#pragma once

#include <cstdint>

struct ssl_st;  // OpenSSL's SSL: a TLS session over a socket (link/tls_session.h)

namespace q4 {

// The byte stream the transfers move bytes on: a connected socket, and the
// TLS session that runs over it when the link is encrypted (null: plain TCP).
// The framing and the pipeline pass it along and never look at the session;
// only the transfers below tell the two apart.
struct Channel {
  int socket;
  ssl_st* tls = nullptr;
  // Implicit: a plain socket is a channel (the tests transfer on socket pairs).
  Channel(int fd) : socket(fd) {}
  Channel(int fd, ssl_st* session) : socket(fd), tls(session) {}
};

// Link status stored by every transfer. The numbers are the protocol's own
// (the logon maps them to its diagnostics); LINK_CANCELLED is this driver's.
enum class LinkStatus : uint32_t {
  LINK_OK = 0,
  LINK_TIMEOUT = 1,  // a timed wait ended without the socket becoming ready
  LINK_CLOSED = 2,   // peer closed: recv 0, ECONNRESET, EPIPE, EHOSTDOWN
  LINK_NETWORK = 3,  // ENETDOWN, ENETUNREACH, ENETRESET
  // A cancel from another thread ended the exchange (link/cancellable_wait.h).
  LINK_CANCELLED = 4,
  LINK_FAILED = 99,  // anything else, or a failed poll
};

// Why no link was opened.
enum class OpenFailure {
  kNone,
  kMemory,   // the link's record could not be allocated (open_link only)
  kResolve,  // the host name did not resolve
  kSocket,   // no descriptor (error: the errno)
  kConnect,  // refused, unreachable, or not connected within the limit
};

// Opens a TCP socket to `host` at `port` (network byte order), waiting at
// most `wait_seconds` (0: 32767) for the connection; only the first address
// the name resolves to is tried. Returns the connected, non-blocking,
// close-on-exec descriptor with TCP keepalive probes on (*failure kNone), or
// -1 with *failure kResolve, kSocket (*error holds the errno) or kConnect.
int open_socket(const char* host, uint16_t port, uint32_t wait_seconds, OpenFailure* failure,
                int* error);

// Transfers return the number of bytes not transferred (0 on success) and
// store a LinkStatus; a count of 0 or less returns at once with LINK_OK.
// A negative socket fails at once with LINK_FAILED. Over TLS they move
// application bytes through the session, whose socket stays non-blocking.
int32_t recv_exact(void* buffer, Channel channel, int32_t count, LinkStatus* status);
int32_t send_exact(const void* buffer, Channel channel, int32_t count, LinkStatus* status);
int32_t recv_exact_timed(void* buffer, Channel channel, int32_t count, uint32_t wait_seconds,
                         LinkStatus* status);
int32_t send_exact_timed(const void* buffer, Channel channel, int32_t count, uint32_t wait_seconds,
                         LinkStatus* status);

// The two transfers of requests sent ahead of their replies (link/pipeline.h).
// Each waits without limit when `wait_seconds` is 0, else at most that long
// at a time, and never lets the socket block otherwise.
//
// Sends `count` bytes as send_exact does, but whenever the socket cannot take
// more it also reads what the peer has sent into `inbox` (at most `room`
// bytes, counted in *received), so that a peer which answers earlier requests
// before it reads further ones is never left waiting on this side while this
// side waits on it. Returns the bytes not sent: 0, or with LINK_OK more when
// `room` ran out while the socket was still full (the caller makes room and
// calls again), or with the failed transfer's LinkStatus.
int32_t send_exact_receiving(const void* buffer, Channel channel, int32_t count,
                             uint32_t wait_seconds, uint8_t* inbox, int32_t room, int32_t* received,
                             LinkStatus* status);

// Receives what the peer has sent, 1 to `capacity` bytes, waiting for the
// first. Returns the count, or 0 with the failure in *status.
int32_t receive_available(void* buffer, Channel channel, int32_t capacity, uint32_t wait_seconds,
                          LinkStatus* status);

// The wait limit in seconds that a limit of `wait_seconds` stands for: 0 means
// 32767 seconds, for the connect wait and for every timed transfer.
uint32_t effective_wait_seconds(uint32_t wait_seconds);

// The LinkStatus for a failed transfer's errno: ECONNRESET, EPIPE and
// EHOSTDOWN are LINK_CLOSED; ENETDOWN, ENETUNREACH and ENETRESET LINK_NETWORK;
// anything else LINK_FAILED.
LinkStatus link_status_for_errno(int error);

// How a wait for a socket ended (wait_for_socket).
enum class SocketWait { kReady, kTimeout, kFailed };

// Waits until `socket` shows `events` (or an error or hang-up, which the next
// transfer reports with its own errno), for `milliseconds` or without limit
// when negative. A signal does not shorten the wait.
SocketWait wait_for_socket(int socket, short events, int milliseconds);

// The limit of the timed forms and of the connect wait, in milliseconds.
int limit_milliseconds(uint32_t wait_seconds);

// Shuts both directions of `socket` down, from any thread: a receive or send
// blocked on it, or a poll() waiting for it, returns at once (the receive
// with an orderly close, the send with EPIPE), and so does every later
// transfer. The descriptor stays open; closing it is its owner's business.
void cut_socket(int socket);

// Switches `socket` between blocking and non-blocking mode; false on failure.
// open_socket returns a non-blocking socket; the logon makes it blocking.
bool set_blocking(int socket, bool blocking);

}  // namespace q4
