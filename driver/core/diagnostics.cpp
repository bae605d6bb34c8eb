#include "core/diagnostics.h"

#include <cstring>

#include "core/odbc3_states.h"

namespace q4 {

namespace {

// The slot is 256 bytes: prefix (33), at most 222 characters of text, NUL.
// Server texts can be longer; they are cut at 222 characters rather than
// overrunning the slot.
void fill_slot(char* sqlstate_slot, char* message_slot, const char* text, const char* sqlstate) {
  size_t prefix_length = strlen(kMessagePrefix);
  memcpy(message_slot, kMessagePrefix, prefix_length);
  size_t length = text == nullptr ? 0 : strnlen(text, kMaxPostedText);
  if (length > 0) memcpy(message_slot + prefix_length, text, length);
  message_slot[prefix_length + length] = '\0';
  strncpy(sqlstate_slot, sqlstate, 5);
  sqlstate_slot[5] = '\0';
}

}  // namespace

static_assert(sizeof(Connection::message) >= 33 + kMaxPostedText + 1, "slot too small");

SQLRETURN post_error(Statement* stmt, const char* text, const char* sqlstate) {
  fill_slot(stmt->sqlstate, stmt->message, text, sqlstate);
  set_diagnostic_position(stmt, 0, 0);
  return SQL_ERROR;
}

SQLRETURN post_connection_error(Connection* conn, const char* text, const char* sqlstate) {
  fill_slot(conn->sqlstate, conn->message, text, sqlstate);
  return SQL_ERROR;
}

SQLRETURN post_environment_error(Environment* env, const DiagText& d) {
  fill_slot(env->sqlstate, env->message, d.text, d.sqlstate);
  return SQL_ERROR;
}

void post_error_unprefixed(Statement* stmt, const char* text, const char* sqlstate) {
  size_t length = strnlen(text, sizeof(stmt->message) - 1);
  memcpy(stmt->message, text, length);
  stmt->message[length] = '\0';
  strncpy(stmt->sqlstate, sqlstate, 5);
  stmt->sqlstate[5] = '\0';
  set_diagnostic_position(stmt, 0, 0);
}

SQLRETURN report_comm_failure(Connection* conn, const char* sqlstate) {
  return post_connection_error(conn, kCommErrorText, sqlstate);
}

void clear_diagnostic(char* sqlstate, char* message) {
  sqlstate[0] = '\0';
  message[0] = '\0';
}

void clear_records(char* sqlstate, char* message, DiagArea* area) {
  clear_diagnostic(sqlstate, message);
  area->row_number = 0;
  area->column_number = 0;
  area->more_count = 0;
}

void add_diagnostic_record(Statement* stmt, const char* sqlstate, const char* message, int64_t row,
                           int32_t column) {
  DiagArea* area = &stmt->diag;
  if (!odbc3_application(stmt) || area->more_count >= kMaxDiagRecords - 1) return;
  DiagRecord* r = &area->more[area->more_count++];
  memcpy(r->sqlstate, sqlstate, 5);
  r->sqlstate[5] = '\0';
  size_t length = strnlen(message, sizeof r->message - 1);
  memcpy(r->message, message, length);
  r->message[length] = '\0';
  r->row_number = row;
  r->column_number = column;
}

namespace {

// Removes the slot's record: the first further record, if any, takes its
// place.
void remove_first_record(char* slot_state, char* slot_message, DiagArea* area) {
  if (area == nullptr || area->more_count == 0) {
    clear_diagnostic(slot_state, slot_message);
    if (area != nullptr) area->row_number = area->column_number = 0;
    return;
  }
  const DiagRecord& next = area->more[0];
  memcpy(slot_state, next.sqlstate, 6);
  strcpy(slot_message, next.message);
  area->row_number = next.row_number;
  area->column_number = next.column_number;
  memmove(&area->more[0], &area->more[1], sizeof(DiagRecord) * (area->more_count - 1));
  --area->more_count;
}

}  // namespace

SQLRETURN read_diagnostic(Environment* env, Connection* conn, Statement* stmt,
                          SQLCHAR* sqlstate_out, SQLINTEGER* native_error, SQLCHAR* message_out,
                          SQLSMALLINT message_max, SQLSMALLINT* message_length) {
  // The most specific handle given is read: a statement's diagnostic is
  // never hidden behind its connection's empty slot.
  char* slot_state;
  char* slot_message;
  DiagArea* area;
  bool odbc3;
  if (stmt != nullptr) {
    slot_state = stmt->sqlstate;
    slot_message = stmt->message;
    area = &stmt->diag;
    odbc3 = odbc3_application(stmt);
  } else if (conn != nullptr) {
    slot_state = conn->sqlstate;
    slot_message = conn->message;
    area = &conn->diag;
    odbc3 = odbc3_application(conn);
  } else if (env != nullptr) {
    slot_state = env->sqlstate;
    slot_message = env->message;
    area = &env->diag;
    odbc3 = env->odbc_version != OdbcVersion::kOdbc2;
  } else {
    return SQL_NO_DATA_FOUND;
  }

  // The outputs are preset only when the application passed a state buffer;
  // applications that pass it always pass the others, and the null checks
  // keep a partial set of outputs from crashing the process.
  if (sqlstate_out != nullptr) {
    if (message_length != nullptr) *message_length = 0;
    if (native_error != nullptr) *native_error = 0;
    memcpy(sqlstate_out, "00000", 6);
    if (message_out != nullptr && message_max > 0) message_out[0] = '\0';
  }
  if (slot_state[0] == '\0') return SQL_NO_DATA_FOUND;

  if (sqlstate_out != nullptr) {
    memcpy(sqlstate_out, odbc3 ? odbc3_sqlstate(slot_state) : slot_state, 6);
    size_t length = strlen(slot_message);
    if (length > 0) {
      // With a buffer length below 1 there is no room even for the NUL:
      // nothing is written, but the full length is still reported.
      if (message_out != nullptr && message_max > 0) {
        size_t copy = length < static_cast<size_t>(message_max) ? length : message_max - 1;
        memcpy(message_out, slot_message, copy);
        message_out[copy] = '\0';
      }
      if (message_length != nullptr) *message_length = static_cast<SQLSMALLINT>(length);
    }
  }
  remove_first_record(slot_state, slot_message, area);
  return SQL_SUCCESS;
}

}  // namespace q4
