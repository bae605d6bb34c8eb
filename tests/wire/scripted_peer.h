// A scripted stand-in for the Q4 server on loopback: steps run on the peer's
// thread and may be appended while the driver works; a failing step records
// why and closes the connection.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
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

// Links `conn` to 127.0.0.1:port (a null link if that fails), blocking unless told.
void link_loopback(Connection* conn, uint16_t port, bool blocking = true);
// A record linked as by link_loopback.
ConnectionPtr connect_link(uint16_t port, bool blocking = true);
// A listener on 127.0.0.1 at a port the kernel picks; -1 when that failed.
int listen_loopback(uint16_t* port);

Bytes bytes_of(const std::string& text);               // without a NUL
Bytes pattern_bytes(size_t count, uint32_t seed = 1);  // pseudo-random: a misplaced chunk shows

// A reply frame: the status string and its NUL (first frame only, else
// nullptr), chunk length, more flag, chunk; lengths below 0 are the real ones.
Bytes frame_bytes(const char* status, const Bytes& chunk, uint16_t more = 0, int frame_length = -1,
                  int chunk_length = -1);

struct ReceivedRequest {
  std::string command;                  // the lead string of the first frame
  Bytes payload;                        // the chunks joined
  std::vector<uint16_t> frame_lengths;  // L of every frame
};

// Every wait of the peer (for a connection, bytes, room to send) gives up
// after the step timeout, so that a test whose driver falls silent fails.
class ScriptedPeer {
 public:
  ScriptedPeer() {
    if (pipe2(wake_, O_CLOEXEC) != 0) failure_ = error_text("peer set-up");
    listener_ = listen_loopback(&port_);
    if (listener_ < 0) failure_ = error_text("peer set-up");
    if (listener_ >= 0) thread_ = std::thread([this] { run(); });
  }
  // A peer on one end of a connected pair (a socketpair, say) instead of a
  // listener; the peer owns and closes `connected`.
  explicit ScriptedPeer(int connected) : fd_(connected) {
    if (pipe2(wake_, O_CLOEXEC) != 0) failure_ = error_text("peer set-up");
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedPeer() {
    finish();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  uint16_t port() const { return port_; }
  void set_step_timeout(int milliseconds) { timeout_ms_ = milliseconds; }

  // Reads one request, acknowledging its frames with 0x06 (the driver must
  // not check the value), and checks its framing, command and payload.
  ScriptedPeer& expect_request(uint8_t command, std::optional<Bytes> payload = std::nullopt) {
    return step("expect_request " + std::to_string(command), [=](ScriptedPeer& s) {
      ReceivedRequest r;
      std::string why = s.read_request(&r);
      if (why.empty() && r.command != std::string(1, static_cast<char>(command))) why = "command";
      if (why.empty() && payload && r.payload != *payload) why = "payload differs";
      return why + (why.empty() ? "" : " (" + std::to_string(r.payload.size()) + " bytes)");
    });
  }
  // In 20480-byte chunks, expecting 0x41 after each but the last.
  ScriptedPeer& reply(const std::string& status, const Bytes& payload = {}) {
    return step("reply " + status, [=](ScriptedPeer& s) { return s.send_reply(status, payload); });
  }
  // Answers every request with its own payload until the driver closes.
  ScriptedPeer& echo_requests(const std::string& status = "K") {
    return step("echo", [=](ScriptedPeer& s) {
      for (ReceivedRequest r;;) {
        std::string why = s.read_request(&r);
        if (why == kDriverClosed && r.frame_lengths.empty()) return std::string();
        if (!why.empty() || !(why = s.send_reply(status, r.payload)).empty()) return why;
      }
    });
  }
  using Answer = std::function<std::pair<std::string, Bytes>(int, const ReceivedRequest&)>;
  // A server for calls whose requests vary: answers every request with what
  // `answer` makes of it (a number counting from 0 and the request), on one
  // connection after another, until finish(). A connection the driver closes,
  // even in the middle of a reply, ends quietly; a damaged request fails.
  ScriptedPeer& serve(Answer answer) {
    return step("serve", [=](ScriptedPeer& s) {
      for (int i = 0;;) {
        pollfd ready[2] = {{s.fd_ >= 0 ? s.fd_ : s.listener_, POLLIN, 0}, {s.wake_[0], POLLIN, 0}};
        if (poll(ready, 2, s.timeout_ms_) < 0 && errno != EINTR) return error_text("poll");
        if (s.finishing_) return std::string();
        if (ready[0].revents == 0) continue;
        if (s.fd_ < 0) {
          std::string why = s.accept_driver();
          if (!why.empty()) return why;
          continue;
        }
        ReceivedRequest r;
        std::string why = s.read_request(&r);
        if (why.empty()) {
          auto [status, payload] = answer(i++, r);
          if (!s.send_reply(status, payload).empty()) s.drop();
        } else if (why == kDriverClosed) {
          s.drop();
        } else {
          return why;
        }
      }
    });
  }
  // The driver sends nothing for `milliseconds`.
  ScriptedPeer& expect_quiet(int milliseconds) {
    return step("quiet", [=](ScriptedPeer& s) {
      pollfd ready{s.fd_, POLLIN, 0};
      return poll(&ready, 1, milliseconds) == 0 ? std::string() : "the driver sent more";
    });
  }
  ScriptedPeer& send_raw(const Bytes& b) {
    return step("send", [b](ScriptedPeer& s) { return s.write_all(b); });
  }
  ScriptedPeer& expect_ack() {
    return step("ack", [](ScriptedPeer& s) { return s.read_ack(); });
  }
  // Drops what comes until the driver closes.
  ScriptedPeer& expect_closed() {
    return step("closed", [](ScriptedPeer& s) {
      for (uint8_t sink[4096];;) {
        ssize_t got = recv(s.fd_, sink, sizeof sink, 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) return std::string();
        if (got < 0 && errno != EINTR) return error_text("waiting for the close");
      }
    });
  }
  ScriptedPeer& close() {
    return step("close", [](ScriptedPeer& s) { return s.drop(), std::string(); });
  }
  // Runs `action` on the peer's thread: what another thread of the
  // application does while the driver waits for this peer.
  ScriptedPeer& call(std::function<void()> action) {
    return step("call", [action](ScriptedPeer&) { return action(), std::string(); });
  }

  // Ends the script: "" when every step passed, else the failure. An idle
  // script keeps the connection unless the driver sends bytes no step reads.
  std::string finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finishing_ = true;
    }
    changed_.notify_all();
    ssize_t woken = write(wake_[1], "", 1);  // a serving peer waits in poll
    (void)woken;
    if (thread_.joinable()) thread_.join();
    return failure_;
  }
  std::vector<ReceivedRequest> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Every operation of the peer's thread returns "" or why it failed.
  using Step = std::function<std::string(ScriptedPeer&)>;
  static constexpr const char* kDriverClosed = "the driver closed the connection";
  static std::string error_text(const char* what) {
    return std::string(what) + ": " + (errno == EAGAIN ? "timed out" : strerror(errno));
  }
  ScriptedPeer& step(const std::string& what, Step body) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      steps_.emplace_back(what, std::move(body));
    }
    changed_.notify_all();
    return *this;
  }
  std::string accept_driver() {
    timeval limit{timeout_ms_ / 1000, timeout_ms_ % 1000 * 1000};
    setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if ((fd_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) < 0) return error_text("accept");
    // As q4lite does: each reply leaves at once, rather than waiting for the
    // driver to acknowledge the one before (which a delayed ACK holds 40 ms).
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return "";
  }
  void drop() {
    if (fd_ >= 0) shutdown(fd_, SHUT_WR), ::close(fd_);
    fd_ = -1;
  }
  std::string read_exact(size_t count, Bytes* out) {
    out->resize(count);
    for (size_t done = 0; done < count;) {
      ssize_t got = recv(fd_, out->data() + done, count - done, 0);
      if (got == 0) return kDriverClosed;
      if (got < 0 && errno != EINTR) return error_text("recv");
      if (got > 0) done += static_cast<size_t>(got);
    }
    return "";
  }
  std::string write_all(const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent < 0 && errno != EINTR) return error_text("send");
      if (sent > 0) done += static_cast<size_t>(sent);
    }
    return "";
  }
  std::string read_request(ReceivedRequest* out) {
    *out = ReceivedRequest{};
    Bytes field;
    for (bool first = true, more = true; more; first = false) {
      std::string why = read_exact(2, &field);
      uint16_t length = why.empty() ? load_u16(field.data()) : 0;
      if (why.empty() && length < 6) why = "request frame length " + std::to_string(length);
      if (why.empty()) why = read_exact(length - 2u, &field);
      if (!why.empty()) return why;
      out->frame_lengths.push_back(length);
      Reader in{field.data(), field.data() + field.size()};
      const char* command = "";
      size_t command_length = 0;
      uint16_t chunk = 0, flag = 0;
      // Full chunks and one final rest; only an empty payload has an empty chunk.
      if ((first && !in.get_cstring(&command, &command_length)) || !in.get_u16(&chunk) ||
          !in.get_u16(&flag) || in.remaining() != chunk || chunk > 20480 || flag > 1 ||
          (flag == 1 && chunk != 20480) || (flag == 0 && chunk == 0 && !first)) {
        return "request frame " + std::to_string(out->frame_lengths.size()) + " damaged";
      }
      if (first) out->command.assign(command, command_length);
      out->payload.insert(out->payload.end(), in.pos, in.end);
      more = flag == 1;
      if (more && !(why = write_all(Bytes{0x06})).empty()) return why;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(*out);
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
      if (why.empty() && more != 0) why = read_ack();
      if (!why.empty()) return why;
      at += chunk;
    } while (at < payload.size());
    return "";
  }
  std::string read_ack() {
    Bytes ack;
    std::string why = read_exact(1, &ack);
    if (!why.empty()) return "acknowledgement: " + why;
    return ack[0] == kAckByte ? "" : "acknowledgement byte " + std::to_string(ack[0]);
  }
  // Whether the driver sent bytes not read yet; a queued connection is accepted to see.
  bool has_data() {
    pollfd queued{listener_, POLLIN, 0};
    if (fd_ < 0 && poll(&queued, 1, 0) > 0) accept_driver();
    uint8_t probe;
    return fd_ >= 0 && recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }
  void run() {
    for (int index = 1;; ++index) {
      std::pair<std::string, Step> step;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        // Bytes that no step reads for a step timeout mean the script ran
        // out: closing lets a driver waiting for a reply go on.
        auto limit = std::chrono::milliseconds(timeout_ms_.load());
        auto ready = [&] { return !steps_.empty() || finishing_; };
        while (!changed_.wait_for(lock, limit, ready) && !has_data()) {
        }
        if (steps_.empty()) {
          if (has_data()) failure_ = "the driver sent bytes that no step reads";
          break;
        }
        step = std::move(steps_.front());
        steps_.pop_front();
      }
      std::string why = fd_ < 0 ? accept_driver() : "";
      if (why.empty()) why = step.second(*this);
      if (!why.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = "step " + std::to_string(index) + " (" + step.first + "): " + why;
        break;
      }
    }
    drop();
  }

  int listener_ = -1;
  int fd_ = -1;
  int wake_[2] = {-1, -1};  // written by finish()
  uint16_t port_ = 0;
  std::atomic<int> timeout_ms_{5000};
  std::atomic<bool> finishing_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::string, Step>> steps_;
  std::string failure_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

}  // namespace q4::wire
