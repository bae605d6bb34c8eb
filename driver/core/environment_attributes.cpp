#include "core/environment_attributes.h"

#include <cstdint>

#include "core/diagnostics.h"

namespace q4 {

namespace {

// SQL_CP_DRIVER_AWARE, which unixODBC's headers do not define.
constexpr SQLUINTEGER kCpDriverAware = 3;

// SQLSetEnvAttr passes an integer attribute in the pointer itself.
SQLUINTEGER integer_value(SQLPOINTER value) {
  return static_cast<SQLUINTEGER>(reinterpret_cast<uintptr_t>(value));
}

bool odbc_version_of(SQLUINTEGER value, OdbcVersion* out) {
  switch (value) {
    case SQL_OV_ODBC2:
      *out = OdbcVersion::kOdbc2;
      return true;
    case SQL_OV_ODBC3:
      *out = OdbcVersion::kOdbc3;
      return true;
    case SQL_OV_ODBC3_80:
      *out = OdbcVersion::kOdbc380;
      return true;
    default:
      return false;
  }
}

SQLINTEGER odbc_version_value(OdbcVersion version) {
  switch (version) {
    case OdbcVersion::kOdbc3:
      return SQL_OV_ODBC3;
    case OdbcVersion::kOdbc380:
      return SQL_OV_ODBC3_80;
    case OdbcVersion::kOdbc2:
      break;
  }
  return SQL_OV_ODBC2;
}

}  // namespace

SQLRETURN set_environment_attribute(Environment* env, SQLINTEGER attribute, SQLPOINTER value) {
  clear_diagnostic(env->sqlstate, env->message);
  const SQLUINTEGER number = integer_value(value);
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION: {
      OdbcVersion version;
      if (!odbc_version_of(number, &version)) {
        return post_environment_error(env, kDiagInvalidAttributeValue);
      }
      // The version decides the states and type codes every connection of
      // the environment answers with; changing it under a live connection
      // would change them halfway through an application's work.
      LockGuard guard(&env->lock);
      if (env->connections != nullptr && version != env->odbc_version) {
        return post_environment_error(env, kDiagSequence);
      }
      env->odbc_version = version;
      return SQL_SUCCESS;
    }
    case SQL_ATTR_OUTPUT_NTS:
      // Every string the driver returns ends with a NUL; an application that
      // wants them without one is told the driver cannot.
      if (number == SQL_TRUE) return SQL_SUCCESS;
      if (number == SQL_FALSE) return post_environment_error(env, kDiagNotCapable);
      return post_environment_error(env, kDiagInvalidAttributeValue);
    case SQL_ATTR_CONNECTION_POOLING:
      // Pooling is the Driver Manager's: the driver keeps what it was told so
      // that it can answer it, and pools nothing itself.
      if (number != SQL_CP_OFF && number != SQL_CP_ONE_PER_DRIVER &&
          number != SQL_CP_ONE_PER_HENV && number != kCpDriverAware) {
        return post_environment_error(env, kDiagInvalidAttributeValue);
      }
      env->connection_pooling = number;
      return SQL_SUCCESS;
    case SQL_ATTR_CP_MATCH:
      if (number != SQL_CP_STRICT_MATCH && number != SQL_CP_RELAXED_MATCH) {
        return post_environment_error(env, kDiagInvalidAttributeValue);
      }
      env->cp_match = number;
      return SQL_SUCCESS;
    default:
      return post_environment_error(env, kDiagAttributeIdentifier);
  }
}

SQLRETURN get_environment_attribute(Environment* env, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER* length) {
  clear_diagnostic(env->sqlstate, env->message);
  SQLINTEGER answer;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      answer = odbc_version_value(env->odbc_version);
      break;
    case SQL_ATTR_OUTPUT_NTS:
      answer = SQL_TRUE;
      break;
    case SQL_ATTR_CONNECTION_POOLING:
      answer = static_cast<SQLINTEGER>(env->connection_pooling);
      break;
    case SQL_ATTR_CP_MATCH:
      answer = static_cast<SQLINTEGER>(env->cp_match);
      break;
    default:
      return post_environment_error(env, kDiagAttributeIdentifier);
  }
  if (value != nullptr) *static_cast<SQLINTEGER*>(value) = answer;
  if (length != nullptr) *length = sizeof(SQLINTEGER);
  return SQL_SUCCESS;
}

}  // namespace q4
