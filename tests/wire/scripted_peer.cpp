#include "scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "protocol/codec.h"
#include "link/socket_layer.h"
#include "link/transport.h"
#include "protocol/wire.h"

namespace q4::wire {
namespace {

constexpr size_t kLargestChunk = 20480;
using Body = std::function<std::string(ScriptedPeer::State&)>;

std::string sys_error(const char* what) {
  return std::string(what) + ": " + strerror(errno);
}

}  // namespace

void ConnectionDeleter::operator()(Connection* conn) const {
  close_link(conn);
  delete conn;
}

ConnectionPtr connect_link(uint16_t port, bool blocking, uint32_t login_timeout) {
  ConnectionPtr conn(new Connection{});
  conn->socket = kInvalidSocket;
  snprintf(conn->server, sizeof conn->server, "127.0.0.1");
  conn->port = htons(port);
  conn->login_timeout = login_timeout;
  if (connect_server(nullptr, conn.get()) == 1 && blocking) set_blocking(conn->socket, true);
  return conn;
}

int bound_loopback(int backlog, uint16_t* port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* where = reinterpret_cast<sockaddr*>(&address);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && (bind(fd, where, size) != 0 || getsockname(fd, where, &size) != 0 ||
                  (backlog >= 0 && listen(fd, backlog) != 0))) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

Bytes frame_bytes(const char* status, const Bytes& chunk, uint16_t more, int frame_length,
                  int chunk_length) {
  size_t lead = status != nullptr ? strlen(status) + 1 : 0;
  Bytes bytes(2 + lead, 0);
  if (status != nullptr) memcpy(bytes.data() + 2, status, lead - 1);
  bytes.resize(bytes.size() + 4 + chunk.size());
  uint8_t* at = put_u16(bytes.data() + 2 + lead,
                        static_cast<uint16_t>(chunk_length < 0 ? chunk.size() : chunk_length));
  std::copy(chunk.begin(), chunk.end(), put_u16(at, more));
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

// The peer's thread and its one connection; each operation returns "" or why it failed.
struct ScriptedPeer::State {
  int listener = -1;
  int fd = -1;
  uint16_t port = 0;
  std::atomic<int> timeout_ms{5000};
  std::atomic<bool> finishing{false};
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<std::string, Body>> steps;
  std::string failure;
  std::vector<ReceivedRequest> requests;
  std::thread thread;

  // Once finish() was called only what is already there counts: the driver's calls have returned.
  std::string wait(int on, short events, const std::string& what) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms.load());
    for (;;) {
      bool last = finishing.load();
      pollfd entry{on, events, 0};
      int ready = poll(&entry, 1, last ? 0 : 10);
      if (ready > 0) return "";
      if (ready < 0 && errno != EINTR) return sys_error("poll");
      if (last) return "the script was finished while waiting for " + what;
      if (std::chrono::steady_clock::now() >= limit) return "timed out waiting for " + what;
    }
  }

  void drop(bool reset) {
    if (fd < 0) return;
    linger hard{1, 0};
    if (reset) setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    if (!reset) shutdown(fd, SHUT_WR);
    ::close(fd);
    fd = -1;
  }

  std::string read_exact(size_t count, Bytes* out) {
    out->resize(count);
    for (size_t done = 0; done < count;) {
      std::string why = wait(fd, POLLIN, "bytes from the driver");
      if (!why.empty()) return why;
      ssize_t got = recv(fd, out->data() + done, count - done, 0);
      if (got == 0) return "the driver closed the connection";
      if (got < 0 && errno != EINTR) return sys_error("recv");
      if (got > 0) done += static_cast<size_t>(got);
    }
    return "";
  }

  std::string write_all(const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t sent =
          send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      std::string why;
      if (sent >= 0) done += static_cast<size_t>(sent);
      if (sent < 0 && errno == EAGAIN) why = wait(fd, POLLOUT, "room to send");
      if (sent < 0 && errno != EAGAIN && errno != EINTR) why = sys_error("send");
      if (!why.empty()) return why;
    }
    return "";
  }

  std::string read_request(ReceivedRequest* out) {
    *out = ReceivedRequest{};
    Bytes field;
    for (int index = 0;; ++index) {
      std::string frame = "request frame " + std::to_string(index) + ": ";
      std::string why = read_exact(2, &field);
      if (!why.empty()) return why;
      uint16_t length = load_u16(field.data());
      out->frame_lengths.push_back(length);
      if (length < 6) return frame + "length " + std::to_string(length);
      if (!(why = read_exact(length - 2u, &field)).empty()) return why;
      Reader reader{field.data(), field.data() + field.size()};
      const char* command;
      size_t command_length;
      if (index == 0 && !reader.get_cstring(&command, &command_length)) {
        return frame + "command string without NUL";
      }
      if (index == 0) out->command.assign(command, command_length);
      uint16_t chunk = 0;
      uint16_t more = 0;
      // Full chunks and one final rest; only an empty payload has an empty chunk.
      if (!reader.get_u16(&chunk) || !reader.get_u16(&more) || chunk > kLargestChunk ||
          reader.remaining() != chunk || more > 1 || (more == 1 && chunk != kLargestChunk) ||
          (more == 0 && chunk == 0 && index > 0)) {
        return frame + "bad chunk " + std::to_string(chunk) + " or more flag";
      }
      out->payload.insert(out->payload.end(), reader.pos, reader.end);
      if (more == 0) break;
      if (!(why = write_all(Bytes{0x06})).empty()) return why;
    }
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(*out);
    return "";
  }

  std::string send_reply(const std::string& status, const Bytes& payload) {
    size_t at = 0;
    do {
      size_t chunk = std::min(payload.size() - at, kLargestChunk);
      uint16_t more = at + chunk < payload.size() ? 1 : 0;
      std::string why =
          write_all(frame_bytes(at == 0 ? status.c_str() : nullptr,
                                Bytes(payload.begin() + at, payload.begin() + at + chunk), more));
      if (why.empty() && more != 0) why = expect_ack();
      if (!why.empty()) return why;
      at += chunk;
    } while (at < payload.size());
    return "";
  }

  std::string expect_ack() {
    Bytes ack;
    std::string why = read_exact(1, &ack);
    if (!why.empty()) return "acknowledgement: " + why;
    return ack[0] == kAckByte ? "" : "acknowledgement byte " + std::to_string(ack[0]);
  }

  std::string wait_for_close() {
    uint8_t sink[4096];
    for (;;) {
      std::string why = wait(fd, POLLIN, "the driver to close");
      if (!why.empty()) return why;
      ssize_t got = recv(fd, sink, sizeof sink, 0);
      if (got == 0 || (got < 0 && errno == ECONNRESET)) return "";
      if (got < 0 && errno != EINTR) return sys_error("recv");
    }
  }

  std::string serve(int count, const Responder& responder) {
    for (int i = 0; count < 0 || i < count; ++i) {
      std::string why;
      if (count < 0 && ((why = wait(fd, POLLIN, "a request")).empty() && !has_data(0))) break;
      ReceivedRequest request;
      std::string status;
      Bytes payload;
      if (why.empty()) why = read_request(&request);
      if (why.empty()) why = responder(request, &status, &payload);
      if (why.empty()) why = send_reply(status, payload);
      if (!why.empty()) return why;
    }
    return "";
  }

  // Whether the driver sent bytes not read yet; a queued connection is accepted to see.
  bool has_data(int flags = MSG_DONTWAIT) {
    pollfd queued{listener, POLLIN, 0};
    if (fd < 0 && poll(&queued, 1, 0) > 0) fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    uint8_t probe;
    return fd >= 0 && recv(fd, &probe, 1, MSG_PEEK | flags) > 0;
  }

  void run() {
    for (int index = 1;; ++index) {
      std::pair<std::string, Body> step;
      {
        std::unique_lock<std::mutex> lock(mutex);
        // Bytes that no step reads for a step timeout mean the script ran
        // out: closing lets a driver waiting for a reply go on.
        auto limit = std::chrono::milliseconds(timeout_ms.load());
        while (steps.empty() && !finishing) {
          if (!changed.wait_for(lock, limit, [&] { return !steps.empty() || finishing; }) &&
              has_data()) {
            break;
          }
        }
        if (steps.empty()) {
          if (has_data()) failure = "the driver sent bytes that no step reads";
          break;
        }
        step = std::move(steps.front());
        steps.pop_front();
      }
      std::string why = fd >= 0 ? "" : wait(listener, POLLIN, "a connection");
      if (why.empty() && fd < 0 && (fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) < 0) {
        why = sys_error("accept");
      }
      if (why.empty()) why = step.second(*this);
      if (!why.empty()) {
        std::lock_guard<std::mutex> lock(mutex);
        failure = "step " + std::to_string(index) + " (" + step.first + "): " + why;
        break;
      }
    }
    drop(false);
  }
};

ScriptedPeer::ScriptedPeer() : state_(new State) {
  state_->listener = bound_loopback(8, &state_->port);
  if (state_->listener < 0) state_->failure = "peer set-up: " + sys_error("listen");
  if (state_->listener >= 0) state_->thread = std::thread([this] { state_->run(); });
}

ScriptedPeer::~ScriptedPeer() {
  finish();
  ::close(state_->listener);
}

uint16_t ScriptedPeer::port() const {
  return state_->port;
}

void ScriptedPeer::set_step_timeout(int milliseconds) {
  state_->timeout_ms.store(milliseconds);
}

std::string ScriptedPeer::finish() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->finishing = true;
  }
  state_->changed.notify_all();
  if (state_->thread.joinable()) state_->thread.join();
  return state_->failure;
}

std::vector<ReceivedRequest> ScriptedPeer::requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

ScriptedPeer& ScriptedPeer::step(const std::string& what, Body body) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->steps.emplace_back(what, std::move(body));
  }
  state_->changed.notify_all();
  return *this;
}

ScriptedPeer& ScriptedPeer::expect_request(uint8_t command, std::optional<Bytes> payload) {
  return step("expect_request " + std::to_string(command), [=](State& s) {
    ReceivedRequest r;
    std::string why = s.read_request(&r);
    if (why.empty() && r.command != std::string(1, static_cast<char>(command))) why = "command";
    if (why.empty() && payload && r.payload != *payload) why = "payload differs";
    return why + (why.empty() ? "" : " (" + std::to_string(r.payload.size()) + " bytes)");
  });
}

ScriptedPeer& ScriptedPeer::reply(const std::string& status, const Bytes& payload) {
  return step("reply " + status, [=](State& s) { return s.send_reply(status, payload); });
}

ScriptedPeer& ScriptedPeer::serve(int count, Responder responder) {
  return step("serve", [=](State& s) { return s.serve(count, responder); });
}

ScriptedPeer& ScriptedPeer::echo_requests(const std::string& status) {
  return serve(-1, [status](const ReceivedRequest& request, std::string* out, Bytes* payload) {
    *out = status;
    *payload = request.payload;
    return std::string();
  });
}

ScriptedPeer& ScriptedPeer::send_raw(const Bytes& bytes) {
  return step("send", [bytes](State& s) { return s.write_all(bytes); });
}

ScriptedPeer& ScriptedPeer::expect_ack() {
  return step("expect_ack", [](State& s) { return s.expect_ack(); });
}

ScriptedPeer& ScriptedPeer::expect_closed() {
  return step("expect_closed", [](State& s) { return s.wait_for_close(); });
}

ScriptedPeer& ScriptedPeer::close() {
  return step("close", [](State& s) { return s.drop(false), std::string(); });
}

ScriptedPeer& ScriptedPeer::reset() {
  return step("reset", [](State& s) { return s.drop(true), std::string(); });
}

}  // namespace q4::wire
