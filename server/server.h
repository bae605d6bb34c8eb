// The listening socket and one thread per connection.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/logon.h"
#include "server/options.h"

namespace q4::lite {

class Session;

class Server {
 public:
  explicit Server(const Options& options, const UserTable& users);
  ~Server();

  // Binds and listens; writes the port file. False with *error set on failure.
  bool start(std::string* error);
  uint16_t port() const { return port_; }

  // Accepts connections until stop() is called (from a signal handler's
  // thread or any other), then closes every connection and joins its thread.
  void run();

  // Async-signal-safe: wakes run() so that it shuts down.
  void stop();

 private:
  struct Connection {
    int fd = -1;
    std::string peer;
    std::thread thread;
    std::atomic<bool> finished{false};
    Session* session = nullptr;  // set while the session runs; guarded by mutex_
  };

  void serve(Connection* connection, bool over_limit);
  void reap(bool all);

  const Options& options_;
  const UserTable& users_;
  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  int active_ = 0;  // guarded by mutex_
};

}  // namespace q4::lite
