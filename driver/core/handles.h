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
// thread waits inside a call on it. It meets that thread in one atomic word
// of the statement, Statement::call (core/call_state.h):
// - A call claims the statement (kCallRunning; under the call lock, so only
//   a cancel competes) and gives it back at its end. SQLCancel on an idle
//   statement holds it instead (kCallClosing), discards the result itself and
//   gives it back; a call that finds it closing waits until it is idle.
// - SQLCancel on a running statement raises kCancelRequested. The running
//   call takes the request at its safe points: on entry (enter_statement,
//   api/statement_call.h), as an exchange with the server is about to start
//   (nothing is sent then), and after each complete reply, where the stream
//   is in step; the call then fails with "S1008" and its result is discarded.
//   A request raised after the call's last safe point is taken when the call
//   ends, and acts as a cancel of the idle statement a moment later would:
//   the result is discarded, the call's own outcome stands. So a request
//   never lingers to fail a later, unrelated call; only a cancel that races
//   with the start of the next call may meet that call.
// - While the running call waits for its server (kWaitingForServer, from the
//   start of an exchange to its end: a reply that is late, a send that blocks
//   on a full socket), SQLCancel also cuts the wait: it shuts the socket
//   down (kWaitCut), which ends the blocked receive or send at once. The call
//   fails with "S1008" and drops the link, as a query timeout does: a late
//   reply could not be told from the answer to the next request, so the
//   connection answers "08S01" from then on. The socket is closed only by the
//   calling thread, and only once SQLCancel is done with it (kCutting).
// SQLCancel therefore never frees or changes anything a running call uses.
// The server cannot be stopped: work it finished before the wait was cut or
// the reply came (an insert, say) stays done even when the call reports
// "S1008".

}  // namespace q4
