// The columns an INSERT without a column list gives its values to, kept per
// connection. Asking SQLite for a table's columns (PRAGMA table_xinfo)
// compiles a statement each time, about a fifth of what a whole INSERT of a
// few values costs q4lite; a client that inserts row after row into the
// same table would pay it for every row. The answer is therefore kept, with
// a compiled `SELECT * FROM table LIMIT 0` that tells when it went stale:
// SQLite compiles that statement anew when the schema changed (through this
// connection or another), which its reprepare count shows.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "server/storage/sqlite_handles.h"
#include "server/translation/exact_literals.h"

namespace q4::lite {

class TableColumns {
 public:
  // The declared types of the columns of `table` (in `schema`, or as SQLite
  // finds an unqualified name when `schema` is empty) that an INSERT's values
  // go to, in their order: generated and hidden columns are left out. Null
  // when there is no such table. Valid until the next call.
  const std::vector<std::string>* value_columns(sqlite3* db, const std::string& schema,
                                                const std::string& table);
  // Drops what is kept (before the connection closes or is replaced).
  void clear();

 private:
  struct Table {
    std::string schema;
    std::string name;
    StmtHandle probe;  // SELECT * FROM the table LIMIT 0
    int reprepared = -1;
    std::vector<std::string> types;
  };
  bool read_types(sqlite3* db, Table* table) const;

  sqlite3* db_ = nullptr;
  std::vector<Table> tables_;  // a few, the most recent last
};

// The declared types of a connection's columns as the rewriting of long
// literals asks for them (translation/exact_literals.h): a column's from
// SQLite, an INSERT's value columns from `kept`.
class DatabaseTypes final : public DeclaredTypes {
 public:
  // Both outlive this object.
  DatabaseTypes(sqlite3* db, TableColumns* kept) : db_(db), kept_(kept) {}

  const char* column_type(const std::string& schema, const std::string& table,
                          const std::string& column) override;
  const std::vector<std::string>* value_columns(const std::string& schema,
                                                const std::string& table) override {
    return kept_->value_columns(db_, schema, table);
  }

 private:
  sqlite3* db_;
  TableColumns* kept_;
};

}  // namespace q4::lite
