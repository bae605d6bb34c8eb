// ODBC entry points: SQLColAttribute and its wide form, the ODBC 3 questions
// about a result column. The answers are results/describe.h's; the two
// forms differ only in how a text is written (UTF-8 or UTF-16, lengths in
// bytes both).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/statement_call.h"
#include "platform/export.h"
#include "results/describe.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT hstmt, SQLUSMALLINT iCol, SQLUSMALLINT iField,
                                            SQLPOINTER pCharAttr, SQLSMALLINT cbCharAttrMax,
                                            SQLSMALLINT* pcbCharAttr, SQLLEN* pNumAttr) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return column_attribute(stmt, iCol, iField, pCharAttr, cbCharAttrMax, pcbCharAttr, pNumAttr,
                            TextForm::kNarrow);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT iCol, SQLUSMALLINT iField,
                                             SQLPOINTER pCharAttr, SQLSMALLINT cbCharAttrMax,
                                             SQLSMALLINT* pcbCharAttr, SQLLEN* pNumAttr) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return column_attribute(stmt, iCol, iField, pCharAttr, cbCharAttrMax, pcbCharAttr, pNumAttr,
                            TextForm::kWide);
  });
}
