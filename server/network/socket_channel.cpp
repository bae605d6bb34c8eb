#include "server/network/socket_channel.h"

#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace q4::lite {

namespace {
// What one recv may take, and what replies may wait at most.
constexpr size_t kInputBuffer = 65536;
constexpr size_t kHeldReplies = 65536;
}  // namespace

bool SocketChannel::read_exact(uint8_t* to, size_t n) {
  while (n > 0) {
    if (in_start_ < in_end_) {
      const size_t take = std::min(n, in_end_ - in_start_);
      std::memcpy(to, in_.data() + in_start_, take);
      in_start_ += take;
      to += take;
      n -= take;
      continue;
    }
    // Nothing buffered: what was held back goes before the wait, so that a
    // client waiting for its replies gets them.
    if (!flush()) return false;
    if (timeout_ms_ >= 0 && !session_holds_bytes()) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, timeout_ms_);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;  // idle too long, or poll failed
    }
    if (in_.empty()) in_.resize(kInputBuffer);
    const ssize_t got = receive_some(in_.data(), in_.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    in_start_ = 0;
    in_end_ = static_cast<size_t>(got);
  }
  return true;
}

bool SocketChannel::holds(size_t n) const {
  return in_start_ < in_end_ && out_.size() + n <= kHeldReplies;
}

ssize_t SocketChannel::receive_some(uint8_t* to, size_t n) {
  if (tls_ == nullptr) return recv(fd_, to, n, 0);
  ERR_clear_error();
  const int got = SSL_read(tls_, to, static_cast<int>(n));
  if (got > 0) return got;
  const int error = SSL_get_error(tls_, got);
  ERR_clear_error();
  // A signal (SIGHUP's reload) cut the wait: the session asks to be called
  // again, as recv's EINTR does.
  errno = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? EINTR : 0;
  // Otherwise the client's close_notify, or any failure: the conversation ends.
  return errno == EINTR ? -1 : 0;
}

bool SocketChannel::send_now(const uint8_t* from, size_t n) {
  if (tls_ != nullptr) {
    // A blocking socket without partial writes: SSL_write takes all or
    // fails, or asks to be called again with the same bytes after a signal.
    for (;;) {
      if (n == 0) return true;
      ERR_clear_error();
      const int sent = SSL_write(tls_, from, static_cast<int>(n));
      const int error = sent > 0 ? SSL_ERROR_NONE : SSL_get_error(tls_, sent);
      ERR_clear_error();
      // The session writes through a buffer (tls_context.cpp): out it goes.
      if (sent > 0) return BIO_flush(SSL_get_wbio(tls_)) == 1;
      if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) return false;
    }
  }
  while (n > 0) {
    const ssize_t sent = send(fd_, from, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    from += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool SocketChannel::flush() {
  if (out_.empty()) return true;
  const bool sent = send_now(out_.data(), out_.size());
  out_.clear();
  return sent;
}

bool SocketChannel::write_all(const uint8_t* from, size_t n) {
  if (holds(n)) {
    out_.insert(out_.end(), from, from + n);
    return true;
  }
  return flush() && send_now(from, n);
}

bool SocketChannel::write_two(const uint8_t* a, size_t a_length, const uint8_t* b,
                              size_t b_length) {
  if (holds(a_length + b_length)) {
    out_.insert(out_.end(), a, a + a_length);
    out_.insert(out_.end(), b, b + b_length);
    return true;
  }
  if (!flush()) return false;
  if (tls_ != nullptr) {
    // One record for the header and its chunk rather than two.
    out_.insert(out_.end(), a, a + a_length);
    out_.insert(out_.end(), b, b + b_length);
    return flush();
  }
  iovec parts[2] = {{const_cast<uint8_t*>(a), a_length}, {const_cast<uint8_t*>(b), b_length}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  const ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL);
  if (sent < 0 && errno != EINTR) return false;
  // A short send (rare on a blocking socket) finishes with plain writes.
  size_t done = sent < 0 ? 0 : static_cast<size_t>(sent);
  if (done < a_length) {
    if (!send_now(a + done, a_length - done)) return false;
    done = a_length;
  }
  return send_now(b + (done - a_length), b_length - (done - a_length));
}

}  // namespace q4::lite
