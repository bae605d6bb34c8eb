// The channel of a TCP connection.
#pragma once

#include "server/link.h"

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

 private:
  int fd_;
  int timeout_ms_;
};

}  // namespace q4::lite
