// Loopback helpers for link tests: connected driver records and ports that
// refuse or never answer a connect.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/records.h"

namespace q4::wire {

struct ConnectionDeleter {
  void operator()(Connection* conn) const;  // close_link, then delete
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

// A zeroed record for 127.0.0.1:port with the login timeout set, not connected.
ConnectionPtr new_connection(uint16_t port, uint32_t login_timeout = 5);
// The same connected with connect_server (kInvalidSocket when that failed),
// its socket blocking as after a logon unless `blocking` is false.
ConnectionPtr connect_link(uint16_t port, bool blocking = true);

// A loopback port that refuses connects (bound, not listening) or, when
// `unanswered`, a listener with a full queue: a connect waits out its time
// limit. problem() is "" when that worked, else why (tests skip with it).
class DeadPort {
 public:
  explicit DeadPort(bool unanswered = false);
  ~DeadPort();
  uint16_t port() const { return port_; }
  const std::string& problem() const { return problem_; }

 private:
  std::vector<int> fds_;
  uint16_t port_ = 0;
  std::string problem_;
};

}  // namespace q4::wire
