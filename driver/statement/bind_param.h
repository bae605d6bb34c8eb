// Parameter bindings: SQLBindParameter, and SQLSetParam, which the driver
// answers without doing anything.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLBindParameter's work (the caller holds the statement's claim and ran enter_statement):
// binds parameter `number` to the application's `value` and `indicator`, which
// are read at every execution, not now. `buffer_length` (cbValueMax) matters
// only to parameter arrays, where it separates the rows of character and
// binary values; it is kept as given. A new number gets a new binding in
// ascending order; an existing one has its description replaced and its
// data-at-execution marks (complete, piece_seen) cleared, keeping its
// accumulation buffer. Nothing about the types is checked here: an unusable
// type fails the execution that needs it. Number 0 is refused ("S1094").
SQLRETURN bind_parameter(Statement* stmt, SQLUSMALLINT number, SQLSMALLINT c_type,
                         SQLSMALLINT sql_type, SQLULEN precision, SQLSMALLINT scale,
                         SQLPOINTER value, SQLLEN buffer_length, SQLLEN* indicator);

// SQLSetParam: succeeds without binding anything. Applications that want
// parameters use SQLBindParameter (the Driver Manager maps the ODBC 3 binding
// calls to it), so a text with markers after SQLSetParam alone fails at
// execution with "07001".
SQLRETURN set_param(Statement* stmt);

}  // namespace q4
