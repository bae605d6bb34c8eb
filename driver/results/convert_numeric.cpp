// Server values into the numeric C types: bit, the integer types, float,
// double and the numeric structure.
#include <cstdio>
#include <limits>

#include "results/convert_rules.h"
#include "results/decimal_convert.h"
#include "results/parse.h"

namespace q4 {

namespace {

static_assert(std::numeric_limits<float>::is_iec559,
              "doubles beyond the float range must become infinities");

enum NumberKind : uint8_t { kInteger, kFloat, kDouble };

// One numeric C type. Integer targets are stored as the low `size` bytes of
// the two's complement value, which is the same for signed and unsigned
// targets once the value is inside the target's range.
struct NumberTarget {
  SQLSMALLINT c_type;
  NumberKind kind;
  uint8_t size;
  // Range for values that come as integers.
  int64_t integer_low;
  int64_t integer_high;
  // Range for values that come as text, checked on the exact value before
  // it is cut toward zero (so 255.5 is outside 0..255): from -text_low to
  // text_high, and with `fraction_above_high` a value below text_high + 1 is
  // inside as well (the bound is text_high + 1, excluded).
  uint64_t text_low;  // the magnitude of the lower bound
  uint64_t text_high;
  bool fraction_above_high;
};

constexpr NumberTarget kNumberTargets[] = {
    {SQL_C_UTINYINT, kInteger, 1, 0, 255, 0, 255, false},
    {SQL_C_TINYINT, kInteger, 1, -128, 127, 128, 127, false},
    {SQL_C_STINYINT, kInteger, 1, -128, 127, 128, 127, false},
    // A bit takes 0 and 1 from integers but any text value below 2 (1.5
    // stores 1, reported as cut).
    {SQL_C_BIT, kInteger, 1, 0, 1, 0, 1, true},
    {SQL_C_USHORT, kInteger, 2, 0, 65535, 0, 65535, false},
    {SQL_C_SHORT, kInteger, 2, -32768, 32767, 32768, 32767, false},
    {SQL_C_SSHORT, kInteger, 2, -32768, 32767, 32768, 32767, false},
    // As text, -2147483648 is refused although integers may hold it.
    {SQL_C_LONG, kInteger, 4, INT32_MIN, INT32_MAX, 2147483647, 2147483647, false},
    {SQL_C_SLONG, kInteger, 4, INT32_MIN, INT32_MAX, 2147483647, 2147483647, false},
    {SQL_C_ULONG, kInteger, 4, 0, UINT32_MAX, 0, 4294967295u, false},
    // 64-bit targets: from -2^63 up to but excluding 2^63, and below 2^64.
    {SQL_C_SBIGINT, kInteger, 8, INT64_MIN, INT64_MAX, uint64_t{1} << 63, INT64_MAX, true},
    {SQL_C_UBIGINT, kInteger, 8, 0, INT64_MAX, 0, UINT64_MAX, true},
    {SQL_C_FLOAT, kFloat, 4, 0, 0, 0, 0, false},
    {SQL_C_DOUBLE, kDouble, 8, 0, 0, 0, 0, false},
};

// Only called with a C type that the matrix sends to a numeric rule.
const NumberTarget& number_target(SQLSMALLINT c_type) {
  for (const NumberTarget& target : kNumberTargets) {
    if (target.c_type == c_type) return target;
  }
  return kNumberTargets[0];  // not reached: the matrix lists the same types
}

// The low `size` bytes of `value`, written as an integer of that width.
void store_integer(const Conversion& c, uint64_t value, int size) {
  switch (size) {
    case 1: {
      uint8_t v = static_cast<uint8_t>(value);
      store(c, &v, sizeof v);
      break;
    }
    case 2: {
      uint16_t v = static_cast<uint16_t>(value);
      store(c, &v, sizeof v);
      break;
    }
    case 4: {
      uint32_t v = static_cast<uint32_t>(value);
      store(c, &v, sizeof v);
      break;
    }
    default:
      store(c, &value, sizeof value);
      break;
  }
  report_length(c, size);
}

void store_real(const Conversion& c, const NumberTarget& t, double value) {
  if (t.kind == kFloat) {
    float v = static_cast<float>(value);
    store(c, &v, sizeof v);
  } else {
    store(c, &value, sizeof value);
  }
  report_length(c, t.size);
}

// A number read from text into an integer target, exactly: no digit passes
// through a double (a double holds 53 bits; 9007199254740993.5 would become
// ...994). `point_means_cut` is set for character text, where any "." counts
// as a cut; for decimal values only a positive value that lost a fraction
// does.
SQLRETURN store_exact_integer(const Conversion& c, const NumberTarget& t, bool point_means_cut) {
  WholeNumber w = read_whole_number(c.text(), c.length);
  if (w.overflow) return post_error(c.stmt, kDiagOutOfRange);
  bool negative = w.negative && (w.whole != 0 || w.fraction);
  bool inside = negative ? w.whole < t.text_low || (w.whole == t.text_low && !w.fraction)
                         : w.whole < t.text_high ||
                               (w.whole == t.text_high && (!w.fraction || t.fraction_above_high));
  if (!inside) return post_error(c.stmt, kDiagOutOfRange);
  uint64_t whole = static_cast<uint64_t>(w.whole);
  store_integer(c, negative ? 0 - whole : whole, t.size);
  return finish(c, point_means_cut ? w.has_point : !negative && w.fraction);
}

// A value as text into any numeric target: floating-point targets take the
// nearest value of their own width, integer ones the exact value.
SQLRETURN store_number(const Conversion& c, bool point_means_cut) {
  const NumberTarget& t = number_target(c.c_type);
  if (t.kind == kDouble) {
    store_real(c, t, parse_double(c.text(), c.length));
    return SQL_SUCCESS;
  }
  if (t.kind == kFloat) {
    float v = parse_float(c.text(), c.length);
    store(c, &v, sizeof v);
    report_length(c, t.size);
    return SQL_SUCCESS;
  }
  return store_exact_integer(c, t, point_means_cut);
}

// SQL_NUMERIC_STRUCT's fields as an application reads them when no
// descriptor says otherwise: the driver's own precision and a scale of 0.
// The magnitude goes little-endian into `val`; sign 1 is positive (a zero
// too), 0 negative.
constexpr SQLCHAR kDefaultNumericPrecision = kMaxNumericDigits;
constexpr SQLSCHAR kDefaultNumericScale = 0;

// Writes the structure with `precision` and `scale`; a cut fraction is
// "01S07" with SQL_SUCCESS_WITH_INFO.
SQLRETURN store_numeric_struct(const Conversion& c, bool negative, unsigned __int128 magnitude,
                               SQLCHAR precision, SQLSCHAR scale, bool fraction_cut) {
  SQL_NUMERIC_STRUCT n;
  memset(&n, 0, sizeof n);
  n.precision = precision;
  n.scale = scale;
  n.sign = negative && magnitude != 0 ? 0 : 1;
  for (size_t i = 0; i < sizeof n.val; ++i) {
    n.val[i] = static_cast<SQLCHAR>(magnitude >> (8 * i));
  }
  store(c, &n, sizeof n);
  report_length(c, sizeof n);
  if (!fraction_cut) return SQL_SUCCESS;
  post_error(c.stmt, kDiagFractionalTruncation);
  return SQL_SUCCESS_WITH_INFO;
}

// The value as the row descriptor's record has it: |value| x 10^scale, cut
// toward zero past the scale ("01S07"), and no more than `precision` digits
// in all ("22003" when more are needed: nothing is written).
SQLRETURN text_into_described_struct(const Conversion& c, const char* text, int32_t length) {
  const SQLCHAR precision = c.stmt->numeric_precision;
  const SQLSCHAR scale = c.stmt->numeric_scale;
  DecimalText d;
  if (!read_decimal_text(text, static_cast<size_t>(length), &d)) {
    return post_error(c.stmt, kDiagNotANumber);
  }
  unsigned __int128 magnitude = 0;
  ScaledFit fit = scale_decimal(d, scale, precision, &magnitude);
  if (fit == ScaledFit::kOverflow) return post_error(c.stmt, kDiagOutOfRange);
  return store_numeric_struct(c, d.negative, magnitude, precision, scale,
                              fit == ScaledFit::kFractionCut);
}

// The value cut to the default scale of 0; more than 38 digits do not fit.
SQLRETURN text_into_struct(const Conversion& c) {
  if (c.stmt->numeric_precision != 0) return text_into_described_struct(c, c.text(), c.length);
  static_assert(kDefaultNumericScale == 0, "the whole part is the scaled value");
  WholeNumber w = read_whole_number(c.text(), c.length);
  if (w.overflow) return post_error(c.stmt, kDiagOutOfRange);
  return store_numeric_struct(c, w.negative, w.whole, kDefaultNumericPrecision,
                              kDefaultNumericScale, w.fraction);
}

}  // namespace

bool read_server_integer(const Conversion& c, int32_t* value) {
  const uint8_t* d = c.data;
  if (c.server_type == SQL_SMALLINT) {
    if (c.length < 2) {
      post_error(c.stmt, kDiagAssignment);
      return false;
    }
    *value = static_cast<int16_t>(static_cast<uint16_t>(d[0] << 8 | d[1]));
    return true;
  }
  if (c.length < 4) {
    post_error(c.stmt, kDiagAssignment);
    return false;
  }
  uint32_t bits = static_cast<uint32_t>(d[0]) << 24 | static_cast<uint32_t>(d[1]) << 16 |
                  static_cast<uint32_t>(d[2]) << 8 | d[3];
  *value = static_cast<int32_t>(bits);
  return true;
}

SQLRETURN convert_text_to_number(const Conversion& c) {
  if (!scan_number(c.text(), c.length).valid) return post_error(c.stmt, kDiagNotANumber);
  return store_number(c, true);
}

SQLRETURN convert_decimal_to_number(const Conversion& c) {
  return store_number(c, false);
}

SQLRETURN convert_text_to_numeric_struct(const Conversion& c) {
  if (!scan_number(c.text(), c.length).valid) return post_error(c.stmt, kDiagNotANumber);
  return text_into_struct(c);
}

SQLRETURN convert_decimal_to_numeric_struct(const Conversion& c) {
  return text_into_struct(c);
}

SQLRETURN convert_integer_to_numeric_struct(const Conversion& c) {
  int32_t v;
  if (!read_server_integer(c, &v)) return SQL_ERROR;
  if (c.stmt->numeric_precision != 0) {
    char text[16];
    int length = snprintf(text, sizeof text, "%d", static_cast<int>(v));
    return text_into_described_struct(c, text, length);
  }
  uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  return store_numeric_struct(c, v < 0, magnitude, kDefaultNumericPrecision, kDefaultNumericScale,
                              false);
}

SQLRETURN convert_integer_to_number(const Conversion& c) {
  int32_t v;
  if (!read_server_integer(c, &v)) return SQL_ERROR;
  const NumberTarget& t = number_target(c.c_type);
  if (t.kind != kInteger) {
    store_real(c, t, v);
    return SQL_SUCCESS;
  }
  bool is_long = c.c_type == SQL_C_LONG || c.c_type == SQL_C_SLONG;
  bool is_short = c.c_type == SQL_C_SHORT || c.c_type == SQL_C_SSHORT;
  // Applications that bind a long to a 2-byte buffer get the low 16 bits
  // unchecked, and a short bound to a 4-byte buffer receives a full
  // 4-byte integer.
  if (c.server_type == SQL_INTEGER && is_long && c.buffer_length == 2) {
    store_integer(c, static_cast<uint64_t>(static_cast<int64_t>(v)), 2);
    return SQL_SUCCESS;
  }
  if (c.server_type == SQL_SMALLINT && is_short && c.buffer_length == 4) {
    store_integer(c, static_cast<uint64_t>(static_cast<int64_t>(v)), 4);
    return SQL_SUCCESS;
  }
  if (v < t.integer_low || v > t.integer_high) return post_error(c.stmt, kDiagOutOfRange);
  store_integer(c, static_cast<uint64_t>(static_cast<int64_t>(v)), t.size);
  return SQL_SUCCESS;
}

}  // namespace q4
