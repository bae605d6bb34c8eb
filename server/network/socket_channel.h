// The channel of a TCP connection.
//
// Reads are buffered: one recv takes whatever the client has sent, so that
// requests which arrive together (a driver sending a parameter array's rows
// ahead of their replies) cost one system call between them, not two each.
// Replies written while a further request already waits in that buffer are
// held back and go out together, before the channel next waits for the
// client; every other write goes out at once, as before.
#pragma once

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
  SocketChannel(int fd, int idle_timeout_ms) : fd_(fd), timeout_ms_(idle_timeout_ms) {}

  bool read_exact(uint8_t* to, size_t n) override;
  bool write_all(const uint8_t* from, size_t n) override;
  bool write_two(const uint8_t* a, size_t a_length, const uint8_t* b, size_t b_length) override;
  bool flush() override;

 private:
  // Whether a write may wait in the outbox: a request is already buffered
  // (so the channel reads, and flushes, again soon) and the bytes fit.
  bool holds(size_t n) const;
  bool send_now(const uint8_t* from, size_t n);

  int fd_;
  int timeout_ms_;
  std::vector<uint8_t> in_;  // received, not yet read: [in_start_, in_end_)
  size_t in_start_ = 0;
  size_t in_end_ = 0;
  std::vector<uint8_t> out_;  // replies held back
};

}  // namespace q4::lite
