// Which generation of the ODBC interface the driver is called through.
//
// The driver's behaviour is that of an ODBC 2.x driver: its SQLSTATEs are the
// 2.x ones, its result descriptions and catalog rows carry the 2.x date and
// time codes 9, 10 and 11. It also exports the ODBC 3 entry points that
// unixODBC needs to treat it as an ODBC 3.x driver (unixODBC does so exactly
// when the library exports SQLAllocHandle). Such a Driver Manager allocates
// the environment with SQLAllocHandle and from then on hands some calls over
// in their ODBC 3 form: it maps the date and time codes of SQLBindCol,
// SQLGetData and SQLBindParameter to 91, 92 and 93 (for ODBC 2 and ODBC 3
// applications alike), calls SQLFetch with the rowset attributes in force,
// passes statement attributes through SQLSetStmtAttr and asks a few ODBC 3
// questions of SQLGetInfo and SQLGetFunctions while it connects.
//
// The ODBC 2.x entry points behave exactly as before on handles from
// SQLAllocEnv; on handles from SQLAllocHandle they also take what that
// Driver Manager hands over, and give applications what unixODBC gave them
// for the 2.x driver (the states are still the 2.x ones: unixODBC maps them
// to the 3.x ones for ODBC 3 applications whatever generation the driver
// is).
//
// Left out on purpose, measured with unixODBC 2.3.11's trace:
// - SQLSetEnvAttr/SQLGetEnvAttr. Without them unixODBC keeps the driver's
//   ODBC version at 2.x (it still calls every function as for an ODBC 3.x
//   driver), allocates connections with SQLAllocConnect and tells an ODBC 3
//   application at connect "01000 Driver does not support the requested
//   version", as it did: the driver's states and type codes are the 2.x ones.
// - SQLGetDiagRec/SQLGetDiagField. With them unixODBC would read a
//   diagnostic twice, right after the call and again, from the driver, when
//   the application asks for it; a one-slot diagnostic emptied by the first
//   read would leave the application nothing, and one kept would come back
//   after a later call that failed without posting. With SQLError alone
//   unixODBC reads each diagnostic once, right after the call that left it
//   (emptying the slot as before), and answers SQLError, SQLGetDiagRec and
//   SQLGetDiagField from its own copy.
// - SQLSetConnectAttr/SQLGetConnectAttr, SQLEndTran, SQLCloseCursor,
//   SQLColAttribute and SQLBindParam: unixODBC maps them to the 2.x functions
//   for an ODBC 3.x driver too, so they keep exactly their 2.x behaviour.
// - Descriptors: the driver has none (api/api_odbc3_handles.cpp).
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

// The 3.x code of a date, time or timestamp type: 9, 10 and 11 become 91, 92
// and 93 (the C and the SQL codes coincide); any other code is returned as it
// is.
constexpr SQLSMALLINT odbc3_datetime_code(SQLSMALLINT code) {
  switch (code) {
    case SQL_DATE:
      return SQL_TYPE_DATE;
    case SQL_TIME:
      return SQL_TYPE_TIME;
    case SQL_TIMESTAMP:
      return SQL_TYPE_TIMESTAMP;
    default:
      return code;
  }
}

// The 2.x code of a date, time or timestamp type: 91, 92 and 93 become 9, 10
// and 11 (the C and the SQL codes coincide); any other code is returned as it
// is.
constexpr SQLSMALLINT odbc2_datetime_code(SQLSMALLINT code) {
  switch (code) {
    case SQL_TYPE_DATE:
      return SQL_DATE;
    case SQL_TYPE_TIME:
      return SQL_TIME;
    case SQL_TYPE_TIMESTAMP:
      return SQL_TIMESTAMP;
    default:
      return code;
  }
}

// The type code `code` as the 2.x entry points take it from `stmt`'s caller:
// an ODBC 3 caller's date and time codes in their 2.x form, everything else
// unchanged. This is the mapping unixODBC applied itself while it took the
// driver for a 2.x one, so the codes reaching conversion, literals and the
// server stay what they were.
inline SQLSMALLINT caller_type_code(const Statement* stmt, SQLSMALLINT code) {
  return odbc3_caller(stmt) ? odbc2_datetime_code(code) : code;
}

}  // namespace q4
