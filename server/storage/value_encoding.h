// Row values as they travel: u16 type (0xFFFF for NULL), u32 length, data.
// Integer types are big-endian binary, everything else text or raw bytes.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>

#include "protocol/decimal_text.h"
#include "server/translation/type_map.h"

namespace q4::lite {

// Scratch room for values the encoder formats itself (integers, numbers,
// dates); text and blob values point into SQLite's own memory instead. A
// double written without exponent takes up to 309 digits before the point,
// or 323 zeros after it and 17 digits.
constexpr size_t kValueScratch = 352;

// One value ready to send. `data` points either into `scratch` of the
// make_value call or at SQLite's copy of the column, valid until the
// statement is stepped, reset or finalized.
struct ValueView {
  uint16_t type;  // wire type of this value; kNullValueType for NULL
  const uint8_t* data;
  uint32_t length;
};

// The wire form of column `index` of the statement's current row, described
// by `column`. A value travels with its own type, which may differ from the
// column's: a 64-bit integer in an INTEGER column goes as SQL_NUMERIC text, a
// text that is no valid date in a DATE column as SQL_VARCHAR, and so on. A
// text that is a number in a NUMERIC column (an exact decimal column holds
// nothing else) travels as SQL_NUMERIC with the column's scale.
ValueView make_value(const ColumnInfo& column, sqlite3_stmt* stmt, int index,
                     uint8_t (&scratch)[kValueScratch]);

// Writes a value (header and data) at `out` when it fits in `room` bytes.
// Returns the bytes written, or 0 when it does not fit.
inline size_t put_value(const ValueView& v, uint8_t* out, size_t room);

// Formats a double as decimal text with exactly `scale` decimals, or in its
// shortest round-trip form when `scale` is negative; never with an exponent
// (-1e10 is "-10000000000", 1e-7 "0.0000001"): clients that read the text as
// a decimal ignore an "e" and would take "-1e+10" for -110. `room` must be
// kValueScratch. Returns the length.
size_t format_decimal(double value, int scale, char* out, size_t room);

// Formats a number held as decimal text (an exact decimal column's value)
// without exponent, with exactly `scale` decimals, rounded half away from
// zero, or with every digit it has when `scale` is negative. Returns the
// length, or 0 when the text does not fit `room` (1e999999 does not).
size_t format_decimal_text(const DecimalText& number, int scale, char* out, size_t room);

// Formats an integer, followed by a point and `scale` zeros when scale > 0.
size_t format_integer(int64_t value, int scale, char* out, size_t room);

// Normalises a date/time text to the wire layout of `type` (SQL_DATE
// YYYY-MM-DD, SQL_TIME HH:MM:SS, SQL_TIMESTAMP YYYY-MM-DD HH:MM:SS) in `out`
// (kValueScratch bytes). Times and timestamps keep their fractional seconds
// as stored ("." and up to 64 digits); blanks or "T" between date and time
// become one blank, missing seconds become ":00", a year of fewer than four
// digits (rows an older driver wrote) is padded with zeros, and what follows
// the time (a time zone suffix SQLite accepts) is left out. Returns the
// length, or 0 when the text is not a date/time of that kind.
size_t normalise_datetime(int16_t type, const char* text, size_t length, char* out);

size_t put_value(const ValueView& v, uint8_t* out, size_t room) {
  const size_t size = 6 + static_cast<size_t>(v.length);
  if (size > room) return 0;
  out[0] = static_cast<uint8_t>(v.type >> 8);
  out[1] = static_cast<uint8_t>(v.type);
  out[2] = static_cast<uint8_t>(v.length >> 24);
  out[3] = static_cast<uint8_t>(v.length >> 16);
  out[4] = static_cast<uint8_t>(v.length >> 8);
  out[5] = static_cast<uint8_t>(v.length);
  if (v.length > 0) __builtin_memcpy(out + 6, v.data, v.length);
  return size;
}

}  // namespace q4::lite
