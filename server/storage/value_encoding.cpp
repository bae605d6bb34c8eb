#include "server/storage/value_encoding.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "protocol/wire.h"

namespace q4::lite {

namespace {

// A type code as the u16 of a row value's header.
constexpr uint16_t wire(int16_t type) {
  return static_cast<uint16_t>(type);
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool digits_at(const char* t, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    if (!is_digit(t[i])) return false;
  }
  return true;
}

// The date at the start of `t`: a year of one to four digits (four as the
// driver writes them; fewer in rows an older driver wrote, "1-01-01" for
// 0001-01-01), "-MM-DD". Writes it with a four-digit year into `out` (10
// bytes) and returns the characters it took in `t`, or 0 when there is none.
size_t read_date(const char* t, size_t length, char* out) {
  size_t year = 0;
  while (year < 4 && year < length && is_digit(t[year])) ++year;
  if (year == 0 || length < year + 6 || t[year] != '-' || !digits_at(t, year + 1, 2) ||
      t[year + 3] != '-' || !digits_at(t, year + 4, 2)) {
    return 0;
  }
  std::memset(out, '0', 4 - year);
  std::memcpy(out + 4 - year, t, year);
  std::memcpy(out + 4, t + year, 6);
  return year + 6;
}

// HH:MM, optionally followed by :SS; returns 5, 8 or 0.
size_t time_at(const char* t, size_t length, size_t at) {
  if (length < at + 5 || !digits_at(t, at, 2) || t[at + 2] != ':' || !digits_at(t, at + 3, 2)) {
    return 0;
  }
  if (length >= at + 8 && t[at + 5] == ':' && digits_at(t, at + 6, 2)) return 8;
  return 5;
}

// The fractional seconds at `at`, right after the seconds: "." and the
// digits up to the first non-digit. Returns their length (0 for none), or
// kNoFraction when more digits stand there than the wire form keeps.
constexpr size_t kMaxFractionDigits = 64;
constexpr size_t kNoFraction = SIZE_MAX;
size_t fraction_at(const char* t, size_t length, size_t at) {
  if (at + 1 >= length || t[at] != '.' || !is_digit(t[at + 1])) return 0;
  size_t end = at + 1;
  while (end < length && is_digit(t[end])) ++end;
  return end - at - 1 > kMaxFractionDigits ? kNoFraction : end - at;
}

// The time at `at` of `t` as HH:MM:SS and its fraction, at `out`; seconds
// default to 00. Returns the length written, or 0 when there is no time.
size_t normalise_time(const char* t, size_t length, size_t at, char* out) {
  const size_t n = time_at(t, length, at);
  if (n == 0) return 0;
  std::memcpy(out, t + at, n);
  if (n == 5) {
    std::memcpy(out + 5, ":00", 3);
    return 8;
  }
  const size_t fraction = fraction_at(t, length, at + 8);
  if (fraction == kNoFraction) return 0;
  std::memcpy(out + 8, t + at + 8, fraction);
  return 8 + fraction;
}

ValueView text_view(uint16_t type, const void* data, int length) {
  return ValueView{type, static_cast<const uint8_t*>(data), static_cast<uint32_t>(length)};
}

ValueView integer_value(const ColumnInfo& column, int64_t v, uint8_t (&scratch)[kValueScratch]) {
  if (column.type == kSqlSmallint && v >= INT16_MIN && v <= INT16_MAX) {
    scratch[0] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    scratch[1] = static_cast<uint8_t>(v);
    return ValueView{static_cast<uint16_t>(kSqlSmallint), scratch, 2};
  }
  const bool text_column = column.type == kSqlChar || column.type == kSqlVarchar;
  if (!text_column && column.type != kSqlNumeric && v >= INT32_MIN && v <= INT32_MAX) {
    const uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v));
    scratch[0] = static_cast<uint8_t>(u >> 24);
    scratch[1] = static_cast<uint8_t>(u >> 16);
    scratch[2] = static_cast<uint8_t>(u >> 8);
    scratch[3] = static_cast<uint8_t>(u);
    return ValueView{static_cast<uint16_t>(kSqlInteger), scratch, 4};
  }
  char* text = reinterpret_cast<char*>(scratch);
  const int scale = column.type == kSqlNumeric && !column.floating ? column.scale : 0;
  const size_t n = format_integer(v, scale, text, kValueScratch);
  const uint16_t type = text_column ? wire(column.type) : wire(kSqlNumeric);
  return ValueView{type, scratch, static_cast<uint32_t>(n)};
}

ValueView float_value(const ColumnInfo& column, double v, uint8_t (&scratch)[kValueScratch]) {
  char* text = reinterpret_cast<char*>(scratch);
  const int scale =
      column.type == kSqlNumeric && !column.floating && column.declared ? column.scale : -1;
  size_t n = format_decimal(v, scale, text, kValueScratch);
  const bool text_column = column.type == kSqlChar || column.type == kSqlVarchar;
  // NaN and infinities have no decimal form: they travel as text.
  const bool finite = std::isfinite(v);
  const uint16_t type = text_column ? wire(column.type)
                        : finite    ? wire(kSqlNumeric)
                                    : wire(kSqlVarchar);
  return ValueView{type, scratch, static_cast<uint32_t>(n)};
}

}  // namespace

size_t format_integer(int64_t value, int scale, char* out, size_t room) {
  auto r = std::to_chars(out, out + room, value);
  char* p = r.ptr;
  if (scale > 0 && static_cast<size_t>(p - out) + 1 + static_cast<size_t>(scale) <= room) {
    *p++ = '.';
    for (int i = 0; i < scale; ++i) *p++ = '0';
  }
  return static_cast<size_t>(p - out);
}

size_t format_decimal(double value, int scale, char* out, size_t room) {
  if (!std::isfinite(value)) {
    const char* text = std::isnan(value) ? "NaN" : (value > 0 ? "Inf" : "-Inf");
    const size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return n;
  }
  if (scale >= 0 && scale <= 15) {
    static const double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double scaled = std::round(value * kPowers[scale]);
    // Exact in integer arithmetic below 2^53; larger values take the general
    // path below.
    if (std::fabs(scaled) < 9007199254740992.0) {
      int64_t units = static_cast<int64_t>(scaled);
      const bool negative = units < 0;
      if (negative) units = -units;
      char digits[24];
      const auto r = std::to_chars(digits, digits + sizeof digits, units);
      const size_t count = static_cast<size_t>(r.ptr - digits);
      // At least one digit before the point: 0.05 is "0.05", not ".05".
      char padded[48];
      size_t b = 0;
      for (size_t i = count; i < static_cast<size_t>(scale) + 1; ++i) padded[b++] = '0';
      std::memcpy(padded + b, digits, count);
      b += count;
      char* p = out;
      if (negative) *p++ = '-';  // units is non-zero here, so no "-0.00"
      const size_t whole = b - static_cast<size_t>(scale);
      std::memcpy(p, padded, whole);
      p += whole;
      if (scale > 0) {
        *p++ = '.';
        std::memcpy(p, padded + whole, static_cast<size_t>(scale));
        p += scale;
      }
      return static_cast<size_t>(p - out);
    }
  }
  // The shortest digits that read back as the same double, written without
  // exponent. Below 10^15 std::to_chars in fixed notation writes exactly
  // those. Above, it would write the double's exact digits instead (1e300 as
  // 1000000000000000052504...): exact, but 301 significant digits, where the
  // shortest form is a 1 and 300 zeros, which a client short of room can give
  // as "1e+300". So large values, and declared scales above 15, are written
  // from the shortest scientific digits.
  if (scale < 0 && std::fabs(value) < 1e15) {
    auto r = std::to_chars(out, out + room, value, std::chars_format::fixed);
    return static_cast<size_t>(r.ptr - out);
  }
  char shortest[32];
  const auto r =
      std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
  DecimalText digits;
  read_decimal_text(shortest, static_cast<size_t>(r.ptr - shortest), &digits);
  const size_t n = format_decimal_text(digits, scale, out, room);
  // A declared scale that does not fit the room (NUMERIC(60,50) holding 1e300)
  // gives up the scale rather than the value.
  return n > 0 ? n : format_decimal_text(digits, -1, out, room);
}

size_t format_decimal_text(const DecimalText& d, int scale, char* out, size_t room) {
  const SignificantDigits s = significant_digits(d);
  // Without a scale: as many decimals as the last significant digit needs.
  if (scale < 0) {
    const int64_t last = s.zero() ? 0 : d.power_of(s.end - 1);
    scale = last < 0
                ? static_cast<int>(last < -kDecimalExponentLimit ? kDecimalExponentLimit : -last)
                : 0;
  }
  // The digits from the highest power (at least 10^0) down to 10^-scale,
  // one spare in front for a carry; then sign, point and digits.
  const int64_t high = s.zero() ? 0 : d.power_of(s.first) > 0 ? d.power_of(s.first) : 0;
  const int64_t count = high + scale + 1;
  if (count + 3 > static_cast<int64_t>(room)) return 0;
  char* digits = out + 1;  // out[0] stays for the sign
  for (int64_t k = 0; k < count; ++k) {
    const int64_t power = high - k;
    // The digit index of this power: power_of(i) = exponent + whole - 1 - i.
    const int64_t i = d.exponent + static_cast<int64_t>(d.whole_count) - 1 - power;
    digits[k] = static_cast<char>(
        '0' + (i >= s.first && i < s.end ? d.digit(static_cast<uint32_t>(i)) : 0));
  }
  // Round half away from zero on the first digit below the scale.
  bool carry = false;
  if (!s.zero()) {
    const int64_t next = d.exponent + static_cast<int64_t>(d.whole_count) - 1 + scale + 1;
    carry = next >= s.first && next < s.end && d.digit(static_cast<uint32_t>(next)) >= 5;
  }
  for (int64_t k = count - 1; carry && k >= 0; --k) {
    carry = digits[k] == '9';
    digits[k] = carry ? '0' : static_cast<char>(digits[k] + 1);
  }
  int64_t length = count;
  char* first = digits;
  if (carry) {  // 9.99 became 10.00: the spare place in front takes the 1
    *--first = '1';
    ++length;
  }
  bool nonzero = false;
  for (int64_t k = 0; k < length && !nonzero; ++k) nonzero = first[k] != '0';
  // No "-0.00" for a value that rounds to zero.
  const bool minus = d.negative && nonzero;
  const int64_t whole = length - scale;
  char* p = out;
  if (minus) {
    // The digits start at out + 1 (or out after a carry): move them up one
    // place when the sign needs out[0].
    if (first == out) {
      std::memmove(out + 1, out, static_cast<size_t>(length));
      first = out + 1;
    }
    *p++ = '-';
  }
  std::memmove(p, first, static_cast<size_t>(whole));
  p += whole;
  if (scale > 0) {
    std::memmove(p + 1, first + whole, static_cast<size_t>(scale));
    *p = '.';
    p += 1 + scale;
  }
  return static_cast<size_t>(p - out);
}

size_t normalise_datetime(int16_t type, const char* t, size_t length, char* out) {
  if (type == kSqlTime && time_at(t, length, 0) != 0) return normalise_time(t, length, 0, out);
  char date[10];
  const size_t date_length = read_date(t, length, date);
  if (date_length == 0) return 0;
  // After a date SQLite reads a time after any run of blanks and "T"s, as
  // the column's guard does (translation/datetime_checks.h); what follows
  // the time is not part of the value.
  size_t time_from = date_length;
  while (time_from < length && (t[time_from] == ' ' || t[time_from] == 'T')) ++time_from;
  switch (type) {
    case kSqlDate:
      std::memcpy(out, date, 10);
      return 10;
    case kSqlTime:
      return normalise_time(t, length, time_from, out);
    case kSqlTimestamp: {
      std::memcpy(out, date, 10);
      out[10] = ' ';
      const size_t n = normalise_time(t, length, time_from, out + 11);
      if (n > 0) return 11 + n;
      // A date alone (blanks after it included) is at midnight.
      for (size_t i = date_length; i < length; ++i) {
        if (t[i] != ' ') return 0;
      }
      std::memcpy(out + 11, "00:00:00", 8);
      return 19;
    }
    default:
      return 0;
  }
}

ValueView make_value(const ColumnInfo& column, sqlite3_stmt* stmt, int index,
                     uint8_t (&scratch)[kValueScratch]) {
  // One lookup per value instead of one per accessor. Every connection is
  // opened with SQLITE_OPEN_NOMUTEX, and without a connection mutex the
  // value sqlite3_column_value returns reads like any protected value.
  sqlite3_value* value = sqlite3_column_value(stmt, index);
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return ValueView{kNullValueType, scratch, 0};
    case SQLITE_INTEGER:
      return integer_value(column, sqlite3_value_int64(value), scratch);
    case SQLITE_FLOAT:
      return float_value(column, sqlite3_value_double(value), scratch);
    case SQLITE_BLOB: {
      const void* data = sqlite3_value_blob(value);
      const int n = sqlite3_value_bytes(value);
      const uint16_t type =
          column.type == kSqlVarbinary ? wire(kSqlVarbinary) : wire(kSqlLongVarbinary);
      return text_view(type, data != nullptr ? data : scratch, n);
    }
    default: {  // SQLITE_TEXT
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const int n = sqlite3_value_bytes(value);
      if (text == nullptr) return text_view(kSqlVarchar, scratch, 0);
      const int16_t type = column.type;
      if (type == kSqlChar || type == kSqlVarchar) return text_view(type, text, n);
      if (type == kSqlNumeric) {
        DecimalText number;
        if (read_decimal_text(text, static_cast<size_t>(n), &number)) {
          const size_t length =
              format_decimal_text(number, column.declared ? column.scale : -1,
                                  reinterpret_cast<char*>(scratch), kValueScratch);
          if (length > 0) {
            return ValueView{wire(kSqlNumeric), scratch, static_cast<uint32_t>(length)};
          }
        }
      }
      if (type == kSqlDate || type == kSqlTime || type == kSqlTimestamp) {
        char* out = reinterpret_cast<char*>(scratch);
        const size_t length = normalise_datetime(type, text, static_cast<size_t>(n), out);
        if (length > 0)
          return ValueView{static_cast<uint16_t>(type), scratch, static_cast<uint32_t>(length)};
      }
      return text_view(kSqlVarchar, text, n);
    }
  }
}

}  // namespace q4::lite
