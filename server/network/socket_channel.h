// The channel of a TCP connection.
//
// Reads are buffered: one recv takes whatever the client has sent, so that
// requests which arrive together (a driver sending a parameter array's rows
// ahead of their replies) cost one system call between them, not two each.
// Replies written while a further request already waits in that buffer are
// held back and go out together, before the channel next waits for the
// client; every other write goes out at once, as before.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/network/link.h"

namespace q4::lite {

class SocketChannel : public Channel {
 public:
  // Takes a connected socket (not owned: the server closes it).
  // `idle_timeout_ms` bounds every wait for the client; -1 waits forever
  // (shutdown() of the socket still ends the wait).
  // `tls`, when given, is the session the socket carries (not owned): every
  // byte then goes through it, and nothing else changes.
  SocketChannel(int fd, int idle_timeout_ms, SSL* tls = nullptr)
      : fd_(fd), timeout_ms_(idle_timeout_ms), tls_(tls) {}

  bool read_exact(uint8_t* to, size_t n) override;
  bool write_all(const uint8_t* from, size_t n) override;
  bool write_two(const uint8_t* a, size_t a_length, const uint8_t* b, size_t b_length) override;
  bool flush() override;

 private:
  // Whether a write may wait in the outbox: a request is already buffered
  // (so the channel reads, and flushes, again soon) and the bytes fit.
  bool holds(size_t n) const;
  bool send_now(const uint8_t* from, size_t n);
  // One receive into `to` (at most n bytes): the count, 0 at the end of the
  // stream, -1 on failure (errno EINTR: try again).
  ssize_t receive_some(uint8_t* to, size_t n);
  // Whether a received byte already waits inside the TLS session, where
  // poll() cannot see it.
  bool session_holds_bytes() const { return tls_ != nullptr && SSL_pending(tls_) > 0; }

  int fd_;
  int timeout_ms_;
  SSL* tls_;
  std::vector<uint8_t> in_;  // received, not yet read: [in_start_, in_end_)
  size_t in_start_ = 0;
  size_t in_end_ = 0;
  std::vector<uint8_t> out_;  // replies held back
};

}  // namespace q4::lite
