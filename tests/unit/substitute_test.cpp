// Whole request payloads with parameters: literals in the markers' places,
// binary tokens in the text and their blocks after it, and the room all of
// that needs.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "param_fixture.h"
#include "platform/heap.h"
#include "statement/request.h"

namespace q4 {
namespace {

// The payload after the 4-byte statement id.
std::string body(const Statement* stmt) {
  return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4,
                     stmt->request_length - 4);
}

SQLRETURN build(ParamRecord& r, const std::string& text) {
  return build_request(r.stmt, text.data(), static_cast<int64_t>(text.size()));
}

// Equality of long texts without printing them whole.
::testing::AssertionResult same_text(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                       << ", first difference at offset " << i;
}

std::string nul(int count = 1) {
  return std::string(static_cast<size_t>(count), '\0');
}

class Substitution : public ::testing::Test {
 protected:
  ParamRecord r;
  int64_t nts = SQL_NTS;
};

TEST_F(Substitution, LiteralsReplaceTheMarkersInOrder) {
  int32_t n = 5;
  int64_t four = 4;
  r.bind_value(1, SQL_C_CHAR, SQL_VARCHAR, "O'Brien", &nts);
  r.bind_value(2, SQL_C_LONG, SQL_INTEGER, &n, &four);
  ASSERT_EQ(build(r, "INSERT INTO T VALUES (?, ?) -- '?'"), SQL_SUCCESS) << r.message();
  EXPECT_EQ(body(r.stmt), "INSERT INTO T VALUES ('O''Brien', 5) -- '?'" + nul(2));
}

TEST_F(Substitution, MarkersAtBothEndsOfTheText) {
  r.bind_value(1, SQL_C_CHAR, SQL_VARCHAR, "a", &nts);
  r.bind_value(2, SQL_C_CHAR, SQL_VARCHAR, "b", &nts);
  ASSERT_EQ(build(r, "X ??"), SQL_SUCCESS) << r.message();
  EXPECT_EQ(body(r.stmt), "X 'a''b'" + nul(2));
}

// Markers take bindings by order: with 1 and 3 bound the second marker takes
// parameter 3.
TEST_F(Substitution, GapInNumbersPairsByOrder) {
  r.bind_value(1, SQL_C_CHAR, SQL_VARCHAR, "one", &nts);
  r.bind_value(3, SQL_C_CHAR, SQL_VARCHAR, "three", &nts);
  ASSERT_EQ(build(r, "SELECT ?, ?"), SQL_SUCCESS) << r.message();
  EXPECT_EQ(body(r.stmt), "SELECT 'one', 'three'" + nul(2));
}

// A binding beyond the last marker is neither converted nor written, even
// when its C type has no literal or it holds a stale position.
TEST_F(Substitution, BindingsBeyondTheLastMarkerAreIgnored) {
  int8_t tiny = 1;
  r.bind_value(1, SQL_C_CHAR, SQL_VARCHAR, "x", &nts);
  ParamBinding* surplus = r.bind_value(2, SQL_C_TINYINT, SQL_TINYINT, &tiny, nullptr);
  surplus->position = 3;
  ASSERT_EQ(build(r, "SELECT ?"), SQL_SUCCESS) << r.message();
  EXPECT_EQ(body(r.stmt), "SELECT 'x'" + nul(2));
}

// The tables start with room for 25 blocks and grow; tokens and blocks keep
// their order past that.
TEST_F(Substitution, MoreThanTwentyFiveBinaryValues) {
  constexpr int kCount = 60;
  std::vector<std::string> values;
  std::vector<int64_t> lengths(kCount);
  for (int i = 0; i < kCount; ++i)
    values.push_back(std::string(static_cast<size_t>(i % 7), 'a' + i % 26));
  std::string text = "SELECT ?";
  std::string want_text = "SELECT 0x0";
  std::string want_blocks = std::to_string(values[0].size()) + nul() + values[0] + nul();
  for (int i = 0; i < kCount; ++i) {
    lengths[i] = static_cast<int64_t>(values[i].size());
    r.bind_value(static_cast<uint16_t>(i + 1), SQL_C_BINARY, SQL_VARBINARY, values[i].data(),
                 &lengths[i]);
    if (i == 0) continue;
    text += ",?";
    want_text += ",0x" + std::to_string(i);
    want_blocks += std::to_string(values[i].size()) + nul() + values[i] + nul();
  }
  ASSERT_EQ(build(r, text), SQL_SUCCESS) << r.message();
  EXPECT_EQ(body(r.stmt), want_text + nul() + want_blocks + nul());
  EXPECT_GE(r.stmt->binary_capacity, kCount);
}

// The request block has room for the text and 2583 bytes more; longer
// literals grow it rather than being cut or written past its end.
TEST_F(Substitution, LiteralsBeyondTheRequestRoomGrowTheBlock) {
  std::string first(3000, 'a');
  std::string second;
  for (int i = 0; i < 12000; ++i) second += "x'";  // 36,000 characters as a literal
  r.bind_value(1, SQL_C_CHAR, SQL_VARCHAR, first.c_str(), &nts);
  r.bind_value(2, SQL_C_CHAR, SQL_VARCHAR, second.c_str(), &nts);
  ASSERT_EQ(build(r, "SELECT ?, ? FROM T"), SQL_SUCCESS) << r.message();
  std::string doubled;
  for (int i = 0; i < 12000; ++i) doubled += "x''";
  EXPECT_TRUE(same_text(body(r.stmt), "SELECT '" + first + "', '" + doubled + "' FROM T" + nul(2)));
  EXPECT_LE(r.stmt->request_length, r.stmt->request_capacity);
}

TEST_F(Substitution, LargeBinaryBlockGrowsTheBlock) {
  std::string blob(100000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
  int64_t length = static_cast<int64_t>(blob.size());
  r.bind_value(1, SQL_C_BINARY, SQL_LONGVARBINARY, blob.data(), &length);
  ASSERT_EQ(build(r, "INSERT INTO B VALUES (?)"), SQL_SUCCESS) << r.message();
  EXPECT_TRUE(same_text(body(r.stmt),
                        "INSERT INTO B VALUES (0x0)" + nul() + "100000" + nul() + blob + nul(2)));
}

// Running out of memory for a block fails the build with "S1001" and leaves
// nothing pending.
TEST_F(Substitution, OutOfMemoryForABlock) {
  int64_t one = 1;
  r.bind_value(1, SQL_C_BINARY, SQL_VARBINARY, "z", &one);
  r.bind_value(2, SQL_C_BINARY, SQL_VARBINARY, "y", &one);
  ASSERT_EQ(build(r, "SELECT 1"), SQL_SUCCESS);  // the request block exists now
  for (long countdown = 0; countdown < 3; ++countdown) {
    SCOPED_TRACE(countdown);
    heap_fail_after(countdown);
    SQLRETURN rc = build(r, "SELECT ?, ?");
    heap_fail_after(-1);
    if (rc == SQL_SUCCESS) continue;
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(r.sqlstate(), "S1001");
    EXPECT_EQ(r.stmt->binary_count, 0);
  }
  ASSERT_EQ(build(r, "SELECT ?, ?"), SQL_SUCCESS);
  EXPECT_EQ(body(r.stmt),
            "SELECT 0x0, 0x1" + nul() + "1" + nul() + "z" + nul() + "1" + nul() + "y" + nul(2));
}

}  // namespace
}  // namespace q4
