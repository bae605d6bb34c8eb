// Answers about one described column: the parts of its name and the
// SQLColAttributes values. Pure functions over a ColumnDescription.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "results/description_cache.h"

namespace q4 {

// Which part of a qualified column name ("[qualifier.]table.column") to copy.
// The first character is never taken for a separator, so ".X" is a column
// name of its own.
enum class NamePart {
  kColumn,  // after the last "."; the whole name when there is none
  kTable,   // between the last two "."s, or before the only one; else empty
  kWhole,   // the whole name
};

// Copies `part` of the name into `dest`, whose size is *in_out_length
// (at least 1) on entry. When the part fits with its NUL it is copied and its
// length stored in *in_out_length; otherwise size - 1 characters and a NUL are
// copied and *in_out_length keeps the size: the cut is silent.
void copy_name_part(char* dest, int16_t* in_out_length, const char* name, size_t name_length,
                    NamePart part);

// Highest fDescType answered (SQL_COLUMN_LABEL), and the one ODBC 3 field
// answered besides (unixODBC hands SQLColAttribute's fields to the driver
// unchanged, and PHP asks this one for every character column).
constexpr uint16_t kLastColumnAttribute = SQL_COLUMN_LABEL;
constexpr bool is_answered_attribute(uint16_t desc_type) {
  return desc_type <= kLastColumnAttribute || desc_type == SQL_DESC_OCTET_LENGTH;
}

// Answers SQLColAttributes' `desc_type` (is_answered_attribute) for `desc`
// in a result of `column_count` columns. Numeric answers go to *numeric when
// it is given; string answers go to `text` (room `text_max` bytes) with their
// length in *text_length, each only when given. A string answer with no room
// (`text` null or `text_max` below 1) copies nothing and reports length 0; a
// longer one is cut silently, its length reported as `text_max`.
// By ODBC's definitions, from the type code, precision and scale: the type
// name (protocol/type_names.h), the display size (characters of the longest
// value as text), the length (the precision, or the text's length for the
// types whose values travel as text longer than it: NUMERIC and BIGINT), the
// octet length (text as UTF-8 bytes, other types their C struct or number),
// scale 0 for text and bytes, unsigned for every type but a signed number,
// case sensitive for text.
void answer_column_attribute(const ColumnDescription& desc, int32_t column_count,
                             uint16_t desc_type, char* text, int16_t text_max, int16_t* text_length,
                             SQLLEN* numeric);

// One field of a described column, as SQLColAttribute and the implementation
// row descriptor give it: a number, a text (pointing into the description or
// a constant), or nothing when the field is not a column's.
struct ColumnField {
  enum class Kind : uint8_t { kNumber, kText, kUnknown };
  Kind kind;
  SQLLEN number;
  const char* text;
  size_t length;
};

// Which date and time codes a field answers with: the 2.x codes (9, 10, 11)
// or, for an application that declared ODBC 3, 91, 92 and 93.
enum class TypeCodes : uint8_t { kOdbc2, kOdbc3 };

// Answers `field`, a SQL_DESC_* identifier or one of the SQL_COLUMN_*
// identifiers 0..18 that share its numbers, for `desc` in a result of
// `column_count` columns. The 2.x identifiers answer exactly as
// answer_column_attribute does (SQL_DESC_CONCISE_TYPE, which is
// SQL_COLUMN_TYPE, maps the date and time codes by `codes`). SQL_DESC_TYPE is
// the verbose type: SQL_DATETIME for every date and time type, with the kind
// in SQL_DESC_DATETIME_INTERVAL_CODE; SQL_DESC_PRECISION of a time or timestamp
// is its digits of fractional seconds, and SQL_DESC_LENGTH the column size.
ColumnField column_field(const ColumnDescription& desc, int32_t column_count, uint16_t field,
                         TypeCodes codes);

}  // namespace q4
