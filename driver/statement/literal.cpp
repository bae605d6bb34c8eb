#include "statement/literal.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "core/calendar.h"
#include "core/diagnostics.h"
#include "core/wide_text.h"
#include "platform/clock.h"
#include "results/decimal_convert.h"
#include "statement/param_checks.h"

namespace q4 {

namespace {

// A floating-point value without a decimal form (NaN, an infinity) has no
// literal the server could read.

// How a C type's value is read and written.
enum class Kind : uint8_t {
  kChar,
  kWideChar,  // UTF-16 text, written into the statement as UTF-8
  kSigned64,
  kUnsigned64,
  kSigned32,
  kUnsigned32,
  kSigned16,
  kUnsigned16,
  kBit,
  kSigned8,
  kUnsigned8,
  kFloat,
  kDouble,
  kDate,
  kTime,
  kTimestamp,
  kBinary,
  kNumeric,  // SQL_NUMERIC_STRUCT
};

struct CTypeRule {
  SQLSMALLINT c_type;
  Kind kind;
};

// The C types that have a literal; every other one is refused at execution
// with "S1000".
constexpr CTypeRule kCTypeRules[] = {
    {SQL_C_CHAR, Kind::kChar},           {SQL_C_LONG, Kind::kSigned32},
    {SQL_C_SLONG, Kind::kSigned32},      {SQL_C_ULONG, Kind::kUnsigned32},
    {SQL_C_SHORT, Kind::kSigned16},      {SQL_C_SSHORT, Kind::kSigned16},
    {SQL_C_USHORT, Kind::kUnsigned16},   {SQL_C_BIT, Kind::kBit},
    {SQL_C_FLOAT, Kind::kFloat},         {SQL_C_DOUBLE, Kind::kDouble},
    {SQL_C_DATE, Kind::kDate},           {SQL_C_TIME, Kind::kTime},
    {SQL_C_TIMESTAMP, Kind::kTimestamp}, {SQL_C_BINARY, Kind::kBinary},
    {SQL_C_WCHAR, Kind::kWideChar},      {SQL_C_SBIGINT, Kind::kSigned64},
    {SQL_C_UBIGINT, Kind::kUnsigned64},  {SQL_C_TINYINT, Kind::kSigned8},
    {SQL_C_STINYINT, Kind::kSigned8},    {SQL_C_UTINYINT, Kind::kUnsigned8},
    {SQL_C_NUMERIC, Kind::kNumeric},
};

struct DefaultCType {
  SQLSMALLINT sql_type;
  SQLSMALLINT c_type;
};

// SQL_C_DEFAULT reads the value as the C type its SQL type implies. SQL types
// without an entry (SQL_FLOAT, SQL_TINYINT, SQL_BIT, 0, ...) are refused with
// "07006". The wide character types imply wide text, as ODBC defines them:
// an application binding SQL_C_DEFAULT to SQL_WVARCHAR passes SQLWCHARs.
constexpr DefaultCType kDefaultCTypes[] = {
    {SQL_CHAR, SQL_C_CHAR},
    {SQL_VARCHAR, SQL_C_CHAR},
    {SQL_LONGVARCHAR, SQL_C_CHAR},
    {SQL_NUMERIC, SQL_C_CHAR},
    {SQL_DECIMAL, SQL_C_CHAR},
    {SQL_BIGINT, SQL_C_CHAR},
    {SQL_BINARY, SQL_C_BINARY},
    {SQL_VARBINARY, SQL_C_BINARY},
    {SQL_LONGVARBINARY, SQL_C_BINARY},
    {SQL_INTEGER, SQL_C_LONG},
    {SQL_SMALLINT, SQL_C_SHORT},
    {SQL_REAL, SQL_C_DOUBLE},
    {SQL_DOUBLE, SQL_C_DOUBLE},
    {SQL_DATE, SQL_C_DATE},
    {SQL_TIME, SQL_C_TIME},
    {SQL_TIMESTAMP, SQL_C_TIMESTAMP},
    {SQL_WCHAR, SQL_C_WCHAR},
    {SQL_WVARCHAR, SQL_C_WCHAR},
    {SQL_WLONGVARCHAR, SQL_C_WCHAR},
};

const CTypeRule* rule_for(SQLSMALLINT c_type) {
  for (const CTypeRule& rule : kCTypeRules) {
    if (rule.c_type == c_type) return &rule;
  }
  return nullptr;
}

SQLRETURN put_bytes(RequestWriter* out, const void* bytes, uint64_t count) {
  return out->append(bytes, count) ? SQL_SUCCESS : SQL_ERROR;
}

// The value's bytes read as T, whatever the alignment of the application's
// buffer.
template <typename T>
T read_as(const void* value) {
  T v;
  memcpy(&v, value, sizeof v);
  return v;
}

// A small literal of known maximum size (numbers, dates and times) is
// formatted straight into the request.
class ShortLiteral {
 public:
  static constexpr uint64_t kMax = 96;
  explicit ShortLiteral(RequestWriter* out) : out_(out), begin_(out->room(kMax)) { pos_ = begin_; }
  bool ok() const { return begin_ != nullptr; }
  ShortLiteral& ch(char c) {
    *pos_++ = c;
    return *this;
  }
  template <typename Int>
  ShortLiteral& number(Int v) {
    pos_ = std::to_chars(pos_, begin_ + kMax, v).ptr;
    return *this;
  }
  // "%02d": at least two digits.
  ShortLiteral& two_digits(unsigned v) {
    if (v < 10) *pos_++ = '0';
    return number(v);
  }
  // "YYYY-MM-DD" and "HH:MM:SS", the parts a quoted date, time or timestamp
  // is made of. The year always has four digits: "1-01-01" is no date to a
  // server, and text compares in date order only when every year has the
  // same width.
  ShortLiteral& date(unsigned year, unsigned month, unsigned day) {
    for (unsigned scale = 1000; scale > 1 && year < scale; scale /= 10) *pos_++ = '0';
    return number(year).ch('-').two_digits(month).ch('-').two_digits(day);
  }
  ShortLiteral& clock(unsigned hour, unsigned minute, unsigned second) {
    return two_digits(hour).ch(':').two_digits(minute).ch(':').two_digits(second);
  }
  // Fractional seconds: nothing for 0 (a whole second is written as it
  // always was), otherwise "." and the nanoseconds' nine digits without
  // their trailing zeros (".5", ".123456").
  ShortLiteral& fraction(uint32_t nanoseconds) {
    if (nanoseconds == 0) return *this;
    char digits[9];
    for (int i = 8; i >= 0; --i, nanoseconds /= 10)
      digits[i] = static_cast<char>('0' + nanoseconds % 10);
    int count = 9;
    while (digits[count - 1] == '0') --count;
    *pos_++ = '.';
    memcpy(pos_, digits, static_cast<size_t>(count));
    pos_ += count;
    return *this;
  }
  SQLRETURN done() {
    out_->commit(static_cast<uint64_t>(pos_ - begin_));
    return SQL_SUCCESS;
  }

 private:
  RequestWriter* out_;
  char* begin_;
  char* pos_;
};

template <typename Int>
SQLRETURN put_integer(RequestWriter* writer, Int v) {
  ShortLiteral out(writer);
  if (!out.ok()) return SQL_ERROR;
  return out.number(v).done();
}

// SQL types whose column keeps a floating-point or character value: a float
// or double bound to them is written with all its digits, whatever scale the
// application passed. Many applications leave the scale at 0 for doubles,
// and rounding 3.25 to 3 would lose data silently.
bool keeps_every_digit(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return true;
    default:
      return false;
  }
}

// Written without the C library's printf so that the application's locale
// cannot turn the decimal point into a comma, and never with an exponent
// (the server reads plain decimals only).
//   - every_digit: the shortest decimal that reads back as the same value of
//     its own width (a float's 0.1 is "0.1", not 0.100000001490116...).
//   - otherwise fixed-point with `scale` decimals ("%.<scale>f"); a negative
//     scale writes no decimals, like 0: the value rounded to an integer
//     without a decimal point.
template <typename Real>
SQLRETURN put_floating(Statement* stmt, RequestWriter* writer, Real v, int scale,
                       bool every_digit) {
  if (!std::isfinite(v)) return post_error(stmt, kDiagOutOfRange);
  if (scale < 0) scale = 0;
  // Sign, up to 309 integer digits, the point and the decimals; the shortest
  // form of the smallest double has 323 zeros after the point and 17 digits.
  uint64_t most = every_digit ? 352 : 320 + static_cast<uint64_t>(scale);
  char* out = writer->room(most);
  if (out == nullptr) return SQL_ERROR;
  std::to_chars_result r = every_digit ? std::to_chars(out, out + most, v, std::chars_format::fixed)
                                       : std::to_chars(out, out + most, static_cast<double>(v),
                                                       std::chars_format::fixed, scale);
  writer->commit(static_cast<uint64_t>(r.ptr - out));
  return SQL_SUCCESS;
}

// SQL_NUMERIC_STRUCT: the 128-bit magnitude in `val` (little-endian) over
// 10 to the binding's decimal digits, as ODBC has it: the structure's own
// precision and scale are never read on input (pyodbc and other
// applications set the binding's and the structure's alike). Written as a
// quoted exact decimal, the literal a decimal bound as character text gets,
// so that no server reads its digits into a double before the column's type
// decides.
SQLRETURN put_numeric(RequestWriter* writer, const void* value, int scale) {
  auto n = read_as<SQL_NUMERIC_STRUCT>(value);
  unsigned __int128 magnitude = 0;
  for (size_t i = sizeof n.val; i-- > 0;) magnitude = magnitude << 8 | n.val[i];
  char* out = writer->room(kMaxScaledIntegerText + 2);
  if (out == nullptr) return SQL_ERROR;
  out[0] = '\'';
  size_t length = write_scaled_integer(n.sign == 0, magnitude, scale, out + 1);
  out[length + 1] = '\'';
  writer->commit(length + 2);
  return SQL_SUCCESS;
}

// A date, time or timestamp structure whose fields the calendar does not
// have (month 13, February 30, the hour 24, year 0) has no literal that means
// it: it is refused with "22008" before anything is sent, rather than stored
// as text that no longer reads back as a date.
SQLRETURN put_date(Statement* stmt, RequestWriter* writer, const void* value) {
  auto d = read_as<DATE_STRUCT>(value);
  if (!is_valid_date(d.year, d.month, d.day)) return post_error(stmt, kDiagDatetimeOverflow);
  ShortLiteral out(writer);
  if (!out.ok()) return SQL_ERROR;
  return out.ch('\'').date(static_cast<unsigned>(d.year), d.month, d.day).ch('\'').done();
}

// A time bound to a timestamp parameter is dated today (UTC), as a time
// value read as a timestamp is: a time alone is no timestamp.
SQLRETURN put_time(Statement* stmt, RequestWriter* writer, const void* value,
                   SQLSMALLINT sql_type) {
  auto t = read_as<TIME_STRUCT>(value);
  if (!is_valid_clock(t.hour, t.minute, t.second)) return post_error(stmt, kDiagDatetimeOverflow);
  ShortLiteral out(writer);
  if (!out.ok()) return SQL_ERROR;
  out.ch('\'');
  if (sql_type == SQL_TIMESTAMP) {
    int year, month, day;
    utc_today(&year, &month, &day);
    out.date(static_cast<unsigned>(year), static_cast<unsigned>(month), static_cast<unsigned>(day))
        .ch(' ');
  }
  return out.clock(t.hour, t.minute, t.second).ch('\'').done();
}

// The fraction goes with the value, to the nanosecond the structure holds:
// nothing of a timestamp is dropped on its way to the server. Bound to a time
// parameter, only its time is written (with the fraction, which a server's
// times keep): a time column holds no date.
SQLRETURN put_timestamp(Statement* stmt, RequestWriter* writer, const void* value,
                        SQLSMALLINT sql_type) {
  auto ts = read_as<TIMESTAMP_STRUCT>(value);
  if (!is_valid_date(ts.year, ts.month, ts.day) || !is_valid_clock(ts.hour, ts.minute, ts.second) ||
      ts.fraction > kMaxNanoseconds) {
    return post_error(stmt, kDiagDatetimeOverflow);
  }
  ShortLiteral out(writer);
  if (!out.ok()) return SQL_ERROR;
  out.ch('\'');
  if (sql_type != SQL_TIME) out.date(static_cast<unsigned>(ts.year), ts.month, ts.day).ch(' ');
  return out.clock(ts.hour, ts.minute, ts.second).fraction(ts.fraction).ch('\'').done();
}

bool is_datetime_sql_type(SQLSMALLINT sql_type) {
  return sql_type == SQL_DATE || sql_type == SQL_TIME || sql_type == SQL_TIMESTAMP;
}

// "{d ...}", "{t ...}", "{ts ...}": an ODBC date/time escape the server reads
// itself.
bool is_datetime_escape(const char* s, uint64_t count) {
  if (count < 4 || s[0] != '{') return false;
  return (s[1] == 'd' && s[2] == ' ') || (s[1] == 't' && (s[2] == ' ' || s[2] == 's'));
}

// A character value as a quoted string at `out`, returning the end. An
// apostrophe is doubled, except that two adjacent apostrophes count as one
// already doubled and are copied as they stand (so a run of three becomes
// four). The value may lie in the same buffer at out + count + 2 or later:
// the output never overtakes the bytes still to be read.
char* quote_into(char* out, const char* s, uint64_t count) {
  *out++ = '\'';
  const char* end = s + count;
  while (s < end) {
    const char* quote = static_cast<const char*>(memchr(s, '\'', static_cast<size_t>(end - s)));
    const char* stop = quote == nullptr ? end : quote;
    memmove(out, s, static_cast<size_t>(stop - s));
    out += stop - s;
    if (quote == nullptr) break;
    *out++ = '\'';
    *out++ = '\'';
    s = quote + (quote + 1 < end && quote[1] == '\'' ? 2 : 1);
  }
  *out++ = '\'';
  return out;
}

SQLRETURN put_quoted(RequestWriter* out, const char* s, uint64_t count) {
  char* begin = out->room(2 * count + 2);
  if (begin == nullptr) return SQL_ERROR;
  out->commit(static_cast<uint64_t>(quote_into(begin, s, count) - begin));
  return SQL_SUCCESS;
}

// Fixed-length text (SQL_CHAR, SQL_WCHAR) is sent without its padding, but
// never emptied: a value of spaces keeps one.
uint64_t without_padding(SQLSMALLINT sql_type, const char* s, uint64_t count) {
  if (sql_type == SQL_CHAR || sql_type == SQL_WCHAR) {
    while (count > 1 && s[count - 1] == ' ') --count;
  }
  return count;
}

SQLRETURN put_character(Statement* stmt, RequestWriter* out, const ParamBinding& b,
                        uint64_t count) {
  const char* s = static_cast<const char*>(b.value);
  // The value ends at its first NUL; the literal still gets its closing
  // apostrophe rather than being cut there.
  if (count > 0) count = strnlen(s, count);
  count = without_padding(b.sql_type, s, count);
  if (check_character_value(stmt, b, s, count) != SQL_SUCCESS) return SQL_ERROR;
  if (is_datetime_sql_type(b.sql_type) && is_datetime_escape(s, count)) {
    return put_bytes(out, s, count);
  }
  return put_quoted(out, s, count);
}

// Wide text (`units` wide units): the same rules as narrow text, applied to
// its UTF-8 form. The UTF-8 is made inside the request buffer, past the room
// the quoted literal can take, and quoted from there: no scratch buffer, and
// nothing allocated per execution once the request buffer has grown.
SQLRETURN put_wide_character(Statement* stmt, RequestWriter* out, const ParamBinding& b,
                             uint64_t units) {
  uint64_t most = static_cast<uint64_t>(utf8_bytes_per_wide_unit()) * units;  // UTF-8 at most
  char* begin = out->room(2 * most + 2);
  if (begin == nullptr) return SQL_ERROR;
  char* s = begin + most + 2;
  // The value ends at its first 0 unit, as a narrow value at its NUL.
  uint64_t count = static_cast<uint64_t>(
      wide_to_utf8(b.value, static_cast<int64_t>(units), s, /*stop_at_nul=*/true));
  count = without_padding(b.sql_type, s, count);
  if (check_character_value(stmt, b, s, count) != SQL_SUCCESS) return SQL_ERROR;
  if (is_datetime_sql_type(b.sql_type) && is_datetime_escape(s, count)) {
    memmove(begin, s, count);
    out->commit(count);
    return SQL_SUCCESS;
  }
  out->commit(static_cast<uint64_t>(quote_into(begin, s, count) - begin));
  return SQL_SUCCESS;
}

// A data-at-execution length still in the indicator when the value is
// converted: the binding was marked complete although no byte arrived.
bool is_data_at_exec_length(int64_t length) {
  return length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

// The byte count of a character or binary value, or -1 after posting why
// there is none.
//   - SQL_NTS (or no indicator): up to the NUL, for character values only; a
//     binary value has no terminator to go by, so it is refused ("S1090")
//     rather than read to an arbitrary zero byte.
//   - a data-at-execution value that received no data: empty.
//   - any other negative length: refused ("S1090").
int64_t byte_count(Statement* stmt, const ParamBinding& b, Kind kind, int64_t length) {
  if (length == SQL_NTS) {
    if (kind == Kind::kBinary) {
      post_error(stmt, kDiagInvalidLength);
      return -1;
    }
    if (b.value == nullptr) {
      post_error(stmt, kDiagInvalidArgument);
      return -1;
    }
    // Wide text counts its length in bytes too: SQL_NTS means up to the
    // first 0 unit, wide_unit_bytes() each.
    if (kind == Kind::kWideChar) return wide_unit_bytes() * wide_length(b.value);
    return static_cast<int64_t>(strlen(static_cast<const char*>(b.value)));
  }
  if (is_data_at_exec_length(length)) return 0;
  if (length < 0) {
    post_error(stmt, kDiagInvalidLength);
    return -1;
  }
  if (length > 0 && b.value == nullptr) {
    post_error(stmt, kDiagInvalidArgument);
    return -1;
  }
  return length;
}

}  // namespace

SQLSMALLINT effective_c_type(SQLSMALLINT c_type, SQLSMALLINT sql_type) {
  if (c_type != SQL_C_DEFAULT) return c_type;
  for (const DefaultCType& entry : kDefaultCTypes) {
    if (entry.sql_type == sql_type) return entry.c_type;
  }
  return 0;
}

SQLRETURN make_literal(Statement* stmt, const ParamBinding& b, RequestWriter* out) {
  // Only the indicator's low 32 bits count: an application that stores a
  // 32-bit SQL_NULL_DATA into a zeroed 64-bit variable still means NULL, not
  // a length of four billion bytes.
  int64_t length =
      b.indicator != nullptr ? static_cast<int32_t>(static_cast<uint32_t>(*b.indicator)) : SQL_NTS;
  SQLSMALLINT c_type = effective_c_type(b.c_type, b.sql_type);
  // SQL_C_DEFAULT on an SQL type without a C type of its own; any other C
  // type without a rule is refused below as a general error.
  if (b.c_type == SQL_C_DEFAULT && c_type == 0) return post_error(stmt, kDiagRestrictedType);
  if (length == SQL_DEFAULT_PARAM) return post_error(stmt, kDiagNoSuchFunction);
  if (length == SQL_NULL_DATA) return put_bytes(out, "NULL", 4);

  const CTypeRule* rule = rule_for(c_type);
  if (rule == nullptr) return post_error(stmt, kDiagGeneral);

  if (rule->kind == Kind::kChar || rule->kind == Kind::kBinary || rule->kind == Kind::kWideChar) {
    int64_t count = byte_count(stmt, b, rule->kind, length);
    if (count < 0) return SQL_ERROR;
    if (rule->kind == Kind::kChar) return put_character(stmt, out, b, static_cast<uint64_t>(count));
    // A byte count short of whole units leaves part of a unit at the end; it
    // is not read.
    if (rule->kind == Kind::kWideChar) {
      return put_wide_character(stmt, out, b, static_cast<uint64_t>(count / wide_unit_bytes()));
    }
    return out->append_binary_value(b.value, static_cast<uint64_t>(count)) ? SQL_SUCCESS
                                                                           : SQL_ERROR;
  }

  // Fixed-size values ignore the length, which applications often leave at
  // 0; only a data-at-execution value that never received its bytes has
  // nothing to read (its `value` is still the application's token).
  if (b.indicator != nullptr && is_data_at_exec_length(length)) {
    return post_error(stmt, kDiagInvalidLength);
  }
  if (b.value == nullptr) return post_error(stmt, kDiagInvalidArgument);
  const void* v = b.value;
  switch (rule->kind) {
    case Kind::kSigned32:
      return put_integer(out, read_as<int32_t>(v));
    case Kind::kUnsigned32:
      return put_integer(out, read_as<uint32_t>(v));
    case Kind::kSigned16:
      return put_integer(out, read_as<int16_t>(v));
    case Kind::kUnsigned16:
      return put_integer(out, read_as<uint16_t>(v));
    case Kind::kBit:
      return put_integer(out, read_as<uint8_t>(v));
    case Kind::kSigned64:
      return put_integer(out, read_as<int64_t>(v));
    case Kind::kUnsigned64:
      return put_integer(out, read_as<uint64_t>(v));
    case Kind::kSigned8:
      return put_integer(out, static_cast<int>(read_as<int8_t>(v)));
    case Kind::kUnsigned8:
      return put_integer(out, static_cast<unsigned>(read_as<uint8_t>(v)));
    case Kind::kFloat:
      return put_floating(stmt, out, read_as<float>(v), b.scale, keeps_every_digit(b.sql_type));
    case Kind::kDouble:
      return put_floating(stmt, out, read_as<double>(v), b.scale, keeps_every_digit(b.sql_type));
    case Kind::kDate:
      return put_date(stmt, out, v);
    case Kind::kTime:
      return put_time(stmt, out, v, b.sql_type);
    case Kind::kTimestamp:
      return put_timestamp(stmt, out, v, b.sql_type);
    case Kind::kNumeric:
      return put_numeric(out, v, b.scale);
    case Kind::kChar:
    case Kind::kWideChar:
    case Kind::kBinary:
      break;
  }
  return post_error(stmt, kDiagGeneral);
}

}  // namespace q4
