#include "server/socket_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace q4::lite {

bool SocketChannel::read_exact(uint8_t* to, size_t n) {
  while (n > 0) {
    if (timeout_ms_ >= 0) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, timeout_ms_);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;  // idle too long, or poll failed
    }
    const ssize_t got = recv(fd_, to, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool SocketChannel::write_all(const uint8_t* from, size_t n) {
  while (n > 0) {
    const ssize_t sent = send(fd_, from, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    from += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace q4::lite
