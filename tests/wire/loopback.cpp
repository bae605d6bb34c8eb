#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "link/socket_layer.h"
#include "link/transport.h"

namespace q4::wire {

void ConnectionDeleter::operator()(Connection* conn) const {
  close_link(conn);
  delete conn;
}

ConnectionPtr new_connection(uint16_t port, uint32_t login_timeout) {
  ConnectionPtr conn(new Connection{});
  conn->socket = kInvalidSocket;
  snprintf(conn->server, sizeof conn->server, "127.0.0.1");
  conn->port = htons(port);
  conn->login_timeout = login_timeout;
  return conn;
}

ConnectionPtr connect_link(uint16_t port, bool blocking) {
  ConnectionPtr conn = new_connection(port);
  if (connect_server(nullptr, conn.get()) == 1 && blocking) set_blocking(conn->socket, true);
  return conn;
}

DeadPort::DeadPort(bool unanswered) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* where = reinterpret_cast<sockaddr*>(&address);
  fds_.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fds_[0] < 0 || bind(fds_[0], where, size) != 0 || getsockname(fds_[0], where, &size) != 0 ||
      (unanswered && listen(fds_[0], 0) != 0)) {
    problem_ = std::string("listen: ") + strerror(errno);
    return;
  }
  port_ = ntohs(address.sin_port);
  // A backlog of 0 still queues a connection or so: connect until one stays unanswered.
  for (int i = 0; unanswered && i < 16; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    fds_.push_back(fd);
    if (connect(fd, where, size) == 0) continue;
    pollfd entry{fd, POLLOUT, 0};
    if (errno != EINPROGRESS) break;
    if (poll(&entry, 1, 200) == 0) return;
  }
  if (unanswered) problem_ = "the kernel answered every connect to a listener that never accepts";
}

DeadPort::~DeadPort() {
  for (int fd : fds_) close(fd);
}

}  // namespace q4::wire
