// The catalog requests as queries over SQLite's schema, with result columns
// named and ordered as ODBC 2.x defines them for SQLGetTypeInfo, SQLTables,
// SQLColumns, SQLSpecialColumns, SQLStatistics and SQLPrimaryKeys.
//
// Name arguments are ODBC search patterns ("%", "_", "\" as escape), matched
// without regard to letter case as SQLite matches identifiers. SQLite has no
// qualifiers or owners: those arguments are accepted and do not filter.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/storage/cursor.h"

namespace q4::lite {

// A catalog request: 0x04 SQLGetTypeInfo, 0x05 SQLTables, 0x06 SQLColumns,
// 0x10 SQLSpecialColumns, 0x13 SQLStatistics, 0x14 SQLPrimaryKeys.
// `strings` holds the NUL-terminated arguments in order, `numbers` the
// fixed-width ones; the views point into the request's payload.
enum class CatalogKind { kTypeInfo, kTables, kColumns, kSpecialColumns, kStatistics, kPrimaryKeys };
struct CatalogRequest {
  CatalogKind kind;
  uint32_t statement_id = 0;
  std::string_view strings[4];
  size_t string_count = 0;
  // kTypeInfo: [0] the SQL type. kSpecialColumns: scope, nullable, column
  // type. kStatistics: unique, accuracy (the older form without arguments
  // leaves every string "%" and unique = SQL_INDEX_ALL, accuracy quick).
  int32_t numbers[3] = {0, 0, 0};
};

// Compiles and starts the query answering `request`. Returns the cursor, or
// null with *failure set (an "E" reply text).
std::unique_ptr<Cursor> open_catalog(sqlite3* db, const CatalogRequest& request,
                                     std::string* failure);

}  // namespace q4::lite
