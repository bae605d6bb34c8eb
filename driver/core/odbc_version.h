// Which generation of the ODBC interface the driver is called through.
//
// Two facts decide it. An environment from SQLAllocHandle is an ODBC 3
// caller's (`odbc3_caller`): a Driver Manager that takes the driver for an
// ODBC 3.x driver (unixODBC does so exactly when the library exports
// SQLAllocHandle) and hands some calls over in their ODBC 3 form: the date
// and time codes of SQLBindCol, SQLGetData and SQLBindParameter as 91, 92
// and 93 (for ODBC 2 and ODBC 3 applications alike), SQLFetch with the
// rowset attributes in force, statement attributes through SQLSetStmtAttr.
// And the version the application declared with SQLSetEnvAttr
// (`odbc_version`, ODBC 2 for an environment from SQLAllocEnv): it decides
// what the application is given.
//
// unixODBC 2.3.11, measured with its trace: it allocates the driver's
// environment with SQLAllocHandle, sets SQL_ATTR_ODBC_VERSION to the version
// the application declared and reads it back with SQLGetEnvAttr. An
// application declaring 3 or 3.80 therefore connects without the "01000
// Driver does not support the requested version" warning it was given while
// the driver had no environment attributes (unixODBC then kept the driver at
// 2.x and said so at every connect). An ODBC 2 application is declared as
// such and sees what it saw before: the 2.x states, texts and type codes.
// The driver itself gives an application declaring 3 or 3.80 the 3.x
// SQLSTATEs (core/odbc3_states.h) and several diagnostic records per call
// (core/diagnostics.h); unixODBC also maps states between the generations
// by the application's version (S1000 to HY000 for a 3.x application, HY000
// to S1000 for a 2.x one), so a 2.x application sees the 2.x states either
// way. With SQLGetDiagRec and SQLGetDiagField exported, unixODBC reads the
// records through SQLGetDiagRec right after the call, for ODBC 2 and ODBC 3
// applications alike (observed under gdb: it no longer calls SQLError), and
// answers the application from its own copy; the records stay until the next
// call on the handle (core/diagnostics.h: records_per_call), so a second
// read finds them again and none outlives its call.
//
// An application declaring 3 or 3.80 is also told the driver speaks
// "03.80" (SQLGetInfo), gets the ODBC 3 information types
// (metadata/odbc3_info.h) and the ODBC 3 date and time codes in
// SQLDescribeCol, and may pass them as C and SQL types to the 2.x entry
// points (caller_type_code). The DATA_TYPE of catalog rows (SQLColumns,
// SQLSpecialColumns, SQLGetTypeInfo) is given in the application's
// generation too (results/type_codes.h); SQLGetTypeInfo takes either
// generation's code.
//
// Left out on purpose so far: SQLBindParam (unixODBC maps it to
// SQLBindParameter for an ODBC 3.x driver too). SQLColAttribute, the
// descriptors, SQLSetConnectAttr/SQLGetConnectAttr, SQLEndTran and
// SQLCloseCursor are the driver's own (api/api_descriptors.cpp,
// api/api_connection_attributes.cpp, results/column_attributes.h).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// Whether `conn` belongs to an environment from SQLAllocHandle. Records
// without an environment (tests build them) count as ODBC 2.x.
inline bool odbc3_caller(const Connection* conn) {
  return conn->environment != nullptr && conn->environment->odbc3_caller != 0;
}
inline bool odbc3_caller(const Statement* stmt) {
  return odbc3_caller(stmt->connection);
}

// The ODBC version the application of `conn` or `stmt` declared. Records
// without an environment (tests build them) count as ODBC 2.x.
inline OdbcVersion odbc_version(const Connection* conn) {
  return conn->environment != nullptr ? conn->environment->odbc_version : OdbcVersion::kOdbc2;
}
inline OdbcVersion odbc_version(const Statement* stmt) {
  return odbc_version(stmt->connection);
}
// Whether the application declared ODBC 3.x (3.0 or 3.80): it is given the
// ODBC 3 SQLSTATEs and the ODBC 3 date and time type codes.
inline bool odbc3_application(const Connection* conn) {
  return odbc_version(conn) != OdbcVersion::kOdbc2;
}
inline bool odbc3_application(const Statement* stmt) {
  return odbc3_application(stmt->connection);
}

// The two generations number the date, time and timestamp types 9, 10, 11
// and 91, 92, 93, in the same order (the C and the SQL codes coincide).
inline constexpr SQLSMALLINT kDatetimeCodeStep = SQL_TYPE_DATE - SQL_DATE;
static_assert(SQL_TYPE_TIME - SQL_TIME == kDatetimeCodeStep &&
                  SQL_TYPE_TIMESTAMP - SQL_TIMESTAMP == kDatetimeCodeStep,
              "9, 10, 11 and 91, 92, 93");

// The 3.x code of a date, time or timestamp type; any other code as it is.
constexpr SQLSMALLINT odbc3_datetime_code(SQLSMALLINT code) {
  return code >= SQL_DATE && code <= SQL_TIMESTAMP
             ? static_cast<SQLSMALLINT>(code + kDatetimeCodeStep)
             : code;
}

// The 2.x code of a date, time or timestamp type; any other code as it is.
constexpr SQLSMALLINT odbc2_datetime_code(SQLSMALLINT code) {
  return code >= SQL_TYPE_DATE && code <= SQL_TYPE_TIMESTAMP
             ? static_cast<SQLSMALLINT>(code - kDatetimeCodeStep)
             : code;
}

// The type code `code` as the 2.x entry points take it from `stmt`'s caller:
// the date and time codes of an ODBC 3 caller or application in their 2.x
// form, everything else unchanged. This is the mapping unixODBC applied itself while it took the
// driver for a 2.x one, so the codes reaching conversion, literals and the
// server stay what they were.
inline SQLSMALLINT caller_type_code(const Statement* stmt, SQLSMALLINT code) {
  // The code first: most are no date or time code, and then the caller's
  // generation (three loads away) is never looked at.
  if (code < SQL_TYPE_DATE || code > SQL_TYPE_TIMESTAMP) return code;
  return odbc3_caller(stmt) || odbc3_application(stmt) ? odbc2_datetime_code(code) : code;
}

}  // namespace q4
