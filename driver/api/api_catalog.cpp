// ODBC entry points: the catalog functions.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "core/handles.h"
#include "metadata/catalog.h"
#include "platform/export.h"

using namespace q4;

// Each export is a thin trampoline under the signature ODBC fixes for it, so
// the ones that take the same arguments (SQLTables and SQLColumns: four names
// each) look alike line for line. That is kept on purpose: a macro or template
// that stamped them out would hide the exported signatures, which are what a
// reader opens this file for.

Q4_EXPORT SQLRETURN SQL_API SQLTables(SQLHSTMT hstmt, SQLCHAR* szTableQualifier,
                                      SQLSMALLINT cbTableQualifier, SQLCHAR* szTableOwner,
                                      SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                      SQLSMALLINT cbTableName, SQLCHAR* szTableType,
                                      SQLSMALLINT cbTableType) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return catalog_tables(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                          {szTableName, cbTableName}, {szTableType, cbTableType});
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLColumns(SQLHSTMT hstmt, SQLCHAR* szTableQualifier,
                                       SQLSMALLINT cbTableQualifier, SQLCHAR* szTableOwner,
                                       SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                       SQLSMALLINT cbTableName, SQLCHAR* szColumnName,
                                       SQLSMALLINT cbColumnName) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return catalog_columns(stmt, {szTableQualifier, cbTableQualifier}, {szTableOwner, cbTableOwner},
                           {szTableName, cbTableName}, {szColumnName, cbColumnName});
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLStatistics(SQLHSTMT hstmt, SQLCHAR* szTableQualifier,
                                          SQLSMALLINT cbTableQualifier, SQLCHAR* szTableOwner,
                                          SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                          SQLSMALLINT cbTableName, SQLUSMALLINT fUnique,
                                          SQLUSMALLINT fAccuracy) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return catalog_statistics(stmt, {szTableQualifier, cbTableQualifier},
                              {szTableOwner, cbTableOwner}, {szTableName, cbTableName}, fUnique,
                              fAccuracy);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT hstmt, SQLCHAR* szTableQualifier,
                                           SQLSMALLINT cbTableQualifier, SQLCHAR* szTableOwner,
                                           SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                           SQLSMALLINT cbTableName) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return catalog_primary_keys(stmt, {szTableQualifier, cbTableQualifier},
                                {szTableOwner, cbTableOwner}, {szTableName, cbTableName});
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT hstmt, SQLUSMALLINT fColType,
                                              SQLCHAR* szTableQualifier,
                                              SQLSMALLINT cbTableQualifier, SQLCHAR* szTableOwner,
                                              SQLSMALLINT cbTableOwner, SQLCHAR* szTableName,
                                              SQLSMALLINT cbTableName, SQLUSMALLINT fScope,
                                              SQLUSMALLINT fNullable) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    return catalog_special_columns(stmt, fColType, {szTableQualifier, cbTableQualifier},
                                   {szTableOwner, cbTableOwner}, {szTableName, cbTableName}, fScope,
                                   fNullable);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT hstmt, SQLSMALLINT fSqlType) {
  return statement_call(hstmt, PendingCancel::kReportCancelled,
                        [&](Statement* stmt) { return catalog_type_info(stmt, fSqlType); });
}

// The level 2 catalog functions below are exported but do nothing: they
// return SQL_SUCCESS at once and leave the statement exactly as it was (no
// cancel check, no result), so an application sees an empty answer rather
// than a missing function.

Q4_EXPORT SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                                SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                                SQLSMALLINT) {
  return SQL_SUCCESS;
}

Q4_EXPORT SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                           SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                           SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return SQL_SUCCESS;
}

Q4_EXPORT SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                                SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                                SQLSMALLINT) {
  return SQL_SUCCESS;
}

Q4_EXPORT SQLRETURN SQL_API SQLProcedures(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                          SQLCHAR*, SQLSMALLINT) {
  return SQL_SUCCESS;
}

Q4_EXPORT SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                               SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return SQL_SUCCESS;
}
