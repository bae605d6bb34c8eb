// ODBC entry points: the wide forms of the catalog functions. The names an
// application passes in UTF-16 reach the catalog requests as UTF-8
// (metadata/wide_catalog_names.h); the result is read like any other, its
// text delivered as the application binds it.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/statement_call.h"
#include "core/handles.h"
#include "metadata/catalog.h"
#include "metadata/wide_catalog_names.h"
#include "platform/export.h"

using namespace q4;

namespace {

// A statement call whose body gets the converted names.
template <typename Body>
SQLRETURN wide_catalog_call(SQLHSTMT hstmt, std::initializer_list<WideName> names, Body&& body) {
  return statement_call(hstmt, PendingCancel::kReportCancelled, [&](Statement* stmt) {
    WideCatalogNames utf8(stmt, names);
    if (utf8.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return body(stmt, utf8);
  });
}

using Names = const WideCatalogNames&;

// The level 2 catalog functions: SQL_SUCCESS at once, the statement left as
// it was (no cancel check, no result), an empty answer rather than a missing
// function.
SQLRETURN absent_catalog_function(SQLHSTMT /*hstmt*/) {
  return SQL_SUCCESS;
}

}  // namespace

// Parameters: catalog (qualifier), schema (owner), table, and the function's
// own, each name followed by its length in characters.

Q4_EXPORT SQLRETURN SQL_API SQLTablesW(SQLHSTMT hstmt, SQLWCHAR* cat, SQLSMALLINT cc, SQLWCHAR* sch,
                                       SQLSMALLINT cs, SQLWCHAR* tab, SQLSMALLINT ct,
                                       SQLWCHAR* types, SQLSMALLINT cy) {
  return wide_catalog_call(
      hstmt, {{cat, cc}, {sch, cs}, {tab, ct}, {types, cy}},
      [](Statement* s, Names n) { return catalog_tables(s, n[0], n[1], n[2], n[3]); });
}

Q4_EXPORT SQLRETURN SQL_API SQLColumnsW(SQLHSTMT hstmt, SQLWCHAR* cat, SQLSMALLINT cc,
                                        SQLWCHAR* sch, SQLSMALLINT cs, SQLWCHAR* tab,
                                        SQLSMALLINT ct, SQLWCHAR* col, SQLSMALLINT cl) {
  return wide_catalog_call(
      hstmt, {{cat, cc}, {sch, cs}, {tab, ct}, {col, cl}},
      [](Statement* s, Names n) { return catalog_columns(s, n[0], n[1], n[2], n[3]); });
}

Q4_EXPORT SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT hstmt, SQLWCHAR* cat, SQLSMALLINT cc,
                                           SQLWCHAR* sch, SQLSMALLINT cs, SQLWCHAR* tab,
                                           SQLSMALLINT ct, SQLUSMALLINT fUnique,
                                           SQLUSMALLINT fAccuracy) {
  return wide_catalog_call(hstmt, {{cat, cc}, {sch, cs}, {tab, ct}}, [&](Statement* s, Names n) {
    return catalog_statistics(s, n[0], n[1], n[2], fUnique, fAccuracy);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT hstmt, SQLWCHAR* cat, SQLSMALLINT cc,
                                            SQLWCHAR* sch, SQLSMALLINT cs, SQLWCHAR* tab,
                                            SQLSMALLINT ct) {
  return wide_catalog_call(hstmt, {{cat, cc}, {sch, cs}, {tab, ct}}, [](Statement* s, Names n) {
    return catalog_primary_keys(s, n[0], n[1], n[2]);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT hstmt, SQLUSMALLINT fColType, SQLWCHAR* cat,
                                               SQLSMALLINT cc, SQLWCHAR* sch, SQLSMALLINT cs,
                                               SQLWCHAR* tab, SQLSMALLINT ct, SQLUSMALLINT fScope,
                                               SQLUSMALLINT fNullable) {
  return wide_catalog_call(hstmt, {{cat, cc}, {sch, cs}, {tab, ct}}, [&](Statement* s, Names n) {
    return catalog_special_columns(s, fColType, n[0], n[1], n[2], fScope, fNullable);
  });
}

// No text argument; exported so that the Driver Manager, which takes a
// driver with wide entry points for a Unicode one, finds the wide form.
Q4_EXPORT SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT hstmt, SQLSMALLINT fSqlType) {
  return wide_catalog_call(
      hstmt, {}, [&](Statement* stmt, Names) { return catalog_type_info(stmt, fSqlType); });
}

// The level 2 catalog functions do nothing in either form (api_catalog.cpp).

Q4_EXPORT SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                                 SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                                 SQLSMALLINT) {
  return absent_catalog_function(hstmt);
}

Q4_EXPORT SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                            SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                            SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                            SQLSMALLINT) {
  return absent_catalog_function(hstmt);
}

Q4_EXPORT SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                                 SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                                 SQLSMALLINT) {
  return absent_catalog_function(hstmt);
}

Q4_EXPORT SQLRETURN SQL_API SQLProceduresW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                           SQLSMALLINT, SQLWCHAR*, SQLSMALLINT) {
  return absent_catalog_function(hstmt);
}

Q4_EXPORT SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                                SQLSMALLINT, SQLWCHAR*, SQLSMALLINT) {
  return absent_catalog_function(hstmt);
}
