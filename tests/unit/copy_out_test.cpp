// copy_out: bytes and text copied from an offset into a bounded buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "results/copy_out.h"

namespace q4 {
namespace {

// Every source length, offset and capacity of a small domain, both modes: the
// bytes delivered, the flags, and nothing written outside dest[0, capacity)
// or after the terminator.
TEST(CopyOut, SweepOfCapacitiesKeepsGuardsAndReportsCuts) {
  const char source[] = "abcdefg";
  for (bool text : {true, false}) {
    for (int length = 0; length <= 7; ++length) {
      for (int offset = 0; offset <= length + 1; ++offset) {
        for (int capacity = -2; capacity <= 10; ++capacity) {
          SCOPED_TRACE(::testing::Message()
                       << text << " " << length << " " << offset << " " << capacity);
          unsigned char area[8 + 10 + 8];
          memset(area, 0xEE, sizeof area);
          unsigned char* dest = area + 8;
          CopyResult r = copy_out(dest, capacity, source, length, offset,
                                  text ? CopyMode::kText : CopyMode::kBytes);
          int full = length > offset ? length - offset : 0;
          int room = std::max(text ? capacity - 1 : capacity, 0);
          int copied = std::min(full, room);
          EXPECT_EQ(r.full_length, full);
          EXPECT_EQ(r.copied, copied);
          EXPECT_EQ(r.truncated, text ? full + 1 > capacity : full > room);
          EXPECT_EQ(memcmp(dest, source + offset, copied), 0);
          bool terminated = text && capacity >= 1;
          EXPECT_EQ(terminated ? dest[copied] : 0, 0) << "terminator";
          int written = copied + (terminated ? 1 : 0);
          for (int i = -8; i < 18; ++i)
            EXPECT_TRUE((i >= 0 && i < written) || dest[i] == 0xEE) << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace q4
