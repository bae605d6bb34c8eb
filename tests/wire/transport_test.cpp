// The socket transport against real loopback sockets: connecting, time
// limits, and how the transfers report a peer that closes or goes silent.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/socket_layer.h"
#include "link/transport.h"
#include "loopback.h"
#include "scripted_peer.h"

namespace q4::wire {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Records status lines and message boxes instead of showing them.
class RecordingDialogs final : public DialogOps {
 public:
  RecordingDialogs() { previous_ = set_dialog_ops(this); }
  ~RecordingDialogs() override { set_dialog_ops(previous_); }
  void add_status_line(Window*, const char* text) override { lines.push_back(text); }
  int message_box(Window*, const char* text, const char*, unsigned) override {
    boxes.push_back(text);
    return kIdOk;
  }
  std::vector<std::string> lines;
  std::vector<std::string> boxes;

 private:
  DialogOps* previous_;
};

Window* some_window() {
  return reinterpret_cast<Window*>(0x1000);
}

TEST(Connect, ReachesPeerByAddressOrNameInEitherFamily) {
  for (const char* host : {"127.0.0.1", "localhost", "::1"}) {
    ScriptedPeer peer(strchr(host, ':') != nullptr ? "::1" : "127.0.0.1");
    peer.expect_bytes(bytes_of("hi"));
    int users = socket_layer_users();
    ConnectionPtr conn = new_connection(host, peer.port());
    ASSERT_EQ(connect_server(nullptr, conn.get()), 1) << host;
    EXPECT_EQ(socket_layer_users(), users + 1);
    // The socket comes back non-blocking, ready for the timed logon.
    EXPECT_NE(fcntl(conn->socket, F_GETFL) & O_NONBLOCK, 0);
    uint32_t status;
    EXPECT_EQ(send_exact_timed("hi", conn->socket, 2, 5, &status), 0);
    EXPECT_EQ(peer.finish(), "") << host;
    conn.reset();
    EXPECT_EQ(socket_layer_users(), users) << "close_link must end the socket-layer use";
  }
}

TEST(Connect, UnresolvableHostFailsAfterOnlyTheResolvingLine) {
  RecordingDialogs dialogs;
  int users = socket_layer_users();
  ConnectionPtr conn = new_connection("no-such-host.invalid", 1603);
  EXPECT_EQ(connect_server(some_window(), conn.get()), 0);
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(dialogs.lines, std::vector<std::string>{"Resolving hostname..."});
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(socket_layer_users(), users) << "a failed open must not keep a socket-layer use";
}

TEST(Connect, StatusLinesNeedAWindow) {
  RecordingDialogs dialogs;
  ConnectionPtr conn = new_connection("no-such-host.invalid", 1603);
  EXPECT_EQ(connect_server(nullptr, conn.get()), 0);
  EXPECT_TRUE(dialogs.lines.empty());
}

TEST(Connect, RefusedPortFailsAtOnce) {
  RefusingPort refusing;
  ASSERT_NE(refusing.port(), 0);
  int users = socket_layer_users();
  ConnectionPtr conn = new_connection("127.0.0.1", refusing.port(), 30);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(connect_server(nullptr, conn.get()), 0);
  EXPECT_LT(seconds_since(start), 5.0) << "a refused connect must not wait for the time limit";
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(socket_layer_users(), users);
}

TEST(Connect, UnansweredConnectEndsAtTheLoginTimeout) {
  FullBacklogListener listener;
  if (!listener.problem().empty()) GTEST_SKIP() << listener.problem();
  int descriptors_before = dup(0);
  close(descriptors_before);
  ConnectionPtr conn = new_connection("127.0.0.1", listener.port(), 1);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(connect_server(nullptr, conn.get()), 0);
  double waited = seconds_since(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 3.0);
  EXPECT_EQ(conn->socket, kInvalidSocket);
  // The abandoned socket was closed: the next descriptor is the same number.
  int next = dup(0);
  EXPECT_EQ(next, descriptors_before);
  close(next);
}

TEST(Receive, PeerClosingMidReceiveLeavesRemainderAndClosed) {
  ScriptedPeer peer;
  peer.send_raw(pattern_bytes(30)).close();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  uint8_t buffer[100];
  uint32_t status = LINK_OK;
  EXPECT_EQ(recv_exact(buffer, conn->socket, 100, &status), 70);
  EXPECT_EQ(status, LINK_CLOSED);
  EXPECT_EQ(peer.finish(), "");
}

TEST(Receive, PeerResetIsClosed) {
  ScriptedPeer peer;
  peer.send_raw(pattern_bytes(10)).pause(50).reset();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  uint8_t buffer[100];
  uint32_t status = LINK_OK;
  int32_t left = recv_exact(buffer, conn->socket, 100, &status);
  EXPECT_GE(left, 90);  // the reset may discard what had not been read
  EXPECT_EQ(status, LINK_CLOSED);
  EXPECT_EQ(peer.finish(), "");
}

TEST(Receive, TimedReceiveFromSilentPeerTimesOut) {
  ScriptedPeer peer;
  peer.send_raw(pattern_bytes(3)).stay_silent();
  ConnectionPtr conn = new_connection("127.0.0.1", peer.port());
  ASSERT_EQ(connect_server(nullptr, conn.get()), 1);  // still non-blocking
  uint8_t buffer[8];
  uint32_t status = LINK_OK;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(recv_exact_timed(buffer, conn->socket, 8, 1, &status), 5);
  EXPECT_EQ(status, LINK_TIMEOUT);
  double waited = seconds_since(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 3.0);
  EXPECT_EQ(peer.finish(), "");
}

TEST(Receive, PlainReceiveOnNonBlockingSocketWaitsForSlowPeer) {
  // Bytes arriving in pieces with pauses between them are all collected.
  ScriptedPeer peer;
  Bytes data = pattern_bytes(9);
  peer.send_raw(Bytes(data.begin(), data.begin() + 4))
      .pause(100)
      .send_raw(Bytes(data.begin() + 4, data.end()));
  ConnectionPtr conn = new_connection("127.0.0.1", peer.port());
  ASSERT_EQ(connect_server(nullptr, conn.get()), 1);
  Bytes got(9);
  uint32_t status = LINK_FAILED;
  EXPECT_EQ(recv_exact(got.data(), conn->socket, 9, &status), 0);
  EXPECT_EQ(status, LINK_OK);
  EXPECT_EQ(got, data);
  EXPECT_EQ(peer.finish(), "");
}

TEST(Send, PeerGoneIsClosedWithoutSigpipe) {
  // SIGPIPE keeps its default action here: a send without MSG_NOSIGNAL to a
  // closed peer would end the test process.
  ScriptedPeer peer;
  peer.close();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  ASSERT_EQ(peer.finish(), "");
  // The first sends may still be taken by the kernel; once the peer's reset
  // has arrived every send fails.
  Bytes data = pattern_bytes(1000);
  uint32_t status = LINK_OK;
  for (int attempt = 0; attempt < 100 && status == LINK_OK; ++attempt) {
    int32_t left = send_exact(data.data(), conn->socket, 1000, &status);
    if (status == LINK_OK) {
      EXPECT_EQ(left, 0);
      usleep(10000);
    } else {
      EXPECT_GT(left, 0);
    }
  }
  EXPECT_EQ(status, LINK_CLOSED);
}

TEST(Send, TimedSendToPeerThatNeverReadsTimesOut) {
  ScriptedPeer peer;
  peer.stay_silent();
  ConnectionPtr conn = new_connection("127.0.0.1", peer.port());
  ASSERT_EQ(connect_server(nullptr, conn.get()), 1);
  // Far more than the socket buffers on both sides hold.
  Bytes data = pattern_bytes(64 << 20);
  uint32_t status = LINK_OK;
  Clock::time_point start = Clock::now();
  int32_t left =
      send_exact_timed(data.data(), conn->socket, static_cast<int32_t>(data.size()), 1, &status);
  EXPECT_EQ(status, LINK_TIMEOUT);
  EXPECT_GT(left, 0);
  EXPECT_LT(seconds_since(start), 5.0);
  EXPECT_EQ(peer.finish(), "");
}

}  // namespace
}  // namespace q4::wire
