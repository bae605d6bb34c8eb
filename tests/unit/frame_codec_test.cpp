// Link status codes and transfers that need no socket (frame layouts are
// checked on the wire in the link tests).
#include <gtest/gtest.h>

#include <cerrno>

#include "link/transport.h"
#include "protocol/wire.h"

namespace q4 {
namespace {

TEST(LinkStatus, ErrnoAndWaitLimits) {
  // clang-format off
  struct Case { int error; uint32_t status; } cases[] = {
      {ECONNRESET, LINK_CLOSED}, {EPIPE, LINK_CLOSED}, {ENETUNREACH, LINK_NETWORK}, {EBADF, LINK_FAILED},
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
    EXPECT_EQ(send_exact_timed(buffer, kInvalidSocket, count, 1, &status), count);
    EXPECT_EQ(status, want) << count;
  }
}

}  // namespace
}  // namespace q4
