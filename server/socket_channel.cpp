#include "server/socket_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

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

namespace q4::lite {

bool SocketChannel::write_two(const uint8_t* a, size_t a_length, const uint8_t* b,
                              size_t b_length) {
  iovec parts[2] = {{const_cast<uint8_t*>(a), a_length}, {const_cast<uint8_t*>(b), b_length}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  const ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL);
  if (sent < 0 && errno != EINTR) return false;
  // A short send (rare on a blocking socket) finishes with plain writes.
  size_t done = sent < 0 ? 0 : static_cast<size_t>(sent);
  if (done < a_length) {
    if (!write_all(a + done, a_length - done)) return false;
    done = a_length;
  }
  return write_all(b + (done - a_length), b_length - (done - a_length));
}

}  // namespace q4::lite
