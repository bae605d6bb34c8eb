// Whole request payloads with parameters: literals in the markers' places,
// binary tokens in the text and their blocks after it, and the room needed.
#include "platform/heap.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

// The payload after the 4-byte statement id.
std::string body(const Statement* stmt) {
  return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4,
                     stmt->request_length - 4);
}

std::string nul(int count = 1) {
  return std::string(static_cast<size_t>(count), '\0');
}

// Equality of long texts without printing them whole.
::testing::AssertionResult same_text(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                       << ", first difference at offset " << i;
}

class Substitution : public ::testing::Test {
 protected:
  SQLRETURN build(const std::string& text) {
    return build_request(r.stmt, text.data(), static_cast<int64_t>(text.size()));
  }
  StatementRecord r;
  int64_t nts = SQL_NTS;
};

// Markers take bindings by list order (1 and 3 bound: the second marker takes
// 3); a binding beyond the last marker is neither converted nor written, even
// with a C type that has no literal or a stale position.
TEST_F(Substitution, LiteralsReplaceTheMarkersInOrder) {
  int32_t n = 5;
  int64_t four = 4;
  int8_t tiny = 1;
  r.bind(1, &nts, SQL_C_CHAR, SQL_VARCHAR, "O'Brien");
  r.bind(3, &four, SQL_C_LONG, SQL_INTEGER, &n);
  r.bind(4, nullptr, SQL_C_TINYINT, SQL_TINYINT, &tiny)->position = 3;
  ASSERT_EQ(build("INSERT INTO T VALUES (?,?) -- '?'"), SQL_SUCCESS) << r.diag();
  EXPECT_EQ(body(r.stmt), "INSERT INTO T VALUES ('O''Brien',5) -- '?'" + nul(2));
  ASSERT_EQ(build("X ??"), SQL_SUCCESS) << r.diag();
  EXPECT_EQ(body(r.stmt), "X 'O''Brien'5" + nul(2));
}

// The tables start with room for 25 blocks and grow; tokens and blocks keep
// their order past that.
TEST_F(Substitution, MoreThanTwentyFiveBinaryValues) {
  constexpr int kCount = 60;
  std::vector<std::string> values;
  std::vector<int64_t> lengths(kCount);
  std::string text = "SELECT ?", want_text = "SELECT 0x0", want_blocks;
  for (int i = 0; i < kCount; ++i) values.push_back(std::string(i % 7, char('a' + i % 26)));
  for (int i = 0; i < kCount; ++i) {
    lengths[i] = static_cast<int64_t>(values[i].size());
    r.bind(uint16_t(i + 1), &lengths[i], SQL_C_BINARY, SQL_VARBINARY, values[i].data());
    want_blocks += std::to_string(values[i].size()) + nul() + values[i] + nul();
    if (i == 0) continue;
    text += ",?";
    want_text += ",0x" + std::to_string(i);
  }
  ASSERT_EQ(build(text), SQL_SUCCESS) << r.diag();
  EXPECT_EQ(body(r.stmt), want_text + nul() + want_blocks + nul());
  EXPECT_GE(r.stmt->binary_capacity, kCount);
}

// The request block has room for the text and 2583 bytes more; longer
// literals and binary blocks grow it rather than being cut or written past it.
TEST_F(Substitution, LongValuesGrowTheBlock) {
  std::string first(3000, 'a'), second, doubled;
  for (int i = 0; i < 12000; ++i) second += "x'", doubled += "x''";
  std::string blob(100000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
  int64_t length = static_cast<int64_t>(blob.size());
  r.bind(1, &nts, SQL_C_CHAR, SQL_VARCHAR, first.c_str());
  r.bind(2, &nts, SQL_C_CHAR, SQL_VARCHAR, second.c_str());
  r.bind(3, &length, SQL_C_BINARY, SQL_LONGVARBINARY, blob.data());
  ASSERT_EQ(build("SELECT ?, ?, ? FROM T"), SQL_SUCCESS) << r.diag();
  EXPECT_TRUE(same_text(body(r.stmt), "SELECT '" + first + "', '" + doubled + "', 0x0 FROM T" +
                                          nul() + "100000" + nul() + blob + nul(2)));
  EXPECT_LE(r.stmt->request_length, r.stmt->request_capacity);
}

// Running out of memory at any block fails the build with "S1001" and leaves
// nothing pending; the next build succeeds.
TEST_F(Substitution, OutOfMemoryForABlock) {
  int64_t one = 1;
  r.bind(1, &one, SQL_C_BINARY, SQL_VARBINARY, "z");
  r.bind(2, &one, SQL_C_BINARY, SQL_VARBINARY, "y");
  ASSERT_EQ(build("SELECT 1"), SQL_SUCCESS);  // the request block exists now
  for (long countdown = 0; countdown < 3; ++countdown) {
    heap_fail_after(countdown);
    SQLRETURN rc = build("SELECT ?, ?");
    heap_fail_after(-1);
    if (rc == SQL_SUCCESS) continue;
    EXPECT_EQ(outcome(rc, r.stmt), "ERROR S1001 Memory allocation failure") << countdown;
    EXPECT_EQ(r.stmt->binary_count, 0);
  }
  ASSERT_EQ(build("SELECT ?, ?"), SQL_SUCCESS);
  EXPECT_EQ(body(r.stmt),
            "SELECT 0x0, 0x1" + nul() + "1" + nul() + "z" + nul() + "1" + nul() + "y" + nul(2));
}

}  // namespace
}  // namespace q4
