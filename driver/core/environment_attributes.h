// SQLSetEnvAttr and SQLGetEnvAttr: the application's ODBC version and the
// other environment attributes an application (or its Driver Manager) sets.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLSetEnvAttr's work on `env` (the caller holds nothing: the environment's
// lock is taken here where the connection list is read). Diagnostics go to
// the environment's slot.
SQLRETURN set_environment_attribute(Environment* env, SQLINTEGER attribute, SQLPOINTER value);

// SQLGetEnvAttr's work: every attribute is an SQLINTEGER; a null `value`
// writes nothing and succeeds (the length, when asked, is still given).
SQLRETURN get_environment_attribute(Environment* env, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER* length);

}  // namespace q4
