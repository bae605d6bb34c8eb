// A small Q4-protocol client for the server tests, and a launcher that runs
// build/q4lite as a child process on a free loopback port.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace q4::test {

// A q4lite child process listening on 127.0.0.1, port chosen by the system.
class ServerProcess {
 public:
  // Starts build/q4lite (Q4_BUILD_DIR) with `args` after the listen and port
  // options. Returns null (and the reason in *error) when it does not come up.
  static std::unique_ptr<ServerProcess> start(const std::vector<std::string>& args,
                                              std::string* error);
  ~ServerProcess();

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Resident set size in KiB, from /proc.
  long rss_kib() const;
  // Sends SIGTERM and waits; returns the exit status (-1 if killed by a signal).
  int stop();
  // The directory the server runs in (removed at destruction).
  const std::string& dir() const { return dir_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
};

struct Reply {
  std::string status;  // letter and text
  std::vector<uint8_t> payload;
  int frames = 0;
  char letter() const { return status.empty() ? '\0' : status[0]; }
};

// One value of a row: type 0xFFFF is NULL.
struct Value {
  uint16_t type = 0;
  std::string data;
  bool is_null() const { return type == 0xFFFF; }
  int32_t as_int() const;  // SQL_INTEGER or SQL_SMALLINT data
};

struct Description {
  std::string name;
  int16_t type = 0;
  uint32_t precision = 0;
  uint16_t scale = 0;
  uint16_t nullable = 0;
};

// An execute, prepare or catalog reply taken apart.
struct Result {
  uint32_t column_count = 0;
  uint32_t row_count = 0;
  bool has_descriptions = false;
  std::vector<Description> descriptions;
  std::vector<std::vector<Value>> rows;  // the first block's rows
  char trailer = '\0';                   // '\0' when the reply carried no block
};

// Parses a row block of `columns` columns; false when it is malformed.
bool parse_block(const uint8_t* data, size_t size, size_t columns,
                 std::vector<std::vector<Value>>* rows, char* trailer);
bool parse_result(const std::vector<uint8_t>& payload, Result* out);
bool parse_description(const uint8_t* data, size_t size, Description* out);

class Client {
 public:
  Client() = default;
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connect(uint16_t port);
  void close();
  // Sends raw bytes (for damaged frames).
  bool send_raw(const std::vector<uint8_t>& bytes);
  // True when the server has closed the connection (reads end of stream
  // within `ms` milliseconds).
  bool closed_by_peer(int ms);

  // One exchange: the request cut into frames (waiting for the server's
  // acknowledgement after each frame that announces another), then the
  // reply's frames (acknowledging each that announces another).
  bool exchange(uint8_t command, const std::vector<uint8_t>& payload, Reply* reply);
  Reply call(uint8_t command, const std::vector<uint8_t>& payload);

  // Logon with the default separator ","; account may be empty.
  Reply logon(const std::string& user = "tester", const std::string& password = "secret",
              const std::string& account = "");
  Reply execute(uint32_t id, const std::string& text, const std::vector<std::string>& binaries = {},
                const std::string& cursor = "");
  Reply prepare(uint32_t id, const std::string& text);
  Reply fetch(uint32_t id);
  Reply fetch_absolute(uint32_t id, uint32_t row);
  Reply describe(uint32_t id, uint16_t column);
  Reply get_data(uint32_t id, uint16_t column, uint16_t c_type = 1);
  Reply release(uint32_t id);

  // Executes `text` and reads every row with next-block fetches.
  bool query(uint32_t id, const std::string& text, Result* first,
             std::vector<std::vector<Value>>* all_rows, std::string* error);

 private:
  bool read_exact(uint8_t* to, size_t n);
  bool write_all(const uint8_t* from, size_t n);
  int fd_ = -1;
};

// Payload builders.
std::vector<uint8_t> u32_payload(uint32_t id);
std::vector<uint8_t> execute_payload(uint32_t id, const std::string& text,
                                     const std::vector<std::string>& binaries,
                                     const std::string& cursor);

}  // namespace q4::test
