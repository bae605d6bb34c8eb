// A scripted stand-in for the Q4 server: an in-process TCP server on a
// loopback address (port 0: the kernel picks one) that runs a script of steps
// on a thread of its own. Steps may be appended while the driver works; the
// first step that needs a connection accepts one. A failing step records why,
// closes the connection (so the driver sees a closed link instead of waiting
// forever) and ends the script. Every wait gives up after the step timeout
// (5 s unless set). The peer encodes and checks frames by itself, so a fault
// in the driver's framing is not mirrored here.
//
//   ScriptedPeer peer;
//   peer.expect_request(kCmdExecute, bytes_of("SELECT 1")).reply("K", rows);
//   ... driver: connect to peer.port(), exchange ...
//   EXPECT_EQ(peer.finish(), "");
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

Bytes bytes_of(const std::string& text);  // without a NUL
// `count` bytes of a pseudo-random pattern per `seed`: a misplaced chunk shows.
Bytes pattern_bytes(size_t count, uint32_t seed = 1);
// "offset 12: got 0x41, want 0x42 (lengths 20/20)" for the first difference, or "".
std::string first_difference(const Bytes& got, const Bytes& want);

struct ReceivedRequest {
  std::string command;                  // the lead string of the first frame
  Bytes payload;                        // the chunks joined
  std::vector<uint16_t> frame_lengths;  // L of every frame, in order
};

// One frame sent as described, for hand-made and damaged replies; the chunk
// and frame lengths default to the real ones.
struct RawFrame {
  std::optional<std::string> status;  // first frame only (a NUL is added)
  Bytes chunk;
  uint16_t more = 0;
  std::optional<uint16_t> chunk_length;
  std::optional<uint16_t> frame_length;
};

// The connected end of the peer, for custom steps. Each operation waits at
// most the step timeout and returns "" or why it failed.
class PeerLink {
 public:
  virtual ~PeerLink() = default;
  virtual std::string read_exact(size_t count, Bytes* out) = 0;
  virtual std::string write_all(const Bytes& bytes) = 0;
  // One whole request, acknowledged frame by frame with 0x06 (the driver must
  // ignore the value), checked to be framed as the driver must frame it.
  virtual std::string read_request(ReceivedRequest* out) = 0;
  // A reply cut into 20480-byte chunks, insisting on the driver's 0x41 after
  // every frame that announces another.
  virtual std::string send_reply(const std::string& status, const Bytes& payload) = 0;
};

class ScriptedPeer {
 public:
  explicit ScriptedPeer(const char* address = "127.0.0.1");  // or "::1"
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const;  // 0 when listening failed (finish() says why)
  void set_step_timeout(int milliseconds);

  // --- Steps; each returns *this so that a script reads as one chain.
  // Reads one request and checks its command, and its payload if given.
  ScriptedPeer& expect_request(uint8_t command, std::optional<Bytes> payload = std::nullopt);
  // Reads one request of `command` and lets `check` judge it ("" passes).
  ScriptedPeer& expect_request(uint8_t command,
                               std::function<std::string(const ReceivedRequest&)> check);
  ScriptedPeer& reply(const std::string& status, const Bytes& payload = {});
  ScriptedPeer& send_frame(const RawFrame& frame);  // no acknowledgement read
  ScriptedPeer& send_raw(const Bytes& bytes);
  ScriptedPeer& expect_ack();                      // one byte, 0x41
  ScriptedPeer& expect_bytes(const Bytes& bytes);  // exactly these
  ScriptedPeer& expect_closed();  // until the driver closes, dropping what it sends
  ScriptedPeer& close();          // orderly: the driver reads end of stream
  ScriptedPeer& reset();          // the driver sees ECONNRESET
  ScriptedPeer& stay_silent();    // until finish()
  ScriptedPeer& pause(int milliseconds);
  // Answers every request with `status` and its own payload until the driver
  // closes the connection (benchmarks).
  ScriptedPeer& echo_requests(const std::string& status = "K");
  ScriptedPeer& step(const std::string& what, std::function<std::string(PeerLink&)> body);

  // Ends the script (a stay_silent step ends now) and closes the connection.
  // "" when every step passed, else the failure; later calls say the same.
  std::string finish();
  std::vector<ReceivedRequest> requests() const;  // read by expect_request

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace q4::wire
