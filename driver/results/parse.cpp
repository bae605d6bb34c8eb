#include "results/parse.h"

#include <charconv>
#include <limits>

#include "protocol/decimal_text.h"
#include "results/decimal_convert.h"

namespace q4 {

namespace {

bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') < 10;
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

namespace {

// The number at the start of a text as parse_double describes it: spaces,
// a sign, digits, a point and digits, an exponent with digits. The scan
// stops at the first character that fits none of these (a NUL included).
struct LeadingNumber {
  const char* digits;  // after the spaces and the sign
  const char* point;   // the ".", or where the whole digits end without one
  const char* end;     // after the number's last character
  bool negative;
  bool any_digit;
  bool exponent;  // an exponent with digits follows the digits
  // All the digits as an integer when there are at most 19 (leading zeros
  // counted; with more it holds the first 19), the digits' count and how
  // many of them stand after the point.
  uint64_t mantissa;
  int digit_count;
  int fraction_digits;
  // The last digit other than 0 after the first 19 (null: none), and the
  // end of those 19: together they find the last significant digit.
  const char* tail_nonzero;
  const char* mantissa_end;
};

LeadingNumber leading_number(const char* text, int32_t length) {
  const char* p = text;
  const char* const end = text + (length > 0 ? length : 0);
  while (p < end && *p == ' ') ++p;
  LeadingNumber n{};
  if (p < end && (*p == '-' || *p == '+')) n.negative = *p++ == '-';
  n.digits = p;
  // The mantissa takes the first 19 digits; the digits after them are only
  // counted, and watched for the last one other than 0.
  const char* last_nonzero = nullptr;
  const char* mantissa_end = p;  // after the last digit in the mantissa
  uint64_t m = 0;
  int budget = 19;
  auto digits = [&](const char* q) {
    const char* stop = end - q > budget ? q + budget : end;
    const char* from = q;
    for (; q < stop && is_digit(*q); ++q) m = m * 10 + static_cast<unsigned>(*q - '0');
    budget -= static_cast<int>(q - from);
    if (q > from) mantissa_end = q;
    for (; q < end && is_digit(*q); ++q) {
      if (*q != '0') last_nonzero = q;
    }
    return q;
  };
  p = digits(p);
  n.point = p;
  if (p < end && *p == '.') {
    p = digits(p + 1);
    n.fraction_digits = static_cast<int>(p - n.point - 1);
  }
  n.mantissa = m;
  n.digit_count = static_cast<int>(n.point - n.digits) + n.fraction_digits;
  n.any_digit = n.digit_count > 0;
  n.mantissa_end = mantissa_end;
  n.tail_nonzero = last_nonzero;
  // An exponent counts only with its digits: "2.5e" is 2.5.
  if (n.any_digit && p < end && (*p == 'E' || *p == 'e')) {
    const char* e = p + 1;
    if (e < end && (*e == '-' || *e == '+')) ++e;
    if (e < end && is_digit(*e)) {
      while (e < end && is_digit(*e)) ++e;
      p = e;
      n.exponent = true;
    }
  }
  n.end = p;
  return n;
}

// Exact powers of ten: every one up to 10^22 is a double, up to 10^10 a
// float.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

template <typename Real>
struct FastPath;
// Up to 15 digits make an integer below 2^53 that a double holds exactly; a
// float holds every integer of up to 7 digits (below 2^24).
template <>
struct FastPath<double> {
  static constexpr int kDigits = 15;
  static constexpr int kPlaces = 22;
};
template <>
struct FastPath<float> {
  static constexpr int kDigits = 7;
  static constexpr int kPlaces = 10;
};

// The leading number, rounded once to the nearest Real. Most values the
// server sends (-12345.5, 0.1) have few digits and no exponent: their digits
// are an integer the type holds exactly, divided by an exact power of ten,
// and that one IEEE division is correctly rounded. Every other text goes to
// std::from_chars, which rounds any number of digits and any exponent once
// as well (the server sends 1e300 as 301 digits, 1e-300 as 300 zeros and a
// 1).
// std::from_chars on the number. A long plain text with few significant
// digits (the server writes 1e300 as a 1 and 300 zeros) is handed over as
// those digits and an exponent, "1e300": the same value, without making
// from_chars work through hundreds of zeros.
template <typename Real>
std::errc read_compact(const LeadingNumber& n, Real* value) {
  constexpr int kCompactDigits = 40;
  if (n.exponent || n.digit_count <= kCompactDigits) {
    return std::from_chars(n.digits, n.end, *value).ec;
  }
  // One past the last digit other than 0: after the first 19 digits, or
  // else among them.
  const char* last = n.tail_nonzero != nullptr ? n.tail_nonzero + 1 : n.mantissa_end;
  while (last > n.digits && (last[-1] == '0' || last[-1] == '.')) --last;
  const char* first = n.digits;
  while (first < last && (*first == '0' || *first == '.')) ++first;
  if (first == last) {
    *value = 0;
    return std::errc();
  }
  char compact[kCompactDigits + 16];
  char* out = compact;
  for (const char* p = first; p < last; ++p) {
    if (*p == '.') continue;
    if (out == compact + kCompactDigits) return std::from_chars(n.digits, n.end, *value).ec;
    *out++ = *p;
  }
  // The power of ten of the last significant digit.
  long exponent =
      last <= n.point ? static_cast<long>(n.point - last) : -static_cast<long>(last - n.point - 1);
  *out++ = 'e';
  out = std::to_chars(out, compact + sizeof compact, exponent).ptr;
  return std::from_chars(compact, out, *value).ec;
}

template <typename Real>
Real parse_real(const char* text, int32_t length) {
  LeadingNumber n = leading_number(text, length);
  if (!n.any_digit) return n.negative ? -Real(0) : Real(0);
  Real value = 0;
  if (!n.exponent && n.digit_count <= FastPath<Real>::kDigits &&
      n.fraction_digits <= FastPath<Real>::kPlaces) {
    value = static_cast<Real>(n.mantissa) / static_cast<Real>(kPowersOfTen[n.fraction_digits]);
  } else if (read_compact(n, &value) == std::errc::result_out_of_range) {
    // Beyond the type's range from_chars leaves the value alone: a magnitude
    // above it is an infinity, one below its smallest subnormal a zero.
    DecimalText d;
    bool big = read_decimal_text(n.digits, static_cast<size_t>(n.end - n.digits), &d) &&
               d.power_of(significant_digits(d).first) > 0;
    value = big ? std::numeric_limits<Real>::infinity() : Real(0);
  }
  // from_chars takes no "+", so the sign is applied here, after the digits.
  return n.negative ? -value : value;
}

}  // namespace

double parse_double(const char* text, int32_t length) {
  return parse_real<double>(text, length);
}

float parse_float(const char* text, int32_t length) {
  return parse_real<float>(text, length);
}

WholeNumber read_whole_number(const char* text, int32_t length) {
  LeadingNumber n = leading_number(text, length);
  WholeNumber w;
  w.negative = n.negative;
  w.has_point = n.point < n.end && *n.point == '.';
  if (n.exponent) {
    // The exponent moves the point: the digits as a decimal number, scaled.
    DecimalText d;
    read_decimal_text(n.digits, static_cast<size_t>(n.end - n.digits), &d);
    ScaledFit fit = scale_decimal(d, 0, kMaxNumericDigits, &w.whole);
    w.overflow = fit == ScaledFit::kOverflow;
    w.fraction = fit == ScaledFit::kFractionCut;
    return w;
  }
  if (n.digit_count <= 19) {
    // All the digits are in the mantissa: the whole part is its leading ones.
    uint64_t whole = n.mantissa;
    uint64_t cut = 0;
    for (int i = 0; i < n.fraction_digits; ++i) {
      cut = cut + (whole % 10 != 0 ? 1 : 0);
      whole /= 10;
    }
    w.whole = whole;
    w.fraction = cut != 0;
    return w;
  }
  const char* first = n.digits;
  while (first < n.point && *first == '0') ++first;
  if (n.point - first > kMaxNumericDigits) {
    w.overflow = true;
    return w;
  }
  for (const char* p = first; p < n.point; ++p)
    w.whole = w.whole * 10 + static_cast<unsigned>(*p - '0');
  if (w.has_point) {
    for (const char* p = n.point + 1; p < n.end && !w.fraction; ++p) w.fraction = *p != '0';
  }
  return w;
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
