// Bound parameter values as SQL literal text: the server takes statements as
// text only, so every value travels written into the statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"
#include "statement/request_writer.h"

namespace q4 {

// Appends the literal of `binding`'s current value to `out`. The value is read
// now, at execution, not when it was bound. The literal is written straight
// into the request, not through a scratch area, so it is copied once and has
// no length limit: the request buffer grows as it needs and no literal is ever
// cut short.
//
// A binary value (SQL_C_BINARY) is written as the token "0x<i>", i being the
// statement's binary_count before the call; its bytes go into a new binary
// block (binary_blocks[i]) that the writer appends after the text.
//
// Returns SQL_SUCCESS, or SQL_ERROR with a diagnostic posted on the statement
// (how much of the literal `out` holds is then unspecified).
SQLRETURN make_literal(Statement* stmt, const ParamBinding& binding, RequestWriter* out);

// The C type a binding's value is read as: `c_type` itself, or for
// SQL_C_DEFAULT the type that `sql_type` implies. 0 when SQL_C_DEFAULT meets
// an SQL type without a default C type.
SQLSMALLINT effective_c_type(SQLSMALLINT c_type, SQLSMALLINT sql_type);

}  // namespace q4
