// Dates, times and timestamps: character text into the date and time
// structures, and the server's date, time and timestamp values into text or
// structures.
#include "platform/clock.h"
#include "core/wide_text.h"
#include "results/convert_rules.h"
#include "results/copy_out.h"
#include "results/parse.h"

namespace q4 {

namespace {

static_assert(sizeof(DATE_STRUCT) == 6 && sizeof(TIME_STRUCT) == 6 &&
                  sizeof(TIMESTAMP_STRUCT) == 16,
              "the reported lengths are the structure sizes");

// The fixed text layout of a server date, time or timestamp value.
struct TemporalLayout {
  SQLSMALLINT server_type;
  int32_t min_length;   // shorter values are refused with "22005"
  bool dashes;          // "-" at 4 and 7
  int8_t colons_at;     // first of two ":" three apart (2 and 5, 13 and 16); -1 none
  int32_t text_length;  // characters handed out as text
  bool has_date;        // YYYY-MM-DD at offset 0
  int8_t time_at;       // offset of HH:MM:SS, -1 none
};

constexpr TemporalLayout kLayouts[] = {
    {SQL_DATE, 6, true, -1, 10, true, -1},
    {SQL_TIME, 6, false, 2, 8, false, 0},
    {SQL_TIMESTAMP, 16, true, 13, 19, true, 11},
};

const TemporalLayout& layout_of(SQLSMALLINT server_type) {
  for (const TemporalLayout& layout : kLayouts) {
    if (layout.server_type == server_type) return layout;
  }
  return kLayouts[0];  // not reached: the matrix routes only these types here
}

// Byte `i` of the value, or NUL beyond its end: separator checks never read
// past the value.
char byte_at(const Conversion& c, int32_t i) {
  return i < c.length ? static_cast<char>(c.data[i]) : '\0';
}

// Posts and returns false when the value does not have its type's layout.
bool check_layout(const Conversion& c, const TemporalLayout& layout) {
  if (c.length < layout.min_length) {
    post_error(c.stmt, kDiagAssignment);
    return false;
  }
  bool ok = true;
  if (layout.dashes) ok = byte_at(c, 4) == '-' && byte_at(c, 7) == '-';
  if (layout.colons_at >= 0) {
    ok = ok && byte_at(c, layout.colons_at) == ':' && byte_at(c, layout.colons_at + 3) == ':';
  }
  if (!ok) post_error(c.stmt, kDiagDatetimeOverflow);
  return ok;
}

struct Moment {
  int year, month, day, hour, minute, second;
  uint32_t fraction;  // nanoseconds
};

void write_date(const Conversion& c, const Moment& m) {
  DATE_STRUCT d{static_cast<SQLSMALLINT>(m.year), static_cast<SQLUSMALLINT>(m.month),
                static_cast<SQLUSMALLINT>(m.day)};
  store(c, &d, sizeof d);
  report_length(c, sizeof d);
}

void write_time(const Conversion& c, const Moment& m) {
  TIME_STRUCT t{static_cast<SQLUSMALLINT>(m.hour), static_cast<SQLUSMALLINT>(m.minute),
                static_cast<SQLUSMALLINT>(m.second)};
  store(c, &t, sizeof t);
  report_length(c, sizeof t);
}

void write_timestamp(const Conversion& c, const Moment& m) {
  TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(m.year),
                      static_cast<SQLUSMALLINT>(m.month),
                      static_cast<SQLUSMALLINT>(m.day),
                      static_cast<SQLUSMALLINT>(m.hour),
                      static_cast<SQLUSMALLINT>(m.minute),
                      static_cast<SQLUSMALLINT>(m.second),
                      m.fraction};
  store(c, &ts, sizeof ts);
  report_length(c, sizeof ts);
}

bool is_digit(char ch) {
  return ch >= '0' && ch <= '9';
}

// `count` digits at `at` as a number; false when one of them is not a digit.
bool read_digits(const char* at, int count, int* value) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    if (!is_digit(at[i])) return false;
    v = v * 10 + (at[i] - '0');
  }
  *value = v;
  return true;
}

// The three fields of a date (at 0, 5 and 8, `first_width` 4) or a time (at
// 0, 3 and 6, `first_width` 2) in the first `length` characters of `text`,
// each as parse_int reads it up to `length`. The layout check has found the
// separator after the first and the second field, so in the server's own
// form (every field all digits, the last one ending at `length` or at a
// non-digit) the digits are what parse_int would give and are read directly:
// this runs for every date and time of every row.
void read_fields(const char* text, int32_t length, int first_width, int* first, int* second,
                 int* third) {
  int32_t end = first_width + 6;
  if (length >= end && (length == end || !is_digit(text[end])) &&
      read_digits(text, first_width, first) && read_digits(text + first_width + 1, 2, second) &&
      read_digits(text + first_width + 4, 2, third)) {
    return;
  }
  *first = parse_int(text, length);
  *second = parse_int(text + first_width + 1, length - first_width - 1);
  *third = parse_int(text + first_width + 4, length - first_width - 4);
}

Moment today_at(int hour, int minute, int second, uint32_t fraction) {
  Moment m{0, 0, 0, hour, minute, second, fraction};
  utc_today(&m.year, &m.month, &m.day);
  return m;
}

// A value handed out without part of itself ("01S07", the value written
// stays): never silently.
SQLRETURN fractional_cut(const Conversion& c, bool cut) {
  if (!cut) return SQL_SUCCESS;
  post_error(c.stmt, kDiagFractionalTruncation);
  return SQL_SUCCESS_WITH_INFO;
}

// The characters of a value handed out as text: `base`, its layout's (10, 8
// or 19), and `full`, with the fractional seconds that follow a time or a
// timestamp ("." and digits) as the server keeps them. A value shorter than
// its layout (it passed the layout check, so it lacks only trailing digits)
// is handed out as it is.
struct TextSpan {
  int32_t base;
  int32_t full;
};

TextSpan text_span(const Conversion& c, const TemporalLayout& layout) {
  if (c.length <= layout.text_length) return TextSpan{c.length, c.length};
  int32_t full = layout.text_length;
  if (layout.time_at >= 0) full += parse_fraction(c.text(), c.length, layout.text_length).length;
  return TextSpan{layout.text_length, full};
}

// The characters of `span` that `room` characters hold: all of them, or the
// layout and the fraction digits that fit (never a "." without a digit).
int32_t fitting(const TextSpan& span, int64_t room) {
  if (room >= span.full) return span.full;
  int32_t n = static_cast<int32_t>(room);
  return n == span.base + 1 ? span.base : n;
}

}  // namespace

// Dates from character text; text beyond "YYYY-MM-DD" and one more character
// is reported as a cut.
SQLRETURN convert_text_to_date(const Conversion& c) {
  DateFields date;
  if (!parse_date(c.text(), c.length, &date)) return post_error(c.stmt, kDiagDatetimeOverflow);
  write_date(c, Moment{date.year, date.month, date.day, 0, 0, 0, 0});
  return finish(c, c.length > 11);
}

SQLRETURN convert_text_to_time(const Conversion& c) {
  TimeFields time;
  if (!parse_time(c.text(), c.length, &time)) return post_error(c.stmt, kDiagDatetimeOverflow);
  write_time(c, Moment{0, 0, 0, time.hour, time.minute, time.second, 0});
  return finish(c, c.length > 9);
}

// A date, a time, or both (a timestamp text): a missing time is midnight, a
// missing date is today (UTC); at least one of them must be there. Seconds
// of two digits may carry a fraction, which goes into the fraction field to
// the nanosecond ("01S07" for digits beyond it).
SQLRETURN convert_text_to_timestamp(const Conversion& c) {
  TimeFields time{0, 0, 0};
  DateFields date{0, 0, 0};
  Fraction fraction{0, 0, false};
  bool have_time = false;
  bool have_date = false;
  if (c.length >= 6) {
    have_time = parse_time(c.text(), c.length, &time);
    if (have_time) {
      // parse_time takes the time at 0 when it stands there, else at 11.
      int32_t time_at = c.text()[2] == ':' && c.text()[5] == ':' ? 0 : 11;
      fraction = parse_fraction(c.text(), c.length, time_at + 8);
    } else {
      time = TimeFields{0, 0, 0};
    }
    have_date = parse_date(c.text(), c.length, &date);
  }
  Moment m{date.year,   date.month,          date.day, time.hour, time.minute,
           time.second, fraction.nanoseconds};
  if (!have_date) {
    if (!have_time) return post_error(c.stmt, kDiagDatetimeOverflow);
    m = today_at(time.hour, time.minute, time.second, fraction.nanoseconds);
  }
  write_timestamp(c, m);
  return fractional_cut(c, fraction.cut);
}

// The value's text: its layout and the fractional seconds the server keeps
// after a time. The buffer must hold at least the layout and a NUL ("22003"
// otherwise); fraction digits that do not fit are cut, with "01004" and the
// whole length reported, as any text that does not fit.
SQLRETURN convert_temporal_text(const Conversion& c) {
  const TemporalLayout& layout = layout_of(c.server_type);
  if (!check_layout(c, layout)) return SQL_ERROR;
  if (c.buffer_length < layout.text_length + 1) return post_error(c.stmt, kDiagOutOfRange);
  TextSpan span = text_span(c, layout);
  int32_t n = fitting(span, c.buffer_length - 1);
  copy_out(c.buffer, c.buffer_length, c.data, n, 0, CopyMode::kText);
  report_length(c, span.full);
  return finish(c, n < span.full);
}

// The same in wide units; the buffer length and the reported length count
// bytes.
SQLRETURN convert_wide_temporal_text(const Conversion& c) {
  const TemporalLayout& layout = layout_of(c.server_type);
  if (!check_layout(c, layout)) return SQL_ERROR;
  const int32_t unit = static_cast<int32_t>(wide_unit_bytes());
  if (c.buffer_length / unit < layout.text_length + 1) return post_error(c.stmt, kDiagOutOfRange);
  TextSpan span = text_span(c, layout);
  int32_t n = fitting(span, c.buffer_length / unit - 1);
  copy_out(c.buffer, c.buffer_length, c.data, n, 0, CopyMode::kWideText);
  report_length(c, unit * static_cast<int64_t>(span.full));
  return finish(c, n < span.full);
}

// The fields at their fixed offsets, without range checks, into the target's
// structure, with the fraction that follows the seconds. A time value read as
// a timestamp is dated today (UTC); a date value read as a timestamp is at
// midnight. What the target cannot hold is cut with "01S07": the time of a
// timestamp read as a date, the fraction of a time or timestamp read as a
// time, fraction digits beyond the nanosecond.
SQLRETURN convert_temporal_fields(const Conversion& c) {
  const TemporalLayout& layout = layout_of(c.server_type);
  if (!check_layout(c, layout)) return SQL_ERROR;

  Moment m{0, 0, 0, 0, 0, 0, 0};
  Fraction fraction{0, 0, false};
  // The layout check guarantees every field's offset lies inside the value
  // (a date 8 bytes or more, a time 6, a timestamp 17).
  if (layout.time_at >= 0) {
    read_fields(c.text() + layout.time_at, c.length - layout.time_at, 2, &m.hour, &m.minute,
                &m.second);
    // Most values end at the seconds.
    if (c.length > layout.time_at + 8) {
      fraction = parse_fraction(c.text(), c.length, layout.time_at + 8);
      m.fraction = fraction.nanoseconds;
    }
  }
  if (layout.has_date) {
    // In a timestamp the day ends at the separator at offset 10 whatever that
    // byte is.
    read_fields(c.text(), layout.time_at >= 0 ? 10 : c.length, 4, &m.year, &m.month, &m.day);
  } else if (c.c_type == SQL_C_TIMESTAMP) {
    m = today_at(m.hour, m.minute, m.second, m.fraction);
  }

  switch (c.c_type) {
    case SQL_C_DATE:
      write_date(c, m);
      return fractional_cut(c, m.hour != 0 || m.minute != 0 || m.second != 0 || m.fraction != 0);
    case SQL_C_TIME:
      write_time(c, m);
      return fractional_cut(c, m.fraction != 0 || fraction.cut);
    default:
      write_timestamp(c, m);
      return fractional_cut(c, fraction.cut);
  }
}

}  // namespace q4
