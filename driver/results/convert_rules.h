// The conversion rules behind convert_value, one function per cell kind of
// the conversion matrix, and what they share. Internal to driver/results.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>

#include "core/diagnostics.h"
#include "core/records.h"

namespace q4 {

// Diagnostics of the conversion. The letter case differs on purpose between
// the two "22005" texts: text that is no number vs. a value that does not fit.

// One conversion in progress: the value is data[0, length), read where it
// lies and never beyond; `c_type` is already resolved from SQL_C_DEFAULT.
struct Conversion {
  Statement* stmt;
  SQLSMALLINT server_type;
  SQLSMALLINT c_type;
  const uint8_t* data;
  int32_t length;
  int32_t buffer_length;  // clamped; 0 when `buffer` is null
  void* buffer;
  SQLLEN* length_out;

  // The value as characters, for the parsers (which take its length too).
  const char* text() const { return reinterpret_cast<const char*>(data); }
};

inline void report_length(const Conversion& c, int64_t length) {
  if (c.length_out != nullptr) *c.length_out = static_cast<SQLLEN>(length);
}

// Writes a fixed-size result (the buffer may be unaligned).
inline void store(const Conversion& c, const void* bytes, size_t size) {
  memcpy(c.buffer, bytes, size);
}

// The common ending: a cut result is reported as "01004" with
// SQL_SUCCESS_WITH_INFO; the value written stays. (The numeric structure
// reports a cut fraction as "01S07" instead.)
inline SQLRETURN finish(const Conversion& c, bool truncated) {
  if (!truncated) return SQL_SUCCESS;
  post_error(c.stmt, kDiagTruncated);
  return SQL_SUCCESS_WITH_INFO;
}

// Character and binary results (convert.cpp).
SQLRETURN convert_text_copy(const Conversion& c);
SQLRETURN convert_raw_copy(const Conversion& c);
SQLRETURN convert_hexadecimal(const Conversion& c);
SQLRETURN convert_whole_text(const Conversion& c);
SQLRETURN convert_formatted(const Conversion& c);
SQLRETURN convert_fixed_copy(const Conversion& c);
// The same results as UTF-16 for SQL_C_WCHAR (convert.cpp).
SQLRETURN convert_wide_text_copy(const Conversion& c);
SQLRETURN convert_wide_hexadecimal(const Conversion& c);
SQLRETURN convert_wide_whole_text(const Conversion& c);
SQLRETURN convert_wide_formatted(const Conversion& c);

// Numeric results (convert_numeric.cpp).
SQLRETURN convert_text_to_number(const Conversion& c);
SQLRETURN convert_decimal_to_number(const Conversion& c);
SQLRETURN convert_integer_to_number(const Conversion& c);
// Into SQL_NUMERIC_STRUCT, with the driver's default precision and scale 0
// (there are no descriptors to ask for others): digits beyond the scale are
// cut toward zero with "01S07", a value of more digits than the precision is
// "22003".
SQLRETURN convert_text_to_numeric_struct(const Conversion& c);
SQLRETURN convert_decimal_to_numeric_struct(const Conversion& c);
SQLRETURN convert_integer_to_numeric_struct(const Conversion& c);
// The big-endian SQL_INTEGER or SQL_SMALLINT value, sign-extended; false
// (after posting "22005") when the value is shorter than its type's width.
bool read_server_integer(const Conversion& c, int32_t* value);

// Date and time results (convert_datetime.cpp).
SQLRETURN convert_text_to_date(const Conversion& c);
SQLRETURN convert_text_to_time(const Conversion& c);
SQLRETURN convert_text_to_timestamp(const Conversion& c);
SQLRETURN convert_temporal_text(const Conversion& c);
SQLRETURN convert_wide_temporal_text(const Conversion& c);
SQLRETURN convert_temporal_fields(const Conversion& c);

}  // namespace q4
