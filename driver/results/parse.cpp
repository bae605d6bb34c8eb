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

// A field of a date or time: a plain digit string, no sign, no ".".
bool plain_digits(const char* field) {
  NumberShape shape = scan_number(field);
  return shape.valid && !shape.has_sign && !shape.has_point;
}

// Copies at most `width` characters of `text` (of `length`) into `out`
// (width + 1 bytes), NUL-terminated, with every `separator` replaced by a NUL
// so that the fields become separate strings.
void cut_fields(const char* text, int32_t length, int width, char separator, char* out) {
  int n = length < width ? length : width;
  memcpy(out, text, static_cast<size_t>(n));
  out[n] = '\0';
  for (int i = 0; i < n; ++i) {
    if (out[i] == separator) out[i] = '\0';
  }
}

}  // namespace

NumberShape scan_number(const char* text) {
  NumberShape shape{false, false, false};
  const char* p = text;
  if (*p == '+' || *p == '-') {
    shape.has_sign = true;
    ++p;
  }
  if (*p == '\0') return shape;  // empty, or a lone sign
  for (; *p != '\0'; ++p) {
    if (*p == '.') {
      if (shape.has_point) return shape;
      shape.has_point = true;
    } else if (!is_digit(*p)) {
      return shape;
    }
  }
  shape.valid = true;
  return shape;
}

double parse_double(const char* text) {
  const char* p = text;
  while (*p == ' ') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }

  double mantissa = 0.0;
  int64_t exponent = 0;  // decimal exponent applying to `mantissa`
  for (; is_digit(*p); ++p) {
    if (mantissa < kMantissaLimit) {
      mantissa = mantissa * 10.0 + (*p - '0');
    } else {
      ++exponent;
    }
  }
  if (*p == '.') {
    for (++p; is_digit(*p); ++p) {
      if (mantissa < kMantissaLimit) {
        mantissa = mantissa * 10.0 + (*p - '0');
        --exponent;
      }
    }
  }
  if (*p == 'E' || *p == 'e') {
    ++p;
    bool negative_exponent = false;
    if (*p == '-' || *p == '+') {
      negative_exponent = *p == '-';
      ++p;
    }
    int64_t written = 0;
    for (; is_digit(*p); ++p) {
      if (written < kExponentClamp) written = written * 10 + (*p - '0');
    }
    exponent += negative_exponent ? -written : written;
  }

  // A zero mantissa stays zero whatever the exponent (0 x infinity would
  // otherwise give NaN for huge exponents).
  if (mantissa == 0.0) return negative ? -0.0 : 0.0;
  if (exponent > kExponentClamp) exponent = kExponentClamp;
  if (exponent < -kExponentClamp) exponent = -kExponentClamp;

  // m x 10^e = (m x 5^e) x 2^e; the power of two is applied exactly by ldexp.
  double value =
      exponent >= 0 ? mantissa * power_of_five(exponent) : mantissa / power_of_five(-exponent);
  value = std::ldexp(value, static_cast<int>(exponent));
  return negative ? -value : value;
}

int32_t parse_int(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  uint32_t value = 0;
  for (; is_digit(*p); ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

bool parse_date(const char* text, int32_t length, DateFields* out) {
  // The "-" at offset 7 must lie inside the value: at least 8 bytes.
  if (length < 8 || text[4] != '-' || text[7] != '-') return false;
  char fields[11];
  cut_fields(text, length, 10, '-', fields);
  if (!plain_digits(fields) || !plain_digits(fields + 5) || !plain_digits(fields + 8)) {
    return false;
  }
  out->year = parse_int(fields);
  out->month = parse_int(fields + 5);
  out->day = parse_int(fields + 8);
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
  char fields[9];
  cut_fields(text + start, length - start, 8, ':', fields);
  if (!plain_digits(fields) || !plain_digits(fields + 3) || !plain_digits(fields + 6)) {
    return false;
  }
  out->hour = parse_int(fields);
  out->minute = parse_int(fields + 3);
  out->second = parse_int(fields + 6);
  return out->hour >= 0 && out->hour <= 24 && out->minute >= 0 && out->minute <= 59 &&
         out->second >= 0 && out->second <= 59;
}

}  // namespace q4
