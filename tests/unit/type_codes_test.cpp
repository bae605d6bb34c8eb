// The rewrite of date and time type codes in received rows: which values it
// touches, and that a block cut short is rewritten up to its last whole row
// and never read or written past its end.
#include <gtest/gtest.h>
#include <sql.h>

#include <vector>

#include "protocol/wire.h"
#include "results/type_codes.h"

namespace q4 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes value(uint16_t type, Bytes data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  Bytes b{uint8_t(type >> 8), uint8_t(type),   uint8_t(n >> 24),
          uint8_t(n >> 16),   uint8_t(n >> 8), uint8_t(n)};
  for (uint8_t byte : data) b.push_back(byte);
  return b;
}

struct ValueCase {
  const char* what;
  uint16_t type;
  Bytes data;
  Bytes want;
};

const ValueCase kValueCases[] = {
    {"SMALLINT 9", SQL_SMALLINT, {0, 9}, {0, 91}},
    {"SMALLINT 10", SQL_SMALLINT, {0, 10}, {0, 92}},
    {"SMALLINT 11", SQL_SMALLINT, {0, 11}, {0, 93}},
    {"SMALLINT 12 stays", SQL_SMALLINT, {0, 12}, {0, 12}},
    {"SMALLINT -9 stays", SQL_SMALLINT, {0xFF, 0xF7}, {0xFF, 0xF7}},
    {"INTEGER 11", SQL_INTEGER, {0, 0, 0, 11}, {0, 0, 0, 93}},
    {"INTEGER 65545 is no code", SQL_INTEGER, {0, 1, 0, 9}, {0, 1, 0, 9}},
    {"SMALLINT of a wrong length", SQL_SMALLINT, {0, 0, 0, 9}, {0, 0, 0, 9}},
    {"text stays", SQL_VARCHAR, {'9'}, {'9'}},
    {"NULL stays", kNullValueType, {}, {}},
};

TEST(TypeCodes, WhichValuesAreRewritten) {
  for (const ValueCase& c : kValueCases) {
    Bytes v = value(c.type, c.data);
    map_value_type_code(value_at(v.data()));
    EXPECT_EQ(Bytes(v.begin() + 6, v.end()), c.want) << c.what;
  }
}

// Rows of (SMALLINT, SMALLINT) with column 2 marked, the second row cut in its
// last value: the first row is rewritten, the rest left as it was.
TEST(TypeCodes, ABlockCutShortIsRewrittenUpToItsLastWholeRow) {
  Bytes block;
  auto add = [&block](const Bytes& b) { block.insert(block.end(), b.begin(), b.end()); };
  add(value(SQL_SMALLINT, {0, 9}));
  add(value(SQL_SMALLINT, {0, 9}));
  block.push_back('K');
  add(value(SQL_SMALLINT, {0, 10}));
  add(value(SQL_SMALLINT, {0, 10}));
  const Bytes whole = block;
  block.pop_back();  // the second row's last byte is missing
  Bytes guarded = block;
  guarded.push_back(0xEE);  // the byte past the block stays untouched
  map_block_type_codes(guarded.data(), static_cast<int32_t>(block.size()), 2,
                       type_code_column_bit(2));
  Bytes want = whole;
  want.pop_back();
  want[6 + 2 + 6 + 1] = 91;
  want.push_back(0xEE);
  EXPECT_EQ(guarded, want);

  // The whole block with its trailer: both rows, column 1 untouched.
  Bytes full = whole;
  full.push_back('W');
  map_block_type_codes(full.data(), static_cast<int32_t>(full.size()), 2, type_code_column_bit(2));
  EXPECT_EQ(full[7], 9);
  EXPECT_EQ(full[6 + 2 + 6 + 1], 91);
  EXPECT_EQ(full.end()[-2], 92);
  EXPECT_EQ(full[17 + 7], 10);
}

}  // namespace
}  // namespace q4
