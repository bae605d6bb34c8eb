// The frame every statement entry point runs its work in.
#pragma once

#include <sql.h>

#include "core/handles.h"

namespace q4 {

// A null handle is SQL_INVALID_HANDLE. Otherwise the statement is marked as
// inside a call for the whole run (SQLCancel from another thread reads the
// mark), a pending cancel is reported first ("S1008" when `report_as_cancel`,
// "S1000" otherwise) and only then does `body(stmt)` run.
template <typename Body>
inline SQLRETURN statement_call(SQLHSTMT hstmt, bool report_as_cancel, Body&& body) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = static_cast<Statement*>(hstmt);
  InCall in_call(stmt);
  SQLRETURN rc = enter_statement(stmt, report_as_cancel);
  if (rc != SQL_SUCCESS) return rc;
  return body(stmt);
}

}  // namespace q4
