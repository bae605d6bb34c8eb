#include "core/diagnostic_fields.h"

#include <cstring>

#include "core/descriptor_registry.h"
#include "core/odbc3_states.h"
#include "core/odbc_version.h"
#include "core/wide_text.h"

namespace q4 {

namespace {

// One record, wherever it is kept.
struct RecordView {
  const char* sqlstate;
  const char* message;
  int64_t row_number;
  int32_t column_number;
};

RecordView record_at(const DiagView& view, int record) {
  if (record == 1) {
    return {view.sqlstate, view.message, view.area->row_number, view.area->column_number};
  }
  const DiagRecord& r = view.area->more[record - 2];
  return {r.sqlstate, r.message, r.row_number, r.column_number};
}

const char* state_of(const DiagView& view, const RecordView& r) {
  return view.odbc3 ? odbc3_sqlstate(r.sqlstate) : r.sqlstate;
}

// The standard a state's class comes from: ODBC's own class "IM", every
// other class the SQL standard's.
const char* class_origin(const char* state) {
  return strncmp(state, "IM", 2) == 0 ? "ODBC 3.0" : "ISO 9075";
}

// The standard a state's subclass comes from: ODBC defined the "IM" ones,
// those with an S subclass (01S02, 08S01, 42S02 ...) and a few of the CLI
// class HY; the others are the SQL standard's.
const char* subclass_origin(const char* state) {
  static const char* const kOdbcHy[] = {"HY095", "HY097", "HY098", "HY099",
                                        "HYC00", "HYT00", "HYT01"};
  if (strncmp(state, "IM", 2) == 0 || state[2] == 'S') return "ODBC 3.0";
  for (const char* s : kOdbcHy) {
    if (strcmp(state, s) == 0) return "ODBC 3.0";
  }
  return "ISO 9075";
}

// Copies `text` into `out` of `room` characters of `form` (a NUL included
// when it fits), sets `*full` to the whole text's length in characters;
// true when it was cut.
bool copy_text(const char* text, void* out, int64_t room, int64_t* full, TextForm form) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  const int64_t length = static_cast<int64_t>(strlen(text));
  if (form == TextForm::kNarrow) {
    *full = length;
    if (out != nullptr && room > 0) {
      int64_t copy = length < room ? length : room - 1;
      memcpy(out, text, static_cast<size_t>(copy));
      static_cast<char*>(out)[copy] = '\0';
    }
    return length >= room;
  }
  *full = wide_units_of_utf8(bytes, length);
  if (out != nullptr && room > 0) {
    WideUnitsCopy c = utf8_to_wide(bytes, length, out, room - 1);
    put_wide_nul(out, c.units_written);
  }
  return *full >= room;
}

// A string field into a buffer of `buffer_length` bytes.
SQLRETURN string_field(const char* text, SQLPOINTER value, SQLSMALLINT buffer_length,
                       SQLSMALLINT* string_length, TextForm form) {
  if (buffer_length < 0) return SQL_ERROR;
  const int64_t unit = form == TextForm::kWide ? wide_unit_bytes() : 1;
  int64_t full;
  bool cut = copy_text(text, value, buffer_length / unit, &full, form);
  if (string_length != nullptr) *string_length = static_cast<SQLSMALLINT>(full * unit);
  return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

template <typename T>
SQLRETURN number_field(T number, SQLPOINTER value) {
  if (value != nullptr) memcpy(value, &number, sizeof number);
  return SQL_SUCCESS;
}

}  // namespace

bool diag_view(SQLSMALLINT handle_type, void* handle, DiagView* out) {
  out->handle_type = handle_type;
  switch (handle_type) {
    case SQL_HANDLE_ENV: {
      auto* env = static_cast<Environment*>(handle);
      *out = {handle_type,
              env->sqlstate,
              env->message,
              &env->diag,
              env->odbc_version != OdbcVersion::kOdbc2,
              nullptr,
              nullptr};
      return true;
    }
    case SQL_HANDLE_DBC: {
      auto* conn = static_cast<Connection*>(handle);
      *out = {handle_type, conn->sqlstate, conn->message, &conn->diag, odbc3_application(conn),
              conn,        nullptr};
      return true;
    }
    case SQL_HANDLE_STMT: {
      auto* stmt = static_cast<Statement*>(handle);
      *out = {handle_type, stmt->sqlstate,          stmt->message,
              &stmt->diag, odbc3_application(stmt), stmt->connection,
              stmt};
      return true;
    }
    case SQL_HANDLE_DESC: {
      // A freed descriptor, or one of a dropped statement, is no handle.
      Descriptor* desc = live_descriptor(handle);
      if (desc == nullptr) return false;
      *out = {handle_type,
              desc->sqlstate,
              desc->message,
              &desc->diag,
              odbc3_application(desc->connection),
              desc->connection,
              nullptr};
      return true;
    }
    default:
      return false;
  }
}

int diag_record_count(const DiagView& view) {
  return view.sqlstate[0] == '\0' ? 0 : 1 + view.area->more_count;
}

SQLRETURN get_diag_rec(const DiagView& view, SQLSMALLINT record, void* sqlstate_out,
                       SQLINTEGER* native, void* message_out, SQLSMALLINT message_max,
                       SQLSMALLINT* message_length, TextForm form) {
  if (record <= 0 || message_max < 0) return SQL_ERROR;
  if (record > diag_record_count(view)) return SQL_NO_DATA;
  RecordView r = record_at(view, record);
  if (sqlstate_out != nullptr) {
    int64_t ignored;
    copy_text(state_of(view, r), sqlstate_out, 6, &ignored, form);
  }
  if (native != nullptr) *native = 0;
  int64_t full;
  bool cut = copy_text(r.message, message_out, message_max, &full, form);
  if (message_length != nullptr) *message_length = static_cast<SQLSMALLINT>(full);
  return cut && message_out != nullptr ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN get_diag_field(const DiagView& view, SQLSMALLINT record, SQLSMALLINT field,
                         SQLPOINTER value, SQLSMALLINT buffer_length, SQLSMALLINT* string_length,
                         TextForm form) {
  const bool statement = view.stmt != nullptr;
  // Header fields: the record number is not looked at.
  switch (field) {
    case SQL_DIAG_NUMBER:
      return number_field<SQLINTEGER>(diag_record_count(view), value);
    case SQL_DIAG_RETURNCODE:
      return number_field<SQLRETURN>(view.area->return_code, value);
    case SQL_DIAG_ROW_COUNT:
      if (!statement) return SQL_ERROR;
      return number_field<SQLLEN>(view.stmt->row_count, value);
    case SQL_DIAG_CURSOR_ROW_COUNT:
      // The server streams rows: how many a cursor has is not known ahead.
      if (!statement) return SQL_ERROR;
      return number_field<SQLLEN>(-1, value);
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (!statement) return SQL_ERROR;
      return string_field("", value, buffer_length, string_length, form);
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (!statement) return SQL_ERROR;
      return number_field<SQLINTEGER>(SQL_DIAG_UNKNOWN_STATEMENT, value);
    default:
      break;
  }
  if (record <= 0) return SQL_ERROR;
  // Fields of a record; an unknown field is an error even without records.
  switch (field) {
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      break;
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER:
      if (!statement) return SQL_ERROR;
      break;
    default:
      return SQL_ERROR;
  }
  if (record > diag_record_count(view)) return SQL_NO_DATA;
  RecordView r = record_at(view, record);
  const char* state = state_of(view, r);
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return string_field(state, value, buffer_length, string_length, form);
    case SQL_DIAG_NATIVE:
      return number_field<SQLINTEGER>(0, value);
    case SQL_DIAG_MESSAGE_TEXT:
      return string_field(r.message, value, buffer_length, string_length, form);
    case SQL_DIAG_CLASS_ORIGIN:
      return string_field(class_origin(state), value, buffer_length, string_length, form);
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return string_field(subclass_origin(state), value, buffer_length, string_length, form);
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      // The data source the connection was made to (SQLGetInfo's
      // SQL_DATA_SOURCE_NAME); empty for an environment.
      return string_field(view.conn != nullptr ? view.conn->dsn : "", value, buffer_length,
                          string_length, form);
    case SQL_DIAG_ROW_NUMBER:
      return number_field<SQLLEN>(r.row_number > 0 ? r.row_number : SQL_NO_ROW_NUMBER, value);
    default:  // SQL_DIAG_COLUMN_NUMBER
      return number_field<SQLINTEGER>(r.column_number > 0 ? r.column_number : SQL_NO_COLUMN_NUMBER,
                                      value);
  }
}

}  // namespace q4
