// The server tests' Q4-protocol client: the server's own Link and SocketChannel
// used from the client's side.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "protocol/codec.h"
#include "protocol/frame_codec.h"
#include "q4lite_process.h"
#include "server/network/socket_channel.h"

namespace q4::test {

struct Reply {
  std::string status;  // letter and text; "<link failed>" when the exchange broke
  std::vector<uint8_t> payload;
  char letter() const { return status.empty() ? '\0' : status[0]; }
};
// Rows of values read as integers (SQL_INTEGER or SQL_SMALLINT data; 0 for any other).
using Rows = std::vector<std::vector<int32_t>>;

inline std::vector<uint8_t> bytes(const std::string& t) {
  return {t.begin(), t.end()};
}

class Client {
 public:
  ~Client() { ::close(fd_); }  // the channel and link do not own the socket (-1: none)
  // Connects, and logs on as "tester" when told.
  bool connect(uint16_t port, bool log_on = false) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
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
    return !log_on || logon().letter() == 'K';
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
    return send(command, payload) ? receive() : Reply{"<link failed>", {}};
  }
  // The two halves, for requests sent ahead of their replies.
  bool send(uint8_t command, const std::vector<uint8_t>& payload) {
    const std::string_view name(reinterpret_cast<const char*>(&command), 1);
    return link_ && link_->send_payload(name, payload.data(), payload.size());
  }
  Reply receive() {
    Reply reply;
    if (!link_ || !read_reply(&reply)) reply.status = "<link failed>";
    return reply;
  }
  // User, password and account.
  Reply logon(const std::string& fields = "tester,secret,") {
    return call(kCmdLogon, bytes("localhost,vm," + fields + ",acpw,"));
  }
  // Statement id, text, and a single NUL for "no binary blocks, no cursor name".
  static std::vector<uint8_t> execute_payload(uint32_t id, const std::string& text) {
    std::vector<uint8_t> p(4 + text.size() + 2, 0);
    std::copy(text.begin(), text.end(), p.begin() + 4);
    put_u32(p.data(), id);
    return p;
  }
  Reply execute(uint32_t id, const std::string& text) {
    return call(kCmdExecute, execute_payload(id, text));
  }
  Reply fetch(uint32_t id, int64_t absolute_row = -1) {  // -1: the next block
    std::vector<uint8_t> p(absolute_row < 0 ? 5 : 9, absolute_row < 0 ? 'X' : 'A');
    put_u32(p.data(), id);
    if (absolute_row >= 0) put_u32(p.data() + 5, static_cast<uint32_t>(absolute_row));
    return call(kCmdFetch, p);
  }

 private:
  bool read_reply(Reply* reply) {
    std::vector<uint8_t> frame;
    for (bool first = true;; first = false) {
      uint8_t length[2];
      if (!channel_->read_exact(length, 2) || load_u16(length) < 6) return false;
      frame.resize(load_u16(length) - 2u);
      FrameView view;
      if (!channel_->read_exact(frame.data(), frame.size()) ||
          decode_frame_body(frame.data(), frame.size(), first, &view) != FrameFault::kNone) {
        return false;
      }
      if (first) reply->status.assign(view.lead, view.lead_length);
      reply->payload.insert(reply->payload.end(), view.chunk, view.chunk + view.chunk_length);
      if (!view.more) return true;
      if (!channel_->write_all(&kAckByte, 1)) return false;
    }
  }
  int fd_ = -1;
  std::unique_ptr<lite::SocketChannel> channel_;
  std::unique_ptr<lite::Link> link_;
};

// The rows of a fetch reply's block of `columns` columns, or with `columns` 0
// of an execute reply of a server started without column descriptions (its
// counts, then a first block if any), each value read as an integer (SQL_INTEGER or SQL_SMALLINT
// data; 0 for any other), and the block's trailing status in *trailer ('W' for
// a "W" reply). A malformed reply fails the test.
inline Rows rows_of(const Reply& reply, size_t columns = 0, char* trailer = nullptr) {
  Rows rows;
  char last = reply.letter() == 'W' ? 'W' : '\0';
  if (trailer != nullptr) *trailer = last;
  if (last == 'W') return rows;
  EXPECT_EQ(reply.letter(), 'K') << reply.status;
  Reader in{reply.payload.data(), reply.payload.data() + reply.payload.size()};
  uint32_t width = static_cast<uint32_t>(columns), count = 0;
  if (columns == 0 && !(in.get_u32(&width) && in.get_u32(&count))) {
    ADD_FAILURE() << "counts cut short";
    return rows;
  }
  for (uint8_t status = 'K'; status == 'K' && in.remaining() > 0;) {
    rows.emplace_back();
    for (uint32_t i = 0; i < width; ++i) {
      uint16_t type = 0;
      uint32_t length = 0;
      const uint8_t* v = nullptr;
      const bool whole = in.get_u16(&type) && in.get_u32(&length) && in.get_bytes(length, &v);
      EXPECT_TRUE(whole) << "a value cut short";
      if (!whole) return rows;
      rows.back().push_back(length == 4   ? int32_t(load_u32(v))
                            : length == 2 ? int16_t(load_u16(v))
                                          : 0);
    }
    status = 0;
    EXPECT_TRUE(in.get_u8(&status)) << "no status after a row";
    if (trailer != nullptr) *trailer = static_cast<char>(status);
  }
  EXPECT_EQ(in.remaining(), 0u) << "bytes after the block";
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
