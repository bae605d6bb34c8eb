#include "results/column_attributes.h"

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

void answer_name(const ColumnDescription& desc, NamePart part, char* text, int16_t text_max,
                 int16_t* text_length) {
  if (text == nullptr || text_max < 1) {
    if (text_length != nullptr) *text_length = 0;
    return;
  }
  int16_t length = text_max;
  copy_name_part(text, &length, desc.name, desc.name_length, part);
  if (text_length != nullptr) *text_length = length;
}

bool is_character_type(int16_t type) {
  return type == kSqlChar || type == kSqlVarchar;
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
    case SQL_COLUMN_PRECISION:
    case SQL_COLUMN_DISPLAY_SIZE:
      value = desc.precision;
      break;
    case SQL_COLUMN_SCALE:
      value = is_character_type(desc.type) ? 254 : desc.scale;
      break;
    case SQL_COLUMN_NULLABLE:
      value = desc.nullable != 0 ? SQL_NULLABLE : SQL_NO_NULLS;
      break;
    case SQL_COLUMN_UNSIGNED:
      value = (is_character_type(desc.type) || desc.type == kSqlDate) ? 1 : 0;
      break;
    case SQL_COLUMN_MONEY:
    case SQL_COLUMN_AUTO_INCREMENT:
    case SQL_COLUMN_CASE_SENSITIVE:
      value = 0;
      break;
    case SQL_COLUMN_UPDATABLE:
      value = SQL_ATTR_WRITE;
      break;
    case SQL_COLUMN_SEARCHABLE:
      value = SQL_SEARCHABLE;
      break;
    case SQL_COLUMN_TYPE_NAME:
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
