// Connected driver records, and a scripted stand-in for the Q4 server on
// loopback: steps run on the peer's thread, may be appended while the driver
// works, and the first accepts the connection. A failing step records why and
// closes the connection; every wait gives up after the step timeout (5 s).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"

namespace q4::wire {

using Bytes = std::vector<uint8_t>;

struct ConnectionDeleter {
  void operator()(Connection* conn) const;  // close_link, then delete
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

// A record for 127.0.0.1:port connected with connect_server (kInvalidSocket
// when that failed), its socket blocking as after a logon unless told.
ConnectionPtr connect_link(uint16_t port, bool blocking = true, uint32_t login_timeout = 5);
// A TCP socket bound to 127.0.0.1 at a port the kernel picks, listening with
// `backlog` unless it is negative; -1 when that failed.
int bound_loopback(int backlog, uint16_t* port);

Bytes bytes_of(const std::string& text);               // without a NUL
Bytes pattern_bytes(size_t count, uint32_t seed = 1);  // pseudo-random: a misplaced chunk shows

struct ReceivedRequest {
  std::string command;                  // the lead string of the first frame
  Bytes payload;                        // the chunks joined
  std::vector<uint16_t> frame_lengths;  // L of every frame
};

// A reply frame: the status string and its NUL (first frame only, else
// nullptr), chunk length, more flag, chunk; lengths below 0 are the real ones.
Bytes frame_bytes(const char* status, const Bytes& chunk, uint16_t more = 0, int frame_length = -1,
                  int chunk_length = -1);

// Sets one request's reply status and payload, or returns why the request is wrong.
using Responder = std::function<std::string(const ReceivedRequest&, std::string*, Bytes*)>;

class ScriptedPeer {
 public:
  struct State;
  ScriptedPeer();
  ~ScriptedPeer();
  uint16_t port() const;
  void set_step_timeout(int milliseconds);

  // Reads one request, acknowledging its frames with 0x06 (the driver must
  // not check the value), and checks its framing, command and payload.
  ScriptedPeer& expect_request(uint8_t command, std::optional<Bytes> payload = std::nullopt);
  ScriptedPeer& reply(const std::string& status, const Bytes& payload = {});  // 20480-byte chunks
  ScriptedPeer& serve(int count, Responder responder);  // -1: until the driver closes
  ScriptedPeer& echo_requests(const std::string& status = "K");
  ScriptedPeer& send_raw(const Bytes& bytes);
  ScriptedPeer& expect_ack();     // one byte, 0x41
  ScriptedPeer& expect_closed();  // drops what comes until the driver closes
  ScriptedPeer& close();
  ScriptedPeer& reset();  // the driver sees ECONNRESET

  // Ends the script: "" when every step passed, else the failure. An idle
  // script keeps the connection unless the driver sends bytes no step reads.
  std::string finish();
  std::vector<ReceivedRequest> requests() const;

 private:
  ScriptedPeer& step(const std::string& what, std::function<std::string(State&)> body);
  std::unique_ptr<State> state_;
};

}  // namespace q4::wire
