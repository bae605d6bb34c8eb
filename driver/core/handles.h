// Allocation and release of environment and connection records, and the
// checks that open statement-level functions.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLAllocEnv / SQLAllocConnect / SQLFreeConnect / SQLFreeEnv. Allocation
// failures of these records post nothing (there is no record to post on) and
// null the output handle.
SQLRETURN alloc_environment(Environment** out);
SQLRETURN alloc_connection(Environment* env, Connection** out);
// Unlinks and frees a connection. It expects a disconnected connection; the
// link, the log and the statements belong to SQLDisconnect.
SQLRETURN free_connection(Connection* conn);
// Frees the environment unless connections remain (then it frees nothing).
SQLRETURN free_environment(Environment* env);

// Threads and cancel.
//
// Every call on a connection or on one of its statements holds the
// connection's call lock for its whole run, so calls from several threads
// take turns on the socket, the buffers and the diagnostic slots. SQLCancel is
// the one call that takes no lock: it must reach a statement while another
// thread waits inside a call on it. It meets that thread in two atomics of
// the statement:
// - in_call: a call claims the statement by moving it from kCallIdle to
//   kCallRunning (claim_statement; under the call lock, so only a cancel can
//   compete) and gives it back at its end. SQLCancel on an idle statement
//   moves it to kCallCancelClosing (claim_idle_for_cancel), discards the
//   result itself and gives it back; a call that finds it closing yields
//   until it is idle.
// - cancel_requested: SQLCancel on a running statement only raises it. The
//   running call takes it (take_cancel_request) at its safe points: on entry
//   (enter_statement, api/statement_call.h) and after each complete reply from the server, where
//   the stream is in step again; the call then fails with "S1008" and its
//   result is discarded. A request raised after the call's last safe point is
//   taken when the call ends, and acts as a cancel of the idle statement a
//   moment later would: the result is discarded, the call's own outcome
//   stands. So a request never lingers to fail a later, unrelated call; only
//   a cancel that races with the start of the next call may meet that call.
// SQLCancel therefore never frees or changes anything a running call uses.
// A cancel does not cut a wait on the server short: the reply is read whole,
// so the link stays usable (SQL_QUERY_TIMEOUT bounds the wait when needed).
// The server cannot be stopped either: work it finished before the reply
// came (an insert, say) stays done even when the call reports "S1008".

// Claims `stmt` for the calling thread (the caller holds the connection's
// call lock): waits while SQLCancel closes its result, then marks it running.
void claim_statement(Statement* stmt);
// Claims an idle statement for a cancel; false when it is not idle.
bool claim_idle_for_cancel(Statement* stmt);
// Ends either claim: the statement is idle again.
void release_statement(Statement* stmt);
// Takes a pending cancel request: true when SQLCancel had raised one.
bool take_cancel_request(Statement* stmt);
// Whether a cancel request is raised, without taking it.
bool cancel_pending(const Statement* stmt);

}  // namespace q4
