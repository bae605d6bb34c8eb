// SQLDriverConnect: connecting from a connection string, completing it with
// dialogs where the completion mode allows, and answering the completed
// string.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// SQLDriverConnect's work. `window` owns any dialog shown.
// - The profile of the named data source is read first (a DRIVER item before
//   the DSN item means no data source is named), then the string's items
//   override it.
// - Completion: SQL_DRIVER_NOPROMPT needs DSN or DRIVER and a user, else
//   SQL_ERROR with nothing posted; SQL_DRIVER_COMPLETE(_REQUIRED) connects when
//   it can and falls back to the full dialog; SQL_DRIVER_PROMPT always shows
//   the full dialog; any other mode is SQL_ERROR with nothing posted.
// - The completed string goes to `out` cut to out_max-1 characters without
//   any warning; *out_length receives the copied length after a successful
//   connect.
// - A dialog's non-zero result ends the call with that result.
SQLRETURN driver_connect(Connection* conn, Window* window, const SQLCHAR* in, SQLSMALLINT in_length,
                         SQLCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                         SQLUSMALLINT completion);

}  // namespace q4
