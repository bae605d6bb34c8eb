#include "results/column_attributes.h"

#include <cstring>

#include "core/odbc_version.h"
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

bool is_datetime_type(int16_t type) {
  return type == kSqlDate || type == kSqlTime || type == kSqlTimestamp;
}

// The characters that open and close a literal of the type in SQL text, as
// SQLGetTypeInfo lists them.
const char* literal_prefix(int16_t type) {
  if (is_binary_type(type)) return "X'";
  return is_character_type(type) || is_datetime_type(type) ? "'" : "";
}
const char* literal_suffix(int16_t type) {
  return is_character_type(type) || is_binary_type(type) || is_datetime_type(type) ? "'" : "";
}

// The radix the precision counts in: digits for the exact numbers, bits for
// the approximate ones, none for the other types.
SQLLEN precision_radix(int16_t type) {
  // The numeric types are the signed ones: binary for floating point,
  // decimal for the rest.
  if (!is_signed_type(type)) return 0;
  return type == kSqlReal || type == kSqlFloat || type == kSqlDouble ? 2 : 10;
}

SQLLEN datetime_subcode(int16_t type) {
  switch (type) {
    case kSqlDate:
      return SQL_CODE_DATE;
    case kSqlTime:
      return SQL_CODE_TIME;
    case kSqlTimestamp:
      return SQL_CODE_TIMESTAMP;
    default:
      return 0;
  }
}

// The slice of `name` that `part` names (copy_name_part's rule).
struct NameSlice {
  const char* start;
  size_t length;
};
NameSlice name_slice(const char* name, size_t name_length, NamePart part) {
  ptrdiff_t end = static_cast<ptrdiff_t>(name_length);
  if (part == NamePart::kColumn) {
    ptrdiff_t dot = last_dot(name, end);
    if (dot >= 0) return {name + dot + 1, static_cast<size_t>(end - dot - 1)};
  } else if (part == NamePart::kTable) {
    ptrdiff_t dot = last_dot(name, end);
    if (dot < 0) return {name, 0};
    ptrdiff_t before = last_dot(name, dot);
    const char* start = before < 0 ? name : name + before + 1;
    return {start, static_cast<size_t>(name + dot - start)};
  }
  return {name, name_length};
}

ColumnField number_field(SQLLEN value) {
  return ColumnField{ColumnField::Kind::kNumber, value, nullptr, 0};
}
ColumnField text_field(const char* text, size_t length) {
  return ColumnField{ColumnField::Kind::kText, 0, text, length};
}
ColumnField text_field(const char* text) {
  return text_field(text, strlen(text));
}
ColumnField name_field(const ColumnDescription& desc, NamePart part) {
  NameSlice slice = name_slice(desc.name, desc.name_length, part);
  return text_field(slice.start, slice.length);
}

// Text and bytes have no scale (not 254, which no application can take for
// one); the others carry theirs in the description.
SQLLEN column_scale(const ColumnDescription& desc) {
  return is_character_type(desc.type) || is_binary_type(desc.type) ? 0 : desc.scale;
}

}  // namespace

void copy_name_part(char* dest, int16_t* in_out_length, const char* name, size_t name_length,
                    NamePart part) {
  NameSlice slice = name_slice(name, name_length, part);
  CopyResult copy = copy_out(dest, *in_out_length, slice.start, static_cast<int64_t>(slice.length),
                             0, CopyMode::kText);
  if (!copy.truncated) *in_out_length = static_cast<int16_t>(slice.length);
}

ColumnField column_field(const ColumnDescription& desc, int32_t column_count, uint16_t field,
                         TypeCodes codes) {
  switch (field) {
    case SQL_COLUMN_COUNT:
    case SQL_DESC_COUNT:
      return number_field(column_count);
    case SQL_COLUMN_NAME:
    case SQL_DESC_NAME:
    case SQL_DESC_BASE_COLUMN_NAME:
      return name_field(desc, NamePart::kColumn);
    case SQL_DESC_UNNAMED:
      return number_field(name_slice(desc.name, desc.name_length, NamePart::kColumn).length == 0
                              ? SQL_UNNAMED
                              : SQL_NAMED);
    case SQL_DESC_CONCISE_TYPE:  // SQL_COLUMN_TYPE: signed, SQL_VARBINARY answers -3
      return number_field(codes == TypeCodes::kOdbc3 ? odbc3_datetime_code(desc.type) : desc.type);
    case SQL_DESC_TYPE:
      return number_field(is_datetime_type(desc.type) ? SQL_DATETIME : desc.type);
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      return number_field(datetime_subcode(desc.type));
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
      return number_field(0);  // no interval types
    case SQL_COLUMN_LENGTH:
      return number_field(column_length(desc));
    case SQL_DESC_LENGTH:
    case SQL_COLUMN_PRECISION:
      return number_field(desc.precision);
    case SQL_DESC_PRECISION:
      // A time and a timestamp count the digits of their fractional seconds
      // here, which they carry as their scale; a date has none, and answers
      // its size as before (LibreOffice shows it as the column's precision).
      if (desc.type == kSqlTime || desc.type == kSqlTimestamp) return number_field(desc.scale);
      return number_field(desc.precision);
    case SQL_COLUMN_DISPLAY_SIZE:
      return number_field(display_size(desc));
    case SQL_DESC_OCTET_LENGTH:
      return number_field(octet_length(desc));
    case SQL_COLUMN_SCALE:
    case SQL_DESC_SCALE:
      return number_field(column_scale(desc));
    case SQL_COLUMN_NULLABLE:
    case SQL_DESC_NULLABLE:
      return number_field(desc.nullable != 0 ? SQL_NULLABLE : SQL_NO_NULLS);
    case SQL_COLUMN_UNSIGNED:
      // Every type but a signed number counts as unsigned (times,
      // timestamps and bytes included).
      return number_field(is_signed_type(desc.type) ? 0 : 1);
    case SQL_COLUMN_CASE_SENSITIVE:
      // Text compares as it is stored: 'a' and 'A' are different values.
      return number_field(is_character_type(desc.type) ? 1 : 0);
    case SQL_COLUMN_MONEY:           // SQL_DESC_FIXED_PREC_SCALE
    case SQL_COLUMN_AUTO_INCREMENT:  // SQL_DESC_AUTO_UNIQUE_VALUE
      return number_field(0);
    case SQL_COLUMN_UPDATABLE:
      return number_field(SQL_ATTR_WRITE);
    case SQL_COLUMN_SEARCHABLE:
      return number_field(SQL_SEARCHABLE);
    case SQL_DESC_NUM_PREC_RADIX:
      return number_field(precision_radix(desc.type));
    case SQL_COLUMN_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
      // The description carries only the type code: its name as
      // SQLGetTypeInfo lists it.
      return text_field(sql_type_name(desc.type));
    case SQL_DESC_LITERAL_PREFIX:
      return text_field(literal_prefix(desc.type));
    case SQL_DESC_LITERAL_SUFFIX:
      return text_field(literal_suffix(desc.type));
    case SQL_COLUMN_OWNER_NAME:      // SQL_DESC_SCHEMA_NAME
    case SQL_COLUMN_QUALIFIER_NAME:  // SQL_DESC_CATALOG_NAME
      return text_field("", 0);
    case SQL_COLUMN_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
      return name_field(desc, NamePart::kTable);
    case SQL_COLUMN_LABEL:
      return name_field(desc, NamePart::kWhole);
    default:
      return ColumnField{ColumnField::Kind::kUnknown, 0, nullptr, 0};
  }
}

void answer_column_attribute(const ColumnDescription& desc, int32_t column_count,
                             uint16_t desc_type, char* text, int16_t text_max, int16_t* text_length,
                             SQLLEN* numeric) {
  ColumnField answer = column_field(desc, column_count, desc_type, TypeCodes::kOdbc2);
  switch (answer.kind) {
    case ColumnField::Kind::kNumber:
      if (numeric != nullptr) *numeric = answer.number;
      return;
    case ColumnField::Kind::kText:
      // A string answer with no room copies nothing and reports length 0.
      if (text == nullptr || text_max < 1) {
        if (text_length != nullptr) *text_length = 0;
        return;
      }
      answer_text(answer.text, answer.length, NamePart::kWhole, text, text_max, text_length);
      return;
    case ColumnField::Kind::kUnknown:
      return;
  }
}

}  // namespace q4
