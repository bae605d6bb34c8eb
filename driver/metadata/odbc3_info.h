// The SQLGetInfo answers that only an ODBC 3 caller (core/odbc_version.h)
// gets.
//
// unixODBC asks an ODBC 3.x driver for SQL_STATIC_CURSOR_ATTRIBUTES1 while it
// connects, before the application sees the connection, whenever the
// application asked for the cursor library only "if needed" (PDO_ODBC does):
// without SQL_CA1_ABSOLUTE in the answer it would put its cursor library
// between application and driver. Of the 2.x driver it asked
// SQL_FETCH_DIRECTION instead; the answer says in ODBC 3 terms what that one
// says: static cursors fetch next, absolute, relative and by bookmark. A
// refusal would also leave its diagnostic in the connection's slot, which
// unixODBC reads with SQLError as the connect returns. (Its other question of
// an ODBC 3.x driver, SQL_XOPEN_CLI_YEAR, it answers itself.)
//
// The parameter array questions of ODBC 3 (SQL_PARAM_ARRAY_ROW_COUNTS,
// SQL_PARAM_ARRAY_SELECTS) are answered here too: ODBC 2 has no such types.
//
// SQLGetFunctions' side of the ODBC 3 caller is in metadata/functions.cpp:
// unixODBC asks for SQL_API_ODBC3_ALL_FUNCTIONS right after the connect and
// stops calling every exported function the bitmap leaves out.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"
#include "metadata/info_table.h"

namespace q4 {

// The row answering `type` for `conn`'s ODBC 3 caller or ODBC 3 application;
// null when the type is not one of theirs.
const InfoRow* find_odbc3_info_row(const Connection* conn, unsigned type);

}  // namespace q4
