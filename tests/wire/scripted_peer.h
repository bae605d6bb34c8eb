// A scripted stand-in for the Q4 server: a TCP listener on 127.0.0.1 (the
// kernel picks the port) running a script of steps on its own thread. Steps
// may be appended while the driver works; the first one accepts the
// connection. A failing step records why, closes the connection (the driver
// sees a closed link instead of waiting forever) and ends the script. Every
// wait gives up after the step timeout (5 s unless set). The peer frames by
// itself, so a framing fault in the driver is not mirrored here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace q4::wire {

class PeerSession;
using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& text);  // without a NUL
// `count` bytes of a pseudo-random pattern per `seed`: a misplaced chunk shows.
Bytes pattern_bytes(size_t count, uint32_t seed = 1);

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

// Answers one request: sets the reply's status and payload, or returns why
// the request is wrong.
using Responder = std::function<std::string(const ReceivedRequest&, std::string*, Bytes*)>;

class ScriptedPeer {
 public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const;  // 0 when listening failed (finish() says why)
  void set_step_timeout(int milliseconds);

  // --- Steps; each returns *this so that a script reads as one chain.
  // Reads one request, acknowledging its frames with 0x06 (the driver must
  // ignore the value), and checks its framing, command and payload if given.
  ScriptedPeer& expect_request(uint8_t command, std::optional<Bytes> payload = std::nullopt);
  // A reply cut into 20480-byte chunks, insisting on 0x41 after each but the last.
  ScriptedPeer& reply(const std::string& status, const Bytes& payload = {});
  // Reads and answers `count` requests (until the driver closes for -1).
  ScriptedPeer& serve(int count, Responder responder);
  ScriptedPeer& echo_requests(const std::string& status = "K");  // serve(-1) with the payload
  ScriptedPeer& send_frame(const RawFrame& frame);               // no acknowledgement read
  ScriptedPeer& send_raw(const Bytes& bytes);
  ScriptedPeer& expect_ack();                      // one byte, 0x41
  ScriptedPeer& expect_bytes(const Bytes& bytes);  // exactly these
  ScriptedPeer& expect_closed();  // until the driver closes, dropping what it sends
  ScriptedPeer& close();          // orderly: the driver reads end of stream
  ScriptedPeer& reset();          // the driver sees ECONNRESET

  // An ended script keeps the connection open and silent, unless the driver
  // sends bytes that no step reads: then it closes after the step timeout.
  // Ends the script and closes the connection.
  // "" when every step passed, else the failure; later calls say the same.
  std::string finish();
  std::vector<ReceivedRequest> requests() const;  // every request read, in order

  struct State;

 private:
  ScriptedPeer& step(const std::string& what, std::function<std::string(PeerSession&)> body);
  std::unique_ptr<State> state_;
};

}  // namespace q4::wire
