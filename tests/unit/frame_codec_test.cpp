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

TEST(FrameCodec, FirstFrameOfEmptyPayloadCarriesCommandAndEmptyChunk) {
  uint8_t frame[16];
  memset(frame, 0xEE, sizeof frame);
  size_t offset = put_frame_header(frame, "\x07", 1, 0, false);
  // L = 2 + command (1) + NUL + chunk length + more flag.
  EXPECT_EQ(offset, 8u);
  EXPECT_EQ(Bytes(frame, frame + 9), (Bytes{0x00, 0x08, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEE}));
}

TEST(FrameCodec, LaterFrameHasNoLeadAndLengthCountsTheChunk) {
  uint8_t frame[8];
  size_t offset = put_frame_header(frame, nullptr, 0, 20480, true);
  EXPECT_EQ(offset, 6u);
  // 6 + 20480 = 0x5006.
  EXPECT_EQ(Bytes(frame, frame + 6), (Bytes{0x50, 0x06, 0x50, 0x00, 0x00, 0x01}));
}

TEST(FrameCodec, FrameLengthBounds) {
  struct Case {
    uint16_t length;
    bool first;
    bool ok;
  } cases[] = {
      {0, true, false},    {1, true, false},     {2, true, false},
      {6, true, false},  // a first frame needs at least the empty lead's NUL
      {7, true, true},     {6, false, true},     {5, false, false},
      {20580, true, true}, {20581, true, false}, {65535, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_frame_length(c.length, c.first, kFrameBufferSize) == FrameFault::kNone, c.ok)
        << "L=" << c.length << " first=" << c.first;
  }
}

TEST(FrameCodec, DecodesStatusChunkAndAnyNonZeroMoreFlag) {
  Bytes body = {'K', 'o', 'k', 0, 0x00, 0x03, 0x80, 0x00, 'a', 'b', 'c'};
  FrameView view;
  ASSERT_EQ(decode_frame_body(body.data(), body.size(), true, &view), FrameFault::kNone);
  EXPECT_STREQ(view.lead, "Kok");
  EXPECT_EQ(view.lead_length, 3u);
  EXPECT_EQ(view.chunk_length, 3);
  EXPECT_TRUE(view.more);
  EXPECT_EQ(Bytes(view.chunk, view.chunk + 3), (Bytes{'a', 'b', 'c'}));
}

TEST(FrameCodec, DamagedBodiesAreNamed) {
  struct Case {
    const char* name;
    Bytes body;
    bool first;
    FrameFault fault;
  } cases[] = {
      {"status without NUL", {'K', 'K', 'K', 'K', 'K'}, true, FrameFault::kUnterminatedLead},
      {"header cut short", {'K', 0, 0x00, 0x00, 0x00}, true, FrameFault::kMissingHeader},
      {"later frame cut short", {0x00, 0x00, 0x00}, false, FrameFault::kMissingHeader},
      {"chunk longer than frame",
       {0x00, 0x05, 0x00, 0x00, 1, 2, 3},
       false,
       FrameFault::kChunkMismatch},
      {"chunk shorter than frame",
       {0x00, 0x01, 0x00, 0x00, 1, 2},
       false,
       FrameFault::kChunkMismatch},
      {"chunk above 20480", {0x50, 0x01, 0x00, 0x00}, false, FrameFault::kChunkTooLarge},
  };
  for (const Case& c : cases) {
    FrameView view;
    EXPECT_EQ(decode_frame_body(c.body.data(), c.body.size(), c.first, &view), c.fault) << c.name;
  }
}

TEST(LinkStatus, ErrnoMapsLikeTheSocketErrorTable) {
  struct Case {
    int error;
    uint32_t status;
  } cases[] = {
      {ECONNRESET, LINK_CLOSED},   {EPIPE, LINK_CLOSED},        {EHOSTDOWN, LINK_CLOSED},
      {ENETDOWN, LINK_NETWORK},    {ENETUNREACH, LINK_NETWORK}, {ENETRESET, LINK_NETWORK},
      {ECONNABORTED, LINK_FAILED}, {ETIMEDOUT, LINK_FAILED},    {EBADF, LINK_FAILED},
      {ECONNREFUSED, LINK_FAILED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(link_status_for_errno(c.error), c.status) << strerror(c.error);
  }
}

TEST(LinkStatus, ZeroWaitLimitMeans32767Seconds) {
  EXPECT_EQ(effective_wait_seconds(0), 32767u);
  EXPECT_EQ(effective_wait_seconds(1), 1u);
  EXPECT_EQ(effective_wait_seconds(32767), 32767u);
}

TEST(Transfers, NothingToTransferSucceedsAtOnceEvenWithoutASocket) {
  // count <= 0 returns count with LINK_OK before the socket is looked at.
  uint8_t byte = 0;
  for (int32_t count : {0, -5}) {
    uint32_t status = 77;
    EXPECT_EQ(recv_exact(&byte, kInvalidSocket, count, &status), count);
    EXPECT_EQ(status, LINK_OK);
    status = 77;
    EXPECT_EQ(send_exact_timed(&byte, kInvalidSocket, count, 1, &status), count);
    EXPECT_EQ(status, LINK_OK);
  }
}

TEST(Transfers, LostLinkFailsAtOnce) {
  uint8_t buffer[4] = {};
  uint32_t status = LINK_OK;
  EXPECT_EQ(recv_exact(buffer, kInvalidSocket, 4, &status), 4);
  EXPECT_EQ(status, LINK_FAILED);
  status = LINK_OK;
  EXPECT_EQ(send_exact(buffer, kInvalidSocket, 4, &status), 4);
  EXPECT_EQ(status, LINK_FAILED);
  status = LINK_OK;
  EXPECT_EQ(recv_exact_timed(buffer, kInvalidSocket, 4, 1, &status), 4);
  EXPECT_EQ(status, LINK_FAILED);
}

}  // namespace
}  // namespace q4
