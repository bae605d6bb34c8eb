// send_request and receive_reply against the scripted peer: frame layout,
// chunking and acknowledgements, the destinations a reply can land in, and
// every way a damaged reply must fail the exchange without touching memory
// outside the areas it was given.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/memory.h"
#include "link/framing.h"
#include "link/transport.h"
#include "loopback.h"
#include "platform/heap.h"
#include "protocol/wire.h"
#include "scripted_peer.h"

namespace q4::wire {
namespace {

const char kExecute[] = {static_cast<char>(kCmdExecute), 0};
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardSize = 64;

// A byte area with guard bytes after its usable part, on the heap so that the
// sanitizer build sees any access beyond the guards too.
class GuardedArea {
 public:
  explicit GuardedArea(size_t size) : size_(size), bytes_(new uint8_t[size + kGuardSize]) {
    memset(bytes_.get(), 0, size);
    memset(bytes_.get() + size, kGuard, kGuardSize);
  }
  uint8_t* data() { return bytes_.get(); }
  char* text() { return reinterpret_cast<char*>(bytes_.get()); }
  size_t size() const { return size_; }
  bool guards_intact() const {
    for (size_t i = 0; i < kGuardSize; ++i) {
      if (bytes_[size_ + i] != kGuard) return false;
    }
    return true;
  }
  Bytes first(size_t n) const { return Bytes(bytes_.get(), bytes_.get() + n); }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
};

// The driver's side of one test: a connected record and its receive areas.
struct DriverSide {
  // `blocking`: as after logon; otherwise non-blocking as during the logon,
  // where the timed transfers keep their limit.
  explicit DriverSide(const ScriptedPeer& peer, size_t status_size = kReplyStatusSize,
                      bool blocking = true)
      : conn(connect_link(peer.port(), "127.0.0.1", blocking)),
        status(status_size),
        destination(kIoBufferSize) {}

  uint32_t send(const Bytes& payload) {
    return send_request(kExecute, static_cast<int32_t>(payload.size()), payload.data(),
                        conn->socket, conn->frame_buffer, true, 0);
  }
  // A fixed destination of `capacity` bytes, with a timed receive (on a
  // non-blocking socket this makes a driver that waits for bytes a damaged
  // frame promised fail the test instead of hanging it).
  int32_t receive_fixed(int32_t capacity, uint32_t* link_status) {
    return receive_reply(nullptr, status.text(), status.size(), capacity, destination.data(),
                         conn->socket, conn->frame_buffer, nullptr, false, link_status, 5);
  }

  ConnectionPtr conn;
  GuardedArea status;
  GuardedArea destination;
};

// A growable block as SQLGetData hands it over: 20480 bytes announced with a
// capacity of 20479 and the grown flag set.
struct GrowableBlock {
  GrowableBlock() : block(static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, 20480))) {}
  ~GrowableBlock() { drv_free(block); }
  uint8_t* block;
};

TEST(SendRequest, EmptyPayloadIsOneFrameWithEmptyChunk) {
  ScriptedPeer peer;
  peer.expect_bytes({0x00, 0x08, kCmdExecute, 0x00, 0x00, 0x00, 0x00, 0x00});
  DriverSide driver(peer);
  EXPECT_EQ(
      send_request(kExecute, 0, nullptr, driver.conn->socket, driver.conn->frame_buffer, true, 0),
      0u);
  EXPECT_EQ(peer.finish(), "");
}

TEST(SendRequest, PayloadsAreCutIntoFullChunksAndOneRest) {
  struct Case {
    size_t size;
    std::vector<uint16_t> frames;  // L of each frame
  } cases[] = {
      {1, {9}},
      {20480, {20488}},
      {20481, {20488, 7}},
      {40960, {20488, 20486}},
      {40961, {20488, 20486, 7}},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer;
    Bytes payload = pattern_bytes(c.size, static_cast<uint32_t>(c.size));
    // The peer checks every frame and sends its own acknowledgement byte
    // (not 0x41): the driver must wait for it and ignore its value.
    peer.expect_request(kCmdExecute, payload).reply("K");
    DriverSide driver(peer);
    EXPECT_EQ(driver.send(payload), 0u) << c.size;
    uint32_t status;
    EXPECT_EQ(driver.receive_fixed(0, &status), -1);
    EXPECT_EQ(peer.finish(), "") << c.size;
    std::vector<ReceivedRequest> requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].frame_lengths, c.frames) << c.size;
  }
}

TEST(SendRequest, PeerClosingBeforeTheAcknowledgementFailsTheSend) {
  ScriptedPeer closing;
  closing.step("read the first frame and close", [](PeerLink& link) {
    Bytes frame;
    std::string why;
    link.read_exact(20488, &frame, &why);
    return why;
  });
  closing.close();
  DriverSide driver(closing);
  EXPECT_EQ(driver.send(pattern_bytes(30000)), static_cast<uint32_t>(LINK_CLOSED));
  EXPECT_EQ(closing.finish(), "");
}

TEST(ReceiveReply, ReplyWithoutPayloadIsMinusOne) {
  ScriptedPeer peer;
  peer.reply("Kdone");
  DriverSide driver(peer);
  uint32_t status = 77;
  EXPECT_EQ(driver.receive_fixed(20479, &status), -1);
  EXPECT_EQ(status, LINK_OK);
  EXPECT_STREQ(driver.status.text(), "Kdone");
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, StatusOnlyCallTakesTheStatusAndIgnoresASingleFramesChunk) {
  for (size_t size : {0, 5}) {
    ScriptedPeer peer;
    peer.reply("W1234 careful", pattern_bytes(size));
    DriverSide driver(peer, kExchangeBufferSize);
    uint32_t status;
    EXPECT_EQ(driver.receive_fixed(0, &status), -1);
    EXPECT_STREQ(driver.status.text(), "W1234 careful");
    EXPECT_EQ(driver.destination.first(8), Bytes(8, 0)) << "nothing goes to the destination";
    EXPECT_EQ(peer.finish(), "");
  }
}

TEST(ReceiveReply, StatusFillingItsAreaExactlyIsTaken) {
  ScriptedPeer peer;
  peer.reply("E123456789abcde");  // 15 characters and the NUL
  DriverSide driver(peer, 16);
  uint32_t status;
  EXPECT_EQ(driver.receive_fixed(0, &status), -1);
  EXPECT_STREQ(driver.status.text(), "E123456789abcde");
  EXPECT_TRUE(driver.status.guards_intact());
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, FixedDestinationTakesAReplyThatFits) {
  for (size_t size : {1, 20479, 20480}) {
    ScriptedPeer peer;
    Bytes payload = pattern_bytes(size);
    peer.reply("K", payload);
    DriverSide driver(peer);
    uint32_t status;
    EXPECT_EQ(driver.receive_fixed(20480, &status), static_cast<int32_t>(size));
    EXPECT_EQ(driver.destination.first(size), payload);
    EXPECT_EQ(peer.finish(), "");
  }
}

TEST(ReceiveReply, TwoChunksGrowTheBlockToExactlyTheirSum) {
  ScriptedPeer peer;
  Bytes payload = pattern_bytes(20480 + 100);
  peer.reply("K", payload);  // the peer insists on the 0x41 acknowledgement
  DriverSide driver(peer);
  GrowableBlock growable;
  uint8_t* original = growable.block;
  int32_t grown = 1;
  uint32_t status;
  // Two growths: 20480 bytes for the first chunk, 20580 for both.
  heap_fail_after(2);
  int32_t result = receive_reply(&grown, driver.status.text(), driver.status.size(), 20479,
                                 driver.destination.data(), driver.conn->socket,
                                 driver.conn->frame_buffer, &growable.block, true, &status, 0);
  heap_fail_after(-1);
  EXPECT_EQ(result, 20580);
  EXPECT_EQ(grown, 1);
  EXPECT_NE(growable.block, original);
  EXPECT_EQ(Bytes(growable.block, growable.block + 20580), payload);
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, GrowthKeepsWhatTheFixedDestinationAlreadyHeld) {
  // Not grown on entry: the first chunk fits the destination; the second
  // moves both into a new block.
  ScriptedPeer peer;
  Bytes payload = pattern_bytes(20480 + 20480 + 7);
  peer.reply("K", payload);
  DriverSide driver(peer);
  GrowableBlock growable;
  int32_t grown = 0;
  uint32_t status;
  int32_t result = receive_reply(&grown, driver.status.text(), driver.status.size(), 20480,
                                 driver.destination.data(), driver.conn->socket,
                                 driver.conn->frame_buffer, &growable.block, true, &status, 0);
  ASSERT_EQ(result, 40967);
  EXPECT_EQ(grown, 1);
  EXPECT_EQ(Bytes(growable.block, growable.block + 40967), payload);
  EXPECT_TRUE(driver.destination.guards_intact());
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, FailedGrowthDropsTheReplyButKeepsTheLinkInStep) {
  ScriptedPeer peer;
  peer.reply("K", pattern_bytes(20480 + 100));
  Bytes next = pattern_bytes(10, 9);
  peer.expect_request(kCmdExecute, bytes_of("again")).reply("Knext", next);
  DriverSide driver(peer);
  GrowableBlock growable;
  uint8_t* original = growable.block;
  int32_t grown = 1;
  uint32_t status;
  heap_fail_after(0);
  int32_t result = receive_reply(&grown, driver.status.text(), driver.status.size(), 20479,
                                 driver.destination.data(), driver.conn->socket,
                                 driver.conn->frame_buffer, &growable.block, true, &status, 0);
  heap_fail_after(-1);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(growable.block, original) << "the caller's block stays when growth fails";

  ASSERT_EQ(driver.send(bytes_of("again")), 0u);
  EXPECT_EQ(driver.receive_fixed(20479, &status), 10);
  EXPECT_STREQ(driver.status.text(), "Knext");
  EXPECT_EQ(driver.destination.first(10), next);
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, AnyNonZeroMoreFlagAnnouncesAFrame) {
  ScriptedPeer peer;
  RawFrame first;
  first.status = "K";
  first.chunk = pattern_bytes(3, 1);
  first.more = 0x8000;
  RawFrame second;
  second.chunk = pattern_bytes(2, 2);
  peer.send_frame(first).expect_ack().send_frame(second);
  DriverSide driver(peer);
  uint32_t status;
  EXPECT_EQ(driver.receive_fixed(20479, &status), 5);
  Bytes want = first.chunk;
  want.insert(want.end(), second.chunk.begin(), second.chunk.end());
  EXPECT_EQ(driver.destination.first(5), want);
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, PeerClosingBetweenFramesLeavesClosed) {
  ScriptedPeer peer;
  RawFrame first;
  first.status = "K";
  first.chunk = pattern_bytes(20480);
  first.more = 1;
  peer.send_frame(first).expect_ack().close();
  DriverSide driver(peer);
  uint32_t status;
  EXPECT_EQ(driver.receive_fixed(20480, &status), 0);
  EXPECT_EQ(status, LINK_CLOSED);
  EXPECT_EQ(peer.finish(), "");
}

TEST(ReceiveReply, SilentPeerEndsATimedReceive) {
  ScriptedPeer peer;
  peer.stay_silent();
  DriverSide driver(peer, kReplyStatusSize, false);
  uint32_t status;
  EXPECT_EQ(receive_reply(nullptr, driver.status.text(), driver.status.size(), 20479,
                          driver.destination.data(), driver.conn->socket, driver.conn->frame_buffer,
                          nullptr, false, &status, 1),
            0);
  EXPECT_EQ(status, LINK_TIMEOUT);
  EXPECT_EQ(peer.finish(), "");
}

// --- Broken streams: each must end the exchange with 0 and LINK_FAILED,
// at once (no waiting for bytes the damage promised), writing nothing outside
// the status area and the destination.

struct BrokenCase {
  const char* name;
  std::function<void(ScriptedPeer&)> script;
  int32_t capacity = 20479;
  size_t status_size = kReplyStatusSize;
};

RawFrame frame(const char* status, size_t chunk, uint16_t more = 0) {
  RawFrame f;
  if (status != nullptr) f.status = status;
  f.chunk = pattern_bytes(chunk);
  f.more = more;
  return f;
}

RawFrame with_lengths(RawFrame f, std::optional<uint16_t> frame_length,
                      std::optional<uint16_t> chunk_length) {
  f.frame_length = frame_length;
  f.chunk_length = chunk_length;
  return f;
}

std::vector<BrokenCase> broken_cases() {
  std::vector<BrokenCase> cases;
  for (uint16_t length : {0, 1, 2, 6}) {
    cases.push_back({"first frame length too small", [length](ScriptedPeer& p) {
                       p.send_raw({static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                                   'K', 0, 0, 0, 0, 0, 0, 0});
                     }});
  }
  cases.push_back({"frame length above the frame buffer", [](ScriptedPeer& p) {
                     p.send_frame(with_lengths(frame("K", 100), kFrameBufferSize + 1, {}));
                   }});
  cases.push_back({"frame length 65535", [](ScriptedPeer& p) {
                     p.send_frame(with_lengths(frame("K", 100), 65535, {}));
                   }});
  cases.push_back({"chunk length larger than its frame",
                   [](ScriptedPeer& p) { p.send_frame(with_lengths(frame("K", 10), {}, 11)); }});
  cases.push_back({"chunk length smaller than its frame",
                   [](ScriptedPeer& p) { p.send_frame(with_lengths(frame("K", 10), {}, 9)); }});
  cases.push_back({"chunk above 20480 bytes within the frame buffer",
                   [](ScriptedPeer& p) { p.send_frame(frame("K", 20481)); }});
  cases.push_back({"status string without NUL", [](ScriptedPeer& p) {
                     p.send_raw({0x00, 0x0A, 'K', 'K', 'K', 'K', 'K', 'K', 'K', 'K'});
                   }});
  cases.push_back({"status string longer than its area",
                   [](ScriptedPeer& p) { p.reply("E1234 a message of some length"); }, 20479, 16});
  cases.push_back({"status string one byte too long for its area",
                   [](ScriptedPeer& p) { p.reply("E123456789abcdef"); }, 20479, 16});
  cases.push_back({"further frames announced to a status-only call",
                   [](ScriptedPeer& p) { p.send_frame(frame("K", 20480, 1)); }, 0});
  cases.push_back({"empty first chunk announcing more",
                   [](ScriptedPeer& p) { p.send_frame(frame("K", 0, 1)); }});
  cases.push_back(
      {"second frame too small to hold its header",
       [](ScriptedPeer& p) {
         p.send_frame(frame("K", 20480, 1)).expect_ack().send_raw({0x00, 0x05, 0, 0, 0});
       },
       20480});
  cases.push_back(
      {"second frame with a chunk above 20480",
       [](ScriptedPeer& p) {
         p.send_frame(frame("K", 20480, 1)).expect_ack().send_frame(frame(nullptr, 20500));
       },
       20480});
  cases.push_back({"reply outgrowing a fixed destination",
                   [](ScriptedPeer& p) { p.reply("K", pattern_bytes(20480 + 100)); }, 20480});
  cases.push_back({"single chunk larger than a small fixed destination",
                   [](ScriptedPeer& p) { p.reply("K", pattern_bytes(50)); }, 49});
  return cases;
}

TEST(ReceiveReply, BrokenStreamFailsTheExchangeAndWritesNothingOutside) {
  for (const BrokenCase& c : broken_cases()) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    c.script(peer);
    peer.stay_silent();
    DriverSide driver(peer, c.status_size, false);
    ASSERT_NE(driver.conn->socket, kInvalidSocket);
    uint32_t status = LINK_OK;
    EXPECT_EQ(driver.receive_fixed(c.capacity, &status), 0);
    EXPECT_EQ(status, LINK_FAILED);
    EXPECT_TRUE(driver.status.guards_intact());
    EXPECT_TRUE(driver.destination.guards_intact());
    EXPECT_EQ(peer.finish(), "");
  }
}

TEST(ReceiveReply, OverflowOfAFixedDestinationKeepsTheChunksThatFit) {
  ScriptedPeer peer;
  Bytes payload = pattern_bytes(20480 + 100);
  peer.reply("K", payload);
  DriverSide driver(peer);
  uint32_t status;
  EXPECT_EQ(driver.receive_fixed(20480, &status), 0);
  EXPECT_EQ(status, LINK_FAILED);
  EXPECT_EQ(driver.destination.first(20480), Bytes(payload.begin(), payload.begin() + 20480));
  EXPECT_TRUE(driver.destination.guards_intact());
  EXPECT_EQ(peer.finish(), "");
}

}  // namespace
}  // namespace q4::wire
