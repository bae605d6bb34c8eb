// SQLExtendedFetch's work: rowsets positioned by a fetch type, filled row by
// row into the bound columns' arrays, with a status per row. The cursor is
// read-only, so SQLSetPos has nothing to do but refuse.
//
// Everything here runs inside a statement call that holds the statement's claim and has run
// enter_statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// The first row of the rowset that `fetch_type` asks for (not for
// SQL_FETCH_NEXT, which continues where the cursor stands). May count the
// result's rows, reading it to its end. A value of 0 or below means "before
// the first row"; a value past the last row means "after the end".
int32_t rowset_start(Statement* stmt, SQLUSMALLINT fetch_type, int32_t irow);

// Steps through up to rowset_size rows from where the cursor stands, filling
// the bound columns at each row's array position. `row_count_out` (may be
// null) receives the number of rows the rowset holds; `statuses` (may be
// null) receives one SQL_ROW_* value per rowset position. SQL_SUCCESS;
// SQL_SUCCESS_WITH_INFO with "01S01" when some row failed (its status
// SQL_ROW_ERROR); SQL_NO_DATA_FOUND when not even the first row exists
// (nothing written to *row_count_out).
SQLRETURN fill_rowset(Statement* stmt, SQLULEN* row_count_out, SQLUSMALLINT* statuses);

// SQLExtendedFetch's work after enter_statement.
SQLRETURN extended_fetch(Statement* stmt, SQLUSMALLINT fetch_type, int32_t irow,
                         SQLULEN* row_count_out, SQLUSMALLINT* statuses);

// SQLSetPos's answer, whatever its arguments: "S1C00", SQL_ERROR.
SQLRETURN set_position(Statement* stmt);

}  // namespace q4
