// Server values into the numeric C types: bit, the integer types, float and
// double.
#include <charconv>
#include <limits>

#include "results/convert_rules.h"
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
  // Range for values that come as text (checked before truncation toward
  // zero, so 255.5 is outside 0..255); `real_high_open` excludes the upper
  // bound itself.
  double real_low;
  double real_high;
  bool real_high_open;
};

constexpr NumberTarget kNumberTargets[] = {
    {SQL_C_UTINYINT, kInteger, 1, 0, 255, 0, 255, false},
    {SQL_C_TINYINT, kInteger, 1, -128, 127, -128, 127, false},
    {SQL_C_STINYINT, kInteger, 1, -128, 127, -128, 127, false},
    // A bit takes 0 and 1 from integers but any text value below 2 (1.5
    // stores 1, reported as cut).
    {SQL_C_BIT, kInteger, 1, 0, 1, 0, 2, true},
    {SQL_C_USHORT, kInteger, 2, 0, 65535, 0, 65535, false},
    {SQL_C_SHORT, kInteger, 2, -32768, 32767, -32768, 32767, false},
    {SQL_C_SSHORT, kInteger, 2, -32768, 32767, -32768, 32767, false},
    // As text, -2147483648 is refused although integers may hold it.
    {SQL_C_LONG, kInteger, 4, INT32_MIN, INT32_MAX, -2147483647.0, 2147483647.0, false},
    {SQL_C_SLONG, kInteger, 4, INT32_MIN, INT32_MAX, -2147483647.0, 2147483647.0, false},
    {SQL_C_ULONG, kInteger, 4, 0, UINT32_MAX, 0, 4294967295.0, false},
    // 64-bit targets: digit strings are read exactly (a double holds only 53
    // bits); the real bounds apply to text with a fraction or an exponent.
    {SQL_C_SBIGINT, kInteger, 8, INT64_MIN, INT64_MAX, -9223372036854775808.0,
     9223372036854775808.0, true},
    {SQL_C_UBIGINT, kInteger, 8, 0, INT64_MAX, 0, 18446744073709551616.0, true},
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

bool in_real_range(const NumberTarget& t, double value) {
  // Written so that a NaN is outside every range.
  if (!(value >= t.real_low)) return false;
  return t.real_high_open ? value < t.real_high : value <= t.real_high;
}

// The low `size` bytes of `value`, written as an integer of that width.
void store_integer(const Conversion& c, int64_t value, int size) {
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
    default: {
      uint64_t v = static_cast<uint64_t>(value);
      store(c, &v, sizeof v);
      break;
    }
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

// A parsed real into the target. `point_means_cut` is set for character
// text, where any "." counts as a cut; for decimal values only a positive
// value that lost a fraction does.
SQLRETURN store_parsed(const Conversion& c, double value, bool point_means_cut) {
  const NumberTarget& t = number_target(c.c_type);
  if (t.kind != kInteger) {
    store_real(c, t, value);
    return SQL_SUCCESS;
  }
  if (!in_real_range(t, value)) return post_error(c.stmt, kDiagOutOfRange);
  if (c.c_type == SQL_C_UBIGINT && value >= 9223372036854775808.0) {
    uint64_t whole = static_cast<uint64_t>(value);  // toward zero
    store_integer(c, static_cast<int64_t>(whole), t.size);
    return finish(c, point_means_cut || value > static_cast<double>(whole));
  }
  int64_t whole = static_cast<int64_t>(value);  // toward zero
  store_integer(c, whole, t.size);
  bool cut = point_means_cut || value > static_cast<double>(whole);
  return finish(c, cut);
}

// A 64-bit target from text that is only an optional sign and digits, read
// exactly. Returns false, having done nothing, for any other text; otherwise
// stores the value or posts "22003" and sets *rc.
bool store_digits_exactly(const Conversion& c, SQLRETURN* rc) {
  const NumberTarget& t = number_target(c.c_type);
  if (t.kind != kInteger || t.size != 8) return false;
  NumberShape shape = scan_number(c.text(), c.length);
  if (!shape.valid || shape.has_point) return false;
  const char* first = c.text();
  const char* last = first + c.length;
  if (*first == '+') ++first;
  bool fits;
  int64_t stored = 0;
  if (c.c_type == SQL_C_UBIGINT) {
    if (*first == '-') {  // "-0" is 0; any other negative is out of range
      bool zero = true;
      for (const char* p = first + 1; p < last; ++p) zero = zero && *p == '0';
      fits = zero;
    } else {
      uint64_t v = 0;
      fits = std::from_chars(first, last, v).ec == std::errc();
      stored = static_cast<int64_t>(v);
    }
  } else {
    fits = std::from_chars(first, last, stored).ec == std::errc();
  }
  if (!fits) {
    *rc = post_error(c.stmt, kDiagOutOfRange);
    return true;
  }
  store_integer(c, stored, t.size);
  *rc = SQL_SUCCESS;
  return true;
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
  NumberShape shape = scan_number(c.text(), c.length);
  if (!shape.valid) return post_error(c.stmt, kDiagNotANumber);
  SQLRETURN rc;
  if (store_digits_exactly(c, &rc)) return rc;
  return store_parsed(c, parse_double(c.text(), c.length), shape.has_point);
}

SQLRETURN convert_decimal_to_number(const Conversion& c) {
  SQLRETURN rc;
  if (store_digits_exactly(c, &rc)) return rc;
  return store_parsed(c, parse_double(c.text(), c.length), false);
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
    store_integer(c, v, 2);
    return SQL_SUCCESS;
  }
  if (c.server_type == SQL_SMALLINT && is_short && c.buffer_length == 4) {
    store_integer(c, v, 4);
    return SQL_SUCCESS;
  }
  if (v < t.integer_low || v > t.integer_high) return post_error(c.stmt, kDiagOutOfRange);
  store_integer(c, v, t.size);
  return SQL_SUCCESS;
}

}  // namespace q4
