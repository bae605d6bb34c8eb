// The frames every entry point runs its work in: the connection's call lock
// and, for statement functions, the cancel checks (the protocol is described
// in core/handles.h).
#pragma once

#include <sql.h>

#include "core/diagnostics.h"
#include "core/call_state.h"
#include "platform/lock.h"
#include "results/result_set.h"
#include "statement/binary_blocks.h"
#include "statement/cancel.h"

namespace q4 {

// How a statement function reports a cancel that was pending as it began.
enum class PendingCancel : uint8_t {
  kReportCancelled,  // "S1008" "Operation cancelled"
  kReportGeneral,    // "S1000" "General error"
};

// Run first by statement-level functions (under the call lock). With a cancel
// pending it takes it, closes the cursor as SQLFreeStmt(SQL_CLOSE) would and
// posts what `report` says, returning SQL_ERROR; otherwise SQL_SUCCESS with
// nothing changed (a pending diagnostic stays).
inline SQLRETURN enter_statement(Statement* stmt, PendingCancel report) {
  if (!take_cancel_request(&stmt->call)) return SQL_SUCCESS;
  discard_binary_blocks(stmt);
  rewind_cursor(stmt);
  return post_error(stmt,
                    report == PendingCancel::kReportCancelled ? kDiagCancelled : kDiagGeneral);
}

// A connection call: the connection's call lock for a scope (leaving it
// settles the cancels no call acted on, statement/cancel.h).
using ConnectionCall = CallLock;

// A statement call: the statement's connection's call lock for a scope. The
// lock is also the statement's claim: SQLCancel finds it held and leaves the
// idle statement's result to the end of the call.
class StatementCall {
 public:
  // The connection is read before the call: SQLFreeStmt(SQL_DROP) frees the
  // record inside it.
  explicit StatementCall(Statement* stmt) : stmt_(stmt), lock_(stmt->connection) {}
  StatementCall(const StatementCall&) = delete;
  StatementCall& operator=(const StatementCall&) = delete;

  // The record was freed (SQLFreeStmt(SQL_DROP)): nothing of it may be read.
  void forget() { stmt_ = nullptr; }

  // Ends the work of a call that returned `rc`. When the call met a cancel in
  // an exchange (which posted "S1008" and returned as failed), the result is
  // discarded here, where nothing of the call uses it any more, and the call
  // fails as cancelled whatever its code paths posted after the exchange.
  SQLRETURN finish(SQLRETURN rc) {
    if (stmt_ == nullptr || stmt_->cancelled_in_call == kNotCancelled) return rc;
    stmt_->cancelled_in_call = kNotCancelled;
    close_result(stmt_);
    return post_error(stmt_, kDiagCancelled);
  }

 private:
  Statement* stmt_;
  ConnectionCall lock_;
};

// How a statement call starts.
enum class Entry : uint8_t {
  kCheck,    // a pending cancel fails the call before `body` runs
  kNoCheck,  // the call does not act on a pending cancel
  kNewText,  // a new statement text: the previous result ends first, even
             // when a pending cancel then fails the call (the result is
             // closed under the call lock, which a cancel from another thread
             // takes before it closes a result itself)
};

// A null handle is SQL_INVALID_HANDLE. Otherwise the call runs under the
// connection's call lock, starts as `entry` says (a pending cancel reported as
// `report` says), and only then does `body(stmt)` run.
template <typename Body>
inline SQLRETURN locked_statement_call(SQLHSTMT hstmt, Entry entry, PendingCancel report,
                                       Body&& body) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = static_cast<Statement*>(hstmt);
  StatementCall call(stmt);
  begin_call(stmt);
  if (entry == Entry::kNewText) close_result(stmt);
  SQLRETURN rc = entry != Entry::kNoCheck ? enter_statement(stmt, report) : SQL_SUCCESS;
  if (rc == SQL_SUCCESS) rc = call.finish(body(stmt));
  // SQLGetDiagField's SQL_DIAG_RETURNCODE.
  stmt->diag.return_code = rc;
  return rc;
}

template <typename Body>
inline SQLRETURN statement_call(SQLHSTMT hstmt, PendingCancel report, Body&& body) {
  return locked_statement_call(hstmt, Entry::kCheck, report, body);
}
template <typename Body>
inline SQLRETURN statement_call_unchecked(SQLHSTMT hstmt, Body&& body) {
  return locked_statement_call(hstmt, Entry::kNoCheck, PendingCancel::kReportGeneral, body);
}
template <typename Body>
inline SQLRETURN new_text_call(SQLHSTMT hstmt, Body&& body) {
  return locked_statement_call(hstmt, Entry::kNewText, PendingCancel::kReportCancelled, body);
}

// A null handle is SQL_INVALID_HANDLE; otherwise `body(conn)` runs under the
// connection's call lock.
template <typename Body>
inline SQLRETURN connection_call(SQLHDBC hdbc, Body&& body) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  Connection* conn = static_cast<Connection*>(hdbc);
  ConnectionCall call(conn);
  begin_call(conn);
  SQLRETURN rc = body(conn);
  conn->diag.return_code = rc;
  return rc;
}

}  // namespace q4
