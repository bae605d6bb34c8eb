#include "results/decimal_convert.h"

#include <cstring>

namespace q4 {

namespace {

// Writes the decimal digits of v backwards ending at `end`; returns the start.
// A value beyond 64 bits is split into 19-digit pieces first: at most two
// 128-bit divisions, the rest in 64-bit arithmetic.
char* digits_backwards(unsigned __int128 v, char* end) {
  constexpr uint64_t kPiece = 10000000000000000000u;  // 10^19
  while (v > UINT64_MAX) {
    uint64_t piece = static_cast<uint64_t>(v % kPiece);
    v /= kPiece;
    for (int i = 0; i < 19; ++i) {
      *--end = static_cast<char>('0' + piece % 10);
      piece /= 10;
    }
  }
  uint64_t rest = static_cast<uint64_t>(v);
  do {
    *--end = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  return end;
}

}  // namespace

ScaledFit scale_decimal(const DecimalText& d, int scale, int max_digits,
                        unsigned __int128* magnitude) {
  *magnitude = 0;
  SignificantDigits s = significant_digits(d);
  if (s.zero()) return ScaledFit::kExact;
  // The power of the leading digit once scaled: it has top + 1 digits.
  int64_t top = d.power_of(s.first) + scale;
  if (top < 0) return ScaledFit::kFractionCut;
  if (top >= max_digits) return ScaledFit::kOverflow;
  unsigned __int128 v = 0;
  uint32_t i = s.first;
  for (; i < s.end && d.power_of(i) + scale >= 0; ++i)
    v = v * 10 + static_cast<unsigned>(d.digit(i));
  // Significant digits left over stand below the scale; none left over with
  // a last power above 0 means trailing zeros the text did not write.
  if (i < s.end) {
    *magnitude = v;
    return ScaledFit::kFractionCut;
  }
  for (int64_t p = d.power_of(s.end - 1) + scale; p > 0; --p) v *= 10;
  *magnitude = v;
  return ScaledFit::kExact;
}

size_t write_exponent_form(const DecimalText& d, char* out, size_t room) {
  SignificantDigits s = significant_digits(d);
  if (s.zero()) {
    if (room < 1) return 0;
    out[0] = '0';
    return 1;
  }
  char exponent[24];
  int64_t power = d.power_of(s.first);
  uint64_t magnitude = power < 0 ? 0 - static_cast<uint64_t>(power) : static_cast<uint64_t>(power);
  char* e = digits_backwards(magnitude, exponent + sizeof exponent);
  size_t exponent_length = static_cast<size_t>(exponent + sizeof exponent - e);
  uint32_t count = s.end - s.first;
  size_t length = (d.negative ? 1 : 0) + count + (count > 1 ? 1 : 0) + 2 + exponent_length;
  if (length > room) return 0;
  char* p = out;
  if (d.negative) *p++ = '-';
  *p++ = static_cast<char>('0' + d.digit(s.first));
  if (count > 1) {
    *p++ = '.';
    for (uint32_t i = s.first + 1; i < s.end; ++i) *p++ = static_cast<char>('0' + d.digit(i));
  }
  *p++ = 'e';
  *p++ = power < 0 ? '-' : '+';
  memcpy(p, e, exponent_length);
  return length;
}

size_t write_scaled_integer(bool negative, unsigned __int128 magnitude, int scale, char* out) {
  if (scale > 127) scale = 127;
  if (scale < -128) scale = -128;
  char digits[40];
  char* first = digits_backwards(magnitude, digits + sizeof digits);
  size_t count = static_cast<size_t>(digits + sizeof digits - first);
  char* p = out;
  if (negative && magnitude != 0) *p++ = '-';
  if (scale <= 0) {
    memcpy(p, first, count);
    p += count;
    // A zero stays "0", not "000".
    if (magnitude != 0) {
      memset(p, '0', static_cast<size_t>(-scale));
      p += -scale;
    }
    return static_cast<size_t>(p - out);
  }
  size_t decimals = static_cast<size_t>(scale);
  if (count > decimals) {
    memcpy(p, first, count - decimals);
    p += count - decimals;
    *p++ = '.';
    memcpy(p, first + count - decimals, decimals);
    p += decimals;
  } else {
    *p++ = '0';
    *p++ = '.';
    memset(p, '0', decimals - count);
    p += decimals - count;
    memcpy(p, first, count);
    p += count;
  }
  return static_cast<size_t>(p - out);
}

}  // namespace q4
