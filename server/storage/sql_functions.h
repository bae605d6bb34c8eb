// SQL functions q4lite adds to every connection: the ODBC search-pattern
// match and the type mapping for the catalog queries, and the values of the
// {fn USER()} and {fn DATABASE()} escapes; the collation of exact decimal
// columns (translation/decimal_columns.h); and, for tests only, a sleep.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace q4::lite {

// Names the session answers USER() and DATABASE() with. The strings must
// outlive the connection they are registered on.
struct SessionNames {
  std::string user;
  std::string account;
};

// Registers the functions and the collation on `db`. Returns SQLite's
// result code.
int register_sql_functions(sqlite3* db, const SessionNames* names);

// Registers q4_sleep(ms) on `db`: waits that many milliseconds (a negative or
// NULL argument none, at most 60,000) and returns the argument. Only with
// --test-functions: it lets tests hold a statement on the server.
int register_test_functions(sqlite3* db);

// ODBC search pattern: "%" any run, "_" any one character, "\" takes the
// next character literally. Letters compare without regard to case, as
// SQLite compares identifiers.
bool pattern_matches(std::string_view pattern, std::string_view name);

}  // namespace q4::lite
