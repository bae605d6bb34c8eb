#include "statement/close_cursor.h"

#include "core/diagnostics.h"
#include "results/result_set.h"
#include "statement/lifecycle.h"

namespace q4 {

SQLRETURN close_cursor(Statement* stmt) {
  if (!stmt->cursor_open) return post_error(stmt, kDiagCursorState);
  SQLRETURN rc = free_statement(stmt, SQL_CLOSE);
  close_result(stmt);
  return rc;
}

}  // namespace q4
