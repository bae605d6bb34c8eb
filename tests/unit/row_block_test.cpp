// The row block type: stepping through stored blocks to their trailers or their damage, the
// current row surviving a damaged next row, and storage that grows or cannot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/heap.h"
#include "protocol/wire.h"
#include "results/row_block.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;

// A value as the server sends it: type, 32-bit length, data.
Bytes value(const Bytes& data, uint16_t type) {
  Bytes b = {uint8_t(type >> 8), uint8_t(type), 0, 0, 0, uint8_t(data.size())};
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
Bytes value(const std::string& data, uint16_t type = kSqlVarchar) {
  return value(Bytes(data.begin(), data.end()), type);
}
Bytes null_value() {
  return {0xFF, 0xFF, 0, 0, 0, 0};
}
Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes status(char letter) {
  return {uint8_t(letter)};
}

// The current row's values as "a|b|NULL".
std::string row_text(const RowBlock& block, int32_t columns) {
  std::string text;
  for (int32_t i = 0; i < columns; ++i) {
    RowValue v = block.value(i);
    if (i > 0) text += "|";
    text += v.type == kNullValueType ? "NULL"
                                     : std::string(reinterpret_cast<const char*>(v.data), v.length);
  }
  return text;
}

// What each step came to: a row's values, or the name of the step.
std::vector<std::string> walk(RowBlock& block, int32_t columns, int steps) {
  // In the order of RowStep.
  static const char* const kStepNames[] = {"row", "more", "end", "error", "damaged"};
  std::vector<std::string> seen;
  for (int i = 0; i < steps; ++i) {
    RowStep step = block.next();
    seen.push_back(step == RowStep::kRow ? row_text(block, columns)
                                         : kStepNames[static_cast<int>(step)]);
    if (!block.held()) break;
  }
  return seen;
}

// Steps: up to four, ending where the block is given up; then whether it is still held and its
// current row ("" for none). Damage is met again at every step, the row before it kept.
struct WalkCase {
  const char* what;
  Bytes block;
  std::vector<std::string> steps;
  bool held_after;
  std::string current_after;
};

TEST(RowBlock, StepsThroughRowsToTheTrailerOrTheDamage) {
  const Bytes a = join({value("a1"), null_value()});
  const Bytes b = join({value(""), value("Zo\xC3\xAB")});
  const std::vector<std::string> kDamagedAfterA = {"a1|NULL", "damaged", "damaged", "damaged"};
  // clang-format off
  const WalkCase cases[] = {
      {"two rows, no more", join({a, status('K'), b, status('W')}), {"a1|NULL", "|Zoë", "end"}, false, ""},
      {"the server holds more", join({a, status('M')}), {"a1|NULL", "more"}, false, ""},
      {"a trailing error", join({a, status('E')}), {"a1|NULL", "error"}, false, ""},
      {"a row with one value too few", join({a, status('K'), value("b1"), status('W')}), kDamagedAfterA, true, "a1|NULL"},
      {"a value longer than the block", join({a, status('K'), value("b1"), Bytes{0, 1, 0, 0, 0, 9}}), kDamagedAfterA, true, "a1|NULL"},
      {"an unknown status byte", join({a, status('Z'), b, status('W')}), kDamagedAfterA, true, "a1|NULL"},
      {"no status after the last row", a, {"damaged", "damaged", "damaged", "damaged"}, true, ""},
  };
  // clang-format on
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.what);
    RowBlock block{};
    ASSERT_TRUE(block.store(c.block.data(), static_cast<int32_t>(c.block.size()), 2));
    EXPECT_TRUE(block.holds_rows_of(2));
    EXPECT_FALSE(block.holds_rows_of(3)) << "a block of another column count is not walked";
    EXPECT_FALSE(block.valid()) << "a stored block starts before its first row";
    EXPECT_EQ(walk(block, 2, 4), c.steps);
    EXPECT_EQ(block.held(), c.held_after);
    EXPECT_EQ(block.held() && block.valid() ? row_text(block, 2) : "", c.current_after);
    block.release();
  }
}

// Storage: what cannot be had leaves the held block and its current row as they were; growing
// gives the block up; the index never outgrows what the block could fill.
TEST(RowBlock, StorageThatGrowsOrCannot) {
  const Bytes rows = join({value("1"), status('K'), value("2"), status('W')});
  RowBlock block{};
  ASSERT_TRUE(block.store(rows.data(), static_cast<int32_t>(rows.size()), 1));
  EXPECT_EQ(block.capacity(), 1000);
  EXPECT_EQ(walk(block, 1, 1), std::vector<std::string>{"1"});

  EXPECT_TRUE(block.reserve(999, 1)) << "room enough: nothing changes";
  EXPECT_TRUE(block.valid());
  for (long fail_at : {0L, 1L}) {  // the bytes, then the index
    heap_fail_after(fail_at);
    EXPECT_FALSE(block.reserve(20480, 2));
    heap_fail_after(-1);
    EXPECT_EQ(block.capacity(), 1000);
    ASSERT_TRUE(block.held() && block.valid());
    EXPECT_EQ(row_text(block, 1), "1");
  }
  ASSERT_TRUE(block.reserve(20480, 2));
  EXPECT_EQ(block.capacity(), 21000);
  EXPECT_FALSE(block.held()) << "a grown block no longer holds the rows";

  EXPECT_TRUE(block.reserve(20480, 32767));
  EXPECT_EQ(block.index_room(), 20480 / 6);
  EXPECT_TRUE(block.adopt(20480, 32767, FirstRow::kAhead));
  EXPECT_FALSE(block.holds_rows_of(32767)) << "more columns than a row of it could have";
  EXPECT_FALSE(block.adopt(20480, 32767, FirstRow::kCurrent));
  block.release();
  EXPECT_EQ(block.bytes(), nullptr);
  EXPECT_EQ(block.capacity(), 0);
}

}  // namespace
}  // namespace q4
