// ODBC entry points: preparing and executing statements, and describing
// their results.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "platform/export.h"
#include "results/describe.h"
#include "results/result_set.h"
#include "statement/execute.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return new_text_call(hstmt, [&](Statement* stmt) {
    return prepare_statement(stmt, reinterpret_cast<const char*>(szSqlStr), cbSqlStr);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return new_text_call(hstmt, [&](Statement* stmt) {
    return execute_direct(stmt, reinterpret_cast<const char*>(szSqlStr), cbSqlStr);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement* stmt) { return execute_prepared(stmt); });
}

Q4_EXPORT SQLRETURN SQL_API SQLNumParams(SQLHSTMT hstmt, SQLSMALLINT* pcpar) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement* stmt) { return count_parameters(stmt, pcpar); });
}

Q4_EXPORT SQLRETURN SQL_API SQLNativeSql(SQLHDBC hdbc, SQLCHAR* szSqlStrIn,
                                         SQLINTEGER /*cbSqlStrIn: the text is read to its NUL*/,
                                         SQLCHAR* szSqlStr, SQLINTEGER cbSqlStrMax,
                                         SQLINTEGER* pcbSqlStr) {
  return connection_call(hdbc, [&](Connection* conn) {
    return native_sql(conn, szSqlStrIn, szSqlStr, cbSqlStrMax, pcbSqlStr);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* pccol) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement* stmt) { return num_result_cols(stmt, pccol); });
}

Q4_EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLCHAR* szColName,
                                           SQLSMALLINT cbColNameMax, SQLSMALLINT* pcbColName,
                                           SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                           SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return describe_column(stmt, icol, szColName, cbColNameMax, pcbColName, pfSqlType, pcbColDef,
                           pibScale, pfNullable);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLColAttributes(SQLHSTMT hstmt, SQLUSMALLINT icol,
                                             SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                                             SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc,
                                             SQLLEN* pfDesc) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return column_attributes(stmt, icol, fDescType, rgbDesc, cbDescMax, pcbDesc, pfDesc);
  });
}

// SQLRowCount reads a count and does not act on a pending cancel.
Q4_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT hstmt, SQLLEN* pcrow) {
  return statement_call_unchecked(hstmt, [&](Statement* stmt) { return row_count(stmt, pcrow); });
}

// A statement never has a second result set.
Q4_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT hstmt) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement*) -> SQLRETURN { return SQL_NO_DATA_FOUND; });
}
