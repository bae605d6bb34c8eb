// The reply assembler on its own, fed frames as bytes or as views: one fault
// per test, each named after the fault, and the rules a whole reply follows.
#include "link/reply_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "platform/heap.h"
#include "protocol/codec.h"
#include "protocol/frame_codec.h"
#include "protocol/wire.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;
using Step = ReplyAssembler::Step;

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

Bytes chunk_of(size_t count, uint8_t seed = 1) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

// One frame as the server sends it: length field, the lead string with its
// NUL when `lead` is given (first frame), chunk length, more flag, chunk.
// `frame_length` and `chunk_length` replace the true values when not -1.
Bytes frame(const char* lead, const Bytes& chunk, bool more, int frame_length = -1,
            int chunk_length = -1) {
  Bytes bytes(kFrameLengthSize + (lead != nullptr ? strlen(lead) + 1 : 0) + kChunkHeaderSize +
              chunk.size());
  size_t offset = put_frame_header(bytes.data(), lead, lead != nullptr ? strlen(lead) : 0,
                                   static_cast<uint16_t>(chunk.size()), more);
  if (!chunk.empty()) memcpy(bytes.data() + offset, chunk.data(), chunk.size());
  if (frame_length >= 0) put_u16(bytes.data(), static_cast<uint16_t>(frame_length));
  if (chunk_length >= 0) put_u16(bytes.data() + offset - 4, static_cast<uint16_t>(chunk_length));
  return bytes;
}

// A status area and a destination, each followed by guard bytes.
struct Area {
  explicit Area(int32_t capacity = 64, size_t status_size = 16)
      : status(status_size + kGuard, kGuardByte),
        destination(static_cast<size_t>(capacity > 0 ? capacity : 0) + kGuard, kGuardByte),
        reply{status.data(), status_size, destination.data(), capacity} {}
  bool guards_intact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (static_cast<uint8_t>(status[status.size() - 1 - i]) != kGuardByte ||
          destination[destination.size() - 1 - i] != kGuardByte) {
        return false;
      }
    }
    return true;
  }
  Bytes payload(size_t count) const {
    return Bytes(destination.begin(), destination.begin() + count);
  }
  std::vector<char> status;
  Bytes destination;
  ReplyArea reply;
};

// Hands one frame to the assembler as the receiver does: its length field,
// then its body copied to a block of exactly its size (a read past it is
// caught under AddressSanitizer).
Step feed(ReplyAssembler* assembler, const Bytes& bytes) {
  int32_t body = assembler->body_length(load_u16(bytes.data()));
  if (body < 0) return Step::kBroken;
  EXPECT_EQ(static_cast<size_t>(body), bytes.size() - kFrameLengthSize);
  std::vector<uint8_t> exact(bytes.begin() + kFrameLengthSize, bytes.end());
  return assembler->take_body(exact.data(), body);
}

// --- whole replies --------------------------------------------------------

TEST(ReplyAssembler, OneFrameReplyBringsItsStatusAndPayload) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  Bytes chunk = chunk_of(40);
  EXPECT_EQ(feed(&assembler, frame("Kdone", chunk, false)), Step::kComplete);
  EXPECT_STREQ(area.status.data(), "Kdone");
  EXPECT_EQ(assembler.payload(), ReplyPayload::kBytes);
  EXPECT_EQ(assembler.bytes(), 40);
  EXPECT_EQ(assembler.frames(), 1);
  EXPECT_EQ(area.payload(40), chunk);
  EXPECT_TRUE(area.guards_intact());
}

TEST(ReplyAssembler, ReplyWithoutPayloadBringsNone) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("W", {}, false)), Step::kComplete);
  EXPECT_EQ(assembler.payload(), ReplyPayload::kNone);
  EXPECT_EQ(assembler.bytes(), 0);
  EXPECT_STREQ(area.status.data(), "W");
}

// Ack rules: every frame that announces another is acknowledged, the last
// one is not, and the chunks join in order whatever their sizes.
TEST(ReplyAssembler, EachFrameThatAnnouncesAnotherIsAcknowledged) {
  Area area(3 * kMaxChunk);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  Bytes a = chunk_of(kMaxChunk, 1), b = chunk_of(1, 2), c = chunk_of(kMaxChunk, 3);
  EXPECT_EQ(feed(&assembler, frame("K", a, true)), Step::kAcknowledge);
  EXPECT_EQ(feed(&assembler, frame(nullptr, b, true)), Step::kAcknowledge);
  EXPECT_EQ(feed(&assembler, frame(nullptr, c, false)), Step::kComplete);
  EXPECT_EQ(assembler.frames(), 3);
  EXPECT_EQ(assembler.bytes(), 2 * kMaxChunk + 1);
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.end());
  EXPECT_EQ(area.payload(all.size()), all);
  EXPECT_TRUE(area.guards_intact());
}

// A later frame may be empty: it ends the reply without adding to it.
TEST(ReplyAssembler, EmptyLastFrameEndsTheReply) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(5), true)), Step::kAcknowledge);
  EXPECT_EQ(feed(&assembler, frame(nullptr, {}, false)), Step::kComplete);
  EXPECT_EQ(assembler.bytes(), 5);
}

// A single frame's chunk is not wanted by a status-only area and is left out.
TEST(ReplyAssembler, StatusOnlyAreaTakesTheStatusAlone) {
  Area area(0);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("Kok", chunk_of(30), false)), Step::kComplete);
  EXPECT_STREQ(area.status.data(), "Kok");
  EXPECT_EQ(assembler.payload(), ReplyPayload::kNone);
  EXPECT_TRUE(area.guards_intact());
}

TEST(ReplyAssembler, StatusFillingItsAreaExactlyIsTaken) {
  Area area(64, 16);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("E123456789abcde", {}, false)), Step::kComplete);
  EXPECT_STREQ(area.status.data(), "E123456789abcde");
  EXPECT_TRUE(area.guards_intact());
}

// The block at least doubles, so a reply of n frames costs few copies; the
// payload ends up whole in the last block, and *grown says so.
TEST(ReplyAssembler, GrowableAreaMovesThePayloadIntoALargerBlock) {
  Area area(100);
  uint8_t* block = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, 16));
  int32_t grown = 0;
  area.reply.growable = &block;
  area.reply.grown = &grown;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  Bytes a = chunk_of(60, 1), b = chunk_of(kMaxChunk, 2), c = chunk_of(700, 3);
  EXPECT_EQ(feed(&assembler, frame("K", a, true)), Step::kAcknowledge);
  EXPECT_EQ(grown, 0) << "the first chunk fits the destination";
  EXPECT_EQ(feed(&assembler, frame(nullptr, b, true)), Step::kAcknowledge);
  EXPECT_EQ(grown, 1);
  EXPECT_EQ(feed(&assembler, frame(nullptr, c, false)), Step::kComplete);
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.end());
  EXPECT_EQ(assembler.bytes(), static_cast<int32_t>(all.size()));
  EXPECT_EQ(Bytes(block, block + all.size()), all);
  EXPECT_TRUE(area.guards_intact());
  drv_free(block);
}

// Out of memory is not damage: the reply is still read to its end and every
// frame acknowledged, so the link stays in step; the payload is dropped and
// said to be, and the caller's block is left as it was.
TEST(ReplyAssembler, FailedGrowthDropsThePayloadAndKeepsAcknowledging) {
  Area area(100);
  uint8_t* block = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, 16));
  uint8_t* original = block;
  int32_t grown = 0;
  area.reply.growable = &block;
  area.reply.grown = &grown;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  heap_fail_after(0);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(kMaxChunk), true)), Step::kAcknowledge);
  heap_fail_after(-1);
  EXPECT_EQ(feed(&assembler, frame(nullptr, chunk_of(kMaxChunk), true)), Step::kAcknowledge);
  EXPECT_EQ(feed(&assembler, frame(nullptr, chunk_of(10), false)), Step::kComplete);
  EXPECT_EQ(assembler.payload(), ReplyPayload::kDropped);
  EXPECT_EQ(assembler.bytes(), 0);
  EXPECT_EQ(block, original);
  EXPECT_EQ(grown, 0);
  EXPECT_TRUE(area.guards_intact());
  drv_free(block);
}

// --- faults: each breaks the stream at once ---------------------------------

TEST(ReplyAssemblerFault, FirstFrameLengthTooShortForItsHeaders) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  // Length field, an empty status string and its NUL, chunk header: 7 bytes.
  EXPECT_EQ(assembler.body_length(6), -1);
  EXPECT_EQ(feed(&assembler, frame("K", {}, false)), Step::kBroken) << "broken stays broken";
}

TEST(ReplyAssemblerFault, LaterFrameLengthTooShortForItsHeader) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  ASSERT_EQ(feed(&assembler, frame("K", chunk_of(4), true)), Step::kAcknowledge);
  EXPECT_EQ(assembler.body_length(5), -1);
}

TEST(ReplyAssemblerFault, FrameLengthAboveTheFrameArea) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(assembler.body_length(kFrameBufferSize), kFrameBufferSize - 2);
  ReplyAssembler next(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(next.body_length(kFrameBufferSize + 1), -1);
}

TEST(ReplyAssemblerFault, ChunkAbove20480Bytes) {
  Area area(2 * kMaxChunk);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(kMaxChunk + 1), false)), Step::kBroken);
  EXPECT_TRUE(area.guards_intact());
}

TEST(ReplyAssemblerFault, ChunkLengthLargerThanItsFrame) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(10), false, -1, 11)), Step::kBroken);
}

TEST(ReplyAssemblerFault, ChunkLengthSmallerThanItsFrame) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(10), false, -1, 9)), Step::kBroken);
}

TEST(ReplyAssemblerFault, StatusStringWithoutNul) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  const Bytes bytes{0, 10, 'K', 'K', 'K', 'K', 'K', 'K', 'K', 'K'};
  EXPECT_EQ(feed(&assembler, bytes), Step::kBroken);
}

TEST(ReplyAssemblerFault, StatusOneByteTooLongForItsArea) {
  Area area(64, 16);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("E123456789abcdef", {}, false)), Step::kBroken);
  EXPECT_TRUE(area.guards_intact());
}

TEST(ReplyAssemblerFault, FurtherFramesAnnouncedToAStatusOnlyArea) {
  Area area(0);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(kMaxChunk), true)), Step::kBroken);
}

TEST(ReplyAssemblerFault, EmptyFirstChunkAnnouncingMore) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  EXPECT_EQ(feed(&assembler, frame("K", {}, true)), Step::kBroken);
}

TEST(ReplyAssemblerFault, MoreFramesUnderTheOneFrameRule) {
  Area area(2 * kMaxChunk);
  ReplyAssembler assembler(area.reply, FrameRule::kOneFrame);
  EXPECT_EQ(feed(&assembler, frame("K", chunk_of(kMaxChunk), true)), Step::kBroken);
}

TEST(ReplyAssemblerFault, PayloadBeyondAFixedDestination) {
  Area area(kMaxChunk);
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  ASSERT_EQ(feed(&assembler, frame("K", chunk_of(kMaxChunk - 1), true)), Step::kAcknowledge);
  EXPECT_EQ(feed(&assembler, frame(nullptr, chunk_of(2), false)), Step::kBroken);
  EXPECT_TRUE(area.guards_intact()) << "nothing is written past the destination";
}

TEST(ReplyAssemblerFault, FrameAfterTheReplyIsWhole) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  ASSERT_EQ(feed(&assembler, frame("K", chunk_of(3), false)), Step::kComplete);
  EXPECT_EQ(assembler.body_length(10), -1);
  EXPECT_EQ(assembler.take(FrameView{nullptr, 0, 0, false, nullptr}), Step::kBroken);
}

TEST(ReplyAssemblerFault, FirstFrameViewWithoutALead) {
  Area area;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  const Bytes chunk = chunk_of(3);
  EXPECT_EQ(assembler.take(FrameView{nullptr, 0, 3, false, chunk.data()}), Step::kBroken);
}

// A payload counts in 32 signed bits: a reply that would pass INT32_MAX
// bytes (here while its payload is being dropped, so nothing is held) is
// damage, not a wrapped count.
TEST(ReplyAssemblerFault, PayloadPastInt32Max) {
  Area area(16);
  uint8_t* block = nullptr;
  area.reply.growable = &block;
  ReplyAssembler assembler(area.reply, FrameRule::kAcknowledged);
  const Bytes chunk = chunk_of(kMaxChunk);
  const char status[] = "K";
  heap_fail_after(0);
  ASSERT_EQ(assembler.take(FrameView{status, 1, kMaxChunk, true, chunk.data()}),
            Step::kAcknowledge);
  heap_fail_after(-1);
  int64_t total = kMaxChunk;
  while (total < INT32_MAX) {
    uint16_t length = static_cast<uint16_t>(std::min<int64_t>(kMaxChunk, INT32_MAX - total));
    ASSERT_EQ(assembler.take(FrameView{nullptr, 0, length, true, chunk.data()}),
              Step::kAcknowledge);
    total += length;
  }
  EXPECT_EQ(assembler.take(FrameView{nullptr, 0, 1, false, chunk.data()}), Step::kBroken);
  EXPECT_EQ(block, nullptr);
}

}  // namespace
}  // namespace q4
