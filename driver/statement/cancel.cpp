#include "statement/cancel.h"

#include "core/call_state.h"
#include "link/transport.h"
#include "results/result_set.h"

namespace q4 {

SQLRETURN cancel_statement(Statement* stmt) {
  int socket = -1;
  if (raise_cancel(&stmt->call, &socket) == CancelStep::kCutWait) {
    // The waiting call keeps the descriptor open until end_cutting.
    cut_socket(socket);
    end_cutting(&stmt->call);
    return SQL_SUCCESS;
  }
  // A free lock means no call runs on the connection: the statement is idle
  // and its result goes now. Otherwise the holder finds the duty marked when
  // it leaves (a call of this statement may take the request before that).
  Lock* lock = &stmt->connection->call_lock;
  if (lock_take_or_mark(lock)) settle_cancels_and_leave(stmt->connection);
  return SQL_SUCCESS;
}

void settle_cancels_and_leave(Connection* conn) {
  do {
    for (Statement* stmt = conn->statements; stmt != nullptr; stmt = stmt->next) {
      if (take_cancel_request(&stmt->call)) close_result(stmt);
    }
  } while (lock_leave(&conn->call_lock) && lock_take_duty(&conn->call_lock));
}

}  // namespace q4
