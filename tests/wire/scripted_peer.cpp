#include "scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "link/transport.h"

namespace q4::wire {

void link_loopback(Connection* conn, uint16_t port, bool blocking) {
  snprintf(conn->server, sizeof conn->server, "127.0.0.1");
  conn->port = htons(port);
  conn->login_timeout = 5;
  OpenFailure failure;
  int error;
  conn->link = open_link(conn->server, conn->port, conn->login_timeout, nullptr, &failure, &error);
  if (conn->link != nullptr && blocking) set_blocking(conn->link->socket, true);
}

ConnectionPtr connect_link(uint16_t port, bool blocking) {
  ConnectionPtr conn(new Connection{});
  link_loopback(conn.get(), port, blocking);
  return conn;
}

int listen_loopback(uint16_t* port) {
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* where = reinterpret_cast<sockaddr*>(&address);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 &&
      (bind(fd, where, size) != 0 || getsockname(fd, where, &size) != 0 || listen(fd, 8) != 0)) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

Bytes frame_bytes(const char* status, const Bytes& chunk, uint16_t more, int frame_length,
                  int chunk_length) {
  size_t lead = status != nullptr ? strlen(status) + 1 : 0;
  Bytes bytes(2 + lead + 4);
  if (status != nullptr) memcpy(bytes.data() + 2, status, lead);
  auto length = static_cast<uint16_t>(chunk_length < 0 ? chunk.size() : chunk_length);
  put_u16(put_u16(bytes.data() + 2 + lead, length), more);
  bytes.insert(bytes.end(), chunk.begin(), chunk.end());
  put_u16(bytes.data(), static_cast<uint16_t>(frame_length < 0 ? bytes.size() : frame_length));
  return bytes;
}

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes pattern_bytes(size_t count, uint32_t seed) {
  Bytes bytes(count);
  uint32_t x = seed * 2654435761u + 12345u;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  return bytes;
}

}  // namespace q4::wire
