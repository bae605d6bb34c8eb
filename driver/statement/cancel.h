// SQLCancel, and the end of every statement call, which settles a cancel
// that arrived too late for the call to act on. The protocol between the
// two threads is described in core/handles.h.
#pragma once

#include <sql.h>

#include "core/records.h"

namespace q4 {

// SQLCancel, safe from any thread while another thread's call on the
// statement runs: an idle statement's result is discarded at once; a running
// call is asked to stop at its next safe point, and one that waits for its
// server has that wait cut at once (the call then drops the link). Posts
// nothing; always SQL_SUCCESS.
SQLRETURN cancel_statement(Statement* stmt);

// Gives a claimed statement back: inline, one compare-and-swap when no
// cancel came; a cancel request raised after the call's last safe point is
// settled as a cancel of the idle statement would be (the result is
// discarded) by settle_late_cancel.
void settle_late_cancel(Statement* stmt);
inline void end_statement_claim(Statement* stmt) {
  if (!release_statement_fast(&stmt->call)) settle_late_cancel(stmt);
}

}  // namespace q4
