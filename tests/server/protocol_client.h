// The server tests' Q4-protocol client (the server's own Link over a
// SocketChannel, used from the client's side) and a launcher that runs
// build/q4lite on a free loopback port.
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
// Starts build/q4lite (Q4_BUILD_DIR) with `args` in a folder of its own (its
// working directory, holding "users" with `users` when given), without column
// descriptions; fails the test (and returns null) when it does not come up.
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

// An execute reply (of a server without descriptions) taken apart.
struct Result {
  uint32_t column_count = 0;
  Rows rows;            // the first block's rows
  char trailer = '\0';  // '\0' when the reply carried no block
};

// Each parser returns false when its input is malformed.
bool parse_block(const std::vector<uint8_t>& block, size_t columns, Rows* rows, char* trailer);
bool parse_result(const std::vector<uint8_t>& payload, Result* out);

std::vector<uint8_t> bytes(const std::string& text);

class Client {
 public:
  ~Client();
  bool connect(uint16_t port);
  bool send_raw(const std::vector<uint8_t>& bytes);  // for damaged frames
  // True when the server closes the connection within `ms` milliseconds.
  bool closed_by_peer(int ms);

  // One request and its reply, both possibly in several frames.
  Reply call(uint8_t command, const std::vector<uint8_t>& payload);
  Reply logon(const std::string& user = "tester", const std::string& password = "secret",
              const std::string& account = "");
  Reply execute(uint32_t id, const std::string& text);
  Reply fetch(uint32_t id, int64_t absolute_row = -1);  // -1: the next block
  // Executes `text` and reads every row with next-block fetches.
  bool query(uint32_t id, const std::string& text, Rows* rows);

 private:
  bool read_reply(Reply* reply);
  int fd_ = -1;
  std::unique_ptr<lite::SocketChannel> channel_;
  std::unique_ptr<lite::Link> link_;
};

// A client connected and logged on to `server`.
std::unique_ptr<Client> logged_on(const ServerProcess& server);
// The reply as a result; fails the test when it is not a well-formed "K".
Result result_of(const Reply& reply);
// The leading error number of an "E" reply, -1 when the reply is not one.
int error_number(const Reply& reply);
// SELECT i FROM 1 .. last, with `columns` instead of i when given.
std::string numbers(int last, const std::string& columns = "i");

}  // namespace q4::test
