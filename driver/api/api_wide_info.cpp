// ODBC entry points: the wide forms of driver information, cursor names,
// native SQL, connection options and statement attributes. Text answers
// leave as UTF-16 (core/wide_arguments.h): SQLGetInfoW counts in bytes,
// the cursor name and the native text in characters.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/statement_call.h"
#include "core/wide_arguments.h"
#include "metadata/driver_info.h"
#include "platform/export.h"
#include "statement/attributes.h"
#include "statement/cursor_name.h"
#include "statement/execute.h"
#include "statement/options.h"

using namespace q4;

namespace {

template <typename Work>
SQLRETURN attribute_call(SQLHSTMT hstmt, Work work, SQLINTEGER attribute, SQLPOINTER value) {
  return statement_call(hstmt, PendingCancel::kReportGeneral,
                        [&](Statement* stmt) { return work(stmt, attribute, value); });
}

}  // namespace

// Numeric answers are the narrow call's, unchanged; so is a null buffer with
// a non-zero length, which the narrow call refuses.
Q4_EXPORT SQLRETURN SQL_API SQLGetInfoW(SQLHDBC hdbc, SQLUSMALLINT fInfoType,
                                        SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                                        SQLSMALLINT* pcbInfoValue) {
  return connection_call(hdbc, [&](Connection* conn) {
    if (!info_answer_is_text(conn, fInfoType) || (rgbInfoValue == nullptr && cbInfoValueMax != 0)) {
      return get_info(conn, fInfoType, rgbInfoValue, cbInfoValueMax, pcbInfoValue);
    }
    WideOut text(conn, nullptr, rgbInfoValue, cbInfoValueMax, WideUnit::kBytes, pcbInfoValue);
    return text.finish(
        get_info(conn, fInfoType, text.text(), text.short_room(), text.short_length()));
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* szCursor,
                                              SQLSMALLINT cchCursorMax, SQLSMALLINT* pcchCursor) {
  return statement_call(hstmt, PendingCancel::kReportGeneral, [&](Statement* stmt) {
    WideOut name(nullptr, stmt, szCursor, cchCursorMax, WideUnit::kCharacters, pcchCursor);
    return name.finish(get_cursor_name(stmt, name.text(), name.short_room(), name.short_length()));
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* szCursor,
                                              SQLSMALLINT cchCursor) {
  return statement_call(hstmt, PendingCancel::kReportGeneral, [&](Statement* stmt) {
    WideIn name(nullptr, stmt, szCursor, cchCursor);
    if (name.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return set_cursor_name(stmt, name.text(), name.short_length());
  });
}

// The narrow call reads its input to the NUL; the wide one takes the length
// given (converted text is NUL-terminated). A negative room with a buffer is
// the narrow call's "S1090".
Q4_EXPORT SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC hdbc, SQLWCHAR* szSqlStrIn,
                                          SQLINTEGER cchSqlStrIn, SQLWCHAR* szSqlStr,
                                          SQLINTEGER cchSqlStrMax, SQLINTEGER* pcchSqlStr) {
  return connection_call(hdbc, [&](Connection* conn) {
    WideIn in(conn, nullptr, szSqlStrIn, cchSqlStrIn);
    if (in.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    if (szSqlStr != nullptr && cchSqlStrMax < 0) {
      return native_sql(conn, in.text(), reinterpret_cast<SQLCHAR*>(szSqlStr), cchSqlStrMax,
                        nullptr);
    }
    WideOut out(conn, nullptr, szSqlStr, cchSqlStrMax, WideUnit::kCharacters, pcchSqlStr,
                int64_t{in.length()} + 1);
    if (out.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return out.finish(native_sql(conn, in.text(), out.text(), out.room(), out.long_length()));
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT fOption,
                                                 SQLULEN vParam) {
  return connection_call(hdbc, [&](Connection* conn) {
    if (!is_text_connect_option(fOption)) return set_connect_option(conn, fOption, vParam);
    WideIn text(conn, nullptr, reinterpret_cast<const SQLWCHAR*>(vParam), SQL_NTS);
    if (text.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return set_connect_option(conn, fOption, reinterpret_cast<SQLULEN>(text.text()));
  });
}

// A text answer's buffer is taken to hold SQL_MAX_OPTION_STRING_LENGTH + 1
// bytes, as for the narrow call: the current qualifier's longest answer takes
// less than half of that in UTF-16.
Q4_EXPORT SQLRETURN SQL_API SQLGetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT fOption,
                                                 SQLPOINTER pvParam) {
  if (hdbc == SQL_NULL_HDBC) return SQL_ERROR;  // as the narrow call: nowhere to post
  return connection_call(hdbc, [&](Connection* conn) {
    if (!is_text_connect_option(fOption) || pvParam == nullptr) {
      return get_connect_option(conn, fOption, pvParam);
    }
    WideOut text(conn, nullptr, pvParam, SQL_MAX_OPTION_STRING_LENGTH + 1, WideUnit::kBytes,
                 static_cast<SQLINTEGER*>(nullptr));
    SQLRETURN rc = get_connect_option(conn, fOption, text.text());
    text.measure_text();
    return text.finish(rc);
  });
}

// No statement attribute is a text: the wide forms answer as the narrow
// ones, a pending cancel reported as "S1000".
Q4_EXPORT SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER attribute, SQLPOINTER value,
                                            SQLINTEGER /*length*/) {
  return attribute_call(hstmt, set_stmt_attr, attribute, value);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER attribute, SQLPOINTER value,
                                            SQLINTEGER /*room*/, SQLINTEGER* /*length*/) {
  return attribute_call(hstmt, get_stmt_attr, attribute, value);
}
