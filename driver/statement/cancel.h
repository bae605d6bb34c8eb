// SQLCancel, and the end of every statement call, which settles a cancel
// that arrived too late for the call to act on. The protocol between the
// two threads is described in core/handles.h.
#pragma once

#include <sql.h>

#include "core/records.h"

namespace q4 {

// SQLCancel, safe from any thread while another thread's call on the
// statement runs: an idle statement's result is discarded at once; a running
// call is only asked to stop, and stops at its next safe point. Posts
// nothing; always SQL_SUCCESS.
SQLRETURN cancel_statement(Statement* stmt);

// Gives a claimed statement back. A cancel request raised after the call's
// last safe point is settled here as a cancel of the idle statement would
// be: the result is discarded.
void end_statement_claim(Statement* stmt);

}  // namespace q4
