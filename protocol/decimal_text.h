// Numbers written as decimal text: the form SQL_NUMERIC values travel in
// (the server's exact decimals and its shortest form of a double), and the
// form applications hand numbers over in as character parameters. Shared by
// the driver and q4lite. Reading a number never allocates and never reads
// outside the text; its digits are left where they lie.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q4 {

// A written exponent beyond this is held at it: 10^(10^9) is beyond every
// type either side knows, so the order of values and their fit stay right.
constexpr int64_t kDecimalExponentLimit = 1000000000;

// One number as written:
//   [blanks] [+|-] digits [. [digits]] [(e|E) [+|-] digits] [blanks]
// or with no digit before the point and at least one after it. Blanks are
// ASCII white space. The digits are read in place.
struct DecimalText {
  const char* whole = nullptr;  // the digits before the point
  uint32_t whole_count = 0;
  const char* fraction = nullptr;  // the digits after the point
  uint32_t fraction_count = 0;
  int64_t exponent = 0;  // the written exponent, 0 without one
  bool negative = false;
  bool has_sign = false;
  bool has_point = false;
  bool has_exponent = false;
  bool padded = false;  // blanks before or after the number

  uint32_t digit_count() const { return whole_count + fraction_count; }
  // Digit i of the whole digits followed by the fraction digits, as 0-9.
  int digit(uint32_t i) const {
    return (i < whole_count ? whole[i] : fraction[i - whole_count]) - '0';
  }
  // The power of ten digit i stands for.
  int64_t power_of(uint32_t i) const {
    return exponent + static_cast<int64_t>(whole_count) - 1 - static_cast<int64_t>(i);
  }
};

// The significant digits of a number: [first, end) of its digit indices,
// without leading and trailing zeros. first == end for a zero.
struct SignificantDigits {
  uint32_t first;
  uint32_t end;
  bool zero() const { return first == end; }
};

inline bool is_decimal_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool is_decimal_digit(char c) {
  return c >= '0' && c <= '9';
}

// True, with `out` filled, when the `length` bytes at `text` are one number
// of the form above and nothing else; false (out unspecified) otherwise,
// among them an empty text, a lone sign or point, "1e", "1 2", "0x1F",
// "inf" and "1,5".
inline bool read_decimal_text(const char* text, size_t length, DecimalText* out) {
  const char* p = text;
  const char* end = text + length;
  *out = DecimalText();
  while (p < end && is_decimal_blank(*p)) ++p;
  out->padded = p != text;
  if (p < end && (*p == '+' || *p == '-')) {
    out->has_sign = true;
    out->negative = *p == '-';
    ++p;
  }
  out->whole = p;
  while (p < end && is_decimal_digit(*p)) ++p;
  out->whole_count = static_cast<uint32_t>(p - out->whole);
  if (p < end && *p == '.') {
    out->has_point = true;
    out->fraction = ++p;
    while (p < end && is_decimal_digit(*p)) ++p;
    out->fraction_count = static_cast<uint32_t>(p - out->fraction);
  }
  if (out->digit_count() == 0) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    out->has_exponent = true;
    ++p;
    bool negative_exponent = false;
    if (p < end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    const char* digits = p;
    int64_t value = 0;
    for (; p < end && is_decimal_digit(*p); ++p) {
      if (value < kDecimalExponentLimit) value = value * 10 + (*p - '0');
    }
    if (p == digits) return false;
    if (value > kDecimalExponentLimit) value = kDecimalExponentLimit;
    out->exponent = negative_exponent ? -value : value;
  }
  const char* last = p;
  while (p < end && is_decimal_blank(*p)) ++p;
  if (p != last) out->padded = true;
  return p == end;
}

inline SignificantDigits significant_digits(const DecimalText& d) {
  const uint32_t n = d.digit_count();
  uint32_t first = 0;
  while (first < d.whole_count && d.whole[first] == '0') ++first;
  if (first == d.whole_count) {
    uint32_t f = 0;
    while (f < d.fraction_count && d.fraction[f] == '0') ++f;
    first += f;
  }
  if (first == n) return SignificantDigits{n, n};
  // Trailing zeros of the fraction, then of the whole part; the digit at
  // `first` is not 0, so neither loop passes it.
  uint32_t end = n;
  while (end > d.whole_count && d.fraction[end - 1 - d.whole_count] == '0') --end;
  if (end == d.whole_count) {
    while (d.whole[end - 1] == '0') --end;
  }
  return SignificantDigits{first, end};
}

}  // namespace q4
