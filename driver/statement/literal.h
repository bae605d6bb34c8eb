// Bound parameter values as SQL literal text: the server takes statements as
// text only, so every value travels written into the statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Appends the literal of `binding`'s current value to request_buffer at
// offset *at and advances *at past it. The value is read now, at execution,
// not when it was bound. The literal is written straight into the request,
// not through a scratch area, so it is copied once and has no length limit:
// request_buffer grows as it needs (through reserve_request) and no literal is
// ever cut short.
//
// A binary value (SQL_C_BINARY) is written as the token "0x<i>", i being the
// statement's binary_count before the call; its bytes go into a new binary
// block (binary_blocks[i]) that substitute_parameters appends after the text.
//
// Returns SQL_SUCCESS, or SQL_ERROR with a diagnostic posted on the statement
// (what was written past the old *at is then garbage; *at is unspecified).
SQLRETURN make_literal(Statement* stmt, const ParamBinding& binding, uint64_t* at);

// The C type a binding's value is read as: `c_type` itself, or for
// SQL_C_DEFAULT the type that `sql_type` implies. 0 when SQL_C_DEFAULT meets
// an SQL type without a default C type.
SQLSMALLINT effective_c_type(SQLSMALLINT c_type, SQLSMALLINT sql_type);

}  // namespace q4
