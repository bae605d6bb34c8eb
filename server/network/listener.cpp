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

// How long a client has for its TLS hello and the rest of the handshake.
constexpr int kHandshakeWaitMs = 10000;

// The wake-up pipe's bytes: what run() is asked to do.
constexpr char kWakeStop = 1;
constexpr char kWakeReload = 2;

// Whether a client of a plain port opens with a TLS record (a handshake
// record, 0x16, of version 3.x). A request frame begins with its length, and
// no first frame of this protocol is 5632 bytes or longer, so the two cannot
// be confused. Waits for the client's first byte at most `wait_ms` (-1:
// without limit); a client that sends nothing is the conversation's matter.
bool opens_with_tls_hello(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, wait_ms) <= 0) return false;
  uint8_t head[2] = {0, 0};
  const ssize_t got = recv(fd, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
  return got >= 1 && head[0] == 0x16 && (got < 2 || head[1] == 0x03);
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
  const char byte = kWakeStop;
  // Only write(2): this runs in a signal handler.
  [[maybe_unused]] ssize_t n = write(wake_pipe_[1], &byte, 1);
}

void Listener::reload() {
  const char byte = kWakeReload;
  [[maybe_unused]] ssize_t n = write(wake_pipe_[1], &byte, 1);
}

void Listener::reload_certificate() {
  if (settings_.tls == nullptr) {
    std::fprintf(stderr, "q4lite: SIGHUP: no certificate to reload (plain port)\n");
    return;
  }
  std::string error;
  if (settings_.tls->load(&error)) {
    std::fprintf(stderr, "q4lite: certificate and key reloaded\n");
  } else {
    std::fprintf(stderr, "q4lite: reload failed, the previous certificate stays: %s\n",
                 error.c_str());
  }
}

void Listener::run() {
  for (;;) {
    pollfd waits[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    const int ready = poll(waits, 2, 1000);
    if (ready < 0 && errno != EINTR) break;
    if (waits[1].revents != 0) {
      char bytes[16];
      const ssize_t n = read(wake_pipe_[0], bytes, sizeof bytes);
      bool stopping = n <= 0;
      for (ssize_t i = 0; i < n; ++i) stopping = stopping || bytes[i] == kWakeStop;
      if (stopping) break;
      reload_certificate();
    }
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
  const int idle_ms = settings_.idle_timeout > 0 ? settings_.idle_timeout * 1000 : -1;
  SSL* session = nullptr;
  std::string secured;
  if (settings_.tls != nullptr) {
    std::string reason;
    session = settings_.tls->accept(c->fd, kHandshakeWaitMs, &reason);
    if (session == nullptr) {
      finish(c, c->peer + ": refused, TLS handshake failed: " + reason, true);
      return;
    }
    secured = TlsContext::describe(session) + " ";
  }
  SocketChannel channel(c->fd, idle_ms, session);
  std::string line;
  bool misdirected = false;
  if (over_limit) {
    // Answer the logon with a refusal, waiting no longer than a moment.
    SocketChannel brief(c->fd, 2000, session);
    Link link(brief, 4096);
    Request request;
    if (link.read_request(&request) == ReadStatus::kOk) link.send_status(settings_.refusal);
    line = c->peer + ": refused, too many connections";
  } else if (session == nullptr && opens_with_tls_hello(c->fd, idle_ms)) {
    line = c->peer + ": refused, a TLS hello on a plain port (TLS needs --tls-cert and --tls-key)";
    misdirected = true;
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
    line = c->peer + " " + secured + outcome;
  }
  if (session != nullptr) {
    // One close_notify, not waited for: the client may be gone already.
    SSL_shutdown(session);
    BIO_flush(SSL_get_wbio(session));  // writes are buffered (tls_context.cpp)
    SSL_free(session);
  }
  finish(c, line, misdirected);
}

void Listener::finish(Connection* c, const std::string& line, bool refused_client) {
  // The client learns at once that the connection is over; the descriptor
  // itself is closed when the thread is joined.
  shutdown(c->fd, SHUT_RDWR);
  // A client refused for speaking the wrong protocol is a set-up mistake
  // someone must see: logged even when quiet.
  if (!settings_.quiet || refused_client) std::fprintf(stderr, "q4lite: %s\n", line.c_str());
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
