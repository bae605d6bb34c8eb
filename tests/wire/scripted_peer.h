// A scripted stand-in for the Q4 server, for wire-level tests: an in-process
// TCP server on the loopback address that follows a script frame by frame.
//
// The peer listens on port 0 (the kernel picks a free port) when constructed
// and runs its script on a thread of its own. Steps are appended with the
// builder methods, before or while the driver works; they run in order. The
// first step that needs a connection accepts one. When a step fails, the peer
// records why, closes the connection (so the driver sees a closed link rather
// than waiting forever) and skips the rest of the script. finish() ends the
// script and returns "" when every step passed, else what went wrong:
//
//   ScriptedPeer peer;
//   peer.expect_request(kCmdExecute, bytes_of("SELECT 1")).reply("K", rows);
//   ... driver: connect to peer.port(), send_request, receive_reply ...
//   EXPECT_EQ(peer.finish(), "");
//
// Every peer operation that waits for the driver gives up after the step
// timeout (5 s unless set), so a driver fault fails a test instead of hanging
// it. The peer is independent of the driver's framing code: it encodes and
// checks frames by itself, so a fault there is not mirrored here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace q4::wire {

using Bytes = std::vector<uint8_t>;

// The bytes of `text`, without a NUL.
Bytes bytes_of(const std::string& text);
// `count` bytes of a fixed pseudo-random pattern (different per `seed`), so
// that a misplaced chunk shows as a mismatch.
Bytes pattern_bytes(size_t count, uint32_t seed = 1);
// "offset 12: got 0x41, want 0x42" for the first difference, or "" when equal.
std::string first_difference(const Bytes& got, const Bytes& want);

// One request as the peer received it.
struct ReceivedRequest {
  std::string command;                  // the lead string of the first frame
  Bytes payload;                        // the chunks joined
  std::vector<uint16_t> frame_lengths;  // L of every frame, in order
};

// One frame sent exactly as described, for hand-made and damaged replies.
// The more flag, the chunk length and the frame length default to what the
// chunk implies (more flag 0) and can be overridden to damage the frame.
struct RawFrame {
  std::optional<std::string> status;  // first frame: the status string (a NUL is added)
  Bytes chunk;
  uint16_t more = 0;
  std::optional<uint16_t> chunk_length;  // default: chunk.size()
  std::optional<uint16_t> frame_length;  // default: the real length
};

// Frame encoding the peer uses for replies: the bytes of one frame.
Bytes encode_frame(const RawFrame& frame);

// The connected end of the peer, handed to custom steps. Every operation
// waits at most the step timeout and returns false with *why set on failure.
class PeerLink {
 public:
  virtual ~PeerLink() = default;
  virtual bool read_exact(size_t count, Bytes* out, std::string* why) = 0;
  virtual bool write_all(const Bytes& bytes, std::string* why) = 0;
  // Reads one whole request (acknowledging every frame that announces
  // another) and checks that it was framed as the driver must frame it.
  virtual bool read_request(ReceivedRequest* out, std::string* why) = 0;
  // Sends a reply cut into 20480-byte chunks, waiting for the driver's
  // acknowledgement byte (0x41) after every frame that announces another.
  virtual bool send_reply(const std::string& status, const Bytes& payload, std::string* why) = 0;
  // The descriptor, for socket options.
  virtual int descriptor() const = 0;
};

class ScriptedPeer {
 public:
  // Listens on `address` ("127.0.0.1" or "::1"), port 0.
  explicit ScriptedPeer(const char* address = "127.0.0.1");
  ~ScriptedPeer();  // finishes the script if the test did not
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // The port the peer listens on, host byte order; 0 if listening failed
  // (finish() then says why).
  uint16_t port() const;
  void set_step_timeout(int milliseconds);
  // The acknowledgement byte the peer sends for request frames (default 0x06;
  // the driver must ignore its value).
  void set_ack_byte(uint8_t byte);

  // --- Steps. Each returns *this so that a script reads as one chain.

  // Accepts the next connection, closing the current one if any (implicit
  // before the first step that needs a connection; explicit for a second
  // connection after close()).
  ScriptedPeer& accept();
  // Reads one request and checks its command and payload.
  ScriptedPeer& expect_request(uint8_t command, const Bytes& payload);
  // Reads one request with this command, any payload (see requests()).
  ScriptedPeer& expect_request(uint8_t command);
  // Reads one request and lets `check` judge it: "" passes, else the reason.
  ScriptedPeer& expect_request(uint8_t command,
                               std::function<std::string(const ReceivedRequest&)> check);
  // Sends a whole reply, chunked, taking the driver's acknowledgements.
  ScriptedPeer& reply(const std::string& status, const Bytes& payload = {});
  // Sends one frame as described; no acknowledgement is read.
  ScriptedPeer& send_frame(const RawFrame& frame);
  ScriptedPeer& send_raw(const Bytes& bytes);
  // Reads one byte from the driver and checks that it is 0x41.
  ScriptedPeer& expect_ack();
  // Sends the peer's acknowledgement byte.
  ScriptedPeer& send_ack();
  // Reads exactly these bytes.
  ScriptedPeer& expect_bytes(const Bytes& bytes);
  // Waits until the driver closes its end (reading and dropping anything).
  ScriptedPeer& expect_closed();
  // Closes the connection here (orderly: the driver reads end of stream).
  ScriptedPeer& close();
  // Closes the connection with a reset (the driver sees ECONNRESET).
  ScriptedPeer& reset();
  // Keeps the connection open without reading or writing until finish().
  ScriptedPeer& stay_silent();
  ScriptedPeer& pause(int milliseconds);
  // Answers every request with `status` and the request's own payload until
  // the driver closes the connection (benchmarks, stress runs).
  ScriptedPeer& echo_requests(const std::string& status = "K");
  // A step of the test's own: return "" when it passed, else the reason.
  ScriptedPeer& step(const std::string& what, std::function<std::string(PeerLink&)> body);

  // Ends the script: waits for the remaining steps (a stay_silent step ends
  // now) and closes the connection. Returns "" when every step passed, else
  // the failure. Later calls return the same text.
  std::string finish();
  // The requests read so far by expect_request steps.
  std::vector<ReceivedRequest> requests() const;

  // The peer's shared state (opaque).
  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace q4::wire
