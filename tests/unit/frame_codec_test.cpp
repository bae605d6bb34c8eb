// Frame headers and bodies, link status codes and transfers that need no
// socket. Damaged frames through a socket are in the wire tests.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "link/frame_codec.h"
#include "link/transport.h"
#include "protocol/wire.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;

// A first frame's L counts 2 + command + NUL + chunk length + more flag; a
// later frame has no lead and L counts the chunk (6 + 20480 = 0x5006).
TEST(FrameCodec, Headers) {
  uint8_t frame[16];
  memset(frame, 0xEE, sizeof frame);
  EXPECT_EQ(put_frame_header(frame, "\x07", 1, 0, false), 8u);
  EXPECT_EQ(Bytes(frame, frame + 9), (Bytes{0x00, 0x08, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEE}));
  EXPECT_EQ(put_frame_header(frame, nullptr, 0, 20480, true), 6u);
  EXPECT_EQ(Bytes(frame, frame + 6), (Bytes{0x50, 0x06, 0x50, 0x00, 0x00, 0x01}));
  // The smallest and largest lengths accepted (the wire tests send the rest).
  EXPECT_EQ(check_frame_length(7, true, kFrameBufferSize), FrameFault::kNone);
  EXPECT_EQ(check_frame_length(6, false, kFrameBufferSize), FrameFault::kNone);
  EXPECT_EQ(check_frame_length(20580, true, kFrameBufferSize), FrameFault::kNone);
}

TEST(FrameCodec, Bodies) {
  Bytes body = {'K', 'o', 'k', 0, 0x00, 0x03, 0x80, 0x00, 'a', 'b', 'c'};  // any non-zero "more"
  FrameView view;
  ASSERT_EQ(decode_frame_body(body.data(), body.size(), true, &view), FrameFault::kNone);
  EXPECT_STREQ(view.lead, "Kok");
  EXPECT_EQ(view.lead_length, 3u);
  EXPECT_TRUE(view.more);
  EXPECT_EQ(Bytes(view.chunk, view.chunk + view.chunk_length), (Bytes{'a', 'b', 'c'}));
}

TEST(LinkStatus, ErrnoAndWaitLimits) {
  // One errno per status, and an unlisted one.
  // clang-format off
  struct Case { int error; uint32_t status; } cases[] = {
      {ECONNRESET, LINK_CLOSED}, {EPIPE, LINK_CLOSED}, {ENETUNREACH, LINK_NETWORK},
      {ETIMEDOUT, LINK_FAILED}, {EBADF, LINK_FAILED},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(link_status_for_errno(c.error), c.status) << c.error;
  EXPECT_EQ(effective_wait_seconds(0), 32767u) << "no limit";
  EXPECT_EQ(effective_wait_seconds(1), 1u);
}

// count <= 0 returns count with LINK_OK before the socket is looked at; a
// lost link fails at once.
TEST(Transfers, NothingToTransferOrNoSocket) {
  uint8_t buffer[4] = {};
  for (int32_t count : {0, -5, 4}) {
    uint32_t want = count > 0 ? LINK_FAILED : LINK_OK, status = 77;
    EXPECT_EQ(recv_exact(buffer, kInvalidSocket, count, &status), count);
    EXPECT_EQ(status, want) << count;
    status = 77;
    EXPECT_EQ(send_exact(buffer, kInvalidSocket, count, &status), count);
    EXPECT_EQ(status, want) << count;
    status = 77;
    EXPECT_EQ(send_exact_timed(buffer, kInvalidSocket, count, 1, &status), count);
    EXPECT_EQ(status, want) << count;
  }
}

}  // namespace
}  // namespace q4
