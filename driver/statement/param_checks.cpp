#include "statement/param_checks.h"

#include <cmath>
#include <cstdio>

#include "core/diagnostics.h"
#include "protocol/decimal_text.h"
#include "results/decimal_convert.h"
#include "results/parse.h"

namespace q4 {

namespace {

enum class Fault : uint8_t {
  kNone,
  kNotANumber,
  kOutOfRange,
  kFractionCut,
  kNotADatetime,
  kDatetimeOverflow,
};

// Integer types: the magnitude of the lowest value and the highest value.
struct IntegerRange {
  uint64_t low;
  uint64_t high;
};

// A tinyint is signed on some servers and unsigned on others: either range
// is taken, -128 to 255, rather than refusing a value one kind of server
// would hold.
constexpr IntegerRange kBitRange{0, 1};
constexpr IntegerRange kTinyintRange{128, 255};
constexpr IntegerRange kSmallintRange{32768, 32767};
constexpr IntegerRange kIntegerRange{2147483648u, 2147483647};
constexpr IntegerRange kBigintRange{uint64_t{1} << 63, INT64_MAX};

// The value cut toward zero must lie in the range ("22003" otherwise) and
// lose nothing ("22001" otherwise). A type without negative values (bit)
// refuses any value below zero as out of range, -0.5 too.
Fault check_integer(const DecimalText& d, IntegerRange range) {
  unsigned __int128 magnitude = 0;
  bool fraction = false;
  const char* first = d.whole;
  const char* const point = d.whole + d.whole_count;
  while (first < point && *first == '0') ++first;
  if (!d.has_exponent && point - first <= 19) {
    // The common form, a few digits and perhaps a fraction, read directly.
    uint64_t whole = 0;
    for (const char* p = first; p < point; ++p)
      whole = whole * 10 + static_cast<unsigned>(*p - '0');
    for (uint32_t i = 0; i < d.fraction_count && !fraction; ++i) fraction = d.fraction[i] != '0';
    magnitude = whole;
  } else {
    ScaledFit fit = scale_decimal(d, 0, kMaxNumericDigits, &magnitude);
    if (fit == ScaledFit::kOverflow) return Fault::kOutOfRange;
    fraction = fit == ScaledFit::kFractionCut;
  }
  bool negative = d.negative && (magnitude != 0 || fraction);
  if (negative && range.low == 0) return Fault::kOutOfRange;
  if (magnitude > (negative ? range.low : range.high)) return Fault::kOutOfRange;
  return fraction ? Fault::kFractionCut : Fault::kNone;
}

// Floating-point types: a finite value beyond the type's largest is out of
// range; one below its smallest becomes zero, which is a value of the type.
// The power of ten of the leading digit decides, except at the largest
// power the type reaches (308 for a double, 38 for a float), where the text
// is converted to see.
Fault check_real(const DecimalText& d, const char* text, uint64_t count, bool single) {
  const SignificantDigits s = significant_digits(d);
  if (s.zero()) return Fault::kNone;
  const int64_t power = d.power_of(s.first);
  const int64_t largest = single ? 38 : 308;
  if (power != largest) return power < largest ? Fault::kNone : Fault::kOutOfRange;
  // parse_double steps over spaces only: every blank is stepped over here.
  // The text is a number, so the value is all of it.
  while (count > 0 && is_decimal_blank(*text)) {
    ++text;
    --count;
  }
  int32_t length = static_cast<int32_t>(count);
  bool finite =
      single ? std::isfinite(parse_float(text, length)) : std::isfinite(parse_double(text, length));
  return finite ? Fault::kNone : Fault::kOutOfRange;
}

// An empty text, or one of blanks, is no number: sent, it would leave an
// empty string in a numeric column (or a zero the application never wrote);
// NULL is how a parameter says that it has no value.
Fault check_number(SQLSMALLINT sql_type, const char* text, uint64_t count) {
  DecimalText d;
  if (!read_decimal_text(text, count, &d)) return Fault::kNotANumber;
  switch (sql_type) {
    case SQL_BIT:
      return check_integer(d, kBitRange);
    case SQL_TINYINT:
      return check_integer(d, kTinyintRange);
    case SQL_SMALLINT:
      return check_integer(d, kSmallintRange);
    case SQL_INTEGER:
      return check_integer(d, kIntegerRange);
    case SQL_BIGINT:
      return check_integer(d, kBigintRange);
    case SQL_REAL:
      return check_real(d, text, count, true);
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return check_real(d, text, count, false);
    default:  // SQL_NUMERIC, SQL_DECIMAL: any number; the server applies its scale
      return Fault::kNone;
  }
}

// Dates and times in the forms of ODBC's literals: YYYY-MM-DD, HH:MM[:SS],
// and a timestamp as a date, a space (or "T") and a time whose seconds may
// carry 1 to 9 fraction digits. Fields are read at fixed widths.
struct Text {
  const char* p;
  const char* end;

  bool at(char c) const { return p < end && *p == c; }
  bool digits(int width, int* value) {
    if (end - p < width) return false;
    int v = 0;
    for (int i = 0; i < width; ++i) {
      if (!is_decimal_digit(p[i])) return false;
      v = v * 10 + (p[i] - '0');
    }
    p += width;
    *value = v;
    return true;
  }
  bool skip(char c) {
    if (!at(c)) return false;
    ++p;
    return true;
  }
};

struct Clock {
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool fraction = false;  // a fraction digit other than 0
};

bool is_leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// kNone, kNotADatetime (no date there) or kDatetimeOverflow.
Fault read_date(Text* t) {
  int year, month, day;
  if (!t->digits(4, &year) || !t->skip('-') || !t->digits(2, &month) || !t->skip('-') ||
      !t->digits(2, &day)) {
    return Fault::kNotADatetime;
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > days_in(year, month)) {
    return Fault::kDatetimeOverflow;
  }
  return Fault::kNone;
}

Fault read_clock(Text* t, Clock* c) {
  if (!t->digits(2, &c->hour) || !t->skip(':') || !t->digits(2, &c->minute)) {
    return Fault::kNotADatetime;
  }
  if (t->skip(':')) {
    if (!t->digits(2, &c->second)) return Fault::kNotADatetime;
    if (t->skip('.')) {
      int digits = 0;
      for (; t->p < t->end && is_decimal_digit(*t->p); ++t->p, ++digits) {
        c->fraction = c->fraction || *t->p != '0';
      }
      if (digits == 0) return Fault::kNotADatetime;
      // More than nanoseconds: a timestamp structure could not hold it.
      if (digits > 9) return Fault::kDatetimeOverflow;
    }
  }
  if (c->hour > 23 || c->minute > 59 || c->second > 59) return Fault::kDatetimeOverflow;
  return Fault::kNone;
}

// A date, optionally followed by a space or "T" and a time; *clock stays
// midnight without one.
Fault read_date_and_clock(Text* t, Clock* clock) {
  Fault f = read_date(t);
  if (f != Fault::kNone) return f;
  if (t->skip(' ') || t->skip('T')) return read_clock(t, clock);
  return Fault::kNone;
}

// The value of a date, time or timestamp type, as a whole text.
//   SQL_DATE: a date, or a timestamp at midnight ("22008" at another time).
//   SQL_TIME: a time, or a timestamp (its time counts).
//   SQL_TIMESTAMP: a date or a timestamp. A bare time is refused: the
//   statement carries the text to the server, which could only guess the
//   date.
Fault check_datetime_text(SQLSMALLINT sql_type, Text t) {
  Clock clock;
  Fault f;
  if (sql_type == SQL_TIME) {
    Text probe = t;
    f = read_clock(&probe, &clock);
    if (f == Fault::kNotADatetime) {
      clock = Clock();
      f = read_date_and_clock(&t, &clock);
    } else {
      t = probe;
    }
  } else {
    f = read_date_and_clock(&t, &clock);
    if (f == Fault::kNone && sql_type == SQL_DATE &&
        (clock.hour != 0 || clock.minute != 0 || clock.second != 0 || clock.fraction)) {
      f = Fault::kDatetimeOverflow;
    }
  }
  if (f != Fault::kNone) return f;
  return t.p == t.end ? Fault::kNone : Fault::kNotADatetime;
}

// An ODBC escape, {d '...'}, {t '...'} or {ts '...'}, which the literal
// passes on unquoted: its quoted text must be a value of the escape's own
// kind.
Fault check_datetime_escape(Text t) {
  ++t.p;  // "{"
  SQLSMALLINT kind = SQL_DATE;
  if (t.skip('t'))
    kind = t.skip('s') ? SQL_TIMESTAMP : SQL_TIME;
  else if (!t.skip('d'))
    return Fault::kNotADatetime;
  while (t.p < t.end && is_decimal_blank(*t.p)) ++t.p;
  if (!t.skip('\'')) return Fault::kNotADatetime;
  const char* close = t.p;
  while (close < t.end && *close != '\'') ++close;
  Text tail{close, t.end};
  if (!tail.skip('\'')) return Fault::kNotADatetime;
  while (tail.p < tail.end && is_decimal_blank(*tail.p)) ++tail.p;
  if (!tail.skip('}') || tail.p != tail.end) return Fault::kNotADatetime;
  Text inner{t.p, close};
  if (kind == SQL_TIME) {
    Clock clock;
    Fault f = read_clock(&inner, &clock);
    return f != Fault::kNone || inner.p == inner.end ? f : Fault::kNotADatetime;
  }
  return check_datetime_text(kind, inner);
}

Fault check_datetime(SQLSMALLINT sql_type, const char* text, uint64_t count) {
  Text t{text, text + count};
  while (t.p < t.end && is_decimal_blank(*t.p)) ++t.p;
  while (t.end > t.p && is_decimal_blank(t.end[-1])) --t.end;
  if (t.at('{')) return check_datetime_escape(t);
  return check_datetime_text(sql_type, t);
}

SQLRETURN post_fault(Statement* stmt, const ParamBinding& b, Fault fault) {
  const DiagText* d = nullptr;
  switch (fault) {
    case Fault::kNotANumber:
      d = &kDiagParamNotANumber;
      break;
    case Fault::kOutOfRange:
      d = &kDiagParamOutOfRange;
      break;
    case Fault::kFractionCut:
      d = &kDiagParamFractionCut;
      break;
    case Fault::kNotADatetime:
      d = &kDiagParamNotADatetime;
      break;
    case Fault::kDatetimeOverflow:
      d = &kDiagParamDatetimeOverflow;
      break;
    case Fault::kNone:
      return SQL_SUCCESS;
  }
  char number[8];
  snprintf(number, sizeof number, "%u", static_cast<unsigned>(b.number));
  char text[kMaxPostedText + 1];
  snprintf(text, sizeof text, d->text, number);
  post_error(stmt, text, d->sqlstate);
  // SQLGetDiagField's SQL_DIAG_COLUMN_NUMBER: the parameter's number.
  set_diagnostic_position(stmt, 0, b.number);
  return SQL_ERROR;
}

}  // namespace

SQLRETURN check_typed_character_value(Statement* stmt, const ParamBinding& b, const char* text,
                                      uint64_t count) {
  Fault fault = b.sql_type == SQL_DATE || b.sql_type == SQL_TIME || b.sql_type == SQL_TIMESTAMP
                    ? check_datetime(b.sql_type, text, count)
                    : check_number(b.sql_type, text, count);
  return post_fault(stmt, b, fault);
}

}  // namespace q4
