// Commit and roll back.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// Commits (SQL_COMMIT) or rolls back (SQL_ROLLBACK) the work of one
// connection (command 0x11). Sent whatever the autocommit setting; the
// diagnostics are posted on the connection.
SQLRETURN transact_connection(Connection* conn, SQLUSMALLINT type);

// The same for every connection of `env`, newest first; stops at the first
// result other than SQL_SUCCESS and returns it. SQL_SUCCESS without
// connections.
SQLRETURN transact_environment(Environment* env, SQLUSMALLINT type);

}  // namespace q4
