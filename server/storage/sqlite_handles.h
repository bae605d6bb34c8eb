// Owning handles for SQLite objects.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace q4::lite {

struct StatementCloser {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
// A compiled statement, finalized when the handle goes.
using StmtHandle = std::unique_ptr<sqlite3_stmt, StatementCloser>;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
// A database connection, closed when the handle goes (after its statements:
// close_v2 waits for the last one to be finalized).
using DbHandle = std::unique_ptr<sqlite3, DatabaseCloser>;

}  // namespace q4::lite
