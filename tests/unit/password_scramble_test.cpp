#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "connect/password_scramble.h"

namespace q4 {
namespace {

std::string scrambled(const std::string& plain, bool string_form) {
  char buffer[128];
  snprintf(buffer, sizeof buffer, "%s", plain.c_str());
  return scramble_password(buffer, string_form);
}

std::string unscrambled(const std::string& value, bool string_form) {
  char buffer[128];
  snprintf(buffer, sizeof buffer, "%s", value.c_str());
  return unscramble_password(buffer, string_form);
}

// Scrambled values live on in users' ODBC.INI files and saved connection
// strings: a change of the table or of the running sum would lock them out.
TEST(PasswordScramble, StoredFormatIsPinned) {
  EXPECT_EQ(scrambled("secret", false), "~7hGiyw");
  EXPECT_EQ(scrambled("Q4-odbc!2024", true), "~>cO=m7`~$C?{");
  EXPECT_EQ(unscrambled("~7hGiyw", false), "secret");
}

TEST(PasswordScramble, EveryCharacterUpToCloseBraceSurvivesEachPosition) {
  for (bool string_form : {false, true}) {
    for (int c = 0x21; c <= 0x7D; ++c) {
      // The same character after different prefixes meets different sums.
      for (const std::string& prefix : {std::string(), std::string("a"), std::string("}Zz{")}) {
        std::string plain = prefix + static_cast<char>(c) + "x";
        std::string s = scrambled(plain, string_form);
        ASSERT_EQ(s.size(), plain.size() + 1);
        EXPECT_EQ(unscrambled(s, string_form), plain) << "char " << c << " form " << string_form;
      }
    }
  }
}

// A scrambled value must fit a connection-string item whatever the password:
// a ";" would be dropped or end the value, a blank would end it.
TEST(PasswordScramble, ScrambledTextHoldsNoSemicolonOrBlank) {
  std::string all;
  for (int c = 0x21; c <= 0x7E; ++c) all += static_cast<char>(c);
  for (size_t start = 0; start < all.size(); ++start) {
    for (bool string_form : {false, true}) {
      std::string s = scrambled(all.substr(start, 19), string_form);
      EXPECT_EQ(s.find(';'), std::string::npos) << s;
      EXPECT_EQ(s.find(' '), std::string::npos) << s;
    }
  }
}

TEST(PasswordScramble, TildeComesBackAsExclamationMark) {
  EXPECT_EQ(unscrambled(scrambled("a~b", false), false), "a!b");
}

TEST(PasswordScramble, RepeatedCharacterScramblesDifferently) {
  std::string s = scrambled("aa", false);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_NE(s[1], s[2]);
}

// A single character c scrambles to the table's position (c - 33) mod 93, so
// the 94 printable characters reach every position (the last one wraps).
TEST(PasswordScramble, TableUsesNinetyThreeDistinctPrintableCharacters) {
  std::set<char> seen;
  for (int c = 0x21; c <= 0x7E; ++c) {
    char buffer[3] = {static_cast<char>(c), '\0', '\0'};
    seen.insert(scramble_password(buffer, false)[1]);
  }
  EXPECT_EQ(seen.size(), 93u);
  EXPECT_EQ(seen.count(';'), 0u);
  for (char c : seen) EXPECT_TRUE(c >= 0x21 && c <= 0x7E);
}

TEST(PasswordScramble, BlankPassesScramblerAndSurvivesOnlyWithoutStringForm) {
  std::string s = scrambled("a b", false);
  EXPECT_EQ(s[2], ' ');
  EXPECT_EQ(scrambled("a b", true), s);
  EXPECT_EQ(unscrambled(s, false), "a b");
  EXPECT_NE(unscrambled(s, true), "a b");
}

TEST(PasswordScramble, ControlAndHighBytesPassUnchangedAndKeepTheSum) {
  std::string with = scrambled(
      "a\tb\xE9"
      "c",
      false);
  std::string without = scrambled("abc", false);
  EXPECT_EQ(with[2], '\t');
  EXPECT_EQ(with[4], '\xE9');
  EXPECT_EQ(std::string() + with[1] + with[3] + with[5], without.substr(1));
  EXPECT_EQ(unscrambled(with, false),
            "a\tb\xE9"
            "c");
}

TEST(PasswordScramble, LongestPasswordNeedsTwentyOneBytes) {
  char buffer[21];
  memset(buffer, 'p', 19);
  buffer[19] = '\0';
  EXPECT_EQ(strlen(scramble_password(buffer, true)), 20u);
  EXPECT_EQ(std::string(unscramble_password(buffer, true)), std::string(19, 'p'));
}

TEST(PasswordScramble, PlainAndEdgeValues) {
  struct Case {
    const char* in;
    bool string_form;
    const char* out;
  };
  const Case cases[] = {
      {"plain", false, "plain"},   // no "~": unchanged
      {"pl~ain", true, "pl~ain"},  // "~" not in front: unchanged
      {"", false, ""},             //
      {"~", false, ""},            // the mark alone is an empty password
  };
  for (const Case& c : cases) EXPECT_EQ(unscrambled(c.in, c.string_form), c.out) << c.in;
  EXPECT_EQ(scrambled("", true), "");
}

// ";" is not in the table: nothing the scrambler wrote holds it, so it
// produces no new character and its place keeps the character before it.
TEST(PasswordScramble, CharacterOutsideTableKeepsPreviousCharacter) {
  std::string s = scrambled("ab", false);
  std::string broken = s.substr(0, 2) + ";";
  std::string back = unscrambled(broken, false);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0], 'a');
  EXPECT_EQ(back[1], s[1]) << "the scrambled character before it stays";
  EXPECT_EQ(unscrambled("~;", false), "~");
}

}  // namespace
}  // namespace q4
