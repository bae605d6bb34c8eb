// Running a statement text on SQLite, and describing result columns in the
// forms the replies carry.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/cursor.h"
#include "server/translation/type_map.h"

namespace q4::lite {

class TableColumns;

// What running (or only compiling) a text produced.
struct Outcome {
  bool ok = false;
  std::string error_status;        // the "E" reply text when !ok
  std::unique_ptr<Cursor> cursor;  // the result, for a statement with columns
  int64_t changes = 0;             // rows changed, for one without
};

// Runs `text` (an execute request's text, with its binary blocks):
// translates the escape clauses, binds the blocks as BLOB parameters, runs
// every statement but the last to completion and starts the last one: a
// statement with result columns becomes the cursor (stepped to its first
// row), any other runs to completion and reports its changed rows.
//
// With `compile_only` (prepare), nothing runs: the first statement is
// compiled and described. A text whose first token (after white space and
// comments, as the driver reads it) is ">", "[" or "]" is raw SQLite SQL
// after that character: no escape clause is translated in it.
//
// `columns`, when given, keeps the columns of tables that INSERTs without a
// column list fill, for the connection (table_columns.h).
Outcome run_text(sqlite3* db, std::string_view text, const std::vector<std::string_view>& binaries,
                 bool compile_only, TableColumns* columns = nullptr);

// Describes the result columns of a compiled statement from their declared
// types and origins (nullability); undeclared ones are typed later from a value.
std::vector<ColumnInfo> describe_columns(sqlite3_stmt* stmt);

// One column description record: name, NUL, u16 type, u32 precision, u16
// scale, u16 nullable. Returns the bytes written, 0 when `room` is too small.
// Names are cut to kMaxColumnName bytes.
constexpr size_t kMaxColumnName = 255;
size_t put_column_description(const ColumnInfo& column, uint8_t* out, size_t room);

// The description section of an execute or catalog reply: "X", u32 length
// L (counting itself), then per column a u32 entry length (counting itself)
// and the record. Returns the bytes written, 0 when it does not fit `room`.
size_t put_description_section(const std::vector<ColumnInfo>& columns, uint8_t* out, size_t room);

// True for texts whose first keyword (after white space, comments and
// semicolons) controls transactions or cannot run
// inside one (BEGIN, COMMIT, END, ROLLBACK, SAVEPOINT, RELEASE, VACUUM,
// PRAGMA, ATTACH, DETACH): no implicit BEGIN is put before them.
bool manages_transactions(std::string_view text);

}  // namespace q4::lite
