// The reply assembler on its own, fed frames as bytes or as views: the rules a whole reply
// follows, and each fault that breaks the stream, named in its table row.
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

// One reply fed frame by frame: the step each frame gives. A whole reply ends with kComplete,
// its status, payload kind and bytes as told; a broken one with kBroken. Either way the
// assembler takes nothing more (a frame after a whole reply is damage; broken stays broken), and
// nothing is written past the status area or the destination.
struct ReplyCase {
  const char* what;
  int32_t capacity;
  FrameRule rule;
  std::vector<std::pair<Bytes, Step>> frames;
  const char* status = nullptr;  // after a whole reply
  ReplyPayload payload = ReplyPayload::kNone;
  int32_t bytes = 0;
};

TEST(ReplyAssembler, WholeAndBrokenReplies) {
  const auto kAck = Step::kAcknowledge, kDone = Step::kComplete, kBroken = Step::kBroken;
  const auto kOne = FrameRule::kOneFrame, kAcked = FrameRule::kAcknowledged;
  const Bytes a = chunk_of(kMaxChunk, 1), b = chunk_of(1, 2), c = chunk_of(kMaxChunk, 3);
  // clang-format off
  const ReplyCase cases[] = {
      {"one frame", 64, kAcked, {{frame("Kdone", chunk_of(40), false), kDone}}, "Kdone", ReplyPayload::kBytes, 40},
      // Every frame that announces another is acknowledged, the last one not; chunks join in order.
      {"three frames", 3 * kMaxChunk, kAcked, {{frame("K", a, true), kAck}, {frame(nullptr, b, true), kAck},
       {frame(nullptr, c, false), kDone}}, "K", ReplyPayload::kBytes, 2 * kMaxChunk + 1},
      // A single frame's chunk is not wanted by a status-only area and is left out.
      {"status-only area", 0, kAcked, {{frame("Kok", chunk_of(30), false), kDone}}, "Kok"},
      {"status filling its area", 64, kAcked, {{frame("E123456789abcde", {}, false), kDone}}, "E123456789abcde"},
      // Faults: each breaks the stream at once. Length field, an empty status and its NUL,
      // chunk header: 7 bytes at least in a first frame, 6 in a later one.
      {"first frame length too short", 64, kAcked, {{frame("K", {}, false, 6), kBroken}}},
      {"later frame length too short", 64, kAcked, {{frame("K", chunk_of(4), true), kAck},
       {frame(nullptr, {}, false, 5), kBroken}}},
      {"chunk above 20480 bytes", 2 * kMaxChunk, kAcked, {{frame("K", chunk_of(kMaxChunk + 1), false), kBroken}}},
      {"chunk length larger than its frame", 64, kAcked, {{frame("K", chunk_of(10), false, -1, 11), kBroken}}},
      {"status string without NUL", 64, kAcked, {{Bytes{0, 10, 'K', 'K', 'K', 'K', 'K', 'K', 'K', 'K'}, kBroken}}},
      {"status one byte too long", 64, kAcked, {{frame("E123456789abcdef", {}, false), kBroken}}},
      {"more frames to a status-only area", 0, kAcked, {{frame("K", chunk_of(kMaxChunk), true), kBroken}}},
      {"empty first chunk announcing more", 64, kAcked, {{frame("K", {}, true), kBroken}}},
      {"more frames under the one-frame rule", 2 * kMaxChunk, kOne, {{frame("K", chunk_of(kMaxChunk), true), kBroken}}},
      {"payload beyond a fixed destination", kMaxChunk, kAcked,
       {{frame("K", chunk_of(kMaxChunk - 1), true), kAck}, {frame(nullptr, chunk_of(2), false), kBroken}}},
  };
  // clang-format on
  for (const ReplyCase& r : cases) {
    SCOPED_TRACE(r.what);
    Area area(r.capacity);  // a status area of 16 bytes
    ReplyAssembler assembler(area.reply, r.rule);
    const bool whole = r.frames.back().second == Step::kComplete;
    Bytes payload;  // the chunks a whole reply carried, in order
    for (size_t i = 0; i < r.frames.size(); ++i) {
      const Bytes& bytes = r.frames[i].first;
      ASSERT_EQ(feed(&assembler, bytes), r.frames[i].second) << "frame " << i;
      const size_t skip =
          kFrameLengthSize + kChunkHeaderSize + (i == 0 && whole ? strlen(r.status) + 1 : 0);
      if (whole) payload.insert(payload.end(), bytes.begin() + skip, bytes.end());
    }
    EXPECT_TRUE(area.guards_intact());
    if (whole) {
      EXPECT_STREQ(area.status.data(), r.status);
      EXPECT_EQ(assembler.payload(), r.payload);
      EXPECT_EQ(assembler.bytes(), r.bytes);
      EXPECT_EQ(assembler.frames(), static_cast<int32_t>(r.frames.size()));
      if (r.payload == ReplyPayload::kBytes) {
        EXPECT_EQ(area.payload(payload.size()), payload);
      }
      EXPECT_EQ(assembler.body_length(10), -1) << "a frame after the reply is whole";
    }
    EXPECT_EQ(feed(&assembler, frame("K", {}, false)), Step::kBroken) << "nothing more is taken";
    EXPECT_EQ(assembler.take(FrameView{nullptr, 0, 0, false, nullptr}), Step::kBroken);
  }
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

// A payload counts in 32 signed bits: a reply that would pass INT32_MAX
// bytes (here while its payload is being dropped, so nothing is held) is
// damage, not a wrapped count.
TEST(ReplyAssembler, PayloadPastInt32MaxIsDamage) {
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
