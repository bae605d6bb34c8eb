// copy_out: bytes and text copied from an offset into a bounded buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "results/copy_out.h"

namespace q4 {
namespace {

constexpr int kGuard = 8;
constexpr unsigned char kFill = 0xEE;

// Every source length, offset and capacity of a small domain, both modes: the
// bytes delivered, the flags, and nothing written outside dest[0, capacity)
// or after the terminator.
TEST(CopyOut, SweepOfCapacitiesKeepsGuardsAndReportsCuts) {
  const char source[] = "abcdefg";
  for (CopyMode mode : {CopyMode::kText, CopyMode::kBytes}) {
    bool text = mode == CopyMode::kText;
    for (int length = 0; length <= 7; ++length) {
      for (int offset = 0; offset <= length + 1; ++offset) {
        for (int capacity = -2; capacity <= 10; ++capacity) {
          SCOPED_TRACE(::testing::Message() << "text=" << text << " length=" << length
                                            << " offset=" << offset << " capacity=" << capacity);
          unsigned char area[kGuard + 10 + kGuard];
          memset(area, kFill, sizeof area);
          unsigned char* dest = area + kGuard;
          CopyResult r = copy_out(dest, capacity, source, length, offset, mode);
          int full = length > offset ? length - offset : 0;
          int room = text ? capacity - 1 : capacity;
          int copied = room <= 0 ? 0 : (full < room ? full : room);
          EXPECT_EQ(r.full_length, full);
          EXPECT_EQ(r.copied, copied);
          EXPECT_EQ(r.truncated, text ? full + 1 > capacity : full > (capacity < 0 ? 0 : capacity));
          EXPECT_EQ(memcmp(dest, source + offset, copied), 0);
          bool terminated = text && capacity >= 1;
          if (terminated) {
            EXPECT_EQ(dest[copied], '\0');
          }
          int written = copied + (terminated ? 1 : 0);
          for (int i = -kGuard; i < 10 + kGuard; ++i) {
            if (i < 0 || i >= written) {
              EXPECT_EQ(dest[i], kFill) << "byte " << i;
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace q4
