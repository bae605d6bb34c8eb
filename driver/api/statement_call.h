// The frames every entry point runs its work in: the connection's call lock
// and, for statement functions, the claim on the statement and the cancel
// checks (the protocol is described in core/handles.h).
#pragma once

#include <sql.h>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "platform/lock.h"
#include "results/result_set.h"
#include "statement/binary_blocks.h"
#include "statement/cancel.h"

namespace q4 {

// Run first by statement-level functions (inside their claim). With a cancel
// pending it takes it, closes the cursor as SQLFreeStmt(SQL_CLOSE) would and
// posts "S1008" (report_as_cancel) or "S1000", returning SQL_ERROR; otherwise
// SQL_SUCCESS with nothing changed (a pending diagnostic stays).
inline SQLRETURN enter_statement(Statement* stmt, bool report_as_cancel) {
  if (!take_cancel_request(&stmt->call)) return SQL_SUCCESS;
  discard_binary_blocks(stmt);
  rewind_cursor(stmt);
  return post_error(stmt, report_as_cancel ? kDiagCancelled : kDiagGeneral);
}

// Holds a connection's call lock for a scope.
class ConnectionCall {
 public:
  explicit ConnectionCall(Connection* conn) : guard_(&conn->call_lock) {}

 private:
  LockGuard guard_;
};

// Holds the statement's connection's call lock and the claim on the statement
// for a scope.
class StatementCall {
 public:
  explicit StatementCall(Statement* stmt) : guard_(&stmt->connection->call_lock), stmt_(stmt) {
    claim_statement(&stmt_->call);
  }
  ~StatementCall() {
    if (stmt_ != nullptr) end_statement_claim(stmt_);
  }
  StatementCall(const StatementCall&) = delete;
  StatementCall& operator=(const StatementCall&) = delete;

  // The record was freed (SQLFreeStmt(SQL_DROP)): there is no claim to end.
  void forget() { stmt_ = nullptr; }

  // Ends the work of a call that returned `rc`. When the call met a cancel in
  // an exchange (which posted "S1008" and returned as failed), the result is
  // discarded here, where nothing of the call uses it any more, and the call
  // fails as cancelled whatever its code paths posted after the exchange.
  SQLRETURN finish(SQLRETURN rc) {
    if (stmt_->cancelled_in_call == kNotCancelled) return rc;
    stmt_->cancelled_in_call = kNotCancelled;
    close_result(stmt_);
    return post_error(stmt_, kDiagCancelled);
  }

 private:
  LockGuard guard_;
  Statement* stmt_;
};

// How a statement call starts.
enum class Entry : uint8_t {
  kCheck,    // a pending cancel fails the call before `body` runs
  kNoCheck,  // the call does not act on a pending cancel
  kNewText,  // a new statement text: the previous result ends first, even
             // when a pending cancel then fails the call (the result is
             // closed inside the claim: a cancel from another thread may be
             // closing it at the same moment)
};

// A null handle is SQL_INVALID_HANDLE. Otherwise the call runs claimed,
// starts as `entry` says (a pending cancel reported as "S1008" when
// `report_as_cancel`, "S1000" otherwise), and only then does `body(stmt)`
// run.
template <typename Body>
inline SQLRETURN claimed_call(SQLHSTMT hstmt, Entry entry, bool report_as_cancel, Body&& body) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = static_cast<Statement*>(hstmt);
  StatementCall call(stmt);
  if (entry == Entry::kNewText) close_result(stmt);
  if (entry != Entry::kNoCheck) {
    SQLRETURN rc = enter_statement(stmt, report_as_cancel);
    if (rc != SQL_SUCCESS) return rc;
  }
  return call.finish(body(stmt));
}

template <typename Body>
inline SQLRETURN statement_call(SQLHSTMT hstmt, bool report_as_cancel, Body&& body) {
  return claimed_call(hstmt, Entry::kCheck, report_as_cancel, body);
}
template <typename Body>
inline SQLRETURN statement_call_unchecked(SQLHSTMT hstmt, Body&& body) {
  return claimed_call(hstmt, Entry::kNoCheck, false, body);
}
template <typename Body>
inline SQLRETURN new_text_call(SQLHSTMT hstmt, Body&& body) {
  return claimed_call(hstmt, Entry::kNewText, true, body);
}

// A null handle is SQL_INVALID_HANDLE; otherwise `body(conn)` runs under the
// connection's call lock.
template <typename Body>
inline SQLRETURN connection_call(SQLHDBC hdbc, Body&& body) {
  if (hdbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  Connection* conn = static_cast<Connection*>(hdbc);
  ConnectionCall call(conn);
  return body(conn);
}

}  // namespace q4
