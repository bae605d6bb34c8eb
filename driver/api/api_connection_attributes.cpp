// ODBC entry points: connection attributes (SQLSetConnectAttr,
// SQLGetConnectAttr and their wide forms), the ODBC 3 forms of the
// connection options. What they map to is in connect/connection_attributes.h.
#include <sql.h>
#include <sqlext.h>

#include "api/statement_call.h"
#include "connect/connection_attributes.h"
#include "platform/export.h"

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
