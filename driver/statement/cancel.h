// SQLCancel, and the end of every call on a connection, which settles the
// cancels that no call acted on. The protocol between the threads is
// described in core/handles.h.
#pragma once

#include <sql.h>

#include "core/records.h"

namespace q4 {

// SQLCancel, safe from any thread while another thread's call on the
// statement runs: an idle statement's result is discarded at once (or, when
// a call of another statement holds the connection, as that call ends); a
// running call is asked to stop at its next safe point, and one that waits
// for its server has that wait cut at once (the call then drops the link).
// Never waits; posts nothing; always SQL_SUCCESS.
SQLRETURN cancel_statement(Statement* stmt);

// With the connection's call lock held: discards the result of every
// statement whose cancel request no call took, then leaves the lock, and
// does the same again for a duty marked meanwhile.
void settle_cancels_and_leave(Connection* conn);

// Leaves the connection's call lock at the end of a call: one
// compare-and-swap, and the settling above only when a cancel marked it.
inline void leave_call(Connection* conn) {
  if (lock_leave(&conn->call_lock) && lock_take_duty(&conn->call_lock)) {
    settle_cancels_and_leave(conn);
  }
}

// Holds a connection's call lock for a scope, and leaves it as leave_call.
class CallLock {
 public:
  explicit CallLock(Connection* conn) : conn_(conn) { lock_enter(&conn_->call_lock); }
  ~CallLock() { leave_call(conn_); }
  CallLock(const CallLock&) = delete;
  CallLock& operator=(const CallLock&) = delete;

 private:
  Connection* conn_;
};

}  // namespace q4
