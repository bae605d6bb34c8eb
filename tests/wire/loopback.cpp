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

namespace {

sockaddr_in loopback_address(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

uint16_t bound_port(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

int bind_loopback() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback_address(0);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void ConnectionDeleter::operator()(Connection* conn) const {
  close_link(conn);
  delete conn;
}

ConnectionPtr new_connection(const char* host, uint16_t port, uint32_t login_timeout) {
  ConnectionPtr conn(new Connection{});
  conn->socket = kInvalidSocket;
  snprintf(conn->server, sizeof conn->server, "%s", host);
  conn->port = htons(port);
  conn->login_timeout = login_timeout;
  return conn;
}

ConnectionPtr connect_link(uint16_t port, const char* host, bool blocking) {
  ConnectionPtr conn = new_connection(host, port);
  if (connect_server(nullptr, conn.get()) == 1 && blocking) set_blocking(conn->socket, true);
  return conn;
}

RefusingPort::RefusingPort() {
  fd_ = bind_loopback();
  if (fd_ >= 0) port_ = bound_port(fd_);
}

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) close(fd_);
}

FullBacklogListener::FullBacklogListener() {
  listener_ = bind_loopback();
  if (listener_ < 0 || listen(listener_, 0) != 0) {
    problem_ = std::string("listen: ") + strerror(errno);
    return;
  }
  port_ = bound_port(listener_);
  sockaddr_in address = loopback_address(port_);
  // A backlog of 0 still queues a connection or so; keep connecting until one
  // attempt stays unanswered for a while, which shows the queue is full.
  while (filler_count_ < kMaxFillers) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    fillers_[filler_count_++] = fd;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
    if (errno != EINPROGRESS) {
      problem_ = std::string("connect: ") + strerror(errno);
      return;
    }
    pollfd entry{fd, POLLOUT, 0};
    if (poll(&entry, 1, 200) == 0) {
      problem_.clear();  // unanswered: the queue is full
      return;
    }
  }
}

FullBacklogListener::~FullBacklogListener() {
  for (int i = 0; i < filler_count_; ++i) close(fillers_[i]);
  if (listener_ >= 0) close(listener_);
}

}  // namespace q4::wire
