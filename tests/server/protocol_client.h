// The server tests' Q4-protocol client (the server's own Link and SocketChannel
// used from the client's side) and a launcher for build/q4lite.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "server/link.h"
#include "server/socket_channel.h"

namespace q4::test {

class ServerProcess;
// Starts build/q4lite without column descriptions, with `args`, in a folder of
// its own (holding "users" with `users` when given); null (and a failure) if
// it does not come up.
std::unique_ptr<ServerProcess> start_server(const std::vector<std::string>& args = {},
                                            const std::string& users = "");

// A q4lite child process listening on 127.0.0.1, port chosen by the system.
class ServerProcess {
 public:
  ~ServerProcess();
  uint16_t port() const { return port_; }
  long rss_kib() const;  // resident set size, from /proc
  int stop();            // SIGTERM and wait: the exit status, -1 if killed by a signal

 private:
  friend std::unique_ptr<ServerProcess> start_server(const std::vector<std::string>&,
                                                     const std::string&);
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;  // the server's working folder, removed at destruction
};

struct Reply {
  std::string status;  // letter and text; "<link failed>" when the exchange broke
  std::vector<uint8_t> payload;
  char letter() const { return status.empty() ? '\0' : status[0]; }
};

struct Value {
  uint16_t type = 0;  // kNullValueType for NULL
  std::string data;
  int32_t as_int() const;  // SQL_INTEGER or SQL_SMALLINT data
};
using Rows = std::vector<std::vector<Value>>;

inline std::vector<uint8_t> bytes(const std::string& t) {
  return {t.begin(), t.end()};
}

class Client {
 public:
  ~Client();
  bool connect(uint16_t port);
  bool send_raw(const std::vector<uint8_t>& b) {  // for damaged frames
    return channel_ && channel_->write_all(b.data(), b.size());
  }
  // True when the server closes the connection within `ms` milliseconds.
  bool closed_by_peer(int ms);

  // One request and its reply, both possibly in several frames.
  Reply call(uint8_t command, const std::vector<uint8_t>& payload);
  Reply logon(const std::string& user = "tester", const std::string& password = "secret",
              const std::string& account = "") {
    return call(kCmdLogon,
                bytes("localhost,vm," + user + "," + password + "," + account + ",acpw,"));
  }
  Reply execute(uint32_t id, const std::string& text);
  Reply fetch(uint32_t id, int64_t absolute_row = -1);  // -1: the next block

 private:
  bool read_reply(Reply* reply);
  int fd_ = -1;
  std::unique_ptr<lite::SocketChannel> channel_;
  std::unique_ptr<lite::Link> link_;
};

// A client connected and logged on to `server`.
std::unique_ptr<Client> logged_on(const ServerProcess& server);
// The rows of a fetch reply's block of `columns` columns, or with `columns` 0
// of an execute reply's first block; the block's trailing status (or 'W' for a
// "W" reply) in *trailer. A malformed reply fails the test.
Rows rows_of(const Reply& reply, size_t columns = 0, char* trailer = nullptr);
// The leading error number of an "E" reply, -1 when the reply is not one.
inline int error_number(const Reply& r) {
  return r.letter() == 'E' && isdigit(r.status.c_str()[1]) ? std::atoi(r.status.c_str() + 1) : -1;
}
// SELECT i FROM 1 .. last, with `columns` instead of i when given.
inline std::string numbers(int last, const std::string& columns = "i") {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(last) + ") SELECT " + columns + " FROM n";
}

}  // namespace q4::test
