// ODBC entry points: rowsets (SQLExtendedFetch) and the refused SQLSetPos.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/handles.h"
#include "platform/export.h"
#include "results/extended_fetch.h"

using namespace q4;

// irow arrives as SQLLEN and is taken as a 32-bit row number; rows beyond
// that range do not exist on the server.
Q4_EXPORT SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT hstmt, SQLUSMALLINT fFetchType, SQLLEN irow,
                                             SQLULEN* pcrow, SQLUSMALLINT* rgfRowStatus) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return extended_fetch(stmt, fFetchType, static_cast<int32_t>(irow), pcrow, rgfRowStatus);
  });
}

// The cursor is read-only; nothing about the statement changes, so the call
// does not act on a pending cancel.
Q4_EXPORT SQLRETURN SQL_API SQLSetPos(SQLHSTMT hstmt, SQLSETPOSIROW /*irow*/,
                                      SQLUSMALLINT /*fOption*/, SQLUSMALLINT /*fLock*/) {
  return statement_call_unchecked(hstmt, [&](Statement* stmt) { return set_position(stmt); });
}
