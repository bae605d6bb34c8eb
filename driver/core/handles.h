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
// socket and statements belong to SQLDisconnect.
SQLRETURN free_connection(Connection* conn);
// Frees the environment unless connections remain (then it frees nothing).
SQLRETURN free_environment(Environment* env);

// Run first by statement-level functions (after in_call is set). With a
// cancel pending it closes the cursor as SQLFreeStmt(SQL_CLOSE) would and
// posts "S1008" (report_as_cancel) or "S1000", returning SQL_ERROR; otherwise
// SQL_SUCCESS with nothing changed (a pending diagnostic stays).
SQLRETURN enter_statement(Statement* stmt, bool report_as_cancel);

// Marks a statement as inside a call for the length of a scope; SQLCancel
// reads the flag from another thread.
class InCall {
 public:
  explicit InCall(Statement* stmt) : stmt_(stmt) { stmt_->in_call = 1; }
  ~InCall() { stmt_->in_call = 0; }
  InCall(const InCall&) = delete;
  InCall& operator=(const InCall&) = delete;

 private:
  Statement* stmt_;
};

}  // namespace q4
