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

namespace {

SQLRETURN attribute(SQLHSTMT hstmt, SQLUSMALLINT col, SQLUSMALLINT field, SQLPOINTER text,
                    SQLSMALLINT text_max, SQLSMALLINT* text_length, SQLLEN* number, TextForm form) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return column_attribute(stmt, col, field, text, text_max, text_length, number, form);
  });
}

}  // namespace

Q4_EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT hstmt, SQLUSMALLINT iCol, SQLUSMALLINT iField,
                                            SQLPOINTER pCharAttr, SQLSMALLINT cbCharAttrMax,
                                            SQLSMALLINT* pcbCharAttr, SQLLEN* pNumAttr) {
  return attribute(hstmt, iCol, iField, pCharAttr, cbCharAttrMax, pcbCharAttr, pNumAttr,
                   TextForm::kNarrow);
}

Q4_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT iCol, SQLUSMALLINT iField,
                                             SQLPOINTER pCharAttr, SQLSMALLINT cbCharAttrMax,
                                             SQLSMALLINT* pcbCharAttr, SQLLEN* pNumAttr) {
  return attribute(hstmt, iCol, iField, pCharAttr, cbCharAttrMax, pcbCharAttr, pNumAttr,
                   TextForm::kWide);
}
