// Parsers for the text forms in which the server sends numbers, dates and
// times. Each reads the `length` bytes at `text` and nothing before or after
// them, so a value is parsed where it lies in a received block, without a
// terminator. A NUL byte inside the text ends it as the end of the text does.
// They never allocate and never write to their input; a length of 0 or less
// is an empty text.
#pragma once

#include <cstdint>

namespace q4 {

// What scan_number saw in a text.
struct NumberShape {
  bool valid;      // an optional single "+" or "-", then one or more characters
                   // that are each a digit or ".", with at most one "."
  bool has_sign;   // the text began with "+" or "-"
  bool has_point;  // a "." occurred
};

// Checks the plain decimal form the driver accepts as a number in character
// data: no spaces, no exponent, nothing after the digits.
NumberShape scan_number(const char* text, int32_t length);

// Decimal text to the nearest double: leading spaces (not tabs), an optional
// sign, digits, an optional "." and digits, an optional exponent ("E"/"e",
// optional sign, digits). Stops at the first character that fits none of
// these; text with no digits gives 0. The value is rounded once, exactly
// (every digit counts, however many); beyond the range it is an infinity,
// below the smallest subnormal a zero, each with the text's sign.
double parse_double(const char* text, int32_t length);
// The same, rounded once to the nearest float (not through a double, which
// could round twice).
float parse_float(const char* text, int32_t length);

// The number parse_double reads at the start of `text`, cut toward zero,
// exactly (no digit passes through a double): for integer targets and the
// numeric structure.
struct WholeNumber {
  unsigned __int128 whole = 0;  // the magnitude's whole part, unless `overflow`
  bool negative = false;        // the text's sign ("-0.5" too)
  bool has_point = false;       // a "." was written
  bool fraction = false;        // a digit other than 0 was cut off
  bool overflow = false;        // the whole part has more than 38 digits
};
WholeNumber read_whole_number(const char* text, int32_t length);

// Spaces and tabs, an optional sign, then decimal digits up to the first
// non-digit; no digits gives 0. Longer digit strings wrap modulo 2^32.
int32_t parse_int(const char* text, int32_t length);

struct DateFields {
  int year;
  int month;
  int day;
};

struct TimeFields {
  int hour;
  int minute;
  int second;
};

// A date at the start of `text`: "-" at offsets 4 and 7, and within the first
// 10 characters, fields at 0, 5 and 8 that are plain digit strings ending at a
// "-" or the end; month 1-12, day 1-31, any year. Returns false, leaving `out`
// unspecified, otherwise.
bool parse_date(const char* text, int32_t length, DateFields* out);

// A time at offset 0 (":" at 2 and 5) or, failing that, at offset 11 (":" at
// 13 and 16, the time part of a timestamp text): within 8 characters, fields
// at 0, 3 and 6 that are plain digit strings ending at a ":" or the end; hour
// 0-24, minute and second 0-59. Returns false, leaving `out` unspecified,
// otherwise.
bool parse_time(const char* text, int32_t length, TimeFields* out);

// Fractional seconds at offset `at` of `text` (right after the seconds): "."
// and one or more digits, up to the first non-digit. The nanoseconds are the
// first nine digits (".5" is 500000000); `cut` says a later digit was not 0
// (a precision no nanosecond field holds). `length` counts the "." and the
// digits; all three are 0 and false when no fraction stands there.
struct Fraction {
  uint32_t nanoseconds;
  int32_t length;
  bool cut;
};
Fraction parse_fraction(const char* text, int32_t length, int32_t at);

}  // namespace q4
