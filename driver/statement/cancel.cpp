#include "statement/cancel.h"

#include "core/handles.h"
#include "results/result_set.h"

namespace q4 {

SQLRETURN cancel_statement(Statement* stmt) {
  for (;;) {
    int32_t state = stmt->in_call.load(std::memory_order_acquire);
    if (state == kCallCancelClosing) return SQL_SUCCESS;  // another cancel is closing it
    if (state == kCallRunning) {
      // The running call keeps everything it uses; it takes the request at
      // its next safe point, or when it ends.
      stmt->cancel_requested.store(1, std::memory_order_release);
      // Unless it ended between the look and the request: then nobody would
      // take it. Take it back and treat the statement as the idle one it is.
      if (stmt->in_call.load(std::memory_order_acquire) != kCallIdle) return SQL_SUCCESS;
      if (!take_cancel_request(stmt)) return SQL_SUCCESS;  // the ending call took it
      continue;
    }
    if (claim_idle_for_cancel(stmt)) {
      close_result(stmt);
      end_statement_claim(stmt);
      return SQL_SUCCESS;
    }
  }
}

void end_statement_claim(Statement* stmt) {
  for (;;) {
    release_statement(stmt);
    if (!cancel_pending(stmt)) return;
    // A request the call did not take. If another call or cancel has the
    // statement by now, the request is theirs to take.
    if (!claim_idle_for_cancel(stmt)) return;
    if (take_cancel_request(stmt)) close_result(stmt);
  }
}

}  // namespace q4
