#include "statement/cancel.h"

#include "core/call_state.h"
#include "link/transport.h"
#include "results/result_set.h"

namespace q4 {

SQLRETURN cancel_statement(Statement* stmt) {
  int socket = -1;
  switch (raise_cancel(&stmt->call, &socket)) {
    case CancelStep::kCloseIdle:
      close_result(stmt);
      end_idle_close(&stmt->call);
      break;
    case CancelStep::kCutWait:
      // The waiting call keeps the descriptor open until end_cutting.
      cut_socket(socket);
      end_cutting(&stmt->call);
      break;
    case CancelStep::kRequested:
    case CancelStep::kNothing:
      break;
  }
  return SQL_SUCCESS;
}

void settle_late_cancel(Statement* stmt) {
  if (!release_statement_slow(&stmt->call)) return;
  close_result(stmt);
  end_idle_close(&stmt->call);
}

}  // namespace q4
