// Descriptor fields and records (statement/descriptors.h).
#include <cstring>

#include "core/diagnostics.h"
#include "core/odbc_version.h"
#include "results/column_attributes.h"
#include "results/copy_out.h"
#include "results/decimal_convert.h"
#include "results/desc_records.h"
#include "results/get_data.h"
#include "statement/descriptors.h"
#include "statement/param_description.h"

namespace q4 {

namespace {

// How a field travels in ValuePtr.
enum class Width : uint8_t {
  kSmall,    // SQLSMALLINT
  kInteger,  // SQLINTEGER
  kLength,   // SQLLEN / SQLULEN
  kPointer,  // an address
  kText,     // a string (ValuePtr is its buffer)
};

struct FieldInfo {
  SQLSMALLINT id;
  Width width;
  bool header;
};

constexpr FieldInfo kFields[] = {
    {SQL_DESC_ALLOC_TYPE, Width::kSmall, true},
    {SQL_DESC_ARRAY_SIZE, Width::kLength, true},
    {SQL_DESC_ARRAY_STATUS_PTR, Width::kPointer, true},
    {SQL_DESC_BIND_OFFSET_PTR, Width::kPointer, true},
    {SQL_DESC_BIND_TYPE, Width::kInteger, true},
    {SQL_DESC_COUNT, Width::kSmall, true},
    {SQL_DESC_ROWS_PROCESSED_PTR, Width::kPointer, true},
    {SQL_DESC_AUTO_UNIQUE_VALUE, Width::kInteger, false},
    {SQL_DESC_BASE_COLUMN_NAME, Width::kText, false},
    {SQL_DESC_BASE_TABLE_NAME, Width::kText, false},
    {SQL_DESC_CASE_SENSITIVE, Width::kInteger, false},
    {SQL_DESC_CATALOG_NAME, Width::kText, false},
    {SQL_DESC_CONCISE_TYPE, Width::kSmall, false},
    {SQL_DESC_DATA_PTR, Width::kPointer, false},
    {SQL_DESC_DATETIME_INTERVAL_CODE, Width::kSmall, false},
    {SQL_DESC_DATETIME_INTERVAL_PRECISION, Width::kInteger, false},
    {SQL_DESC_DISPLAY_SIZE, Width::kLength, false},
    {SQL_DESC_FIXED_PREC_SCALE, Width::kSmall, false},
    {SQL_DESC_INDICATOR_PTR, Width::kPointer, false},
    {SQL_DESC_LABEL, Width::kText, false},
    {SQL_DESC_LENGTH, Width::kLength, false},
    {SQL_DESC_LITERAL_PREFIX, Width::kText, false},
    {SQL_DESC_LITERAL_SUFFIX, Width::kText, false},
    {SQL_DESC_LOCAL_TYPE_NAME, Width::kText, false},
    {SQL_DESC_NAME, Width::kText, false},
    {SQL_DESC_NULLABLE, Width::kSmall, false},
    {SQL_DESC_NUM_PREC_RADIX, Width::kInteger, false},
    {SQL_DESC_OCTET_LENGTH, Width::kLength, false},
    {SQL_DESC_OCTET_LENGTH_PTR, Width::kPointer, false},
    {SQL_DESC_PARAMETER_TYPE, Width::kSmall, false},
    {SQL_DESC_PRECISION, Width::kSmall, false},
    {SQL_DESC_ROWVER, Width::kSmall, false},
    {SQL_DESC_SCALE, Width::kSmall, false},
    {SQL_DESC_SCHEMA_NAME, Width::kText, false},
    {SQL_DESC_SEARCHABLE, Width::kSmall, false},
    {SQL_DESC_TABLE_NAME, Width::kText, false},
    {SQL_DESC_TYPE, Width::kSmall, false},
    {SQL_DESC_TYPE_NAME, Width::kText, false},
    {SQL_DESC_UNNAMED, Width::kSmall, false},
    {SQL_DESC_UNSIGNED, Width::kSmall, false},
    {SQL_DESC_UPDATABLE, Width::kSmall, false},
};

const FieldInfo* find_field(SQLSMALLINT id) {
  for (const FieldInfo& info : kFields) {
    if (info.id == id) return &info;
  }
  return nullptr;
}

// One field's value on its way out.
struct Answer {
  enum class Kind : uint8_t { kNumber, kPointer, kText, kNoRecord, kFailed } kind;
  SQLLEN number;
  void* pointer;
  const char* text;
  size_t length;
};

Answer number(SQLLEN value) {
  return Answer{Answer::Kind::kNumber, value, nullptr, nullptr, 0};
}
Answer pointer(const void* value) {
  return Answer{Answer::Kind::kPointer, 0, const_cast<void*>(value), nullptr, 0};
}
Answer text(const char* value, size_t length) {
  return Answer{Answer::Kind::kText, 0, nullptr, value, length};
}
Answer no_record() {
  return Answer{Answer::Kind::kNoRecord, 0, nullptr, nullptr, 0};
}
// The failure is posted on the descriptor already.
Answer failed() {
  return Answer{Answer::Kind::kFailed, 0, nullptr, nullptr, 0};
}
Answer failed(Descriptor* desc, const DiagText& diag) {
  post_descriptor_error(desc, diag);
  return failed();
}

bool is_datetime_code(SQLSMALLINT code) {
  code = odbc2_datetime_code(code);
  return code == SQL_DATE || code == SQL_TIME || code == SQL_TIMESTAMP;
}

// The verbose type of a concise one: dates and times are SQL_DATETIME.
SQLLEN verbose_type(SQLSMALLINT concise) {
  return is_datetime_code(concise) ? SQL_DATETIME : concise;
}

SQLLEN datetime_subcode(SQLSMALLINT concise) {
  switch (odbc2_datetime_code(concise)) {
    case SQL_DATE:
      return SQL_CODE_DATE;
    case SQL_TIME:
      return SQL_CODE_TIME;
    case SQL_TIMESTAMP:
      return SQL_CODE_TIMESTAMP;
    default:
      return 0;
  }
}

// The concise code of a date or time subcode (2.x form, as bindings keep it).
SQLSMALLINT concise_of_subcode(SQLLEN subcode) {
  switch (subcode) {
    case SQL_CODE_DATE:
      return SQL_DATE;
    case SQL_CODE_TIME:
      return SQL_TIME;
    case SQL_CODE_TIMESTAMP:
      return SQL_TIMESTAMP;
    default:
      return 0;
  }
}

// A type code as the application reads it back.
SQLLEN shown_type(const Descriptor& desc, SQLSMALLINT code) {
  const bool odbc3 = desc.connection != nullptr && odbc3_application(desc.connection);
  return odbc3 ? odbc3_datetime_code(code) : code;
}

Statement* owner(const Descriptor& desc) {
  return desc.statement;
}

// The record count of an implementation parameter descriptor: the highest
// bound parameter, or the markers of the prepared text when there are more.
uint16_t marker_records(const Statement* stmt) {
  uint16_t bound = highest_record(app_param_desc(stmt));
  return stmt->marker_count > bound ? static_cast<uint16_t>(stmt->marker_count) : bound;
}

// --- header fields -------------------------------------------------------

Answer header_field(Descriptor* desc, SQLSMALLINT field) {
  Statement* stmt = owner(*desc);
  switch (desc->kind) {
    case DescriptorKind::kAppRow:
    case DescriptorKind::kAppParam:
      switch (field) {
        case SQL_DESC_ALLOC_TYPE:
          return number(desc->explicitly_allocated ? SQL_DESC_ALLOC_USER : SQL_DESC_ALLOC_AUTO);
        case SQL_DESC_ARRAY_SIZE:
          // A parameter descriptor nobody sized holds one set of values.
          return number(desc->array_size > 1 ? static_cast<SQLLEN>(desc->array_size) : 1);
        case SQL_DESC_ARRAY_STATUS_PTR:
          return pointer(desc->array_status);
        case SQL_DESC_BIND_OFFSET_PTR:
          return pointer(desc->bind_offset);
        case SQL_DESC_BIND_TYPE:
          return number(static_cast<SQLLEN>(desc->bind_type));
        case SQL_DESC_COUNT:
          return number(highest_record(*desc));
        default:
          break;
      }
      break;
    case DescriptorKind::kImpRow:
      switch (field) {
        case SQL_DESC_ALLOC_TYPE:
          return number(SQL_DESC_ALLOC_AUTO);
        case SQL_DESC_ARRAY_STATUS_PTR:
          return pointer(stmt->row_statuses);
        case SQL_DESC_ROWS_PROCESSED_PTR:
          return pointer(stmt->rows_fetched);
        case SQL_DESC_COUNT:
          return number(stmt->column_count);
        default:
          break;
      }
      break;
    case DescriptorKind::kImpParam:
      switch (field) {
        case SQL_DESC_ALLOC_TYPE:
          return number(SQL_DESC_ALLOC_AUTO);
        case SQL_DESC_ARRAY_STATUS_PTR:
          return pointer(stmt->param_statuses);
        case SQL_DESC_ROWS_PROCESSED_PTR:
          return pointer(stmt->rows_processed);
        case SQL_DESC_COUNT:
          return number(marker_records(stmt));
        default:
          break;
      }
      break;
  }
  return failed(desc, kDiagDescriptorField);
}

// --- record fields -------------------------------------------------------

// The default precision of an SQL_C_NUMERIC target: every digit the driver
// can carry.
SQLLEN numeric_precision(const DescRecord& r) {
  if (r.numeric_precision != 0) return r.numeric_precision;
  return r.c_type == SQL_C_NUMERIC ? kMaxNumericDigits : 0;
}

Answer app_record_field(Descriptor* desc, const DescRecord& r, SQLSMALLINT field) {
  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
      return number(shown_type(*desc, r.c_type));
    case SQL_DESC_TYPE:
      return number(verbose_type(r.c_type));
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      return number(datetime_subcode(r.c_type));
    case SQL_DESC_DATA_PTR:
      return pointer(r.value);
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR:
      return pointer(r.indicator);
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_LENGTH:
      return number(r.buffer_length);
    case SQL_DESC_PRECISION:
      return number(numeric_precision(r));
    case SQL_DESC_SCALE:
      return number(r.numeric_scale);
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
    case SQL_DESC_NUM_PREC_RADIX:
      return number(0);
    default:
      return failed(desc, kDiagDescriptorField);
  }
}

Answer result_record_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field) {
  Statement* stmt = owner(*desc);
  if (record > stmt->column_count) return no_record();
  if (field == SQL_DESC_DATA_PTR || field == SQL_DESC_INDICATOR_PTR ||
      field == SQL_DESC_OCTET_LENGTH_PTR || field == SQL_DESC_PARAMETER_TYPE) {
    return failed(desc, kDiagDescriptorField);
  }
  if (record == 0) {
    // The bookmark column: a row number.
    if (field == SQL_DESC_TYPE || field == SQL_DESC_CONCISE_TYPE) return number(SQL_INTEGER);
    return failed(desc, kDiagDescriptorIndex);
  }
  ColumnDescription column;
  if (get_column_description(stmt, static_cast<uint16_t>(record), &column) !=
      DescribeOutcome::kDescribed) {
    // What went wrong is on the statement; the descriptor says it failed.
    return failed(desc, kDiagGeneral);
  }
  TypeCodes codes = odbc3_application(stmt) ? TypeCodes::kOdbc3 : TypeCodes::kOdbc2;
  if (field == SQL_DESC_ROWVER) return number(SQL_FALSE);
  ColumnField f = column_field(column, stmt->column_count, static_cast<uint16_t>(field), codes);
  switch (f.kind) {
    case ColumnField::Kind::kNumber:
      return number(f.number);
    case ColumnField::Kind::kText:
      return text(f.text, f.length);
    case ColumnField::Kind::kUnknown:
      break;
  }
  return failed(desc, kDiagDescriptorField);
}

Answer marker_record_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field) {
  Statement* stmt = owner(*desc);
  if (record == 0) return failed(desc, kDiagDescriptorIndex);
  if (record > marker_records(stmt)) return no_record();
  ParamDescription d{};
  if (const DescRecord* bound = find_record(app_param_desc(stmt), static_cast<uint16_t>(record))) {
    d = ParamDescription{bound->sql_type, bound->precision, bound->scale, SQL_NULLABLE_UNKNOWN};
  } else if (describe_parameter(stmt, static_cast<SQLUSMALLINT>(record), &d.sql_type, &d.size,
                                &d.decimal_digits, &d.nullable) != SQL_SUCCESS) {
    return failed(desc, kDiagGeneral);
  }
  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
      return number(shown_type(*desc, d.sql_type));
    case SQL_DESC_TYPE:
      return number(verbose_type(d.sql_type));
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      return number(datetime_subcode(d.sql_type));
    case SQL_DESC_LENGTH:
    case SQL_DESC_OCTET_LENGTH:
      return number(static_cast<SQLLEN>(d.size));
    case SQL_DESC_PRECISION:
      // A timestamp counts its fraction digits; numbers their digits.
      if (is_datetime_code(d.sql_type)) return number(d.decimal_digits);
      return number(static_cast<SQLLEN>(d.size));
    case SQL_DESC_SCALE:
      return number(d.decimal_digits);
    case SQL_DESC_NULLABLE:
      return number(d.nullable);
    case SQL_DESC_PARAMETER_TYPE:
      return number(SQL_PARAM_INPUT);  // the only kind of parameter there is
    case SQL_DESC_NAME:
      return text("", 0);
    case SQL_DESC_UNNAMED:
      return number(SQL_UNNAMED);
    case SQL_DESC_ROWVER:
    case SQL_DESC_FIXED_PREC_SCALE:
      return number(SQL_FALSE);
    default:
      return failed(desc, kDiagDescriptorField);
  }
}

Answer record_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field) {
  if (record < 0) return failed(desc, kDiagDescriptorIndex);
  switch (desc->kind) {
    case DescriptorKind::kImpRow:
      return result_record_field(desc, record, field);
    case DescriptorKind::kImpParam:
      return marker_record_field(desc, record, field);
    case DescriptorKind::kAppParam:
      if (record == 0) return failed(desc, kDiagDescriptorIndex);
      break;
    case DescriptorKind::kAppRow:
      break;
  }
  const DescRecord* r = find_record(*desc, static_cast<uint16_t>(record));
  if (r == nullptr) return no_record();
  return app_record_field(desc, *r, field);
}

Answer field_answer(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field) {
  const FieldInfo* info = find_field(field);
  if (info == nullptr) return failed(desc, kDiagDescriptorField);
  return info->header ? header_field(desc, field) : record_field(desc, record, field);
}

template <typename T>
void put(SQLPOINTER out, T value) {
  if (out != nullptr) memcpy(out, &value, sizeof value);
}

SQLRETURN write_text(Descriptor* desc, const Answer& a, SQLPOINTER out, SQLINTEGER room,
                     SQLINTEGER* length, TextForm form) {
  if (room < 0) return post_descriptor_error(desc, kDiagInvalidLength);
  CopyMode mode = form == TextForm::kWide ? CopyMode::kWideText : CopyMode::kText;
  CopyResult copy = copy_out(out, room, a.text, static_cast<int64_t>(a.length), 0, mode);
  if (length != nullptr) *length = static_cast<SQLINTEGER>(copy.full_length);
  if (out == nullptr || !copy.truncated) return SQL_SUCCESS;
  post_descriptor_error(desc, kDiagTruncated);
  return SQL_SUCCESS_WITH_INFO;
}

// --- writing fields -----------------------------------------------------

SQLLEN as_number(SQLPOINTER value) {
  return static_cast<SQLLEN>(reinterpret_cast<intptr_t>(value));
}

// Which record fields leave the data pointer bound when set.
bool keeps_data_bound(SQLSMALLINT field) {
  return field == SQL_DESC_DATA_PTR || field == SQL_DESC_INDICATOR_PTR ||
         field == SQL_DESC_OCTET_LENGTH_PTR;
}

// The record consistency check made when the data pointer is set.
bool consistent(const DescRecord& r) {
  if (r.c_type != SQL_C_NUMERIC || r.numeric_precision == 0) return true;
  return r.numeric_precision <= kMaxNumericDigits && r.numeric_scale >= 0 &&
         r.numeric_scale <= r.numeric_precision;
}

SQLRETURN set_app_record(Descriptor* desc, DescRecord* r, SQLSMALLINT field, SQLPOINTER value) {
  const SQLLEN n = as_number(value);
  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE: {
      // SQL_DATETIME waits for its subcode; the 2.x codes are what the
      // conversions take.
      SQLSMALLINT code = odbc2_datetime_code(static_cast<SQLSMALLINT>(n));
      if (!(field == SQL_DESC_TYPE && code == SQL_DATETIME)) r->c_type = code;
      if (desc->kind == DescriptorKind::kAppRow) {
        r->buffer_length = bound_buffer_length(r->c_type, r->buffer_length);
      }
      r->numeric_precision = 0;
      r->numeric_scale = 0;
      break;
    }
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      if (SQLSMALLINT code = concise_of_subcode(n)) r->c_type = code;
      break;
    case SQL_DESC_DATA_PTR:
      r->value = value;
      r->complete = 0;
      r->piece_seen = 0;
      if (value != nullptr && !consistent(*r)) {
        r->value = nullptr;
        refresh_delivery(*desc, *r);
        return post_descriptor_error(desc, kDiagInconsistentDescriptor);
      }
      break;
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR:
      r->indicator = static_cast<int64_t*>(value);
      break;
    case SQL_DESC_OCTET_LENGTH:
      r->buffer_length =
          desc->kind == DescriptorKind::kAppParam ? n : bound_buffer_length(r->c_type, n);
      break;
    case SQL_DESC_LENGTH:
      break;  // the octet length is what the driver reads
    case SQL_DESC_PRECISION:
      if (n < 0 || n > 255) return post_descriptor_error(desc, kDiagAttributeValue);
      r->numeric_precision = static_cast<uint8_t>(n);
      break;
    case SQL_DESC_SCALE:
      if (n < -128 || n > 127) return post_descriptor_error(desc, kDiagAttributeValue);
      r->numeric_scale = static_cast<int8_t>(n);
      break;
    default:
      return post_descriptor_error(desc, kDiagDescriptorField);
  }
  if (!keeps_data_bound(field)) r->value = nullptr;
  refresh_delivery(*desc, *r);
  return SQL_SUCCESS;
}

// The implementation side of a parameter lives in its binding's record.
SQLRETURN set_marker_record(Descriptor* desc, DescRecord* r, SQLSMALLINT field, SQLPOINTER value) {
  const SQLLEN n = as_number(value);
  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE: {
      SQLSMALLINT code = odbc2_datetime_code(static_cast<SQLSMALLINT>(n));
      if (!(field == SQL_DESC_TYPE && code == SQL_DATETIME)) r->sql_type = code;
      return SQL_SUCCESS;
    }
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      if (SQLSMALLINT code = concise_of_subcode(n)) r->sql_type = code;
      return SQL_SUCCESS;
    case SQL_DESC_LENGTH:
    case SQL_DESC_PRECISION:
      r->precision = static_cast<uint64_t>(n);
      return SQL_SUCCESS;
    case SQL_DESC_SCALE:
      r->scale = static_cast<int16_t>(n);
      return SQL_SUCCESS;
    case SQL_DESC_PARAMETER_TYPE:
      // Input parameters are all the server takes.
      if (n != SQL_PARAM_INPUT) return post_descriptor_error(desc, kDiagNotCapable);
      return SQL_SUCCESS;
    case SQL_DESC_NAME:
    case SQL_DESC_UNNAMED:
      return SQL_SUCCESS;  // markers are taken by position: a name changes nothing
    default:
      return post_descriptor_error(desc, kDiagDescriptorField);
  }
}

SQLRETURN set_header(Descriptor* desc, SQLSMALLINT field, SQLPOINTER value) {
  Statement* stmt = owner(*desc);
  const SQLLEN n = as_number(value);
  const bool application =
      desc->kind == DescriptorKind::kAppRow || desc->kind == DescriptorKind::kAppParam;
  switch (field) {
    case SQL_DESC_ARRAY_STATUS_PTR:
      if (desc->kind == DescriptorKind::kImpRow) {
        stmt->row_statuses = static_cast<uint16_t*>(value);
      } else if (desc->kind == DescriptorKind::kImpParam) {
        stmt->param_statuses = static_cast<uint16_t*>(value);
      } else {
        desc->array_status = static_cast<uint16_t*>(value);
      }
      return SQL_SUCCESS;
    case SQL_DESC_ROWS_PROCESSED_PTR:
      if (desc->kind == DescriptorKind::kImpRow) {
        stmt->rows_fetched = static_cast<uint64_t*>(value);
      } else if (desc->kind == DescriptorKind::kImpParam) {
        stmt->rows_processed = static_cast<uint64_t*>(value);
      } else {
        break;
      }
      return SQL_SUCCESS;
    default:
      break;
  }
  if (desc->kind == DescriptorKind::kImpRow)
    return post_descriptor_error(desc, kDiagImpRowDescriptor);
  switch (field) {
    case SQL_DESC_COUNT:
      if (n < 0 || n > INT16_MAX) return post_descriptor_error(desc, kDiagAttributeValue);
      // The implementation parameter descriptor counts the bindings.
      if (!application) return SQL_SUCCESS;
      drop_records_above(*desc, static_cast<uint16_t>(n));
      if (n > highest_record(*desc) &&
          find_or_add_record(*desc, static_cast<uint16_t>(n), nullptr) == nullptr) {
        return post_descriptor_error(desc, kDiagMemory);
      }
      return SQL_SUCCESS;
    case SQL_DESC_ARRAY_SIZE:
      if (!application) break;
      // A rowset holds at most 65535 rows, as SQL_ROWSET_SIZE takes them.
      if (n < 1 || (desc->kind == DescriptorKind::kAppRow && n > 65535)) {
        return post_descriptor_error(desc, kDiagAttributeValue);
      }
      desc->array_size = static_cast<uint64_t>(n);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_OFFSET_PTR:
      if (!application) break;
      desc->bind_offset = static_cast<int64_t*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE:
      if (!application) break;
      if (n < 0) return post_descriptor_error(desc, kDiagAttributeValue);
      desc->bind_type = static_cast<uint64_t>(n);
      return SQL_SUCCESS;
    default:
      break;
  }
  return post_descriptor_error(desc, kDiagDescriptorField);
}

}  // namespace

SQLRETURN get_desc_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER buffer_length, SQLINTEGER* string_length, TextForm form) {
  Answer a = field_answer(desc, record, field);
  switch (a.kind) {
    case Answer::Kind::kFailed:
      return SQL_ERROR;
    case Answer::Kind::kNoRecord:
      return SQL_NO_DATA;
    case Answer::Kind::kText:
      return write_text(desc, a, value, buffer_length, string_length, form);
    case Answer::Kind::kPointer:
      put(value, a.pointer);
      return SQL_SUCCESS;
    case Answer::Kind::kNumber:
      break;
  }
  switch (find_field(field)->width) {
    case Width::kSmall:
      put(value, static_cast<SQLSMALLINT>(a.number));
      break;
    case Width::kInteger:
      put(value, static_cast<SQLINTEGER>(a.number));
      break;
    default:
      put(value, a.number);
      break;
  }
  return SQL_SUCCESS;
}

SQLRETURN set_desc_field(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER /*buffer_length*/) {
  const FieldInfo* info = find_field(field);
  if (info == nullptr) return post_descriptor_error(desc, kDiagDescriptorField);
  if (info->header) return set_header(desc, field, value);
  if (desc->kind == DescriptorKind::kImpRow)
    return post_descriptor_error(desc, kDiagImpRowDescriptor);
  if (record < 0 || (record == 0 && desc->kind != DescriptorKind::kAppRow)) {
    return post_descriptor_error(desc, kDiagDescriptorIndex);
  }
  Descriptor& holder =
      desc->kind == DescriptorKind::kImpParam ? app_param_desc(owner(*desc)) : *desc;
  DescRecord* r = find_or_add_record(holder, static_cast<uint16_t>(record), nullptr);
  if (r == nullptr) return post_descriptor_error(desc, kDiagMemory);
  if (desc->kind == DescriptorKind::kImpParam) return set_marker_record(desc, r, field, value);
  return set_app_record(desc, r, field, value);
}

SQLRETURN get_desc_rec(Descriptor* desc, SQLSMALLINT record, SQLPOINTER name, SQLSMALLINT name_max,
                       SQLSMALLINT* name_length, SQLSMALLINT* type, SQLSMALLINT* subtype,
                       SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                       SQLSMALLINT* nullable, TextForm form) {
  const bool application =
      desc->kind == DescriptorKind::kAppRow || desc->kind == DescriptorKind::kAppParam;
  struct Part {
    SQLSMALLINT field;
    SQLLEN* out;
  };
  SQLLEN values[6] = {};
  const Part parts[] = {
      {SQL_DESC_TYPE, &values[0]},         {SQL_DESC_DATETIME_INTERVAL_CODE, &values[1]},
      {SQL_DESC_OCTET_LENGTH, &values[2]}, {SQL_DESC_PRECISION, &values[3]},
      {SQL_DESC_SCALE, &values[4]},        {SQL_DESC_NULLABLE, &values[5]},
  };
  for (const Part& part : parts) {
    if (application && part.field == SQL_DESC_NULLABLE) {
      *part.out = SQL_NULLABLE_UNKNOWN;  // an application buffer has no nullability
      continue;
    }
    Answer a = field_answer(desc, record, part.field);
    if (a.kind == Answer::Kind::kFailed) return SQL_ERROR;
    if (a.kind == Answer::Kind::kNoRecord) return SQL_NO_DATA;
    *part.out = a.number;
  }
  SQLRETURN rc = SQL_SUCCESS;
  Answer n = application ? text("", 0) : field_answer(desc, record, SQL_DESC_NAME);
  if (n.kind == Answer::Kind::kFailed) return SQL_ERROR;
  SQLINTEGER full = 0;
  rc = write_text(desc, n, name, name_max, &full, form);
  if (rc == SQL_ERROR) return rc;
  if (name_length != nullptr) *name_length = static_cast<SQLSMALLINT>(full);
  if (type != nullptr) *type = static_cast<SQLSMALLINT>(values[0]);
  if (subtype != nullptr) *subtype = static_cast<SQLSMALLINT>(values[1]);
  if (length != nullptr) *length = values[2];
  if (precision != nullptr) *precision = static_cast<SQLSMALLINT>(values[3]);
  if (scale != nullptr) *scale = static_cast<SQLSMALLINT>(values[4]);
  if (nullable != nullptr) *nullable = static_cast<SQLSMALLINT>(values[5]);
  return rc;
}

SQLRETURN set_desc_rec(Descriptor* desc, SQLSMALLINT record, SQLSMALLINT type, SQLSMALLINT subtype,
                       SQLLEN length, SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data,
                       SQLLEN* string_length, SQLLEN* indicator) {
  auto as_pointer = [](SQLLEN v) { return reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(v)); };
  struct Step {
    SQLSMALLINT field;
    SQLPOINTER value;
  };
  const bool application =
      desc->kind == DescriptorKind::kAppRow || desc->kind == DescriptorKind::kAppParam;
  // The data pointer last: setting any other field unbinds it.
  const Step steps[] = {
      {SQL_DESC_TYPE, as_pointer(type)},
      {SQL_DESC_DATETIME_INTERVAL_CODE, as_pointer(subtype)},
      {static_cast<SQLSMALLINT>(application ? SQL_DESC_OCTET_LENGTH : SQL_DESC_LENGTH),
       as_pointer(length)},
      {SQL_DESC_PRECISION, as_pointer(precision)},
      {SQL_DESC_SCALE, as_pointer(scale)},
      {SQL_DESC_OCTET_LENGTH_PTR, string_length},
      {SQL_DESC_INDICATOR_PTR, indicator},
      {SQL_DESC_DATA_PTR, data},
  };
  for (const Step& step : steps) {
    if (step.field == SQL_DESC_DATETIME_INTERVAL_CODE && type != SQL_DATETIME) continue;
    if (!application && (step.field == SQL_DESC_OCTET_LENGTH_PTR ||
                         step.field == SQL_DESC_INDICATOR_PTR || step.field == SQL_DESC_DATA_PTR)) {
      continue;  // an implementation descriptor has no buffers
    }
    // Both length pointers are one: the indicator's wins when both are given.
    if (step.field == SQL_DESC_OCTET_LENGTH_PTR && indicator != nullptr) continue;
    SQLRETURN rc = set_desc_field(desc, record, step.field, step.value, 0);
    if (rc != SQL_SUCCESS) return rc;
  }
  return SQL_SUCCESS;
}

}  // namespace q4
