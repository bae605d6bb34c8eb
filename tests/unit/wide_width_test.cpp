// Wide text when the Driver Manager's SQLWCHAR is a 4-byte wchar_t (iODBC):
// arguments in UTF-32 units, units that are no character replaced. (Answers
// in UTF-32: the odbc3 programs under iODBC, odbc3.iodbc.) The process's
// width is switched for the test and put back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/wide_arguments.h"
#include "core/wide_text.h"

namespace q4 {
namespace {

class Utf32Units : public ::testing::Test {
 protected:
  void SetUp() override { set_wide_width(WideWidth::kUtf32); }
  void TearDown() override { set_wide_width(WideWidth::kUtf16); }
};

TEST_F(Utf32Units, ArgumentsBecomeUtf8AndUnitsThatAreNoCharacterAreReplaced) {
  struct Case {
    std::u32string wide;
    SQLINTEGER length;
    std::string utf8;
  } const cases[] = {
      {U"Straße 🔑", SQL_NTS, "Straße 🔑"},
      {U"Straße 🔑", 3, "Str"},
      {std::u32string(1, char32_t{0xD800}) + U"x", SQL_NTS, "\xEF\xBF\xBDx"},  // a surrogate
      {std::u32string(1, char32_t{0x110000}), SQL_NTS, "\xEF\xBF\xBD"},        // past U+10FFFF
  };
  for (const Case& c : cases) {
    WideIn in(nullptr, nullptr, reinterpret_cast<const SQLWCHAR*>(c.wide.c_str()), c.length);
    ASSERT_FALSE(in.failed());
    EXPECT_EQ(std::string(in.chars(), static_cast<size_t>(in.length())), c.utf8);
  }
}

}  // namespace
}  // namespace q4
