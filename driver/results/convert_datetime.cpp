// Dates, times and timestamps: character text into the date and time
// structures, and the server's date, time and timestamp values into text or
// structures.
#include "platform/clock.h"
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

// The fraction is always 0: neither the server's layouts nor the accepted
// character forms carry one that the driver keeps.
void write_timestamp(const Conversion& c, const Moment& m) {
  TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(m.year),
                      static_cast<SQLUSMALLINT>(m.month),
                      static_cast<SQLUSMALLINT>(m.day),
                      static_cast<SQLUSMALLINT>(m.hour),
                      static_cast<SQLUSMALLINT>(m.minute),
                      static_cast<SQLUSMALLINT>(m.second),
                      0};
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

Moment today_at(int hour, int minute, int second) {
  Moment m{0, 0, 0, hour, minute, second};
  utc_today(&m.year, &m.month, &m.day);
  return m;
}

}  // namespace

// Dates from character text; text beyond "YYYY-MM-DD" and one more character
// is reported as a cut.
SQLRETURN convert_text_to_date(const Conversion& c) {
  DateFields date;
  if (!parse_date(c.text(), c.length, &date)) return post_error(c.stmt, kDiagDatetimeOverflow);
  write_date(c, Moment{date.year, date.month, date.day, 0, 0, 0});
  return finish(c, c.length > 11);
}

SQLRETURN convert_text_to_time(const Conversion& c) {
  TimeFields time;
  if (!parse_time(c.text(), c.length, &time)) return post_error(c.stmt, kDiagDatetimeOverflow);
  write_time(c, Moment{0, 0, 0, time.hour, time.minute, time.second});
  return finish(c, c.length > 9);
}

// A date, a time, or both (a timestamp text): a missing time is midnight, a
// missing date is today (UTC); at least one of them must be there.
SQLRETURN convert_text_to_timestamp(const Conversion& c) {
  TimeFields time{0, 0, 0};
  DateFields date{0, 0, 0};
  bool have_time = false;
  bool have_date = false;
  if (c.length >= 6) {
    have_time = parse_time(c.text(), c.length, &time);
    if (!have_time) time = TimeFields{0, 0, 0};
    have_date = parse_date(c.text(), c.length, &date);
  }
  Moment m{date.year, date.month, date.day, time.hour, time.minute, time.second};
  if (!have_date) {
    if (!have_time) return post_error(c.stmt, kDiagDatetimeOverflow);
    m = today_at(time.hour, time.minute, time.second);
  }
  write_timestamp(c, m);
  return SQL_SUCCESS;
}

// The value's text, cut to its layout's length. The buffer must hold the
// whole layout and a NUL; a value shorter than its layout (it passed the
// layout check, so it lacks only trailing digits) is handed out as it is,
// with its own length.
SQLRETURN convert_temporal_text(const Conversion& c) {
  const TemporalLayout& layout = layout_of(c.server_type);
  if (!check_layout(c, layout)) return SQL_ERROR;
  if (c.buffer_length < layout.text_length + 1) return post_error(c.stmt, kDiagOutOfRange);
  int32_t n = c.length < layout.text_length ? c.length : layout.text_length;
  copy_out(c.buffer, c.buffer_length, c.data, n, 0, CopyMode::kText);
  report_length(c, n);
  return SQL_SUCCESS;
}

// The fields at their fixed offsets, without range checks, into the target's
// structure. A time value read as a timestamp is dated today (UTC); a date
// value read as a timestamp is at midnight.
SQLRETURN convert_temporal_fields(const Conversion& c) {
  const TemporalLayout& layout = layout_of(c.server_type);
  if (!check_layout(c, layout)) return SQL_ERROR;

  Moment m{0, 0, 0, 0, 0, 0};
  // The layout check guarantees every field's offset lies inside the value
  // (a date 8 bytes or more, a time 6, a timestamp 17).
  if (layout.time_at >= 0) {
    read_fields(c.text() + layout.time_at, c.length - layout.time_at, 2, &m.hour, &m.minute,
                &m.second);
  }
  if (layout.has_date) {
    // In a timestamp the day ends at the separator at offset 10 whatever that
    // byte is.
    read_fields(c.text(), layout.time_at >= 0 ? 10 : c.length, 4, &m.year, &m.month, &m.day);
  } else if (c.c_type == SQL_C_TIMESTAMP) {
    m = today_at(m.hour, m.minute, m.second);
  }

  switch (c.c_type) {
    case SQL_C_DATE:
      write_date(c, m);
      break;
    case SQL_C_TIME:
      write_time(c, m);
      break;
    default:
      write_timestamp(c, m);
      break;
  }
  return SQL_SUCCESS;
}

}  // namespace q4
