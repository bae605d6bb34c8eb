#include "link/socket_layer.h"

#include <unistd.h>

#include <atomic>

namespace q4 {

namespace {
std::atomic<int> g_users{0};
}

bool socket_layer_startup() {
  g_users.fetch_add(1);
  return true;
}

void socket_layer_cleanup() {
  g_users.fetch_sub(1);
}

int socket_layer_users() {
  return g_users.load();
}

void drop_link(Connection* conn) {
  if (conn->socket == kInvalidSocket || conn->link_lost) return;
  close(conn->socket);
  socket_layer_cleanup();
  conn->link_lost = 1;
}

void close_link(Connection* conn) {
  drop_link(conn);
  conn->socket = kInvalidSocket;
  conn->link_lost = 0;
}

}  // namespace q4
