// The catalog requests as queries over SQLite's schema, with result columns
// named and ordered as ODBC 2.x defines them for SQLGetTypeInfo, SQLTables,
// SQLColumns, SQLSpecialColumns, SQLStatistics and SQLPrimaryKeys.
//
// Name arguments are ODBC search patterns ("%", "_", "\" as escape), matched
// without regard to letter case as SQLite matches identifiers. SQLite has no
// qualifiers or owners: those arguments are accepted and do not filter.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "server/cursor.h"
#include "server/request_parser.h"

namespace q4::lite {

// Compiles and starts the query answering `request`. Returns the cursor, or
// null with *failure set (an "E" reply text).
std::unique_ptr<Cursor> open_catalog(sqlite3* db, const CatalogRequest& request,
                                     std::string* failure);

}  // namespace q4::lite
