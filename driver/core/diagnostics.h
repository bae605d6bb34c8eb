// Posting the diagnostics of environments, connections and statements.
//
// Every handle has a slot for one diagnostic, which posting replaces; the
// modules post into it and nothing else. What an application is given
// depends on the version it declared and how it calls:
// - An ODBC 2 application linked to the driver directly: the slot is the one
//   record. Entering a function does not clear it, so a diagnostic stays
//   until SQLError reads and empties it or a later post replaces it.
// - Otherwise a call's records are those of that call alone: they are
//   cleared as the next call on the handle starts (begin_call,
//   records_per_call). An ODBC 3 application may find several records of
//   one call (add_diagnostic_record: the slot is the first). SQLGetDiagRec
//   and SQLGetDiagField read them without removing any; SQLError reads and
//   removes the first. An ODBC 3 application reads the 3.x states
//   (core/odbc3_states.h).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/diag_texts.h"
#include "core/odbc_version.h"
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

// SQLError's work: reads and removes the first record of the most specific
// handle given (`stmt`, else `conn`, else `env`); SQL_NO_DATA_FOUND when none
// is given or it has no record. The state is the 3.x one for an ODBC 3
// application.
SQLRETURN read_diagnostic(Environment* env, Connection* conn, Statement* stmt,
                          SQLCHAR* sqlstate_out, SQLINTEGER* native_error, SQLCHAR* message_out,
                          SQLSMALLINT message_max, SQLSMALLINT* message_length);

// Empties a slot.
void clear_diagnostic(char* sqlstate, char* message);

// Empties a handle's slot and every further record.
void clear_records(char* sqlstate, char* message, DiagArea* area);

// The row (1-based) and column (1-based) the slot's diagnostic concerns, as
// SQLGetDiagField reports them; every post resets both to none.
inline void set_diagnostic_position(Statement* stmt, int64_t row, int32_t column) {
  stmt->diag.row_number = row;
  stmt->diag.column_number = column;
}

// A further record after the slot's, for an ODBC 3 application (an ODBC 2
// application has the one slot). Records beyond kMaxDiagRecords are dropped:
// the first ones say what went wrong first.
void add_diagnostic_record(Statement* stmt, const char* sqlstate, const char* message, int64_t row,
                           int32_t column);

// Whether a call's records are that call's alone. They are for an ODBC 3
// application, and for any application that calls through a Driver Manager
// (an environment from SQLAllocHandle): unixODBC reads the records right
// after each call with SQLGetDiagRec, which removes none, so a record left
// from an earlier call would come back after a later one that failed without
// posting. An ODBC 2 application linked to the driver directly keeps its
// diagnostic until SQLError reads it.
inline bool records_per_call(const Connection* conn) {
  return odbc3_caller(conn) || odbc3_application(conn);
}

// A call on `stmt` or `conn` starts: the previous call's records go where
// they are per call. The test of the slot comes first: most calls start
// with it empty, and then cost one load and a branch.
inline void begin_call(Statement* stmt) {
  if (stmt->sqlstate[0] != '\0' && records_per_call(stmt->connection))
    clear_records(stmt->sqlstate, stmt->message, &stmt->diag);
}
inline void begin_call(Connection* conn) {
  if (conn->sqlstate[0] != '\0' && records_per_call(conn))
    clear_records(conn->sqlstate, conn->message, &conn->diag);
}

}  // namespace q4
