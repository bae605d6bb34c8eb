// The server tests' Q4-protocol client: the server's own Link and SocketChannel
// used from the client's side.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/codec.h"
#include "q4lite_process.h"
#include "protocol/frame_codec.h"
#include "server/socket_channel.h"

namespace q4::test {

struct Reply {
  std::string status;  // letter and text; "<link failed>" when the exchange broke
  std::vector<uint8_t> payload;
  char letter() const { return status.empty() ? '\0' : status[0]; }
};

struct Value {
  uint16_t type = 0;  // kNullValueType for NULL
  std::string data;
  int32_t as_int() const {  // SQL_INTEGER or SQL_SMALLINT data
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    if (data.size() == 4) return static_cast<int32_t>(load_u32(p));
    return data.size() == 2 ? static_cast<int16_t>(load_u16(p)) : 0;
  }
};
using Rows = std::vector<std::vector<Value>>;

inline std::vector<uint8_t> bytes(const std::string& t) {
  return {t.begin(), t.end()};
}

class Client {
 public:
  ~Client() {  // the channel and link do not own the socket
    if (fd_ >= 0) ::close(fd_);
  }
  bool connect(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      return false;
    }
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A hung server fails the test after a minute instead of hanging it.
    channel_ = std::make_unique<lite::SocketChannel>(fd_, 60000);
    // Requests go out the way the server sends replies: the command byte as
    // the first frame's string, an acknowledgement awaited between frames.
    link_ = std::make_unique<lite::Link>(*channel_, 0);
    return true;
  }
  bool send_raw(const std::vector<uint8_t>& b) {  // for damaged frames
    return channel_ && channel_->write_all(b.data(), b.size());
  }
  // True when the server closes the connection within `ms` milliseconds: end
  // of stream, or a reset when the server closed with input unread.
  bool closed_by_peer(int ms) {
    pollfd p{fd_, POLLIN, 0};
    uint8_t byte;
    return poll(&p, 1, ms) > 0 && recv(fd_, &byte, 1, 0) <= 0;
  }

  // One request and its reply, both possibly in several frames.
  Reply call(uint8_t command, const std::vector<uint8_t>& payload) {
    Reply reply;
    const std::string_view name(reinterpret_cast<const char*>(&command), 1);
    if (!link_ || !link_->send_payload(name, payload.data(), payload.size()) ||
        !read_reply(&reply)) {
      reply.status = "<link failed>";
    }
    return reply;
  }
  Reply logon(const std::string& user = "tester", const std::string& password = "secret",
              const std::string& account = "") {
    return call(kCmdLogon,
                bytes("localhost,vm," + user + "," + password + "," + account + ",acpw,"));
  }
  // Statement id, text, and a single NUL for "no binary blocks, no cursor name".
  Reply execute(uint32_t id, const std::string& text) {
    std::vector<uint8_t> p(4);
    put_u32(p.data(), id);
    p.insert(p.end(), text.c_str(), text.c_str() + text.size() + 1);
    p.push_back(0);
    return call(kCmdExecute, p);
  }
  Reply fetch(uint32_t id, int64_t absolute_row = -1) {  // -1: the next block
    std::vector<uint8_t> p(absolute_row < 0 ? 5 : 9, absolute_row < 0 ? 'X' : 'A');
    put_u32(p.data(), id);
    if (absolute_row >= 0) put_u32(p.data() + 5, static_cast<uint32_t>(absolute_row));
    return call(kCmdFetch, p);
  }

 private:
  // Reply frames carry a status string longer than any command, so the first
  // frame's string is split off here and the rest parsed as a later frame.
  bool read_reply(Reply* reply) {
    std::vector<uint8_t> frame;
    for (bool first = true;; first = false) {
      uint8_t length[2];
      if (!channel_->read_exact(length, 2) || load_u16(length) < 6) return false;
      frame.resize(load_u16(length) - 2u);
      if (!channel_->read_exact(frame.data(), frame.size())) return false;
      size_t at = 0;
      if (first) {
        const auto nul = std::find(frame.begin(), frame.end(), 0);
        if (nul == frame.end()) return false;
        reply->status.assign(frame.begin(), nul);
        at = static_cast<size_t>(nul - frame.begin()) + 1;
      }
      FrameView view;
      if (decode_frame_body(frame.data() + at, frame.size() - at, false, &view) !=
          FrameFault::kNone) {
        return false;
      }
      reply->payload.insert(reply->payload.end(), view.chunk, view.chunk + view.chunk_length);
      if (!view.more) return true;
      if (!channel_->write_all(&kAckByte, 1)) return false;
    }
  }
  int fd_ = -1;
  std::unique_ptr<lite::SocketChannel> channel_;
  std::unique_ptr<lite::Link> link_;
};

// A client connected and logged on to `server`.
inline std::unique_ptr<Client> logged_on(const ServerProcess& server) {
  auto client = std::make_unique<Client>();
  if (!client->connect(server.port())) {
    ADD_FAILURE() << "cannot connect to port " << server.port();
  } else if (const Reply reply = client->logon(); reply.letter() != 'K') {
    ADD_FAILURE() << "logon: " << reply.status;
  }
  return client;
}

// A row block from payload[from] on; false when it is malformed.
inline bool parse_block(const std::vector<uint8_t>& payload, size_t from, size_t columns,
                        Rows* rows, char* trailer) {
  Reader in{payload.data() + from, payload.data() + payload.size()};
  for (;;) {
    std::vector<Value> row(columns);
    for (Value& v : row) {
      uint32_t length = 0;
      const uint8_t* data = nullptr;
      if (!in.get_u16(&v.type) || !in.get_u32(&length) || !in.get_bytes(length, &data)) {
        return false;
      }
      v.data.assign(reinterpret_cast<const char*>(data), length);
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

// The rows of a fetch reply's block of `columns` columns, or with `columns` 0
// of an execute reply's first block; the block's trailing status (or 'W' for a
// "W" reply) in *trailer. A malformed reply fails the test.
inline Rows rows_of(const Reply& reply, size_t columns = 0, char* trailer = nullptr) {
  Rows rows;
  char ignored = '\0';
  char& end = trailer != nullptr ? *trailer : ignored;
  end = reply.letter() == 'W' ? 'W' : '\0';
  if (end == 'W') return rows;
  EXPECT_EQ(reply.letter(), 'K') << reply.status;
  // An execute reply: column and row counts, then an optional first block.
  const auto& p = reply.payload;
  const size_t from = columns == 0 ? 8 : 0;
  if (columns == 0 && p.size() >= 8) columns = load_u32(p.data());
  EXPECT_TRUE(p.size() == from ? from == 8
                               : p.size() > from && parse_block(p, from, columns, &rows, &end));
  return rows;
}

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
