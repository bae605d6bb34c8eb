// ODBC entry points: parameter binding and data at execution.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/odbc_version.h"
#include "platform/export.h"
#include "statement/bind_param.h"
#include "statement/data_at_exec.h"
#include "statement/param_array.h"
#include "statement/param_description.h"

using namespace q4;

// fParamType is not used: every parameter is an input parameter, and its
// length comes from *pcbValue at execution. cbValueMax steps through the rows
// of a parameter array.
Q4_EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT ipar,
                                             SQLSMALLINT /*fParamType*/, SQLSMALLINT fCType,
                                             SQLSMALLINT fSqlType, SQLULEN cbColDef,
                                             SQLSMALLINT ibScale, SQLPOINTER rgbValue,
                                             SQLLEN cbValueMax, SQLLEN* pcbValue) {
  return statement_call(hstmt, PendingCancel::kReportGeneral, [&](Statement* stmt) {
    return bind_parameter(stmt, ipar, caller_type_code(stmt, fCType),
                          caller_type_code(stmt, fSqlType), cbColDef, ibScale, rgbValue, cbValueMax,
                          pcbValue);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT hstmt, SQLUSMALLINT ipar,
                                             SQLSMALLINT* pfSqlType, SQLULEN* pcbParamDef,
                                             SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return describe_parameter(stmt, ipar, pfSqlType, pcbParamDef, pibScale, pfNullable);
  });
}

// The two below set or answer without looking at the statement's state, so
// they do not act on a pending cancel.
Q4_EXPORT SQLRETURN SQL_API SQLParamOptions(SQLHSTMT hstmt, SQLULEN crow, SQLULEN* pirow) {
  return statement_call_unchecked(
      hstmt, [&](Statement* stmt) { return set_param_options(stmt, crow, pirow); });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetParam(SQLHSTMT hstmt, SQLUSMALLINT /*ipar*/,
                                        SQLSMALLINT /*fCType*/, SQLSMALLINT /*fSqlType*/,
                                        SQLULEN /*cbParamDef*/, SQLSMALLINT /*ibScale*/,
                                        SQLPOINTER /*rgbValue*/, SQLLEN* /*pcbValue*/) {
  return statement_call_unchecked(hstmt, [&](Statement* stmt) { return set_param(stmt); });
}

Q4_EXPORT SQLRETURN SQL_API SQLParamData(SQLHSTMT hstmt, SQLPOINTER* prgbValue) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement* stmt) { return param_data(stmt, prgbValue); });
}

Q4_EXPORT SQLRETURN SQL_API SQLPutData(SQLHSTMT hstmt, SQLPOINTER rgbValue, SQLLEN cbValue) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement* stmt) { return put_data(stmt, rgbValue, cbValue); });
}
