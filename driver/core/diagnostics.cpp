#include "core/diagnostics.h"

#include <cstring>

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
}

SQLRETURN report_comm_failure(Connection* conn, const char* sqlstate) {
  return post_connection_error(conn, kCommErrorText, sqlstate);
}

void clear_diagnostic(char* sqlstate, char* message) {
  sqlstate[0] = '\0';
  message[0] = '\0';
}

SQLRETURN read_diagnostic(Environment* env, Connection* conn, Statement* stmt,
                          SQLCHAR* sqlstate_out, SQLINTEGER* native_error, SQLCHAR* message_out,
                          SQLSMALLINT message_max, SQLSMALLINT* message_length) {
  char* slot_state;
  char* slot_message;
  if (conn != nullptr) {
    slot_state = conn->sqlstate;
    slot_message = conn->message;
  } else if (stmt != nullptr) {
    slot_state = stmt->sqlstate;
    slot_message = stmt->message;
  } else if (env != nullptr) {
    slot_state = env->sqlstate;
    slot_message = env->message;
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
    memcpy(sqlstate_out, slot_state, 6);
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
  clear_diagnostic(slot_state, slot_message);
  return SQL_SUCCESS;
}

}  // namespace q4
