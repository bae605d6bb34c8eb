#include "scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4::wire {

namespace {

constexpr size_t kLargestChunk = 20480;

std::string hex_byte(uint8_t byte) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

std::string errno_text(const char* what) {
  return std::string(what) + ": " + strerror(errno);
}

}  // namespace

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes pattern_bytes(size_t count, uint32_t seed) {
  Bytes bytes(count);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

std::string first_difference(const Bytes& got, const Bytes& want) {
  size_t common = got.size() < want.size() ? got.size() : want.size();
  for (size_t i = 0; i < common; ++i) {
    if (got[i] != want[i]) {
      return "offset " + std::to_string(i) + ": got " + hex_byte(got[i]) + ", want " +
             hex_byte(want[i]) + " (lengths " + std::to_string(got.size()) + "/" +
             std::to_string(want.size()) + ")";
    }
  }
  if (got.size() != want.size()) {
    return "length " + std::to_string(got.size()) + ", want " + std::to_string(want.size());
  }
  return "";
}

Bytes encode_frame(const RawFrame& frame) {
  size_t lead = frame.status ? frame.status->size() + 1 : 0;
  Bytes bytes(2 + lead + 4 + frame.chunk.size(), 0);
  uint8_t* at = bytes.data() + 2;
  if (frame.status) {
    memcpy(at, frame.status->data(), frame.status->size());
    at += lead;
  }
  at = put_u16(at, frame.chunk_length.value_or(static_cast<uint16_t>(frame.chunk.size())));
  at = put_u16(at, frame.more);
  if (!frame.chunk.empty()) memcpy(at, frame.chunk.data(), frame.chunk.size());
  put_u16(bytes.data(), frame.frame_length.value_or(static_cast<uint16_t>(bytes.size())));
  return bytes;
}

// ---------------------------------------------------------------------------

class Session;

struct Step {
  std::string what;
  std::function<std::string(Session&)> body;
};

struct ScriptedPeer::State {
  int listener = -1;
  uint16_t port = 0;
  std::string setup_error;
  int stop_pipe[2] = {-1, -1};
  std::atomic<int> step_timeout_ms{5000};
  std::atomic<uint8_t> ack_byte{0x06};

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Step> steps;
  bool finishing = false;
  bool finished = false;
  std::string failure;
  std::vector<ReceivedRequest> requests;
  std::thread thread;

  void run();
};

// The peer's side of one connection, used by the steps on the peer thread.
class Session final : public PeerLink {
 public:
  explicit Session(ScriptedPeer::State* state) : state_(state) {}
  ~Session() override { close_connection(false); }

  bool connected() const { return fd_ >= 0; }
  int descriptor() const override { return fd_; }

  enum class Ready { kYes, kTimeout, kStopped, kFailed };

  // Waits until `fd` shows `events`, at most the step timeout (or without
  // limit when `forever`). Once finish() was called only what is already there
  // counts: the driver's calls have returned by then.
  Ready wait(int fd, short events, bool forever = false) {
    pollfd entries[2] = {{fd, events, 0}, {state_->stop_pipe[0], POLLIN, 0}};
    int timeout = forever ? -1 : state_->step_timeout_ms.load();
    for (;;) {
      int ready = poll(entries, 2, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Ready::kFailed;
      if (ready == 0) return Ready::kTimeout;
      if (entries[0].revents != 0) return Ready::kYes;
      pollfd last{fd, events, 0};
      return poll(&last, 1, 0) > 0 ? Ready::kYes : Ready::kStopped;
    }
  }

  bool fail_wait(Ready ready, const char* waiting_for, std::string* why) {
    switch (ready) {
      case Ready::kTimeout:
        *why = std::string("timed out waiting for ") + waiting_for;
        break;
      case Ready::kStopped:
        *why = std::string("the script was finished while waiting for ") + waiting_for;
        break;
      default:
        *why = errno_text("poll");
        break;
    }
    return false;
  }

  bool accept_connection(std::string* why) {
    close_connection(false);
    Ready ready = wait(state_->listener, POLLIN);
    if (ready != Ready::kYes) return fail_wait(ready, "a connection", why);
    fd_ = accept4(state_->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd_ < 0) {
      *why = errno_text("accept");
      return false;
    }
    return true;
  }

  void close_connection(bool reset) {
    if (fd_ < 0) return;
    if (reset) {
      linger hard{1, 0};
      setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
      shutdown(fd_, SHUT_WR);
    }
    ::close(fd_);
    fd_ = -1;
  }

  bool read_exact(size_t count, Bytes* out, std::string* why) override {
    out->resize(count);
    size_t done = 0;
    while (done < count) {
      Ready ready = wait(fd_, POLLIN);
      if (ready != Ready::kYes) {
        fail_wait(ready, "bytes from the driver", why);
        *why += " (" + std::to_string(done) + " of " + std::to_string(count) + " read)";
        return false;
      }
      ssize_t got = recv(fd_, out->data() + done, count - done, 0);
      if (got == 0) {
        *why = "the driver closed the connection after " + std::to_string(done) + " of " +
               std::to_string(count) + " bytes";
        return false;
      }
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        *why = errno_text("recv");
        return false;
      }
      done += static_cast<size_t>(got);
    }
    return true;
  }

  bool write_all(const Bytes& bytes, std::string* why) override {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
          Ready ready = wait(fd_, POLLOUT);
          if (ready != Ready::kYes) return fail_wait(ready, "room to send", why);
          continue;
        }
        *why = errno_text("send");
        return false;
      }
      done += static_cast<size_t>(sent);
    }
    return true;
  }

  bool read_request(ReceivedRequest* out, std::string* why) override {
    *out = ReceivedRequest{};
    Bytes field;
    Bytes body;
    for (int index = 0;; ++index) {
      std::string frame_name = "request frame " + std::to_string(index);
      if (!read_exact(2, &field, why)) return false;
      uint16_t length = load_u16(field.data());
      out->frame_lengths.push_back(length);
      if (length < 6) {
        *why = frame_name + ": frame length " + std::to_string(length) + " cannot hold a header";
        return false;
      }
      if (!read_exact(length - 2u, &body, why)) return false;
      Reader reader{body.data(), body.data() + body.size()};
      if (index == 0) {
        const char* command;
        size_t command_length;
        if (!reader.get_cstring(&command, &command_length)) {
          *why = frame_name + ": command string without NUL";
          return false;
        }
        out->command.assign(command, command_length);
      }
      uint16_t chunk = 0;
      uint16_t more = 0;
      if (!reader.get_u16(&chunk) || !reader.get_u16(&more)) {
        *why = frame_name + ": no room for the chunk header";
        return false;
      }
      if (chunk > kLargestChunk || reader.remaining() != chunk) {
        *why = frame_name + ": chunk length " + std::to_string(chunk) + " with " +
               std::to_string(reader.remaining()) + " bytes left in the frame";
        return false;
      }
      if (more > 1) {
        *why = frame_name + ": more flag " + std::to_string(more);
        return false;
      }
      // The driver cuts a payload into full chunks and one final rest; only an
      // empty payload has an empty chunk, in its only frame.
      if (more == 1 && chunk != kLargestChunk) {
        *why = frame_name + ": chunk of " + std::to_string(chunk) + " bytes announces another";
        return false;
      }
      if (more == 0 && chunk == 0 && index > 0) {
        *why = frame_name + ": empty final chunk after a full one";
        return false;
      }
      out->payload.insert(out->payload.end(), reader.pos, reader.end);
      if (more == 0) return true;
      if (!write_all(Bytes{state_->ack_byte.load()}, why)) return false;
    }
  }

  bool send_reply(const std::string& status, const Bytes& payload, std::string* why) override {
    Bytes frame;  // reused for every frame of the reply
    size_t position = 0;
    bool first = true;
    do {
      size_t rest = payload.size() - position;
      size_t chunk = rest < kLargestChunk ? rest : kLargestChunk;
      uint16_t more = rest > kLargestChunk ? 1 : 0;
      size_t lead = first ? status.size() + 1 : 0;
      frame.assign(2 + lead + 4 + chunk, 0);
      uint8_t* at = put_u16(frame.data(), static_cast<uint16_t>(frame.size()));
      if (first) memcpy(at, status.data(), status.size());
      at = put_u16(at + lead, static_cast<uint16_t>(chunk));
      at = put_u16(at, more);
      if (chunk > 0) memcpy(at, payload.data() + position, chunk);
      if (!write_all(frame, why)) return false;
      if (more != 0 && !expect_ack(why)) return false;
      position += chunk;
      first = false;
    } while (position < payload.size());
    return true;
  }

  bool expect_ack(std::string* why) {
    Bytes ack;
    if (!read_exact(1, &ack, why)) {
      *why = "acknowledgement: " + *why;
      return false;
    }
    if (ack[0] != kAckByte) {
      *why = "acknowledgement byte " + hex_byte(ack[0]) + ", want 0x41";
      return false;
    }
    return true;
  }

  // Reads and drops everything until the driver closes its end.
  bool wait_for_close(std::string* why) {
    uint8_t sink[4096];
    for (;;) {
      Ready ready = wait(fd_, POLLIN);
      if (ready != Ready::kYes) return fail_wait(ready, "the driver to close", why);
      ssize_t got = recv(fd_, sink, sizeof sink, 0);
      if (got == 0 || (got < 0 && errno == ECONNRESET)) return true;
      if (got < 0 && errno != EINTR && errno != EAGAIN) {
        *why = errno_text("recv");
        return false;
      }
    }
  }

  // Serves requests with echoes until the driver closes the connection.
  bool echo(const std::string& status, std::string* why) {
    for (;;) {
      Ready ready = wait(fd_, POLLIN);
      if (ready != Ready::kYes) return fail_wait(ready, "a request", why);
      uint8_t probe;
      ssize_t got = recv(fd_, &probe, 1, MSG_PEEK);
      if (got == 0 || (got < 0 && errno == ECONNRESET)) return true;
      ReceivedRequest request;
      if (!read_request(&request, why) || !send_reply(status, request.payload, why)) return false;
    }
  }

  // The driver sent bytes that no step is there to read.
  bool has_unread_data() {
    if (fd_ < 0) return false;
    uint8_t probe;
    return recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  ScriptedPeer::State* state() { return state_; }

 private:
  ScriptedPeer::State* state_;
  int fd_ = -1;
};

void ScriptedPeer::State::run() {
  Session session(this);
  for (int index = 1;; ++index) {
    Step step;
    {
      std::unique_lock<std::mutex> lock(mutex);
      // An idle script keeps the connection as it is; but bytes from the
      // driver that no step reads for a whole step timeout mean the script
      // ran out, and closing lets a driver that waits for a reply go on.
      while (steps.empty() && !finishing) {
        auto limit = std::chrono::milliseconds(step_timeout_ms.load());
        if (!changed.wait_for(lock, limit, [&] { return !steps.empty() || finishing; }) &&
            session.has_unread_data()) {
          failure = "the driver sent bytes after the last step of the script";
          break;
        }
      }
      if (!failure.empty() || steps.empty()) break;
      step = std::move(steps.front());
      steps.pop_front();
    }
    std::string why = step.body(session);
    if (!why.empty()) {
      std::lock_guard<std::mutex> lock(mutex);
      failure = "step " + std::to_string(index) + " (" + step.what + "): " + why;
      break;
    }
  }
  session.close_connection(false);
}

// ---------------------------------------------------------------------------

ScriptedPeer::ScriptedPeer(const char* address) : state_(new State) {
  State& s = *state_;
  if (pipe2(s.stop_pipe, O_CLOEXEC) != 0) s.setup_error = errno_text("pipe");
  sockaddr_storage storage{};
  socklen_t size = 0;
  int family = strchr(address, ':') != nullptr ? AF_INET6 : AF_INET;
  if (family == AF_INET6) {
    auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
    six->sin6_family = AF_INET6;
    inet_pton(AF_INET6, address, &six->sin6_addr);
    size = sizeof *six;
  } else {
    auto* four = reinterpret_cast<sockaddr_in*>(&storage);
    four->sin_family = AF_INET;
    inet_pton(AF_INET, address, &four->sin_addr);
    size = sizeof *four;
  }
  s.listener = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.listener < 0 || bind(s.listener, reinterpret_cast<sockaddr*>(&storage), size) != 0 ||
      listen(s.listener, 8) != 0 ||
      getsockname(s.listener, reinterpret_cast<sockaddr*>(&storage), &size) != 0) {
    if (s.setup_error.empty()) s.setup_error = errno_text("listen");
  } else {
    s.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  }
  if (!s.setup_error.empty()) {
    s.failure = "peer set-up: " + s.setup_error;
    s.finished = true;
    return;
  }
  s.thread = std::thread([this] { state_->run(); });
}

ScriptedPeer::~ScriptedPeer() {
  finish();
  if (state_->listener >= 0) ::close(state_->listener);
  for (int fd : state_->stop_pipe) {
    if (fd >= 0) ::close(fd);
  }
}

uint16_t ScriptedPeer::port() const {
  return state_->port;
}

void ScriptedPeer::set_step_timeout(int milliseconds) {
  state_->step_timeout_ms.store(milliseconds);
}

void ScriptedPeer::set_ack_byte(uint8_t byte) {
  state_->ack_byte.store(byte);
}

std::string ScriptedPeer::finish() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.finished) return s.failure;
    s.finishing = true;
  }
  s.changed.notify_all();
  uint8_t byte = 1;
  if (write(s.stop_pipe[1], &byte, 1) != 1) {
    // The pipe is empty and ours: a write cannot fail short of a bug.
  }
  if (s.thread.joinable()) s.thread.join();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.finished = true;
  return s.failure;
}

std::vector<ReceivedRequest> ScriptedPeer::requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

ScriptedPeer& ScriptedPeer::step(const std::string& what,
                                 std::function<std::string(PeerLink&)> body) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->steps.push_back(Step{what, [body](Session& session) -> std::string {
                                   std::string why;
                                   if (!session.connected() && !session.accept_connection(&why)) {
                                     return why;
                                   }
                                   return body(session);
                                 }});
  }
  state_->changed.notify_all();
  return *this;
}

ScriptedPeer& ScriptedPeer::accept() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->steps.push_back(Step{"accept", [](Session& session) {
                                   std::string why;
                                   session.accept_connection(&why);
                                   return why;
                                 }});
  }
  state_->changed.notify_all();
  return *this;
}

ScriptedPeer& ScriptedPeer::expect_request(
    uint8_t command, std::function<std::string(const ReceivedRequest&)> check) {
  State* s = state_.get();
  return step("expect_request " + hex_byte(command), [s, command, check](PeerLink& link) {
    ReceivedRequest request;
    std::string why;
    if (!link.read_request(&request, &why)) return why;
    {
      std::lock_guard<std::mutex> lock(s->mutex);
      s->requests.push_back(request);
    }
    if (request.command != std::string(1, static_cast<char>(command))) {
      std::string got;
      for (char c : request.command) got += hex_byte(static_cast<uint8_t>(c)) + " ";
      return "command " + got + "(" + std::to_string(request.command.size()) + " bytes)";
    }
    return check ? check(request) : std::string();
  });
}

ScriptedPeer& ScriptedPeer::expect_request(uint8_t command) {
  return expect_request(command, std::function<std::string(const ReceivedRequest&)>());
}

ScriptedPeer& ScriptedPeer::expect_request(uint8_t command, const Bytes& payload) {
  return expect_request(command, [payload](const ReceivedRequest& request) {
    std::string difference = first_difference(request.payload, payload);
    return difference.empty() ? difference : "payload " + difference;
  });
}

ScriptedPeer& ScriptedPeer::reply(const std::string& status, const Bytes& payload) {
  return step("reply " + status, [status, payload](PeerLink& link) {
    std::string why;
    link.send_reply(status, payload, &why);
    return why;
  });
}

ScriptedPeer& ScriptedPeer::send_frame(const RawFrame& frame) {
  return send_raw(encode_frame(frame));
}

ScriptedPeer& ScriptedPeer::send_raw(const Bytes& bytes) {
  return step("send " + std::to_string(bytes.size()) + " bytes", [bytes](PeerLink& link) {
    std::string why;
    link.write_all(bytes, &why);
    return why;
  });
}

ScriptedPeer& ScriptedPeer::expect_ack() {
  return step("expect_ack", [](PeerLink& link) {
    std::string why;
    static_cast<Session&>(link).expect_ack(&why);
    return why;
  });
}

ScriptedPeer& ScriptedPeer::send_ack() {
  State* s = state_.get();
  return step("send_ack", [s](PeerLink& link) {
    std::string why;
    link.write_all(Bytes{s->ack_byte.load()}, &why);
    return why;
  });
}

ScriptedPeer& ScriptedPeer::expect_bytes(const Bytes& bytes) {
  return step("expect " + std::to_string(bytes.size()) + " bytes", [bytes](PeerLink& link) {
    Bytes got;
    std::string why;
    if (!link.read_exact(bytes.size(), &got, &why)) return why;
    return first_difference(got, bytes);
  });
}

ScriptedPeer& ScriptedPeer::expect_closed() {
  return step("expect_closed", [](PeerLink& link) {
    std::string why;
    static_cast<Session&>(link).wait_for_close(&why);
    return why;
  });
}

ScriptedPeer& ScriptedPeer::close() {
  return step("close", [](PeerLink& link) {
    static_cast<Session&>(link).close_connection(false);
    return std::string();
  });
}

ScriptedPeer& ScriptedPeer::reset() {
  return step("reset", [](PeerLink& link) {
    static_cast<Session&>(link).close_connection(true);
    return std::string();
  });
}

ScriptedPeer& ScriptedPeer::stay_silent() {
  State* s = state_.get();
  return step("stay_silent", [s](PeerLink&) {
    pollfd stop{s->stop_pipe[0], POLLIN, 0};
    while (poll(&stop, 1, -1) < 0 && errno == EINTR) {
    }
    return std::string();
  });
}

ScriptedPeer& ScriptedPeer::pause(int milliseconds) {
  State* s = state_.get();
  return step("pause", [s, milliseconds](PeerLink&) {
    pollfd stop{s->stop_pipe[0], POLLIN, 0};
    poll(&stop, 1, milliseconds);
    return std::string();
  });
}

ScriptedPeer& ScriptedPeer::echo_requests(const std::string& status) {
  return step("echo_requests", [status](PeerLink& link) {
    std::string why;
    static_cast<Session&>(link).echo(status, &why);
    return why;
  });
}

}  // namespace q4::wire
