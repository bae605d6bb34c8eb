// Wide (UTF-16) arguments. (Wide entry points, cut answers counted in characters and bytes:
// odbc3/wide_calls_test.c.)

#include "core/wide_arguments.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

SQLWCHAR* wide(const std::u16string& text) {
  return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str()));
}

// Null texts and bad lengths go on for the narrow rules to judge; long texts are held whole, and
// too long for a short length they go as SQL_NTS. (Texts read by their length:
// odbc3/wide_calls_test.c's SQLColumnsW; non-ASCII names: e2e/*unicode_names_test.*)
TEST(WideIn, NullTextsBadLengthsAndLongTexts) {
  WideIn null_text(nullptr, nullptr, nullptr, 5);
  EXPECT_EQ(null_text.text(), nullptr);
  EXPECT_EQ(null_text.length(), 5);
  std::u16string text = u"abc";
  WideIn bad_length(nullptr, nullptr, wide(text), -7);
  EXPECT_EQ(bad_length.length(), -7);
  EXPECT_EQ(bad_length.short_length(), -7);
  std::u16string long_text(20000, u'é');  // 40000 bytes of UTF-8: beyond a SQLSMALLINT
  WideIn in(nullptr, nullptr, wide(long_text), SQL_NTS);
  ASSERT_FALSE(in.failed());
  EXPECT_EQ(in.length(), 40000);
  EXPECT_EQ(strlen(in.chars()), 40000u);
  EXPECT_EQ(in.short_length(), SQL_NTS);
}

}  // namespace
}  // namespace q4
