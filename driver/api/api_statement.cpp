// ODBC entry points: statement handles, cursor names, options, transactions
// and cancel.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/handles.h"
#include "platform/export.h"
#include "statement/cancel.h"
#include "statement/cursor_name.h"
#include "statement/lifecycle.h"
#include "statement/options.h"
#include "statement/transact.h"

using namespace q4;

namespace {

Statement* as_statement(SQLHSTMT hstmt) {
  return static_cast<Statement*>(hstmt);
}
Connection* as_connection(SQLHDBC hdbc) {
  return static_cast<Connection*>(hdbc);
}

}  // namespace

Q4_EXPORT SQLRETURN SQL_API SQLAllocStmt(SQLHDBC hdbc, SQLHSTMT* phstmt) {
  // A null connection is a plain SQL_ERROR: there is nowhere to post.
  if (hdbc == SQL_NULL_HDBC) return SQL_ERROR;
  ConnectionCall call(as_connection(hdbc));
  if (phstmt == nullptr) return alloc_statement(as_connection(hdbc), nullptr);
  // alloc_statement writes the handle only where the application should see
  // it change; otherwise the application's value is stored back unchanged.
  Statement* stmt = as_statement(*phstmt);
  SQLRETURN rc = alloc_statement(as_connection(hdbc), &stmt);
  *phstmt = stmt;
  return rc;
}

Q4_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT hstmt, SQLUSMALLINT fOption) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  Statement* stmt = as_statement(hstmt);
  StatementCall call(stmt);
  SQLRETURN rc = free_statement(stmt, fOption);
  // A dropped record is gone unless its release failed (it then waits in the
  // connection's unreleased chain and stays a valid handle).
  if (fOption == SQL_DROP && rc == SQL_SUCCESS) call.forget();
  return rc;
}

Q4_EXPORT SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT hstmt, SQLCHAR* szCursor,
                                             SQLSMALLINT cbCursorMax, SQLSMALLINT* pcbCursor) {
  return statement_call(hstmt, PendingCancel::kReportGeneral, [&](Statement* stmt) {
    return get_cursor_name(stmt, szCursor, cbCursorMax, pcbCursor);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT hstmt, SQLCHAR* szCursor,
                                             SQLSMALLINT cbCursor) {
  return statement_call(hstmt, PendingCancel::kReportGeneral,
                        [&](Statement* stmt) { return set_cursor_name(stmt, szCursor, cbCursor); });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetScrollOptions(SQLHSTMT hstmt, SQLUSMALLINT /*fConcurrency*/,
                                                SQLLEN /*crowKeyset*/, SQLUSMALLINT crowRowset) {
  return statement_call(hstmt, PendingCancel::kReportGeneral,
                        [&](Statement* stmt) { return set_scroll_options(stmt, crowRowset); });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC hdbc, SQLUSMALLINT fOption,
                                                SQLULEN vParam) {
  return connection_call(
      hdbc, [&](Connection* conn) { return set_connect_option(conn, fOption, vParam); });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC hdbc, SQLUSMALLINT fOption,
                                                SQLPOINTER pvParam) {
  // Unlike its setter, the getter answers a null connection with a plain
  // SQL_ERROR: there is nowhere to post, and nothing is read.
  if (hdbc == SQL_NULL_HDBC) return SQL_ERROR;
  ConnectionCall call(as_connection(hdbc));
  return get_connect_option(as_connection(hdbc), fOption, pvParam);
}

Q4_EXPORT SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT fOption, SQLULEN vParam) {
  return statement_call(hstmt, PendingCancel::kReportGeneral, [&](Statement* stmt) {
    // Statement options are 32-bit: only the low half of vParam counts.
    return set_option(nullptr, stmt, fOption, static_cast<uint32_t>(vParam));
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT fOption,
                                             SQLPOINTER pvParam) {
  return statement_call(hstmt, PendingCancel::kReportGeneral,
                        [&](Statement* stmt) { return get_stmt_option(stmt, fOption, pvParam); });
}

Q4_EXPORT SQLRETURN SQL_API SQLTransact(SQLHENV henv, SQLHDBC hdbc, SQLUSMALLINT fType) {
  if (hdbc != SQL_NULL_HDBC) {
    ConnectionCall call(as_connection(hdbc));
    return transact_connection(as_connection(hdbc), fType);
  }
  if (henv == SQL_NULL_HENV) return SQL_INVALID_HANDLE;
  return transact_environment(static_cast<Environment*>(henv), fType);
}

// The one statement function that never waits for the call lock: it must
// reach a statement while another thread's call on it runs.
Q4_EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT hstmt) {
  if (hstmt == SQL_NULL_HSTMT) return SQL_INVALID_HANDLE;
  return cancel_statement(as_statement(hstmt));
}
