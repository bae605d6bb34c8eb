// Statement records: allocation, SQLFreeStmt and the server-side statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLAllocStmt's work on a valid connection. `*out` receives the new
// statement on success and null when the record itself cannot be allocated;
// after a later failure it is left alone (the record then stays in the
// connection's list, to be dropped by SQLDisconnect). A null `out` posts
// "S1009" "Bad Arg" on the connection.
SQLRETURN alloc_statement(Connection* conn, Statement** out);

// SQLFreeStmt's work; `option` SQL_CLOSE, SQL_DROP, SQL_UNBIND or
// SQL_RESET_PARAMS (anything else only resets the piecewise-read state and
// the pending binary blocks). With SQL_DROP the record is unlinked, released
// on the server and freed; SQLDisconnect uses it for every statement. When the
// release cannot be exchanged the record is left unlinked but not freed (the
// handle stays valid after SQL_ERROR, and dropping it again is safe).
SQLRETURN free_statement(Statement* stmt, SQLUSMALLINT option);

// Frees a dropped record and its request buffer; the record must be in no
// list any more.
void discard_dropped_statement(Statement* stmt);

// Frees the statements whose drop failed to reach the server and that were
// not dropped again. SQLDisconnect uses it: once the connection ends, no
// later drop could reach the server either.
void discard_unreleased_statements(Connection* conn);

// Sends the release request for the statement; a failed exchange is a
// communication failure on the connection.
SQLRETURN release_server_statement(Statement* stmt);

}  // namespace q4
