#include "link/transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "link/tls_session.h"

namespace q4 {

namespace {

// Milliseconds left until `deadline` on the monotonic clock, at least 0.
int milliseconds_left(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t left = (deadline.tv_sec - now.tv_sec) * 1000 + (deadline.tv_nsec - now.tv_nsec) / 1000000;
  return left < 0 ? 0 : static_cast<int>(left);
}

timespec deadline_after(int milliseconds) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000;
  }
  return deadline;
}

// A server that vanishes without closing (a host gone, a cable pulled) would
// otherwise leave a wait without a time limit hanging for good: keepalive
// probes find it out after about two minutes of silence. Best effort; a
// socket that refuses the options works as before.
void enable_keepalive(int fd) {
  int on = 1;
  int idle = 60;      // seconds of silence before the first probe
  int interval = 10;  // seconds between probes
  int count = 6;      // unanswered probes before the link counts as lost
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// One transfer loop for both directions. `timed_ms` < 0 selects the plain
// form: a socket that would block is waited for without limit. The plain
// forms wait in poll() rather than spinning on a yield; on the blocking
// sockets they are used on the wait never happens, and on a non-blocking one
// poll() waits for the same event a spin would, without burning the processor.
// Nor is the processor yielded after a partial transfer: the next call simply
// waits in the kernel for the rest.
template <typename Transfer>
int32_t transfer_exact(int socket, int32_t count, short events, int timed_ms, LinkStatus* status,
                       Transfer transfer) {
  *status = LinkStatus::LINK_OK;
  if (count <= 0) return count;
  if (socket < 0) {
    *status = LinkStatus::LINK_FAILED;
    return count;
  }
  int32_t remaining = count;
  while (remaining > 0) {
    ssize_t done = transfer(count - remaining, remaining);
    if (done > 0) {
      remaining -= static_cast<int32_t>(done);
      continue;
    }
    if (done == 0) {
      // A receive of nothing is the peer's orderly close; a send of nothing
      // is only a partial transfer.
      if (events == POLLIN) {
        *status = LinkStatus::LINK_CLOSED;
        return remaining;
      }
      continue;
    }
    int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK && error != EAGAIN) {
      *status = link_status_for_errno(error);
      return remaining;
    }
    SocketWait wait = wait_for_socket(socket, events, timed_ms);
    if (wait == SocketWait::kTimeout) {
      *status = LinkStatus::LINK_TIMEOUT;
      return remaining;
    }
    if (wait == SocketWait::kFailed) {
      *status = LinkStatus::LINK_FAILED;
      return remaining;
    }
  }
  return 0;
}

// The timed forms never let a transfer block: on a blocking socket (which
// the logon leaves) recv and send would otherwise wait past the limit.
int no_wait_flag(int timed_ms) {
  return timed_ms < 0 ? 0 : MSG_DONTWAIT;
}

int32_t receive_loop(void* buffer, int socket, int32_t count, int timed_ms, LinkStatus* status) {
  char* bytes = static_cast<char*>(buffer);
  int flags = no_wait_flag(timed_ms);
  return transfer_exact(socket, count, POLLIN, timed_ms, status, [&](int32_t at, int32_t n) {
    return recv(socket, bytes + at, static_cast<size_t>(n), flags);
  });
}

int32_t send_loop(const void* buffer, int socket, int32_t count, int timed_ms, LinkStatus* status) {
  const char* bytes = static_cast<const char*>(buffer);
  // MSG_NOSIGNAL: a peer that has gone away yields EPIPE, never a SIGPIPE
  // that would end the application.
  int flags = MSG_NOSIGNAL | no_wait_flag(timed_ms);
  return transfer_exact(socket, count, POLLOUT, timed_ms, status, [&](int32_t at, int32_t n) {
    return send(socket, bytes + at, static_cast<size_t>(n), flags);
  });
}

// Frees the address list on every way out of open_socket.
struct AddressList {
  addrinfo* head = nullptr;
  ~AddressList() {
    if (head != nullptr) freeaddrinfo(head);
  }
};

}  // namespace

SocketWait wait_for_socket(int socket, short events, int milliseconds) {
  timespec deadline = deadline_after(milliseconds < 0 ? 0 : milliseconds);
  pollfd entry{socket, events, 0};
  for (;;) {
    int timeout = milliseconds < 0 ? -1 : milliseconds_left(deadline);
    int ready = poll(&entry, 1, timeout);
    if (ready > 0) return (entry.revents & POLLNVAL) ? SocketWait::kFailed : SocketWait::kReady;
    if (ready == 0) return SocketWait::kTimeout;
    if (errno != EINTR) return SocketWait::kFailed;
  }
}

// Limits above what poll() can express (about 24 days) wait that long.
int limit_milliseconds(uint32_t wait_seconds) {
  constexpr uint32_t kMaxSeconds = INT32_MAX / 1000;
  uint32_t seconds = effective_wait_seconds(wait_seconds);
  return static_cast<int>(seconds < kMaxSeconds ? seconds : kMaxSeconds) * 1000;
}

uint32_t effective_wait_seconds(uint32_t wait_seconds) {
  return wait_seconds == 0 ? 32767 : wait_seconds;
}

LinkStatus link_status_for_errno(int error) {
  switch (error) {
    case ECONNRESET:
    case EPIPE:
    case EHOSTDOWN:
      return LinkStatus::LINK_CLOSED;
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
      return LinkStatus::LINK_NETWORK;
    default:
      return LinkStatus::LINK_FAILED;
  }
}

int open_socket(const char* host, uint16_t port, uint32_t wait_seconds, OpenFailure* failure,
                int* error) {
  *failure = OpenFailure::kNone;
  *error = 0;
  char service[12];
  snprintf(service, sizeof service, "%i", static_cast<int>(ntohs(port)));

  addrinfo hints{};
  hints.ai_flags = 0;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = 0;
  AddressList addresses;
  if (getaddrinfo(host, service, &hints, &addresses.head) != 0 || addresses.head == nullptr) {
    *failure = OpenFailure::kResolve;
    return -1;
  }

  // Only the first address is tried. The descriptor must not leak into
  // programs the application starts, hence close-on-exec.
  const addrinfo* first = addresses.head;
  int fd = socket(first->ai_family, first->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                  first->ai_protocol);
  if (fd < 0) {
    *failure = OpenFailure::kSocket;
    *error = errno;
    return -1;
  }

  enable_keepalive(fd);
  int result = connect(fd, first->ai_addr, first->ai_addrlen);
  int connect_error = result == 0 ? 0 : errno;
  if (result == 0) return fd;
  *failure = OpenFailure::kConnect;
  // An interrupted connect goes on in the background like one in progress.
  if (connect_error != EINPROGRESS && connect_error != EINTR) {
    close(fd);
    return -1;
  }
  if (wait_for_socket(fd, POLLOUT, limit_milliseconds(wait_seconds)) != SocketWait::kReady) {
    close(fd);
    return -1;
  }
  // A refused connect also shows as writable; only the pending error tells.
  int pending = 0;
  socklen_t pending_size = sizeof pending;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &pending_size) != 0 || pending != 0) {
    close(fd);
    return -1;
  }
  *failure = OpenFailure::kNone;
  return fd;
}

void cut_socket(int socket) {
  shutdown(socket, SHUT_RDWR);
}

bool set_blocking(int socket, bool blocking) {
  int flags = fcntl(socket, F_GETFL);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(socket, F_SETFL, flags) == 0;
}

int32_t send_exact_receiving(const void* buffer, Channel channel, int32_t count,
                             uint32_t wait_seconds, uint8_t* inbox, int32_t room, int32_t* received,
                             LinkStatus* status) {
  if (channel.tls != nullptr) {
    return tls_send_receiving(channel.tls, buffer, count, wait_seconds, inbox, room, received,
                              status);
  }
  const int socket = channel.socket;
  *status = LinkStatus::LINK_OK;
  if (count <= 0) return count;
  if (socket < 0) {
    *status = LinkStatus::LINK_FAILED;
    return count;
  }
  const int timed_ms = wait_seconds == 0 ? -1 : limit_milliseconds(wait_seconds);
  const char* bytes = static_cast<const char*>(buffer);
  int32_t remaining = count;
  while (remaining > 0) {
    ssize_t sent = send(socket, bytes + (count - remaining), static_cast<size_t>(remaining),
                        MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      remaining -= static_cast<int32_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EWOULDBLOCK && errno != EAGAIN) {
      *status = link_status_for_errno(errno);
      return remaining;
    }
    // The socket is full: take in what the peer sent meanwhile, then wait
    // until either direction can move.
    if (room - *received <= 0) return remaining;
    ssize_t got =
        recv(socket, inbox + *received, static_cast<size_t>(room - *received), MSG_DONTWAIT);
    if (got > 0) {
      *received += static_cast<int32_t>(got);
      continue;
    }
    if (got == 0) {
      *status = LinkStatus::LINK_CLOSED;
      return remaining;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK && errno != EAGAIN) {
      *status = link_status_for_errno(errno);
      return remaining;
    }
    SocketWait wait = wait_for_socket(socket, POLLIN | POLLOUT, timed_ms);
    if (wait != SocketWait::kReady) {
      *status = wait == SocketWait::kTimeout ? LinkStatus::LINK_TIMEOUT : LinkStatus::LINK_FAILED;
      return remaining;
    }
  }
  return 0;
}

int32_t receive_available(void* buffer, Channel channel, int32_t capacity, uint32_t wait_seconds,
                          LinkStatus* status) {
  if (channel.tls != nullptr) {
    return tls_receive_available(channel.tls, buffer, capacity, wait_seconds, status);
  }
  const int socket = channel.socket;
  *status = LinkStatus::LINK_OK;
  if (socket < 0 || capacity <= 0) {
    *status = LinkStatus::LINK_FAILED;
    return 0;
  }
  const int timed_ms = wait_seconds == 0 ? -1 : limit_milliseconds(wait_seconds);
  for (;;) {
    ssize_t got = recv(socket, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
    if (got > 0) return static_cast<int32_t>(got);
    if (got == 0) {
      *status = LinkStatus::LINK_CLOSED;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK && errno != EAGAIN) {
      *status = link_status_for_errno(errno);
      return 0;
    }
    SocketWait wait = wait_for_socket(socket, POLLIN, timed_ms);
    if (wait != SocketWait::kReady) {
      *status = wait == SocketWait::kTimeout ? LinkStatus::LINK_TIMEOUT : LinkStatus::LINK_FAILED;
      return 0;
    }
  }
}

// Each form first asks whether the channel is encrypted: one compare on the
// plain path, which stays the loops above.
int32_t recv_exact(void* buffer, Channel channel, int32_t count, LinkStatus* status) {
  if (channel.tls != nullptr) return tls_receive_exact(channel.tls, buffer, count, -1, status);
  return receive_loop(buffer, channel.socket, count, -1, status);
}

int32_t send_exact(const void* buffer, Channel channel, int32_t count, LinkStatus* status) {
  if (channel.tls != nullptr) return tls_send_exact(channel.tls, buffer, count, -1, status);
  return send_loop(buffer, channel.socket, count, -1, status);
}

int32_t recv_exact_timed(void* buffer, Channel channel, int32_t count, uint32_t wait_seconds,
                         LinkStatus* status) {
  const int timed_ms = limit_milliseconds(wait_seconds);
  if (channel.tls != nullptr)
    return tls_receive_exact(channel.tls, buffer, count, timed_ms, status);
  return receive_loop(buffer, channel.socket, count, timed_ms, status);
}

int32_t send_exact_timed(const void* buffer, Channel channel, int32_t count, uint32_t wait_seconds,
                         LinkStatus* status) {
  const int timed_ms = limit_milliseconds(wait_seconds);
  if (channel.tls != nullptr) return tls_send_exact(channel.tls, buffer, count, timed_ms, status);
  return send_loop(buffer, channel.socket, count, timed_ms, status);
}

}  // namespace q4
