// Cursor names and the scroll setting of a statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// Longest cursor name a statement can hold.
constexpr int kMaxCursorName = 18;

// SQLGetCursorName's work (in_call and the cancel check are the caller's).
// The name is the one set by SQLSetCursorName, or else "SQL_CUR" and the
// statement id in eight upper-case hexadecimal digits (not stored, so it is
// the same on every call). Copies at most `buffer_max` bytes, zero-padding a
// shorter name; a name that does not fit is cut with a NUL in the last byte
// and reported as "01004" with SQL_SUCCESS_WITH_INFO. `*length_out` (when
// given) always receives the full length.
SQLRETURN get_cursor_name(Statement* stmt, SQLCHAR* buffer, SQLSMALLINT buffer_max,
                          SQLSMALLINT* length_out);

// SQLSetCursorName's work: `length` is a byte count or SQL_NTS. Names are
// unique per connection and compared case-sensitively.
SQLRETURN set_cursor_name(Statement* stmt, const SQLCHAR* name, SQLSMALLINT length);

// SQLSetScrollOptions' work: only the rowset size is taken.
SQLRETURN set_scroll_options(Statement* stmt, SQLUSMALLINT rowset_size);

}  // namespace q4
