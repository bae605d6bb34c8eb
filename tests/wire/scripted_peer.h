// A scripted stand-in for the Q4 server on loopback: steps run on the peer's
// thread and may be appended while the driver works; a failing step records
// why and closes the connection; every wait gives up after the step timeout.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/records.h"
#include "link/link.h"
#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4::wire {

using Bytes = std::vector<uint8_t>;

struct ConnectionDeleter {
  void operator()(Connection* conn) const { close_link(conn->link), delete conn; }
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

// A record linked to 127.0.0.1:port (kInvalidSocket if not), blocking unless told.
ConnectionPtr connect_link(uint16_t port, bool blocking = true);
// A listener on 127.0.0.1 at a port the kernel picks; -1 when that failed.
int listen_loopback(uint16_t* port);

Bytes bytes_of(const std::string& text);               // without a NUL
Bytes pattern_bytes(size_t count, uint32_t seed = 1);  // pseudo-random: a misplaced chunk shows

struct ReceivedRequest {
  std::string command;                  // the lead string of the first frame
  Bytes payload;                        // the chunks joined
  std::vector<uint16_t> frame_lengths;  // L of every frame
};

// A reply frame: the status string and its NUL (first frame only, else
// nullptr), chunk length, more flag, chunk; lengths below 0 are the real ones.
Bytes frame_bytes(const char* status, const Bytes& chunk, uint16_t more = 0, int frame_length = -1,
                  int chunk_length = -1);

inline std::string error_text(const char* what) {
  return std::string(what) + ": " + strerror(errno);
}

// The peer thread's side: one connection; each operation returns "" or why it failed.
struct PeerState {
  int listener = -1;
  int fd = -1;
  uint16_t port = 0;
  std::atomic<int> timeout_ms{5000};
  std::atomic<bool> finishing{false};
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<std::string, std::function<std::string(PeerState&)>>> steps;
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
      if (ready < 0 && errno != EINTR) return error_text("poll");
      if (last) return "the script was finished while waiting for " + what;
      if (std::chrono::steady_clock::now() >= limit) return "timed out waiting for " + what;
    }
  }
  void drop() {
    if (fd < 0) return;
    shutdown(fd, SHUT_WR);
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
      if (got < 0 && errno != EINTR) return error_text("recv");
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
      if (sent < 0 && errno != EAGAIN && errno != EINTR) why = error_text("send");
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
      if (!reader.get_u16(&chunk) || !reader.get_u16(&more) || chunk > 20480 ||
          reader.remaining() != chunk || more > 1 || (more == 1 && chunk != 20480) ||
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
      size_t chunk = std::min<size_t>(payload.size() - at, 20480);
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
      if (got < 0 && errno != EINTR) return error_text("recv");
    }
  }
  // Answers every request with its own payload until the driver closes.
  std::string echo(const std::string& status) {
    for (;;) {
      std::string why = wait(fd, POLLIN, "a request");
      if (why.empty() && !has_data(0)) return "";
      ReceivedRequest request;
      if (why.empty()) why = read_request(&request);
      if (why.empty()) why = send_reply(status, request.payload);
      if (!why.empty()) return why;
    }
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
      std::pair<std::string, std::function<std::string(PeerState&)>> step;
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
        why = error_text("accept");
      }
      if (why.empty()) why = step.second(*this);
      if (!why.empty()) {
        std::lock_guard<std::mutex> lock(mutex);
        failure = "step " + std::to_string(index) + " (" + step.first + "): " + why;
        break;
      }
    }
    drop();
  }
};

class ScriptedPeer {
 public:
  ScriptedPeer() {
    s_.listener = listen_loopback(&s_.port);
    if (s_.listener < 0) s_.failure = error_text("peer set-up");
    if (s_.listener >= 0) s_.thread = std::thread([this] { s_.run(); });
  }
  ~ScriptedPeer() {
    finish();
    ::close(s_.listener);
  }
  uint16_t port() const { return s_.port; }
  void set_step_timeout(int milliseconds) { s_.timeout_ms = milliseconds; }

  // Reads one request, acknowledging its frames with 0x06 (the driver must
  // not check the value), and checks its framing, command and payload.
  ScriptedPeer& expect_request(uint8_t command, std::optional<Bytes> payload = std::nullopt) {
    return step("expect_request " + std::to_string(command), [=](PeerState& s) {
      ReceivedRequest r;
      std::string why = s.read_request(&r);
      if (why.empty() && r.command != std::string(1, static_cast<char>(command))) why = "command";
      if (why.empty() && payload && r.payload != *payload) why = "payload differs";
      return why + (why.empty() ? "" : " (" + std::to_string(r.payload.size()) + " bytes)");
    });
  }
  // In 20480-byte chunks, expecting 0x41 after each but the last.
  ScriptedPeer& reply(const std::string& status, const Bytes& payload = {}) {
    return step("reply " + status, [=](PeerState& s) { return s.send_reply(status, payload); });
  }
  ScriptedPeer& echo_requests(const std::string& status = "K") {
    return step("echo", [=](PeerState& s) { return s.echo(status); });
  }
  ScriptedPeer& send_raw(const Bytes& b) {
    return step("send", [b](PeerState& s) { return s.write_all(b); });
  }
  ScriptedPeer& expect_ack() {
    return step("ack", [](PeerState& s) { return s.expect_ack(); });
  }
  // Drops what comes until the driver closes.
  ScriptedPeer& expect_closed() {
    return step("closed", [](PeerState& s) { return s.wait_for_close(); });
  }
  ScriptedPeer& close() {
    return step("close", [](PeerState& s) { return s.drop(), std::string(); });
  }
  // Runs `action` on the peer's thread: what another thread of the
  // application does while the driver waits for this peer.
  ScriptedPeer& call(std::function<void()> action) {
    return step("call", [action](PeerState&) { return action(), std::string(); });
  }

  // Ends the script: "" when every step passed, else the failure. An idle
  // script keeps the connection unless the driver sends bytes no step reads.
  std::string finish() {
    {
      std::lock_guard<std::mutex> lock(s_.mutex);
      s_.finishing = true;
    }
    s_.changed.notify_all();
    if (s_.thread.joinable()) s_.thread.join();
    return s_.failure;
  }
  std::vector<ReceivedRequest> requests() const {
    std::lock_guard<std::mutex> lock(s_.mutex);
    return s_.requests;
  }

 private:
  ScriptedPeer& step(const std::string& what, std::function<std::string(PeerState&)> body) {
    {
      std::lock_guard<std::mutex> lock(s_.mutex);
      s_.steps.emplace_back(what, std::move(body));
    }
    s_.changed.notify_all();
    return *this;
  }
  PeerState s_;
};

}  // namespace q4::wire
