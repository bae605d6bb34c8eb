// ODBC entry points: connection attributes (SQLSetConnectAttr,
// SQLGetConnectAttr and their wide forms), ending transactions (SQLEndTran)
// and closing cursors (SQLCloseCursor), the ODBC 3 forms of the connection
// options, SQLTransact and SQLFreeStmt(SQL_CLOSE). What they map to is in
// connect/connection_attributes.h, statement/transact.h and
// statement/close_cursor.h.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "connect/connection_attributes.h"
#include "platform/export.h"
#include "statement/close_cursor.h"
#include "statement/transact.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC hdbc, SQLINTEGER fAttribute,
                                              SQLPOINTER rgbValue, SQLINTEGER cbValue) {
  return connection_call(hdbc, [&](Connection* conn) {
    return set_connect_attr(conn, fAttribute, rgbValue, cbValue, AttributeText::kNarrow);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC hdbc, SQLINTEGER fAttribute,
                                               SQLPOINTER rgbValue, SQLINTEGER cbValue) {
  return connection_call(hdbc, [&](Connection* conn) {
    return set_connect_attr(conn, fAttribute, rgbValue, cbValue, AttributeText::kWide);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC hdbc, SQLINTEGER fAttribute,
                                              SQLPOINTER rgbValue, SQLINTEGER cbValueMax,
                                              SQLINTEGER* pcbValue) {
  return connection_call(hdbc, [&](Connection* conn) {
    return get_connect_attr(conn, fAttribute, rgbValue, cbValueMax, pcbValue,
                            AttributeText::kNarrow);
  });
}

Q4_EXPORT SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC hdbc, SQLINTEGER fAttribute,
                                               SQLPOINTER rgbValue, SQLINTEGER cbValueMax,
                                               SQLINTEGER* pcbValue) {
  return connection_call(hdbc, [&](Connection* conn) {
    return get_connect_attr(conn, fAttribute, rgbValue, cbValueMax, pcbValue, AttributeText::kWide);
  });
}

// As SQLTransact: the connection under its call lock, or every connection
// of the environment. Descriptor and statement handles end no transaction.
Q4_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT fHandleType, SQLHANDLE hHandle,
                                       SQLSMALLINT fType) {
  if (hHandle == SQL_NULL_HANDLE) return SQL_INVALID_HANDLE;
  const auto type = static_cast<SQLUSMALLINT>(fType);
  switch (fHandleType) {
    case SQL_HANDLE_DBC:
      return connection_call(hHandle,
                             [&](Connection* conn) { return transact_connection(conn, type); });
    case SQL_HANDLE_ENV:
      return transact_environment(static_cast<Environment*>(hHandle), type);
    default:
      return SQL_INVALID_HANDLE;
  }
}

// As SQLFreeStmt: a pending cancel is not acted on (closing is what it would
// do anyway).
Q4_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT hstmt) {
  return statement_call_unchecked(hstmt, [&](Statement* stmt) { return close_cursor(stmt); });
}
