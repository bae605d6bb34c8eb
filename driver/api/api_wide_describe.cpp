// ODBC entry points: the wide forms of describing a result and reading
// diagnostics. Column names, attribute texts and messages are UTF-8 inside
// and leave as UTF-16 (core/wide_arguments.h): lengths in characters for
// SQLDescribeColW and SQLErrorW, in bytes for SQLColAttributesW, the full
// length reported and a cut reported as ODBC defines for each.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/error_call.h"
#include "api/statement_call.h"
#include "core/diagnostics.h"
#include "core/wide_arguments.h"
#include "platform/export.h"
#include "results/describe.h"

using namespace q4;

// The narrow call cuts a long name silently and reports the room as its
// length; the wide one reports the full length in characters and "01004".
Q4_EXPORT SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLWCHAR* szColName,
                                            SQLSMALLINT cchColNameMax, SQLSMALLINT* pcchColName,
                                            SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                            SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    WideOut name(nullptr, stmt, szColName, cchColNameMax, WideUnit::kCharacters, pcchColName);
    return name.finish(name.call_whole([&] {
      return describe_column(stmt, icol, name.text(), name.short_room(), name.short_length(),
                             pfSqlType, pcbColDef, pibScale, pfNullable);
    }));
  });
}

// Text answers in UTF-16, cbDescMax and *pcbDesc in bytes; numeric answers
// as the narrow call gives them.
Q4_EXPORT SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT hstmt, SQLUSMALLINT icol,
                                              SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                                              SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc,
                                              SQLLEN* pfDesc) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    WideOut text(nullptr, stmt, rgbDesc, cbDescMax, WideUnit::kBytes, pcbDesc);
    return text.finish(text.call_whole([&] {
      return column_attributes(stmt, icol, fDescType, text.text(), text.short_room(),
                               text.short_length(), pfDesc);
    }));
  });
}

// Reading a diagnostic removes it, so the message is read whole into the
// object's room and then cut to the application's buffer: SQL_SUCCESS_WITH_INFO
// tells a cut message (nothing is posted about reading diagnostics).
Q4_EXPORT SQLRETURN SQL_API SQLErrorW(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt,
                                      SQLWCHAR* wszSqlState, SQLINTEGER* pfNativeError,
                                      SQLWCHAR* wszErrorMsg, SQLSMALLINT cchErrorMsgMax,
                                      SQLSMALLINT* pcchErrorMsg) {
  return error_call(henv, hdbc, hstmt, [&](Environment* env, Connection* conn, Statement* stmt) {
    char state[SQL_SQLSTATE_SIZE + 1] = "";
    WideOut message(conn, stmt, wszErrorMsg, cchErrorMsgMax, WideUnit::kCharacters, pcchErrorMsg);
    SQLRETURN rc = read_diagnostic(
        env, conn, stmt, wszSqlState != nullptr ? reinterpret_cast<SQLCHAR*>(state) : nullptr,
        pfNativeError, message.text(), message.short_room(), message.short_length());
    copy_to_wide(state, SQL_SQLSTATE_SIZE, wszSqlState, SQL_SQLSTATE_SIZE + 1,
                 WideUnit::kCharacters);
    return message.finish(rc, WideOut::Report::kSilent);
  });
}
