// The one-slot diagnostics of connections and statements.
//
// A slot holds at most one pending diagnostic: posting replaces it, SQLError
// reads and empties it. Entering a function does not clear it, so a
// diagnostic stays until it is read or overwritten.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/diag_texts.h"
#include "core/records.h"

namespace q4 {

// Every posted message starts with this prefix; the text follows directly.
inline constexpr const char* kMessagePrefix = "[Halvex Software][ODBC Q4 Driver]";
// Characters of text that fit after the prefix in the 256-byte slot.
constexpr int kMaxPostedText = 222;

// Post `text` (cut to kMaxPostedText characters) with `sqlstate`; both return
// SQL_ERROR so callers can `return post_error(...)`.
SQLRETURN post_error(Statement* stmt, const char* text, const char* sqlstate);
SQLRETURN post_connection_error(Connection* conn, const char* text, const char* sqlstate);
SQLRETURN post_environment_error(Environment* env, const DiagText& d);
inline SQLRETURN post_error(Statement* stmt, const DiagText& d) {
  return post_error(stmt, d.text, d.sqlstate);
}
inline SQLRETURN post_connection_error(Connection* conn, const DiagText& d) {
  return post_connection_error(conn, d.text, d.sqlstate);
}

// Writes `text` into the statement's slot as it stands, without the prefix.
void post_error_unprefixed(Statement* stmt, const char* text, const char* sqlstate);

// A broken link on an established connection (the failed exchange already
// dropped it): posts "Communications_ERROR" with `sqlstate` on the
// connection. The connection still counts as connected until SQLDisconnect.
// Returns SQL_ERROR.
SQLRETURN report_comm_failure(Connection* conn, const char* sqlstate);

// SQLError's work: reads and empties the slot of `conn` if given, else of
// `stmt`, else of `env`; SQL_NO_DATA_FOUND when none is given or the slot is
// empty.
SQLRETURN read_diagnostic(Environment* env, Connection* conn, Statement* stmt,
                          SQLCHAR* sqlstate_out, SQLINTEGER* native_error, SQLCHAR* message_out,
                          SQLSMALLINT message_max, SQLSMALLINT* message_length);

// Empties a slot.
void clear_diagnostic(char* sqlstate, char* message);

}  // namespace q4
