// A broken link on an established connection: report_comm_failure gives the
// descriptor up once, and the connection stays "connected" with every later
// exchange failing at once until SQLDisconnect closes it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "core/diagnostics.h"
#include "link/framing.h"
#include "link/socket_layer.h"
#include "link/transport.h"
#include "loopback.h"
#include "protocol/wire.h"
#include "scripted_peer.h"

namespace q4::wire {
namespace {

const char kFetch[] = {static_cast<char>(kCmdFetch), 0};

// One exchange as a statement function runs it; on failure it reports the
// broken link as the statement functions do.
bool fetch_exchange(Connection* conn, uint8_t* reply, int32_t* result) {
  uint8_t payload[4] = {0, 0, 0, 1};
  if (send_request(kFetch, 4, payload, link_socket(conn), conn->frame_buffer, true, 0) != 0) {
    report_comm_failure(conn, kStateCommLink);
    return false;
  }
  uint32_t status;
  *result = receive_reply(nullptr, conn->exchange_buffer, sizeof conn->exchange_buffer, 20479,
                          reply, link_socket(conn), conn->frame_buffer, nullptr, true, &status, 0);
  if (*result == 0) {
    report_comm_failure(conn, kStateCommLink);
    return false;
  }
  return true;
}

TEST(CommFailure, ClosesOnceAndBalancesTheSocketLayerOnce) {
  ScriptedPeer peer;
  peer.expect_request(kCmdFetch, {0, 0, 0, 1})
      .reply("K", pattern_bytes(10))
      .expect_request(kCmdFetch)
      .close();
  int users = socket_layer_users();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  EXPECT_EQ(socket_layer_users(), users + 1);
  const int descriptor = conn->socket;

  Bytes reply(kIoBufferSize);
  int32_t result = 0;
  ASSERT_TRUE(fetch_exchange(conn.get(), reply.data(), &result));
  EXPECT_EQ(result, 10);
  EXPECT_FALSE(fetch_exchange(conn.get(), reply.data(), &result));
  EXPECT_EQ(peer.finish(), "");

  // The connection still counts as connected, but its descriptor is gone.
  EXPECT_EQ(conn->socket, descriptor);
  EXPECT_NE(conn->link_lost, 0);
  EXPECT_EQ(socket_layer_users(), users);
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(std::string(conn->message), std::string(kMessagePrefix) + "Communications_ERROR");

  // The process soon reuses the number for another file.
  int other = fcntl(0, F_DUPFD_CLOEXEC, descriptor);
  ASSERT_EQ(other, descriptor) << "the failed link's descriptor was not closed";

  // Further failing exchanges neither touch that file nor end the
  // socket-layer use again.
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(fetch_exchange(conn.get(), reply.data(), &result));
    EXPECT_STREQ(conn->sqlstate, "08S01");
  }
  EXPECT_EQ(socket_layer_users(), users);
  EXPECT_GE(fcntl(other, F_GETFD), 0) << "a later failure closed a descriptor it no longer owns";

  // SQLDisconnect's close leaves it alone too and makes the record unconnected.
  close_link(conn.get());
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(conn->link_lost, 0);
  EXPECT_EQ(socket_layer_users(), users);
  EXPECT_GE(fcntl(other, F_GETFD), 0);
  close(other);
}

TEST(CommFailure, ExchangesOnALostLinkFailWithoutTouchingTheSocket) {
  ScriptedPeer peer;
  peer.stay_silent();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  drop_link(conn.get());
  EXPECT_EQ(link_socket(conn.get()), kInvalidSocket);

  EXPECT_EQ(send_request(kFetch, 0, nullptr, link_socket(conn.get()), conn->frame_buffer, true, 0),
            static_cast<uint32_t>(LINK_FAILED));
  uint32_t status = LINK_OK;
  uint8_t reply[16];
  EXPECT_EQ(receive_reply(nullptr, conn->exchange_buffer, sizeof conn->exchange_buffer, 16, reply,
                          link_socket(conn.get()), conn->frame_buffer, nullptr, true, &status, 0),
            0);
  EXPECT_EQ(status, LINK_FAILED);
  EXPECT_EQ(peer.finish(), "");
}

TEST(CommFailure, ThePeerSeesTheConnectionClosed) {
  ScriptedPeer peer;
  peer.expect_closed();
  ConnectionPtr conn = connect_link(peer.port());
  ASSERT_NE(conn->socket, kInvalidSocket);
  report_comm_failure(conn.get(), kStateCommSettings);
  EXPECT_STREQ(conn->sqlstate, "08007");
  EXPECT_EQ(peer.finish(), "");
}

}  // namespace
}  // namespace q4::wire
