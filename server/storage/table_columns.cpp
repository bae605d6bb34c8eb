#include "server/storage/table_columns.h"

namespace q4::lite {

namespace {

// Tables kept per connection: a client inserts into a few at a time.
constexpr size_t kKeptTables = 16;

std::string quoted(const std::string& name) {
  std::string q = "\"";
  for (const char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + '"';
}

std::string qualified(const std::string& schema, const std::string& table) {
  return (schema.empty() ? std::string() : quoted(schema) + ".") + quoted(table);
}

}  // namespace

// The types, from PRAGMA table_xinfo: its hidden column is 0 for the columns
// an INSERT fills (1 hidden, 2 and 3 generated).
bool TableColumns::read_types(sqlite3* db, Table* table) const {
  table->types.clear();
  const std::string pragma = "PRAGMA " +
                             (table->schema.empty() ? "" : quoted(table->schema) + ".") +
                             "table_xinfo(" + quoted(table->name) + ")";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, pragma.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return false;
  }
  StmtHandle stmt(raw);
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    if (sqlite3_column_int(stmt.get(), 6) != 0) continue;
    const unsigned char* type = sqlite3_column_text(stmt.get(), 2);
    table->types.emplace_back(type != nullptr ? reinterpret_cast<const char*>(type) : "");
  }
  return rc == SQLITE_DONE && !table->types.empty();
}

const std::vector<std::string>* TableColumns::value_columns(sqlite3* db, const std::string& schema,
                                                            const std::string& name) {
  if (db != db_) {
    clear();
    db_ = db;
  }
  size_t i = 0;
  while (i < tables_.size() && !(tables_[i].schema == schema && tables_[i].name == name)) ++i;
  if (i == tables_.size()) {
    sqlite3_stmt* raw = nullptr;
    const std::string probe = "SELECT * FROM " + qualified(schema, name) + " LIMIT 0";
    if (sqlite3_prepare_v2(db, probe.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
      sqlite3_finalize(raw);
      return nullptr;  // no such table (yet): nothing is kept
    }
    if (tables_.size() == kKeptTables) tables_.erase(tables_.begin());
    tables_.push_back(Table{schema, name, StmtHandle(raw), -1, {}});
    i = tables_.size() - 1;
  }
  Table& table = tables_[i];
  // Stepping checks the schema and compiles the probe anew if it changed.
  const int rc = sqlite3_step(table.probe.get());
  sqlite3_reset(table.probe.get());
  const int reprepared = sqlite3_stmt_status(table.probe.get(), SQLITE_STMTSTATUS_REPREPARE, 0);
  if (rc != SQLITE_DONE) {
    tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(i));  // dropped, or locked
    return nullptr;
  }
  if (reprepared != table.reprepared) {
    if (!read_types(db, &table)) {
      tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(i));
      return nullptr;
    }
    table.reprepared = reprepared;
  }
  return &table.types;
}

void TableColumns::clear() {
  tables_.clear();
  db_ = nullptr;
}

const char* DatabaseTypes::column_type(const std::string& schema, const std::string& table,
                                       const std::string& column) {
  const char* type = nullptr;
  const int rc =
      sqlite3_table_column_metadata(db_, schema.empty() ? nullptr : schema.c_str(), table.c_str(),
                                    column.c_str(), &type, nullptr, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return nullptr;
  return type != nullptr ? type : "";
}

}  // namespace q4::lite
