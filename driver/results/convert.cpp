#include "results/convert.h"

#include <climits>
#include <cstring>

#include "core/wide_text.h"
#include "protocol/decimal_text.h"
#include "results/convert_rules.h"
#include "results/copy_out.h"
#include "results/decimal_convert.h"

namespace q4 {

namespace {

// Server value kinds: the rows of the conversion matrix.
enum ServerKind : uint8_t {
  kServerChar,  // SQL_CHAR, SQL_VARCHAR
  kServerNumeric,
  kServerInteger,
  kServerSmallint,
  kServerDate,
  kServerTime,
  kServerTimestamp,
  kServerBinary,  // SQL_VARBINARY, SQL_LONGVARBINARY
  kServerKinds
};

// C type families: the columns of the conversion matrix. Every numeric C type
// (bit, the integer types, float, double) shares one rule per server kind;
// the rule reads the target's size and range from its own table.
enum TargetColumn : uint8_t {
  kTargetChar,
  kTargetNumber,
  kTargetDate,
  kTargetTime,
  kTargetTimestamp,
  kTargetBinary,
  kTargetWide,     // SQL_C_WCHAR: the character result as UTF-16
  kTargetDecimal,  // SQL_C_NUMERIC: SQL_NUMERIC_STRUCT
  kTargetColumns
};

struct ServerTypeEntry {
  SQLSMALLINT server_type;
  ServerKind kind;
  SQLSMALLINT default_c_type;  // what SQL_C_DEFAULT stands for
};

constexpr ServerTypeEntry kServerTypes[] = {
    {SQL_CHAR, kServerChar, SQL_C_CHAR},
    {SQL_VARCHAR, kServerChar, SQL_C_CHAR},
    {SQL_NUMERIC, kServerNumeric, SQL_C_CHAR},
    {SQL_INTEGER, kServerInteger, SQL_C_LONG},
    {SQL_SMALLINT, kServerSmallint, SQL_C_SHORT},
    {SQL_DATE, kServerDate, SQL_C_DATE},
    {SQL_TIME, kServerTime, SQL_C_TIME},
    {SQL_TIMESTAMP, kServerTimestamp, SQL_C_TIMESTAMP},
    {SQL_VARBINARY, kServerBinary, SQL_C_BINARY},
    {SQL_LONGVARBINARY, kServerBinary, SQL_C_BINARY},
};

struct CTypeEntry {
  SQLSMALLINT c_type;
  TargetColumn column;
};

constexpr CTypeEntry kCTypes[] = {
    {SQL_C_CHAR, kTargetChar},       {SQL_C_BIT, kTargetNumber},
    {SQL_C_TINYINT, kTargetNumber},  {SQL_C_STINYINT, kTargetNumber},
    {SQL_C_UTINYINT, kTargetNumber}, {SQL_C_SHORT, kTargetNumber},
    {SQL_C_SSHORT, kTargetNumber},   {SQL_C_USHORT, kTargetNumber},
    {SQL_C_LONG, kTargetNumber},     {SQL_C_SLONG, kTargetNumber},
    {SQL_C_ULONG, kTargetNumber},    {SQL_C_FLOAT, kTargetNumber},
    {SQL_C_DOUBLE, kTargetNumber},   {SQL_C_DATE, kTargetDate},
    {SQL_C_TIME, kTargetTime},       {SQL_C_TIMESTAMP, kTargetTimestamp},
    {SQL_C_BINARY, kTargetBinary},   {SQL_C_WCHAR, kTargetWide},
    {SQL_C_SBIGINT, kTargetNumber},  {SQL_C_UBIGINT, kTargetNumber},
    {SQL_C_NUMERIC, kTargetDecimal},
};

using RuleFunction = SQLRETURN (*)(const Conversion&);

struct Rule {
  RuleFunction convert;  // null: "07006"
  bool fixed_size;       // writes a fixed-size result: needs a buffer
};

constexpr Rule k07006{nullptr, false};
constexpr Rule kTextCopy{convert_text_copy, false};
constexpr Rule kRawCopy{convert_raw_copy, false};
constexpr Rule kHex{convert_hexadecimal, false};
constexpr Rule kWholeText{convert_whole_text, false};
constexpr Rule kFormatted{convert_formatted, false};
constexpr Rule kFixedCopy{convert_fixed_copy, false};
constexpr Rule kTextToNumber{convert_text_to_number, true};
constexpr Rule kDecimalToNumber{convert_decimal_to_number, true};
constexpr Rule kIntegerToNumber{convert_integer_to_number, true};
constexpr Rule kTextToDate{convert_text_to_date, true};
constexpr Rule kTextToTime{convert_text_to_time, true};
constexpr Rule kTextToStamp{convert_text_to_timestamp, true};
// Date, time or timestamp value as text.
constexpr Rule kLayoutText{convert_temporal_text, false};
// Date fields, time fields, timestamp fields, date to timestamp, time to
// timestamp, date part and time part: the fields of the value's layout go
// into the target's structure.
constexpr Rule kFields{convert_temporal_fields, true};
// The SQL_C_CHAR results as UTF-16: text piecewise, bytes as hexadecimal
// digits piecewise, everything else all or nothing.
constexpr Rule kWideText{convert_wide_text_copy, false};
constexpr Rule kWideHex{convert_wide_hexadecimal, false};
constexpr Rule kWideWhole{convert_wide_whole_text, false};
constexpr Rule kWideFormatted{convert_wide_formatted, false};
constexpr Rule kWideLayout{convert_wide_temporal_text, false};
constexpr Rule kTextToStruct{convert_text_to_numeric_struct, true};
constexpr Rule kDecimalToStruct{convert_decimal_to_numeric_struct, true};
constexpr Rule kIntegerToStruct{convert_integer_to_numeric_struct, true};

// The conversion matrix: server kind x C type family.
// clang-format off
constexpr Rule kMatrix[kServerKinds][kTargetColumns] = {
  //             char          number            date         time         timestamp     binary      wide            decimal
  /*char*/      {kTextCopy,   kTextToNumber,    kTextToDate, kTextToTime, kTextToStamp, kRawCopy,   kWideText,      kTextToStruct},
  /*numeric*/   {kWholeText,  kDecimalToNumber, k07006,      k07006,      k07006,       kFixedCopy, kWideWhole,     kDecimalToStruct},
  /*integer*/   {kFormatted,  kIntegerToNumber, k07006,      k07006,      k07006,       kFixedCopy, kWideFormatted, kIntegerToStruct},
  /*smallint*/  {kFormatted,  kIntegerToNumber, k07006,      k07006,      k07006,       kFixedCopy, kWideFormatted, kIntegerToStruct},
  /*date*/      {kLayoutText, k07006,           kFields,     k07006,      kFields,      kFixedCopy, kWideLayout,    k07006},
  /*time*/      {kLayoutText, k07006,           k07006,      kFields,     kFields,      kFixedCopy, kWideLayout,    k07006},
  /*timestamp*/ {kLayoutText, k07006,           kFields,     kFields,     kFields,      kFixedCopy, kWideLayout,    k07006},
  /*binary*/    {kHex,        k07006,           k07006,      k07006,      k07006,       kRawCopy,   kWideHex,       k07006},
};
// clang-format on

const ServerTypeEntry* find_server_type(SQLSMALLINT server_type) {
  for (const ServerTypeEntry& entry : kServerTypes) {
    if (entry.server_type == server_type) return &entry;
  }
  return nullptr;
}

const CTypeEntry* find_c_type(SQLSMALLINT c_type) {
  for (const CTypeEntry& entry : kCTypes) {
    if (entry.c_type == c_type) return &entry;
  }
  return nullptr;
}

// The conversion sees 32-bit buffer lengths. Larger 64-bit lengths are
// clamped rather than truncated to 32 bits: a 4 GiB + 2 buffer must not turn
// into a 2-byte one.
int32_t clamp_buffer_length(SQLLEN buffer_length) {
  if (buffer_length > INT32_MAX) return INT32_MAX;
  if (buffer_length < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(buffer_length);
}

int64_t remaining_bytes(const Conversion& c) {
  int64_t remaining = static_cast<int64_t>(c.length) - c.stmt->getdata_offset;
  return remaining > 0 ? remaining : 0;
}

}  // namespace

SQLRETURN convert_value(Statement* stmt, SQLSMALLINT server_type, SQLSMALLINT c_type,
                        const uint8_t* data, int32_t length, SQLLEN buffer_length,
                        SQLPOINTER buffer, SQLLEN* length_out) {
  static constexpr uint8_t kEmptyValue = 0;
  if (data == nullptr || length < 0) {
    data = &kEmptyValue;
    length = 0;
  }

  const ServerTypeEntry* server = find_server_type(server_type);
  if (server == nullptr) return post_error(stmt, kDiagNotCapableLower);
  if (c_type == SQL_C_DEFAULT) c_type = server->default_c_type;
  const CTypeEntry* target = find_c_type(c_type);
  if (target == nullptr) {
    return post_error(stmt,
                      server->kind == kServerChar ? kDiagNotCapableLower : kDiagRestrictedType);
  }
  const Rule& rule = kMatrix[server->kind][target->column];
  if (rule.convert == nullptr) return post_error(stmt, kDiagRestrictedType);
  // A fixed-size result has nowhere to go without a buffer; character and
  // binary results degrade to reporting the length only.
  if (buffer == nullptr && rule.fixed_size) return post_error(stmt, kDiagInvalidArgument);

  int32_t room = buffer == nullptr ? 0 : clamp_buffer_length(buffer_length);
  Conversion conversion{stmt, server_type, c_type, data, length, room, buffer, length_out};
  return rule.convert(conversion);
}

// Piecewise: continues at getdata_offset and reports the bytes still ahead.
// Text: a buffer length below 1 leaves no room even for the NUL, so nothing
// is written, the full remaining length is reported, with "01004". Bytes: no
// terminator; a buffer length of 0 or less takes nothing and is a cut only
// when bytes remain.
namespace {

SQLRETURN piecewise_copy(const Conversion& c, CopyMode mode) {
  CopyResult r =
      copy_out(c.buffer, c.buffer_length, c.data, c.length, c.stmt->getdata_offset, mode);
  report_length(c, r.full_length);
  c.stmt->getdata_offset += static_cast<uint32_t>(r.copied);
  return finish(c, r.truncated);
}

}  // namespace

SQLRETURN convert_text_copy(const Conversion& c) {
  return piecewise_copy(c, CopyMode::kText);
}

SQLRETURN convert_raw_copy(const Conversion& c) {
  return piecewise_copy(c, CopyMode::kBytes);
}

// Piecewise like the text copy; getdata_offset counts the UTF-8 bytes
// delivered, the reported length the wide bytes still ahead.
SQLRETURN convert_wide_text_copy(const Conversion& c) {
  Statement* stmt = c.stmt;
  const int64_t unit = wide_unit_bytes();
  const int64_t offset = stmt->getdata_offset < static_cast<uint32_t>(c.length)
                             ? static_cast<int64_t>(stmt->getdata_offset)
                             : c.length;
  if (offset == 0) stmt->getdata_wide_units = wide_units_of_utf8(c.data, c.length);
  // The length reported is what is still ahead, in bytes.
  report_length(c, unit * stmt->getdata_wide_units);
  // Below one unit there is no room even for the NUL: nothing is written.
  if (c.buffer == nullptr || c.buffer_length < unit) return finish(c, true);
  WideUnitsCopy piece =
      utf8_to_wide(c.data + offset, c.length - offset, c.buffer, c.buffer_length / unit - 1);
  put_wide_nul(c.buffer, piece.units_written);
  stmt->getdata_offset += static_cast<uint32_t>(piece.bytes_read);
  stmt->getdata_wide_units -= piece.units_written;
  return finish(c, offset + piece.bytes_read < c.length);
}

// Piecewise: two lower-case digits per byte, whole bytes only, NUL-terminated;
// the reported length counts the digits still ahead. A buffer length below 1
// writes nothing and reports the full digit count with "01004". The wide form
// counts the buffer and the length in wide units (a buffer below one unit
// has no room).
namespace {

template <int kWidth>
SQLRETURN hexadecimal(const Conversion& c) {
  static const char kDigits[] = "0123456789abcdef";
  int64_t remaining = remaining_bytes(c);
  int64_t digits = 2 * remaining;
  report_length(c, kWidth * digits);
  int64_t room = c.buffer_length / kWidth;  // characters, the NUL included
  if (room < 1) return finish(c, true);

  int64_t n = digits;
  bool truncated = false;
  if (digits >= room) {
    n = (room / 2) * 2;
    if (n == room) n -= 2;  // keep a character for the NUL
    truncated = true;
  }
  const uint8_t* in = c.data + c.stmt->getdata_offset;
  auto* out = static_cast<uint8_t*>(c.buffer);
  auto put = [out](int64_t i, char ch) {
    if (kWidth == 1) {
      out[i] = static_cast<uint8_t>(ch);
    } else if (kWidth == 2) {
      uint16_t unit = static_cast<uint8_t>(ch);
      memcpy(out + 2 * i, &unit, sizeof unit);
    } else {
      uint32_t unit = static_cast<uint8_t>(ch);
      memcpy(out + 4 * i, &unit, sizeof unit);
    }
  };
  for (int64_t i = 0; i < n / 2; ++i) {
    put(2 * i, kDigits[in[i] >> 4]);
    put(2 * i + 1, kDigits[in[i] & 0x0F]);
  }
  put(n, '\0');
  c.stmt->getdata_offset += static_cast<uint32_t>(n / 2);
  return finish(c, truncated);
}

}  // namespace

SQLRETURN convert_hexadecimal(const Conversion& c) {
  return hexadecimal<1>(c);
}

SQLRETURN convert_wide_hexadecimal(const Conversion& c) {
  return wide_unit_bytes() == 4 ? hexadecimal<4>(c) : hexadecimal<2>(c);
}

// A numeric value as text: all of it when it fits (below). Otherwise (1e300 comes
// as 301 digits, 1e-300 as 302 characters) the same number in exponent form
// when that fits, every significant digit kept ("1e+300"); otherwise what
// ODBC prescribes for a number into character data: its text cut within the
// fraction with "01004" when every character before the point fits, else
// "22003". Not piecewise. `kWidth` 2 or 4 writes wide units of that many
// bytes and counts the buffer and the lengths in them.
namespace {

// Kept out of line: the common case, a text that fits, stays a plain copy
// without this function's registers to save.
template <int kWidth>
[[gnu::noinline]] SQLRETURN number_in_short_buffer(const Conversion& c) {
  const int64_t room = c.buffer_length / kWidth;  // characters, the NUL included
  const CopyMode mode = kWidth == 1 ? CopyMode::kText : CopyMode::kWideText;
  DecimalText d;
  // Without room even for the NUL nothing can be delivered, as before for
  // any text that did not fit.
  if (room < 1 || !read_decimal_text(c.text(), static_cast<size_t>(c.length), &d)) {
    return post_error(c.stmt, kDiagAssignment);
  }
  // The exponent form is written as bytes at the start of the buffer and
  // widened in place from its end.
  auto* out = static_cast<char*>(c.buffer);
  size_t n = write_exponent_form(d, out, static_cast<size_t>(room - 1));
  if (n > 0) {
    out[n] = '\0';
    if (kWidth > 1) widen_ascii_in_place(out, static_cast<int64_t>(n) + 1);
    report_length(c, kWidth * static_cast<int64_t>(n));
    return SQL_SUCCESS;
  }
  const char* point =
      static_cast<const char*>(memchr(c.text(), '.', static_cast<size_t>(c.length)));
  int64_t whole = point == nullptr ? c.length : point - c.text();
  if (whole >= room) return post_error(c.stmt, kDiagOutOfRange);
  // A cut that ends right after the point leaves the point out.
  int64_t kept = room - 1 == whole + 1 ? whole : room - 1;
  copy_out(c.buffer, kWidth * (kept + 1), c.data, static_cast<int32_t>(kept), 0, mode);
  report_length(c, kWidth * static_cast<int64_t>(c.length));
  return finish(c, true);
}

}  // namespace

SQLRETURN convert_whole_text(const Conversion& c) {
  if (c.buffer_length < static_cast<int64_t>(c.length) + 1) return number_in_short_buffer<1>(c);
  copy_out(c.buffer, c.buffer_length, c.data, c.length, 0, CopyMode::kText);
  report_length(c, c.length);
  return SQL_SUCCESS;
}

SQLRETURN convert_formatted(const Conversion& c) {
  int32_t value;
  if (!read_server_integer(c, &value)) return SQL_ERROR;
  // Decimal digits backwards into the end of a local buffer; 11 characters
  // hold "-2147483648".
  char text[11];
  char* start = text + sizeof text;
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) magnitude = 0u - magnitude;
  do {
    *--start = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--start = '-';
  int32_t text_length = static_cast<int32_t>(text + sizeof text - start);

  if (c.buffer_length < text_length + 1) return post_error(c.stmt, kDiagAssignment);
  copy_out(c.buffer, c.buffer_length, start, text_length, 0, CopyMode::kText);
  report_length(c, text_length);
  return SQL_SUCCESS;
}

// Not piecewise. The bytes and a NUL when they fit, else buffer_length - 1
// bytes, the NUL and "01004"; below 1 nothing is written, with "01004".
SQLRETURN convert_fixed_copy(const Conversion& c) {
  const void* source = c.data;
  int32_t length = c.length;
  int32_t integer;
  int16_t smallint;
  if (c.server_type == SQL_INTEGER || c.server_type == SQL_SMALLINT) {
    // Integers are handed over in the host's byte order.
    if (!read_server_integer(c, &integer)) return SQL_ERROR;
    if (c.server_type == SQL_INTEGER) {
      source = &integer;
      length = sizeof integer;
    } else {
      smallint = static_cast<int16_t>(integer);
      source = &smallint;
      length = sizeof smallint;
    }
  }
  CopyResult r = copy_out(c.buffer, c.buffer_length, source, length, 0, CopyMode::kText);
  report_length(c, length);
  return finish(c, r.truncated);
}

// The all-or-nothing character results as wide text. The buffer must hold
// the whole text and its NUL in wide units, with the same diagnostics as
// the SQL_C_CHAR rules when it does not; the reported length is in bytes.
namespace {

SQLRETURN widened(const Conversion& c, RuleFunction char_rule) {
  char text[16];  // the longest: "-2147483648"
  SQLLEN length = 0;
  Conversion narrow = c;
  narrow.c_type = SQL_C_CHAR;
  narrow.buffer = text;
  const int32_t room = c.buffer_length / static_cast<int32_t>(wide_unit_bytes());
  narrow.buffer_length =
      room < static_cast<int32_t>(sizeof text) ? room : static_cast<int32_t>(sizeof text);
  narrow.length_out = &length;
  SQLRETURN rc = char_rule(narrow);
  if (rc == SQL_ERROR) return rc;
  CopyResult r = copy_out(c.buffer, c.buffer_length, text, length, 0, CopyMode::kWideText);
  report_length(c, r.full_length);
  return rc;
}

}  // namespace

SQLRETURN convert_wide_formatted(const Conversion& c) {
  return widened(c, convert_formatted);
}

SQLRETURN convert_wide_whole_text(const Conversion& c) {
  const int64_t unit = wide_unit_bytes();
  if (c.buffer_length / unit < static_cast<int64_t>(c.length) + 1) {
    return unit == 4 ? number_in_short_buffer<4>(c) : number_in_short_buffer<2>(c);
  }
  CopyResult r = copy_out(c.buffer, c.buffer_length, c.data, c.length, 0, CopyMode::kWideText);
  report_length(c, r.full_length);
  return SQL_SUCCESS;
}

}  // namespace q4
