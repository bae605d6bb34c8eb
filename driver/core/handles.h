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
// SQLFreeConnect's refusal of a connection still connected (a lost link
// counts until SQLDisconnect): "S1010" on the connection and SQL_ERROR, so
// that the record, its link, socket and server session are not lost
// together; SQL_SUCCESS when it may be freed. The caller holds the call lock.
SQLRETURN check_connection_free(Connection* conn);
// Frees the environment unless connections remain: then it frees nothing and
// posts "S1010" on the environment (SQL_ERROR).
SQLRETURN free_environment(Environment* env);

// Threads and cancel.
//
// Every call on a connection or on one of its statements holds the
// connection's call lock for its whole run, so calls from several threads
// take turns on the socket, the buffers and the diagnostic slots; the lock is
// also each statement's claim. SQLCancel is the one call that never waits
// for the lock: it must reach a statement while another thread waits inside
// a call on it. It raises a request in the statement's atomic word,
// Statement::call (core/call_state.h), and then:
// - If the running call of that statement waits for its server
//   (kWaitingForServer, from the start of an exchange to its end: a reply
//   that is late, a send that blocks on a full socket), SQLCancel cuts the
//   wait: it shuts the socket down (kWaitCut), which ends the blocked receive
//   or send at once. The call fails with "S1008" and drops the link, as a
//   query timeout does: a late reply could not be told from the answer to the
//   next request, so the connection answers "08S01" from then on. The socket
//   is closed only by the calling thread, and only once SQLCancel is done
//   with it (kCutting).
// - Otherwise, if the call lock is free, no call runs on the connection: the
//   statement is idle, and SQLCancel takes the lock (it is free, so this is
//   no wait), discards the result and leaves.
// - Otherwise it marks a duty on the lock word (platform/lock.h) and returns.
//   A running call of the statement takes the request at its safe points: on
//   entry (enter_statement, api/statement_call.h), as an exchange with the
//   server is about to start (nothing is sent then), and after each complete
//   reply, where the stream is in step; it then fails with "S1008" and its
//   result is discarded. Whoever holds the lock finds the duty as it leaves
//   (leave_call, statement/cancel.h) and discards the results of the
//   statements whose requests no call took: a request raised after a call's
//   last safe point acts as a cancel of the idle statement a moment later
//   would (the result goes, the call's own outcome stands), and an idle
//   statement of a connection busy with another statement loses its result
//   when that call ends. So a request never lingers to fail a later,
//   unrelated call; only a cancel that races with the start of the next call
//   may meet that call.
// The mark and the release are changes of one word, and the request and the
// wait bits of another, so neither side can miss the other. SQLCancel
// therefore never frees or changes anything a running call uses. The server
// cannot be stopped: work it finished before the wait was cut or the reply
// came (an insert, say) stays done even when the call reports "S1008".

}  // namespace q4
