// Closing a statement's cursor (SQLCloseCursor), the ODBC 3 form of
// SQLFreeStmt(SQL_CLOSE) that tells an application when there was no cursor
// to close.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLCloseCursor's work: "24000" "Invalid cursor state" when the statement
// has no result open; otherwise what SQLFreeStmt(SQL_CLOSE) does (the
// piecewise read and pending parameter blocks end, the cursor goes before the
// first row), and the result itself is discarded, so that the cursor is
// closed: a second close says "24000" and the cursor name can be changed.
// Bindings, the prepared text and the options stay.
SQLRETURN close_cursor(Statement* stmt);

}  // namespace q4
