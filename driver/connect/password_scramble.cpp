#include "connect/password_scramble.h"

#include <cstdint>
#include <cstring>

namespace q4 {

namespace {

// The 93 characters a scrambled character is chosen from: the printable
// characters 0x21-0x7E except ";". This table is a stored format: values
// scrambled with it are kept in users' ODBC.INI files and connection strings,
// so it must never change.
//
// ";" is the character left out because a ";" inside a value cannot survive a
// connection string: the keyword grammar drops it (scrambled values) or ends
// the value at it, and the string form's blank would end the value as well.
// Without ";" in the table every scrambled password can be written into an
// output connection string and read back.
constexpr char kScrambleTable[] =
    "9b*G,]dc8U2XpKl_#Q/!N+\"<i@D:~TSqyCERV5v6^L{sP[I'>}\\)O3(wzBxJ.nr4W%gu-t=|fH&aZm$F1M7?kAo0`"
    "ehYj";
constexpr int kTableSize = 93;
static_assert(sizeof kScrambleTable == kTableSize + 1, "the table holds 93 characters");

constexpr char kMark = '~';

bool in_range(unsigned char c) {
  return c >= 0x21 && c <= 0x7E;
}

}  // namespace

char* scramble_password(char* value, bool string_form) {
  size_t length = strlen(value);
  if (length == 0) return value;
  memmove(value + 1, value, length + 1);
  value[0] = kMark;
  int32_t sum = 0;
  for (size_t i = 1; i <= length; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    // Blanks, control characters and bytes from 0x7F up pass unchanged and
    // leave the running sum alone.
    if (!in_range(c)) continue;
    sum += c;
    char out = kScrambleTable[(sum - 33) % kTableSize];
    if (string_form && out == ';') out = ' ';
    value[i] = out;
  }
  return value;
}

char* unscramble_password(char* value, bool string_form) {
  if (value[0] != kMark) return value;
  int32_t sum = 0;
  size_t out = 0;
  for (size_t i = 1; value[i] != '\0'; ++i, ++out) {
    unsigned char d = static_cast<unsigned char>(value[i]);
    if (string_form && d == ' ') {
      d = ';';
    } else if (!in_range(d)) {
      value[out] = static_cast<char>(d);
      continue;
    }
    const void* found = memchr(kScrambleTable, d, kTableSize);
    // A character the scrambler cannot have written produces nothing new:
    // the output position keeps what it holds (the character before it).
    if (found == nullptr) continue;
    int32_t position = static_cast<int32_t>(static_cast<const char*>(found) - kScrambleTable);
    int32_t plain = (position - sum) % kTableSize;
    if (plain < 0) plain += kTableSize;
    plain += 33;
    value[out] = static_cast<char>(plain);
    sum += plain;
  }
  value[out] = '\0';
  return value;
}

}  // namespace q4
