// Wide text when the Driver Manager's SQLWCHAR is a 4-byte wchar_t (iODBC):
// the same conversions with UTF-32 units, one unit per character, and the
// byte counts that follow from them. The process's width is switched for
// each test and put back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/wide_arguments.h"
#include "core/wide_text.h"
#include "results/copy_out.h"

namespace q4 {
namespace {

class Utf32Units : public ::testing::Test {
 protected:
  void SetUp() override { set_wide_width(WideWidth::kUtf32); }
  void TearDown() override { set_wide_width(WideWidth::kUtf16); }
};

TEST_F(Utf32Units, CopyOutCountsFourBytesPerCharacterAndNeverSplitsOne) {
  struct Case {
    const char* utf8;
    int64_t capacity;  // bytes
    std::u32string written;
    int64_t full_length;  // bytes
    bool truncated;
  } const cases[] = {
      {"a😀é", 16, U"a😀é", 12, false},
      {"a😀é", 12, U"a😀", 12, true},  // room for three units: the NUL takes one
      {"a😀é", 15, U"a😀", 12, true},  // bytes short of a unit stay unused
      {"", 4, U"", 0, false},
      {"x", 3, U"", 4, true},  // not even the NUL fits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.utf8) + " capacity " + std::to_string(c.capacity));
    char32_t out[8];
    memset(out, 0xAA, sizeof out);
    CopyResult r = copy_out(out, c.capacity, c.utf8, static_cast<int64_t>(strlen(c.utf8)), 0,
                            CopyMode::kWideText);
    EXPECT_EQ(r.full_length, c.full_length);
    EXPECT_EQ(r.truncated, c.truncated);
    if (c.capacity >= 4) {
      EXPECT_EQ(std::u32string(out, c.written.size()), c.written);
      EXPECT_EQ(out[c.written.size()], 0u);
    }
    EXPECT_EQ(out[c.capacity / 4], 0xAAAAAAAAu) << "nothing written past the room";
  }
}

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
