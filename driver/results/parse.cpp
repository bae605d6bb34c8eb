#include "results/parse.h"

#include <cmath>
#include <cstring>

namespace q4 {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// 2^53: from here on a double no longer holds every integer, so further
// digits stop entering the mantissa.
constexpr double kMantissaLimit = 9007199254740992.0;

// Exponents beyond this make any non-zero mantissa overflow or underflow;
// clamping keeps absurd exponent texts from overflowing the counter.
constexpr int64_t kExponentClamp = 100000;

// 5^n by repeated squaring.
double power_of_five(int64_t n) {
  double result = 1.0;
  double base = 5.0;
  while (n > 0) {
    if (n & 1) result *= base;
    base *= base;
    n >>= 1;
  }
  return result;
}

// value x 2^exponent, as ldexp computes it. For exponents of a normal power
// of two the product with that exact power is the same single correctly
// rounded step (also when the result is subnormal) without the library call.
double times_power_of_two(double value, int64_t exponent) {
  if (exponent < -1022 || exponent > 1023) return std::ldexp(value, static_cast<int>(exponent));
  uint64_t bits = static_cast<uint64_t>(exponent + 1023) << 52;
  double power;
  memcpy(&power, &bits, sizeof power);
  return value * power;
}

// A text of known length read one character at a time. `peek` shows a NUL
// at the end, so the loops below stop there as they stop at a NUL inside the
// text, and nothing past the end is ever read.
struct Cursor {
  const char* p;
  const char* end;

  Cursor(const char* text, int32_t length) : p(text), end(text + (length > 0 ? length : 0)) {}
  char peek() const { return p < end ? *p : '\0'; }
};

// The date or time field that starts at `from` in the `width` characters of
// `window` and ends at the next `separator`, NUL or the window's end. True,
// with its value as parse_int gives it, when it is a plain digit string (one
// or more digits, no sign, no "."); false when it is empty or holds anything
// else.
bool read_field(const char* window, int32_t width, int32_t from, char separator, int* value) {
  uint32_t v = 0;
  int32_t i = from;
  for (; i < width && is_digit(window[i]); ++i) {
    v = v * 10u + static_cast<uint32_t>(window[i] - '0');
  }
  if (i == from || (i < width && window[i] != separator && window[i] != '\0')) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

NumberShape scan_number(const char* text, int32_t length) {
  NumberShape shape{false, false, false};
  Cursor in(text, length);
  if (in.peek() == '+' || in.peek() == '-') {
    shape.has_sign = true;
    ++in.p;
  }
  if (in.peek() == '\0') return shape;  // empty, or a lone sign
  for (; in.p < in.end; ++in.p) {
    char c = *in.p;
    if (is_digit(c)) continue;
    if (c == '.' && !shape.has_point) {
      shape.has_point = true;
      continue;
    }
    if (c != '\0') return shape;
    break;  // a NUL ends the text
  }
  shape.valid = true;
  return shape;
}

double parse_double(const char* text, int32_t length) {
  Cursor in(text, length);
  while (in.peek() == ' ') ++in.p;
  bool negative = false;
  if (in.peek() == '-' || in.peek() == '+') {
    negative = in.peek() == '-';
    ++in.p;
  }

  double mantissa = 0.0;
  int64_t exponent = 0;  // decimal exponent applying to `mantissa`
  for (; is_digit(in.peek()); ++in.p) {
    if (mantissa < kMantissaLimit) {
      mantissa = mantissa * 10.0 + (*in.p - '0');
    } else {
      ++exponent;
    }
  }
  if (in.peek() == '.') {
    for (++in.p; is_digit(in.peek()); ++in.p) {
      if (mantissa < kMantissaLimit) {
        mantissa = mantissa * 10.0 + (*in.p - '0');
        --exponent;
      }
    }
  }
  if (in.peek() == 'E' || in.peek() == 'e') {
    ++in.p;
    bool negative_exponent = false;
    if (in.peek() == '-' || in.peek() == '+') {
      negative_exponent = in.peek() == '-';
      ++in.p;
    }
    int64_t written = 0;
    for (; is_digit(in.peek()); ++in.p) {
      if (written < kExponentClamp) written = written * 10 + (*in.p - '0');
    }
    exponent += negative_exponent ? -written : written;
  }

  // A zero mantissa stays zero whatever the exponent (0 x infinity would
  // otherwise give NaN for huge exponents).
  if (mantissa == 0.0) return negative ? -0.0 : 0.0;
  if (exponent > kExponentClamp) exponent = kExponentClamp;
  if (exponent < -kExponentClamp) exponent = -kExponentClamp;

  // m x 10^e = (m x 5^e) x 2^e; the power of two is applied exactly.
  double value =
      exponent >= 0 ? mantissa * power_of_five(exponent) : mantissa / power_of_five(-exponent);
  value = times_power_of_two(value, exponent);
  return negative ? -value : value;
}

int32_t parse_int(const char* text, int32_t length) {
  Cursor in(text, length);
  while (in.peek() == ' ' || in.peek() == '\t') ++in.p;
  bool negative = false;
  if (in.peek() == '-' || in.peek() == '+') {
    negative = in.peek() == '-';
    ++in.p;
  }
  uint32_t value = 0;
  for (; is_digit(in.peek()); ++in.p) value = value * 10u + static_cast<uint32_t>(*in.p - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

bool parse_date(const char* text, int32_t length, DateFields* out) {
  // The "-" at offset 7 must lie inside the value: at least 8 bytes.
  if (length < 8 || text[4] != '-' || text[7] != '-') return false;
  int32_t width = length < 10 ? length : 10;
  if (!read_field(text, width, 0, '-', &out->year) ||
      !read_field(text, width, 5, '-', &out->month) ||
      !read_field(text, width, 8, '-', &out->day)) {
    return false;
  }
  return out->month >= 1 && out->month <= 12 && out->day >= 1 && out->day <= 31;
}

bool parse_time(const char* text, int32_t length, TimeFields* out) {
  int32_t start;
  if (length >= 6 && text[2] == ':' && text[5] == ':') {
    start = 0;
  } else if (length >= 17 && text[13] == ':' && text[16] == ':') {
    start = 11;  // the ":" at offset 16 must lie inside the value
  } else {
    return false;
  }
  const char* window = text + start;
  int32_t width = length - start < 8 ? length - start : 8;
  if (!read_field(window, width, 0, ':', &out->hour) ||
      !read_field(window, width, 3, ':', &out->minute) ||
      !read_field(window, width, 6, ':', &out->second)) {
    return false;
  }
  return out->hour >= 0 && out->hour <= 24 && out->minute >= 0 && out->minute <= 59 &&
         out->second >= 0 && out->second <= 59;
}

Fraction parse_fraction(const char* text, int32_t length, int32_t at) {
  Fraction f{0, 0, false};
  if (at < 0 || at + 1 >= length || text[at] != '.' || !is_digit(text[at + 1])) return f;
  int32_t i = at + 1;
  int digits = 0;
  for (; i < length && is_digit(text[i]); ++i, ++digits) {
    if (digits < 9) {
      f.nanoseconds = f.nanoseconds * 10u + static_cast<uint32_t>(text[i] - '0');
    } else if (text[i] != '0') {
      f.cut = true;
    }
  }
  for (; digits < 9; ++digits) f.nanoseconds *= 10u;
  f.length = i - at;
  return f;
}

}  // namespace q4
