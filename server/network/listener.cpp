#include "server/network/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "server/network/socket_channel.h"

namespace q4::lite {

namespace {

std::string peer_name(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = "?";
  uint16_t port = 0;
  if (address.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
    port = ntohs(a->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
    port = ntohs(a->sin6_port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

// Writes the port through a temporary file and a rename, so that a reader
// polling for the file never sees it half written.
bool write_port_file(const std::string& path, uint16_t port) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!(out << port << '\n')) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

Listener::Listener(const ListenerSettings& settings, ConversationFactory start_conversation)
    : settings_(settings), start_conversation_(std::move(start_conversation)) {}

Listener::~Listener() {
  reap(true);
  if (listen_fd_ >= 0) close(listen_fd_);
  for (int fd : wake_pipe_) {
    if (fd >= 0) close(fd);
  }
}

bool Listener::start(std::string* error) {
  if (pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(settings_.port);
  const int rc = getaddrinfo(settings_.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    *error = "cannot resolve " + settings_.host + ": " + gai_strerror(rc);
    return false;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  std::string last_error = "no address";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 128) == 0) {
      listen_fd_ = fd;
      break;
    }
    last_error = std::strerror(errno);
    close(fd);
  }
  if (listen_fd_ < 0) {
    *error = "cannot listen on " + settings_.host + ":" + service + ": " + last_error;
    return false;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  if (!settings_.port_file.empty() && !write_port_file(settings_.port_file, port_)) {
    *error = "cannot write the port file " + settings_.port_file;
    return false;
  }
  return true;
}

void Listener::stop() {
  const char byte = 1;
  // Only write(2): this runs in a signal handler.
  [[maybe_unused]] ssize_t n = write(wake_pipe_[1], &byte, 1);
}

void Listener::run() {
  for (;;) {
    pollfd waits[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    const int ready = poll(waits, 2, 1000);
    if (ready < 0 && errno != EINTR) break;
    if (waits[1].revents != 0) break;
    reap(false);
    if (ready <= 0 || (waits[0].revents & POLLIN) == 0) continue;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd =
        accept4(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->peer = peer_name(address);
    Connection* c = connection.get();
    bool over_limit = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Past the limit a connection still gets an answer to its logon (a
      // refusal), but past twice the limit it is closed unanswered.
      if (active_ >= 2 * settings_.max_connections) {
        close(fd);
        continue;
      }
      over_limit = active_ >= settings_.max_connections;
      ++active_;
      connections_.push_back(std::move(connection));
    }
    c->thread = std::thread(&Listener::serve, this, c, over_limit);
  }
  // Shutdown: wake every conversation out of its socket wait or its work
  // (a session's SQLite call).
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_) {
      shutdown(c->fd, SHUT_RDWR);
      if (c->conversation != nullptr) c->conversation->interrupt();
    }
  }
  reap(true);
}

void Listener::serve(Connection* c, bool over_limit) {
  SocketChannel channel(c->fd, settings_.idle_timeout > 0 ? settings_.idle_timeout * 1000 : -1);
  std::string line;
  if (over_limit) {
    // Answer the logon with a refusal, waiting no longer than a moment.
    SocketChannel brief(c->fd, 2000);
    Link link(brief, 4096);
    Request request;
    if (link.read_request(&request) == ReadStatus::kOk) link.send_status(settings_.refusal);
    line = c->peer + ": refused, too many connections";
  } else {
    std::unique_ptr<Conversation> conversation = start_conversation_(channel);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      c->conversation = conversation.get();
    }
    const std::string outcome = conversation->run();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      c->conversation = nullptr;
    }
    line = c->peer + " " + outcome;
  }
  // The client learns at once that the connection is over; the descriptor
  // itself is closed when the thread is joined.
  shutdown(c->fd, SHUT_RDWR);
  if (!settings_.quiet) std::fprintf(stderr, "q4lite: %s\n", line.c_str());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --active_;
  }
  c->finished = true;
}

void Listener::reap(bool all) {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->finished) {
        done.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : done) {
    if (c->thread.joinable()) c->thread.join();
    close(c->fd);
  }
}

}  // namespace q4::lite
