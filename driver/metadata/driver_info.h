// SQLGetInfo and SQLGetFunctions: what the driver and its server support.
// Both work on the connection record alone and post on the connection.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLGetInfo's work on a valid connection. `value` receives the answer: 2 or
// 4 bytes for numeric answers (`value_max` is then ignored), a NUL-terminated
// string of at most value_max-1 characters otherwise. `length_out` (may be
// null) receives the answer's full length. A null `value` with `value_max` 0
// asks for the length only.
SQLRETURN get_info(Connection* conn, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT value_max,
                   SQLSMALLINT* length_out);

// True when `type` is answered with a string (SQLGetInfoW converts those).
bool info_answer_is_text(const Connection* conn, SQLUSMALLINT type);

// Number of entries SQLGetFunctions(SQL_API_ALL_FUNCTIONS) fills (index 0 is
// not written).
constexpr int kFunctionTableSize = 100;

// SQLGetFunctions's work on a valid connection: SQL_TRUE/SQL_FALSE for one
// function number into *exists, or for SQL_API_ALL_FUNCTIONS entries 1..99 of
// an array of kFunctionTableSize. Functions that need a later server level are
// FALSE on older servers. An ODBC 3 caller (core/odbc_version.h) is also told
// of the ODBC 3 functions the driver exports, one by one and in the bitmap of
// SQL_API_ODBC3_ALL_FUNCTIONS (SQL_API_ODBC3_ALL_FUNCTIONS_SIZE words).
// Always SQL_SUCCESS.
SQLRETURN get_functions(const Connection* conn, SQLUSMALLINT function, SQLUSMALLINT* exists);

}  // namespace q4
