// Moves whole requests and replies over a byte channel: assembles a request
// from its frames (acknowledging each frame that announces another) and cuts
// a reply into frames (waiting for the peer's acknowledgement between them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace q4::lite {

// Longest command string accepted in a request frame. The driver's commands
// are one byte; anything longer than this is taken as framing damage.
constexpr size_t kMaxCommandLength = 16;
// Longest status text (letter included) that a reply carries; longer server
// messages are cut. The driver's smallest status area for a connection-level
// exchange holds 1030 bytes.
constexpr size_t kMaxStatusLength = 1000;

// A byte stream: a socket in the server, a memory buffer in the fuzzer.
class Channel {
 public:
  virtual ~Channel() = default;
  // Reads exactly n bytes. False on end of stream, error, idle timeout or
  // server shutdown; the connection is then finished.
  virtual bool read_exact(uint8_t* to, size_t n) = 0;
  // Writes all n bytes; false when the peer is gone.
  virtual bool write_all(const uint8_t* from, size_t n) = 0;
  // Writes a frame header and its chunk as one; a socket sends them with one
  // call and no copy.
  virtual bool write_two(const uint8_t* a, size_t a_length, const uint8_t* b, size_t b_length) {
    return write_all(a, a_length) && write_all(b, b_length);
  }
  // Sends whatever writes the channel still holds back; false when the peer
  // is gone.
  virtual bool flush() { return true; }
};

// One received request. `payload` keeps its capacity between requests.
struct Request {
  std::string command;  // the command string (one byte for every known command)
  std::vector<uint8_t> payload;
  bool too_large = false;  // payload beyond the limit was read and dropped
};

// A piece of a reply payload; a payload is sent as the concatenation of pieces.
struct Piece {
  const uint8_t* data;
  size_t length;
};

enum class ReadStatus {
  kOk,
  kClosed,  // the peer closed the stream between requests, or the channel failed
  kBroken,  // framing damage: the stream cannot be followed any further
};

class Link {
 public:
  // `max_payload`: request payload bytes kept at most; the rest of a longer
  // request is read (so the stream stays in step) and dropped.
  Link(Channel& channel, size_t max_payload);

  ReadStatus read_request(Request* request);

  // Sends a reply: `status` (letter and text, cut to kMaxStatusLength) and the
  // pieces as one payload. False when the channel failed.
  bool send_reply(std::string_view status, const Piece* pieces, size_t count);
  bool send_status(std::string_view status) { return send_reply(status, nullptr, 0); }
  // Sends the replies the channel holds back (socket_channel.h).
  bool flush() { return channel_.flush(); }
  bool send_payload(std::string_view status, const uint8_t* data, size_t length) {
    Piece piece{data, length};
    return send_reply(status, &piece, 1);
  }

 private:
  Channel& channel_;
  size_t max_payload_;
  std::vector<uint8_t> frame_;  // one frame, received or being sent
};

}  // namespace q4::lite
