// The link over loopback: framing, damaged replies, a gone peer, a lost link.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "core/diagnostics.h"
#include "link/framing.h"
#include "link/link.h"
#include "link/transport.h"
#include "scripted_peer.h"

namespace q4::wire {
namespace {

// A connected record with a status area and a destination, each followed by 64 guard bytes.
struct Driver {
  explicit Driver(const ScriptedPeer& peer) : conn(connect_link(peer.port(), false)) {
    memset(status + kReplyStatusSize, 0xA5, 64);
    memset(destination.data() + kIoBufferSize, 0xA5, 64);
  }
  // Timed (5 s) so that waiting for bytes a damaged frame promised fails, not
  // hangs. The payload bytes, 0 when the receive failed (*link says why).
  int32_t receive(int32_t capacity, LinkStatus* link) {
    Received last = receive_reply(
        conn->link,
        ReplyArea{status, kReplyStatusSize, destination.data(), capacity, nullptr, nullptr}, 5);
    *link = last.status;
    return last.ok() ? last.bytes : 0;
  }
  bool guards_intact() const {
    Bytes guard(64, 0xA5);
    return memcmp(status + kReplyStatusSize, guard.data(), 64) == 0 &&
           memcmp(destination.data() + kIoBufferSize, guard.data(), 64) == 0;
  }
  ConnectionPtr conn;
  char status[kReplyStatusSize + 64] = {};
  Bytes destination = Bytes(kIoBufferSize + 64, 0);
};

// SIGPIPE keeps its default action: a send without MSG_NOSIGNAL would end the process.
TEST(Transfer, SendToAGonePeerIsClosedWithoutSigpipe) {
  ScriptedPeer peer;
  peer.close();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_EQ(peer.finish(), "");
  Bytes data = pattern_bytes(1000);
  LinkStatus status = LinkStatus::LINK_OK;
  // The kernel may take the first sends; once the reset arrived all fail.
  for (int attempt = 0; attempt < 100 && status == LinkStatus::LINK_OK; ++attempt) {
    int32_t left = send_exact(data.data(), conn->link->socket, 1000, &status);
    EXPECT_EQ(left > 0, status != LinkStatus::LINK_OK);
    if (status == LinkStatus::LINK_OK) usleep(10000);
  }
  EXPECT_EQ(status, LinkStatus::LINK_CLOSED);
}

// Damaged replies over a socket: 0 at once, nothing written outside the given
// areas. Each kind of damage on its own: ../unit/reply_assembler_test.cpp.
TEST(Framing, BrokenReplyFailsTheExchangeAndWritesNothingOutside) {
  // clang-format off
  struct Case { const char* name; std::function<void(ScriptedPeer&)> script; int32_t capacity = 20479;
                LinkStatus link = LinkStatus::LINK_FAILED; };
  // clang-format on
  auto frame = [](size_t chunk, uint16_t more, int frame_length = -1, int chunk_length = -1) {
    return frame_bytes("K", pattern_bytes(chunk), more, frame_length, chunk_length);
  };
  // clang-format off
  const Case cases[] = {
    {"frame length above the frame buffer", [&](ScriptedPeer& p) { p.send_raw(frame(100, 0, kFrameBufferSize + 1)); }},
    {"second frame too small for its header",  [&](ScriptedPeer& p) { p.send_raw(frame(20480, 1)).expect_ack().send_raw({0, 5, 0, 0, 0}); }, 20480},
    {"reply outgrowing a fixed destination", [](ScriptedPeer& p) { p.reply("K", pattern_bytes(20580)); }, 20480},
    {"peer closing between frames", [&](ScriptedPeer& p) { p.send_raw(frame(20480, 1)).expect_ack().close(); }, 20480, LinkStatus::LINK_CLOSED},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    c.script(peer);
    Driver driver(peer);
    LinkStatus status = LinkStatus::LINK_OK;
    EXPECT_EQ(driver.receive(c.capacity, &status), 0);
    EXPECT_EQ(status, c.link);
    EXPECT_TRUE(driver.guards_intact());
    EXPECT_EQ(peer.finish(), "");
  }
}

// The descriptor is closed once; later failures never touch the reusable number.
TEST(LostLink, ClosesOnceAndBalancesTheSocketLayerOnce) {
  const char kFetch[] = {static_cast<char>(kCmdFetch), 0};
  ScriptedPeer peer;
  peer.expect_request(kCmdFetch, Bytes{0, 0, 0, 1})
      .reply("K", pattern_bytes(10))
      .expect_request(kCmdFetch)
      .close();
  int users = socket_layer_users();
  ConnectionPtr conn = connect_link(peer.port());
  const int descriptor = conn->link->socket;
  Bytes reply(kIoBufferSize);
  auto exchange = [&]() -> int32_t {
    uint8_t payload[4] = {0, 0, 0, 1};
    Exchanged result = q4::exchange(
        conn->link, kFetch, payload, 4,
        ReplyArea{conn->exchange_buffer, sizeof conn->exchange_buffer, reply.data(), 20479}, 0);
    if (!result.ok()) report_comm_failure(conn.get(), kStateCommLink);
    return result.received;
  };
  EXPECT_EQ(exchange(), 10);
  EXPECT_EQ(exchange(), 0);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(conn->link->socket, descriptor);
  EXPECT_EQ(conn->link->lost, 1);
  EXPECT_EQ(std::string(conn->sqlstate) + conn->message,
            "08S01" + std::string(kMessagePrefix) + "Communications_ERROR");
  int other = fcntl(0, F_DUPFD_CLOEXEC, descriptor);
  ASSERT_EQ(other, descriptor) << "the failed link's descriptor was not closed";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(exchange(), 0);
  close_link(conn->link);
  conn->link = nullptr;
  EXPECT_EQ(socket_layer_users(), users);
  EXPECT_GE(fcntl(other, F_GETFD), 0) << "a later failure closed a descriptor it no longer owns";
  close(other);
}

}  // namespace
}  // namespace q4::wire
