// Fetching for an ODBC 3 caller: SQLFetchScroll, and SQLFetch on a statement
// of an ODBC 3 environment.
//
// While unixODBC took the driver for an ODBC 2.x driver it carried both out
// with SQLExtendedFetch: SQLFetch as SQL_FETCH_NEXT (the mapping its
// ExFetchMapping setting leaves on by default) and SQLFetchScroll with its
// orientation and offset, each with the rowset pointers it kept itself. For
// an ODBC 3.x driver it passes both calls on and the pointers with
// SQLSetStmtAttr (statement/attributes.h), so the same rowsets come from
// here: the rowset size is SQL_ROWSET_SIZE (SQL_ATTR_ROW_ARRAY_SIZE sets it),
// the row count goes to SQL_ATTR_ROWS_FETCHED_PTR and the statuses to
// SQL_ATTR_ROW_STATUS_PTR, either of which may be unset.
//
// Everything here runs inside a statement call that holds the statement's
// claim and has run enter_statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLFetchScroll's work. SQL_FETCH_BOOKMARK positions on the bookmark that
// SQL_ATTR_FETCH_BOOKMARK_PTR points at (a 32-bit number; none set is 0) and,
// as unixODBC did, takes no offset from it; `offset` counts for
// SQL_FETCH_ABSOLUTE and SQL_FETCH_RELATIVE and is taken as a 32-bit row
// number like SQLExtendedFetch's.
SQLRETURN fetch_scroll(Statement* stmt, SQLSMALLINT orientation, SQLLEN offset);

// SQLFetch's work for an ODBC 3 caller: the next rowset.
SQLRETURN fetch_next_rowset(Statement* stmt);

}  // namespace q4
