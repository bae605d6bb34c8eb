// ODBC entry points: SQLSetEnvAttr and SQLGetEnvAttr.
#include <sql.h>
#include <sqlext.h>

#include "core/environment_attributes.h"
#include "platform/export.h"

using namespace q4;

Q4_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV henv, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                          SQLINTEGER /*cbValue*/) {
  if (henv == SQL_NULL_HENV) return SQL_INVALID_HANDLE;
  return set_environment_attribute(static_cast<Environment*>(henv), fAttribute, rgbValue);
}

Q4_EXPORT SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV henv, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                          SQLINTEGER /*cbValueMax*/, SQLINTEGER* pcbValue) {
  if (henv == SQL_NULL_HENV) return SQL_INVALID_HANDLE;
  return get_environment_attribute(static_cast<Environment*>(henv), fAttribute, rgbValue, pcbValue);
}
