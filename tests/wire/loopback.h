// Loopback fixtures for link tests: driver-side connection records, a port
// that refuses connections and a listener that never answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/records.h"

namespace q4::wire {

// A heap connection record; deleting it closes its link (close_link) and frees it.
struct ConnectionDeleter {
  void operator()(Connection* conn) const;
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

// A zeroed connection record with server, port and login timeout set.
ConnectionPtr new_connection(const char* host, uint16_t port, uint32_t login_timeout = 5);

// A record connected with connect_server to host:port, its socket switched to
// blocking mode as after a logon unless `blocking` is false; conn->socket is
// kInvalidSocket when the connect failed.
ConnectionPtr connect_link(uint16_t port, const char* host = "127.0.0.1", bool blocking = true);

// A loopback port bound without listening while the object lives: a connect
// to it is refused, and no other program can take the port.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A listener that never accepts, its queue filled until a connect stays
// unanswered: a further connect waits until its own time limit. problem() is
// "" when that was achieved, else why not (tests skip with it).
class FullBacklogListener {
 public:
  FullBacklogListener();
  ~FullBacklogListener();
  uint16_t port() const { return port_; }
  const std::string& problem() const { return problem_; }

 private:
  static constexpr int kMaxFillers = 16;
  int listener_ = -1;
  int fillers_[kMaxFillers];
  int filler_count_ = 0;
  uint16_t port_ = 0;
  std::string problem_ = "the kernel answered every connect to a listener that never accepts";
};

}  // namespace q4::wire
