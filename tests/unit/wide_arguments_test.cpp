// Wide (UTF-16) arguments read by their length. (Wide entry points, cut answers counted in
// characters and bytes: odbc3/wide_calls_test.c.)

#include "core/wide_arguments.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

SQLWCHAR* wide(const std::u16string& text) {
  return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str()));
}

struct InCase {
  std::u16string text;
  SQLINTEGER length;
  std::string utf8;
  SQLINTEGER utf8_length;
};

// The units the length says (an explicit length cutting a name: odbc3/wide_calls_test.c's
// SQLColumnsW); null texts, bad lengths and long texts.
TEST(WideIn, ConvertsTheUnitsTheLengthSays) {
  const InCase cases[] = {
      {u"Grüße", SQL_NTS, "Grüße", 7},
      {u"東京😀", SQL_NTS, "東京😀", 10},
      {u"", SQL_NTS, "", 0},
      {u"abc", 0, "", 0},
      // An unpaired surrogate (a pair cut by the length) becomes U+FFFD.
      {u"a😀", 2, "a\xEF\xBF\xBD", 4},
  };
  for (const InCase& c : cases) {
    WideIn in(nullptr, nullptr, wide(c.text), c.length);
    ASSERT_FALSE(in.failed());
    EXPECT_EQ(in.chars(), c.utf8);
    EXPECT_EQ(in.length(), c.utf8_length);
  }
  // Null texts and bad lengths go on for the narrow rules to judge.
  WideIn null_text(nullptr, nullptr, nullptr, 5);
  EXPECT_EQ(null_text.text(), nullptr);
  EXPECT_EQ(null_text.length(), 5);
  std::u16string text = u"abc";
  WideIn bad_length(nullptr, nullptr, wide(text), -7);
  EXPECT_EQ(bad_length.length(), -7);
  EXPECT_EQ(bad_length.short_length(), -7);
  // Long texts are held whole; too long for a short length they go as SQL_NTS.
  std::u16string long_text(20000, u'é');  // 40000 bytes of UTF-8: beyond a SQLSMALLINT
  WideIn in(nullptr, nullptr, wide(long_text), SQL_NTS);
  ASSERT_FALSE(in.failed());
  EXPECT_EQ(in.length(), 40000);
  EXPECT_EQ(strlen(in.chars()), 40000u);
  EXPECT_EQ(in.short_length(), SQL_NTS);
}

}  // namespace
}  // namespace q4
