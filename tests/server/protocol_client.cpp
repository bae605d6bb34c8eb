#include "protocol_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4::test {

namespace {

std::string build_dir() {
  const char* dir = std::getenv("Q4_BUILD_DIR");
  return dir != nullptr ? dir : "build";
}

}  // namespace

std::unique_ptr<ServerProcess> ServerProcess::start(const std::vector<std::string>& args,
                                                    std::string* error) {
  char dir_template[] = "/tmp/q4lite-test-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) {
    *error = "mkdtemp failed";
    return nullptr;
  }
  auto server = std::unique_ptr<ServerProcess>(new ServerProcess());
  server->dir_ = dir_template;
  const std::string port_file = server->dir_ + "/port";
  const std::string binary = build_dir() + "/q4lite";
  std::vector<std::string> argv_strings = {binary,        "--listen", "127.0.0.1:0",
                                           "--port-file", port_file,  "--quiet"};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    *error = "fork failed";
    return nullptr;
  }
  if (pid == 0) {
    // Under AddressSanitizer freed memory sits in a quarantine of 256 MiB by
    // default, which would hide whether the server's memory stays flat.
    std::string asan = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
    asan += (asan.empty() ? "" : ":") + std::string("quarantine_size_mb=4");
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  server->pid_ = pid;
  for (int i = 0; i < 2000; ++i) {
    std::ifstream in(port_file);
    int port = 0;
    if (in >> port && port > 0) {
      server->port_ = static_cast<uint16_t>(port);
      return server;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      server->pid_ = -1;
      *error = "q4lite exited at start with status " + std::to_string(WEXITSTATUS(status));
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *error = "q4lite did not write its port file";
  return nullptr;
}

ServerProcess::~ServerProcess() {
  stop();
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

int ServerProcess::stop() {
  if (pid_ < 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long ServerProcess::rss_kib() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int32_t Value::as_int() const {
  if (data.size() == 4) {
    return static_cast<int32_t>(load_u32(reinterpret_cast<const uint8_t*>(data.data())));
  }
  if (data.size() == 2) {
    return static_cast<int16_t>(load_u16(reinterpret_cast<const uint8_t*>(data.data())));
  }
  return 0;
}

bool parse_description(const uint8_t* data, size_t size, Description* out) {
  Reader in{data, data + size};
  const char* name = nullptr;
  size_t length = 0;
  uint16_t type = 0;
  if (!in.get_cstring(&name, &length) || !in.get_u16(&type) || !in.get_u32(&out->precision) ||
      !in.get_u16(&out->scale) || !in.get_u16(&out->nullable)) {
    return false;
  }
  out->name.assign(name, length);
  out->type = static_cast<int16_t>(type);
  return in.remaining() == 0;
}

bool parse_block(const uint8_t* data, size_t size, size_t columns,
                 std::vector<std::vector<Value>>* rows, char* trailer) {
  Reader in{data, data + size};
  for (;;) {
    std::vector<Value> row;
    for (size_t c = 0; c < columns; ++c) {
      Value v;
      uint32_t length = 0;
      const uint8_t* bytes = nullptr;
      if (!in.get_u16(&v.type) || !in.get_u32(&length) || !in.get_bytes(length, &bytes)) {
        return false;
      }
      v.data.assign(reinterpret_cast<const char*>(bytes), length);
      row.push_back(std::move(v));
    }
    rows->push_back(std::move(row));
    uint8_t status = 0;
    if (!in.get_u8(&status)) return false;
    if (status != 'K') {
      *trailer = static_cast<char>(status);
      return in.remaining() == 0;
    }
  }
}

bool parse_result(const std::vector<uint8_t>& payload, Result* out) {
  *out = Result{};
  Reader in{payload.data(), payload.data() + payload.size()};
  if (!in.get_u32(&out->column_count) || !in.get_u32(&out->row_count)) return false;
  if (in.remaining() > 0 && *in.pos == 'X') {
    ++in.pos;
    uint32_t length = 0;
    if (!in.get_u32(&length) || length < 4 || length - 4 > in.remaining()) return false;
    Reader section{in.pos, in.pos + (length - 4)};
    in.pos += length - 4;
    out->has_descriptions = true;
    while (section.remaining() > 0) {
      uint32_t entry = 0;
      const uint8_t* bytes = nullptr;
      if (!section.get_u32(&entry) || entry < 4 || !section.get_bytes(entry - 4, &bytes)) {
        return false;
      }
      Description d;
      if (!parse_description(bytes, entry - 4, &d)) return false;
      out->descriptions.push_back(d);
    }
  }
  if (in.remaining() == 0) return true;
  return parse_block(in.pos, in.remaining(), out->column_count, &out->rows, &out->trailer);
}

Client::~Client() {
  close();
}

bool Client::connect(uint16_t port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close();
    return false;
  }
  const int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  timeval timeout{60, 0};  // a hung server fails the test instead of hanging it
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return true;
}

void Client::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Client::read_exact(uint8_t* to, size_t n) {
  while (n > 0) {
    const ssize_t got = recv(fd_, to, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool Client::write_all(const uint8_t* from, size_t n) {
  while (n > 0) {
    const ssize_t sent = send(fd_, from, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    from += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool Client::send_raw(const std::vector<uint8_t>& bytes) {
  return write_all(bytes.data(), bytes.size());
}

bool Client::closed_by_peer(int ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  uint8_t byte;
  // End of stream, or a reset when the server closed with input unread.
  return recv(fd_, &byte, 1, 0) <= 0;
}

bool Client::exchange(uint8_t command, const std::vector<uint8_t>& payload, Reply* reply) {
  size_t offset = 0;
  bool first = true;
  std::vector<uint8_t> frame;
  do {
    const size_t chunk = std::min<size_t>(payload.size() - offset, kMaxChunk);
    const bool more = payload.size() - offset > static_cast<size_t>(kMaxChunk);
    frame.assign(2, 0);
    if (first) {
      frame.push_back(command);
      frame.push_back(0);
    }
    frame.push_back(static_cast<uint8_t>(chunk >> 8));
    frame.push_back(static_cast<uint8_t>(chunk));
    frame.push_back(0);
    frame.push_back(more ? 1 : 0);
    frame.insert(frame.end(), payload.begin() + static_cast<long>(offset),
                 payload.begin() + static_cast<long>(offset + chunk));
    put_u16(frame.data(), static_cast<uint16_t>(frame.size()));
    if (!write_all(frame.data(), frame.size())) return false;
    if (more) {
      uint8_t ack;
      if (!read_exact(&ack, 1)) return false;
    }
    offset += chunk;
    first = false;
  } while (offset < payload.size());

  *reply = Reply{};
  std::vector<uint8_t> body;
  for (bool first_reply = true;; first_reply = false) {
    uint8_t length_bytes[2];
    if (!read_exact(length_bytes, 2)) return false;
    const size_t length = load_u16(length_bytes);
    if (length < 6) return false;
    body.resize(length - 2);
    if (!read_exact(body.data(), body.size())) return false;
    Reader in{body.data(), body.data() + body.size()};
    if (first_reply) {
      const char* status = nullptr;
      size_t status_length = 0;
      if (!in.get_cstring(&status, &status_length)) return false;
      reply->status.assign(status, status_length);
    }
    uint16_t chunk = 0;
    uint16_t more = 0;
    if (!in.get_u16(&chunk) || !in.get_u16(&more) || in.remaining() != chunk) return false;
    reply->payload.insert(reply->payload.end(), in.pos, in.pos + chunk);
    ++reply->frames;
    if (more == 0) return true;
    const uint8_t ack = kAckByte;
    if (!write_all(&ack, 1)) return false;
  }
}

Reply Client::call(uint8_t command, const std::vector<uint8_t>& payload) {
  Reply reply;
  if (!exchange(command, payload, &reply)) reply.status = "<link failed>";
  return reply;
}

Reply Client::logon(const std::string& user, const std::string& password,
                    const std::string& account) {
  const std::string text = "localhost,vm," + user + "," + password + "," + account + ",acpw,";
  return call(kCmdLogon, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> u32_payload(uint32_t id) {
  std::vector<uint8_t> p(4);
  put_u32(p.data(), id);
  return p;
}

std::vector<uint8_t> execute_payload(uint32_t id, const std::string& text,
                                     const std::vector<std::string>& binaries,
                                     const std::string& cursor) {
  std::vector<uint8_t> p = u32_payload(id);
  p.insert(p.end(), text.begin(), text.end());
  p.push_back(0);
  for (const std::string& b : binaries) {
    const std::string count = std::to_string(b.size());
    p.insert(p.end(), count.begin(), count.end());
    p.push_back(0);
    p.insert(p.end(), b.begin(), b.end());
    p.push_back(0);
  }
  if (cursor.empty()) {
    p.push_back(0);
  } else {
    p.insert(p.end(), cursor.begin(), cursor.end());
    p.insert(p.end(), {0, 0, 0});
  }
  return p;
}

Reply Client::execute(uint32_t id, const std::string& text,
                      const std::vector<std::string>& binaries, const std::string& cursor) {
  return call(kCmdExecute, execute_payload(id, text, binaries, cursor));
}

Reply Client::prepare(uint32_t id, const std::string& text) {
  return call(kCmdPrepare, execute_payload(id, text, {}, ""));
}

Reply Client::fetch(uint32_t id) {
  std::vector<uint8_t> p = u32_payload(id);
  p.push_back('X');
  return call(kCmdFetch, p);
}

Reply Client::fetch_absolute(uint32_t id, uint32_t row) {
  std::vector<uint8_t> p = u32_payload(id);
  p.push_back('A');
  p.resize(9);
  put_u32(p.data() + 5, row);
  return call(kCmdFetch, p);
}

Reply Client::describe(uint32_t id, uint16_t column) {
  std::vector<uint8_t> p = u32_payload(id);
  p.resize(6);
  put_u16(p.data() + 4, column);
  return call(kCmdDescribe, p);
}

Reply Client::get_data(uint32_t id, uint16_t column, uint16_t c_type) {
  std::vector<uint8_t> p = u32_payload(id);
  p.resize(8);
  put_u16(p.data() + 4, column);
  put_u16(p.data() + 6, c_type);
  return call(kCmdGetData, p);
}

Reply Client::release(uint32_t id) {
  std::vector<uint8_t> p = u32_payload(id);
  p.resize(6);
  put_u16(p.data() + 4, 1);
  return call(kCmdRelease, p);
}

bool Client::query(uint32_t id, const std::string& text, Result* first,
                   std::vector<std::vector<Value>>* all_rows, std::string* error) {
  const Reply reply = execute(id, text);
  if (reply.letter() != 'K' || !parse_result(reply.payload, first)) {
    *error = "execute: " + reply.status;
    return false;
  }
  *all_rows = first->rows;
  if (first->trailer == 'W') return true;
  for (;;) {
    const Reply more = fetch(id);
    if (more.letter() == 'W') return true;
    if (more.letter() != 'K') {
      *error = "fetch: " + more.status;
      return false;
    }
    if (more.payload.empty()) {
      *error = "fetch: a row without data";
      return false;
    }
    char trailer = 0;
    if (!parse_block(more.payload.data(), more.payload.size(), first->column_count, all_rows,
                     &trailer)) {
      *error = "fetch: malformed block";
      return false;
    }
    if (trailer == 'W') return true;
    if (trailer != 'M') {
      *error = std::string("fetch: block ends with ") + trailer;
      return false;
    }
  }
}

}  // namespace q4::test
