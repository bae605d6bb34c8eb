#include "results/column_attributes.h"

#include <cstring>

#include "protocol/type_names.h"
#include "protocol/wire.h"
#include "results/copy_out.h"

namespace q4 {

namespace {

// Position of the last "." before name[to], never looking at name[0]; -1 when
// there is none.
ptrdiff_t last_dot(const char* name, ptrdiff_t to) {
  for (ptrdiff_t i = to - 1; i >= 1; --i) {
    if (name[i] == '.') return i;
  }
  return -1;
}

// Writes a string answer that has no text: an empty string and length 0.
void answer_empty(char* text, int16_t text_max, int16_t* text_length) {
  if (text != nullptr && text_max >= 1) text[0] = '\0';
  if (text_length != nullptr) *text_length = 0;
}

// Writes `part` of `name` as a string answer, cut silently as names are.
void answer_text(const char* name, size_t name_length, NamePart part, char* text, int16_t text_max,
                 int16_t* text_length) {
  if (text == nullptr || text_max < 1) {
    if (text_length != nullptr) *text_length = 0;
    return;
  }
  int16_t length = text_max;
  copy_name_part(text, &length, name, name_length, part);
  if (text_length != nullptr) *text_length = length;
}

void answer_name(const ColumnDescription& desc, NamePart part, char* text, int16_t text_max,
                 int16_t* text_length) {
  answer_text(desc.name, desc.name_length, part, text, text_max, text_length);
}

bool is_character_type(int16_t type) {
  return type == kSqlChar || type == kSqlVarchar || type == kSqlLongVarchar;
}

bool is_binary_type(int16_t type) {
  return type == kSqlBinary || type == kSqlVarbinary || type == kSqlLongVarbinary;
}

// The numeric types that hold negative values; every other type (BIT, text,
// dates, binary) counts as unsigned.
bool is_signed_type(int16_t type) {
  switch (type) {
    case kSqlNumeric:
    case kSqlDecimal:
    case kSqlInteger:
    case kSqlSmallint:
    case kSqlTinyint:
    case kSqlBigint:
    case kSqlReal:
    case kSqlFloat:
    case kSqlDouble:
      return true;
    default:
      return false;
  }
}

bool is_exact_numeric(int16_t type) {
  return type == kSqlNumeric || type == kSqlDecimal;
}

// Exact numerics travel as text: the digits, a sign and a decimal point.
int64_t exact_numeric_length(const ColumnDescription& desc) {
  return static_cast<int64_t>(desc.precision) + 2;
}

// The bytes of a value in its default C type (SQL_COLUMN_LENGTH): the
// precision, except where values travel as text longer than it.
int64_t column_length(const ColumnDescription& desc) {
  if (is_exact_numeric(desc.type)) return exact_numeric_length(desc);
  if (desc.type == kSqlBigint) return 20;  // beyond 32 bits the value is text
  return desc.precision;
}

// The characters the longest value takes as text (SQL_COLUMN_DISPLAY_SIZE).
// Applications size their character buffers and columns by it (PHP binds
// every non-character column as text of this size), so a value must never
// need more: the precision of an integer counts no sign, a NUMERIC's neither
// sign nor point, and a byte takes two hexadecimal digits.
int64_t display_size(const ColumnDescription& desc) {
  if (is_exact_numeric(desc.type)) return exact_numeric_length(desc);
  const int64_t precision = desc.precision;
  switch (desc.type) {
    case kSqlBit:
      return 1;
    case kSqlTinyint:
      return 4;  // -128
    case kSqlSmallint:
      return 6;  // -32768
    case kSqlInteger:
      return 11;  // -2147483648
    case kSqlBigint:
      return 20;  // -9223372036854775808
    case kSqlReal:
      return 14;  // -3.4028235E+38
    case kSqlFloat:
    case kSqlDouble:
      return 24;  // -1.7976931348623157E+308
    case kSqlBinary:
    case kSqlVarbinary:
    case kSqlLongVarbinary:
      return 2 * precision;
    default:
      // Text: its length; dates and times: their precision is the length
      // of their text.
      return precision;
  }
}

// The bytes a value takes in the C type SQL_C_DEFAULT stands for
// (SQL_DESC_OCTET_LENGTH). Text is UTF-8: up to four bytes a character.
int64_t octet_length(const ColumnDescription& desc) {
  if (is_exact_numeric(desc.type)) return exact_numeric_length(desc);
  const int64_t precision = desc.precision;
  switch (desc.type) {
    case kSqlBit:
    case kSqlTinyint:
      return 1;
    case kSqlSmallint:
      return 2;
    case kSqlInteger:
    case kSqlReal:
      return 4;
    case kSqlBigint:
    case kSqlFloat:
    case kSqlDouble:
      return 8;
    case kSqlDate:
    case kSqlTime:
      return 6;  // SQL_DATE_STRUCT, SQL_TIME_STRUCT
    case kSqlTimestamp:
      return 16;  // SQL_TIMESTAMP_STRUCT
    default:
      return is_character_type(desc.type) ? 4 * precision : precision;
  }
}

}  // namespace

void copy_name_part(char* dest, int16_t* in_out_length, const char* name, size_t name_length,
                    NamePart part) {
  const char* start = name;
  size_t length = name_length;
  ptrdiff_t end = static_cast<ptrdiff_t>(name_length);
  if (part == NamePart::kColumn) {
    ptrdiff_t dot = last_dot(name, end);
    if (dot >= 0) {
      start = name + dot + 1;
      length = static_cast<size_t>(end - dot - 1);
    }
  } else if (part == NamePart::kTable) {
    ptrdiff_t dot = last_dot(name, end);
    if (dot < 0) {
      length = 0;
    } else {
      ptrdiff_t before = last_dot(name, dot);
      start = before < 0 ? name : name + before + 1;
      length = static_cast<size_t>(name + dot - start);
    }
  }
  CopyResult copy =
      copy_out(dest, *in_out_length, start, static_cast<int64_t>(length), 0, CopyMode::kText);
  if (!copy.truncated) *in_out_length = static_cast<int16_t>(length);
}

void answer_column_attribute(const ColumnDescription& desc, int32_t column_count,
                             uint16_t desc_type, char* text, int16_t text_max, int16_t* text_length,
                             SQLLEN* numeric) {
  SQLLEN value;
  switch (desc_type) {
    case SQL_COLUMN_COUNT:
      value = column_count;
      break;
    case SQL_COLUMN_NAME:
      return answer_name(desc, NamePart::kColumn, text, text_max, text_length);
    case SQL_COLUMN_TYPE:
      value = desc.type;  // signed: SQL_VARBINARY answers -3
      break;
    case SQL_COLUMN_LENGTH:
      value = column_length(desc);
      break;
    case SQL_COLUMN_PRECISION:
      value = desc.precision;
      break;
    case SQL_COLUMN_DISPLAY_SIZE:
      value = display_size(desc);
      break;
    case SQL_DESC_OCTET_LENGTH:
      value = octet_length(desc);
      break;
    case SQL_COLUMN_SCALE:
      // Text and bytes have no scale (not 254, which no application can
      // take for one); the others carry theirs in the description.
      value = is_character_type(desc.type) || is_binary_type(desc.type) ? 0 : desc.scale;
      break;
    case SQL_COLUMN_NULLABLE:
      value = desc.nullable != 0 ? SQL_NULLABLE : SQL_NO_NULLS;
      break;
    case SQL_COLUMN_UNSIGNED:
      // Every type but a signed number counts as unsigned (times,
      // timestamps and bytes included).
      value = is_signed_type(desc.type) ? 0 : 1;
      break;
    case SQL_COLUMN_CASE_SENSITIVE:
      // Text compares as it is stored: 'a' and 'A' are different values.
      value = is_character_type(desc.type) ? 1 : 0;
      break;
    case SQL_COLUMN_MONEY:
    case SQL_COLUMN_AUTO_INCREMENT:
      value = 0;
      break;
    case SQL_COLUMN_UPDATABLE:
      value = SQL_ATTR_WRITE;
      break;
    case SQL_COLUMN_SEARCHABLE:
      value = SQL_SEARCHABLE;
      break;
    case SQL_COLUMN_TYPE_NAME: {
      // The description carries only the type code: its name as
      // SQLGetTypeInfo lists it.
      const char* name = sql_type_name(desc.type);
      return answer_text(name, strlen(name), NamePart::kWhole, text, text_max, text_length);
    }
    case SQL_COLUMN_OWNER_NAME:
    case SQL_COLUMN_QUALIFIER_NAME:
      return answer_empty(text, text_max, text_length);
    case SQL_COLUMN_TABLE_NAME:
      return answer_name(desc, NamePart::kTable, text, text_max, text_length);
    case SQL_COLUMN_LABEL:
      return answer_name(desc, NamePart::kWhole, text, text_max, text_length);
    default:
      return;
  }
  if (numeric != nullptr) *numeric = value;
}

}  // namespace q4
