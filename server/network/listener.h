// The listening socket and one thread per connection. What a connection's
// thread does with its client is the program's to say (main.cpp gives it a
// session): the listener knows sockets and threads, nothing of requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/network/link.h"
#include "server/network/tls_context.h"

namespace q4::lite {

// One connection's conversation with its client.
class Conversation {
 public:
  virtual ~Conversation() = default;
  // Answers the client until the connection ends, on the connection's own
  // thread. Returns what the connection's log line says after the peer's
  // address.
  virtual std::string run() = 0;
  // Called from another thread at shutdown, while run() may be working:
  // cuts short what it is doing.
  virtual void interrupt() = 0;
};

// Starts the conversation of a newly accepted connection over `channel`,
// which outlives it.
using ConversationFactory = std::function<std::unique_ptr<Conversation>(Channel& channel)>;

struct ListenerSettings {
  std::string host = "127.0.0.1";
  uint16_t port = 1603;   // 0 picks a free one
  std::string port_file;  // receives the bound port when set
  int max_connections = 64;
  int idle_timeout = 0;  // seconds a conversation waits for its client; 0 = forever
  bool quiet = false;    // no line per connection on stderr
  // Past max_connections a connection gets this status (an "E" text) as the
  // answer to its first request, its logon, and is closed; past twice the
  // limit it is closed unanswered.
  std::string refusal;
  // When set, the port speaks TLS only with this context's certificate;
  // when null it speaks plain text only, and a client opening with a TLS
  // hello is told nothing and closed (it would wait for a frame for ever).
  TlsContext* tls = nullptr;
};

class Listener {
 public:
  // The settings outlive the listener.
  Listener(const ListenerSettings& settings, ConversationFactory start_conversation);
  ~Listener();

  // Binds and listens; writes the port file. False with *error set on failure.
  bool start(std::string* error);
  uint16_t port() const { return port_; }

  // Accepts connections until stop() is called (from a signal handler's
  // thread or any other), then closes every connection and joins its thread.
  void run();

  // Async-signal-safe: wakes run() so that it shuts down.
  void stop();

  // Async-signal-safe: wakes run() so that it reads the certificate and key
  // again (settings.tls); connections already open are not touched, and a
  // reload that fails keeps what was served.
  void reload();

 private:
  struct Connection {
    int fd = -1;
    std::string peer;
    std::thread thread;
    std::atomic<bool> finished{false};
    Conversation* conversation = nullptr;  // set while it runs; guarded by mutex_
  };

  void serve(Connection* connection, bool over_limit);
  // The end of a connection's thread: the line logged (also when quiet for
  // a client refused for its protocol), the count and the thread's flag.
  void finish(Connection* connection, const std::string& line, bool refused_client);
  void reload_certificate();
  void reap(bool all);

  const ListenerSettings& settings_;
  ConversationFactory start_conversation_;
  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  int active_ = 0;  // guarded by mutex_
};

}  // namespace q4::lite
