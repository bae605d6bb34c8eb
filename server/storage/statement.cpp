#include "server/storage/statement.h"

#include <cctype>
#include <cstring>

#include "protocol/codec.h"
#include "server/storage/error_map.h"
#include "server/storage/sqlite_handles.h"
#include "server/storage/table_columns.h"
#include "server/translation/cast_columns.h"
#include "server/translation/datetime_checks.h"
#include "server/translation/decimal_columns.h"
#include "server/translation/escape_translator.h"
#include "server/translation/exact_literals.h"

namespace q4::lite {

namespace {

std::string sqlite_error(sqlite3* db, int rc) {
  const char* message = sqlite3_errmsg(db);
  return error_status(map_sqlite_error(rc, message), message);
}

// The offset of the first byte from `p` on that is not white space, a
// comment or (with `semicolons`) a ";": where the text's first token starts,
// as the driver finds it. An unterminated comment runs to the end, as it
// does for SQLite.
size_t after_trivia(std::string_view text, size_t p, bool semicolons) {
  while (p < text.size()) {
    const char c = text[p];
    if (std::isspace(static_cast<unsigned char>(c)) || (semicolons && c == ';')) {
      ++p;
    } else if (c == '-' && p + 1 < text.size() && text[p + 1] == '-') {
      const size_t newline = text.find('\n', p + 2);
      p = newline == std::string_view::npos ? text.size() : newline + 1;
    } else if (c == '/' && p + 1 < text.size() && text[p + 1] == '*') {
      const size_t close = text.find("*/", p + 2);
      p = close == std::string_view::npos ? text.size() : close + 2;
    } else {
      break;
    }
  }
  return p;
}

// Whitespace, semicolons and comments only, up to `end`.
bool only_trivia(const char* p, const char* end) {
  const std::string_view rest(p, static_cast<size_t>(end - p));
  return after_trivia(rest, 0, true) == rest.size();
}

// Binds the binary blocks to their named parameters; reports markers that
// nothing binds (a "?" the driver left in the text).
bool bind_binaries(sqlite3_stmt* stmt, const std::vector<std::string_view>& binaries,
                   bool compile_only, std::string* error) {
  for (size_t i = 0; i < binaries.size(); ++i) {
    const int index = sqlite3_bind_parameter_index(stmt, binary_parameter_name(i).c_str());
    if (index == 0) continue;  // a block whose token the text does not use
    // Copied: the request buffer is reused while a result is still read.
    sqlite3_bind_blob64(stmt, index, binaries[i].data(), binaries[i].size(), SQLITE_TRANSIENT);
  }
  if (compile_only) return true;
  const int count = sqlite3_bind_parameter_count(stmt);
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(stmt, i);
    if (name == nullptr || std::strncmp(name, ":q4b", 4) != 0) {
      *error = error_status(kErrArgument,
                            "parameter marker " + std::string(name ? name : "?") + " has no value");
      return false;
    }
  }
  return true;
}

}  // namespace

bool manages_transactions(std::string_view text) {
  size_t p = after_trivia(text, 0, true);
  std::string word;
  while (p < text.size() && std::isalpha(static_cast<unsigned char>(text[p])) && word.size() < 16) {
    word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[p++]))));
  }
  static const char* const kWords[] = {"BEGIN",   "COMMIT", "END",    "ROLLBACK", "SAVEPOINT",
                                       "RELEASE", "VACUUM", "PRAGMA", "ATTACH",   "DETACH"};
  for (const char* w : kWords) {
    if (word == w) return true;
  }
  return false;
}

std::vector<ColumnInfo> describe_columns(sqlite3_stmt* stmt) {
  const int count = sqlite3_column_count(stmt);
  std::vector<ColumnInfo> columns;
  columns.reserve(static_cast<size_t>(count));
  sqlite3* db = sqlite3_db_handle(stmt);
  // Read from the text once, at the first column without a declared type.
  bool casts_read = false;
  std::vector<CastColumn> casts;
  for (int i = 0; i < count; ++i) {
    const char* declared = sqlite3_column_decltype(stmt, i);
    const char* name = sqlite3_column_name(stmt, i);
    if (declared == nullptr && name != nullptr) {
      if (!casts_read) {
        const char* sql = sqlite3_sql(stmt);
        if (sql != nullptr) casts = decimal_cast_columns(sql);
        casts_read = true;
      }
      for (const CastColumn& cast : casts) {
        if (cast.name == name) declared = cast.type.c_str();
      }
    }
    ColumnInfo c = map_declared_type(declared);
    c.name = name != nullptr ? name : "";
    if (c.name.size() > kMaxColumnName) c.name.resize(kMaxColumnName);
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* origin = sqlite3_column_origin_name(stmt, i);
    int not_null = 0;
    if (table != nullptr && origin != nullptr &&
        sqlite3_table_column_metadata(db, sqlite3_column_database_name(stmt, i), table, origin,
                                      nullptr, nullptr, &not_null, nullptr, nullptr) == SQLITE_OK) {
      c.nullable = not_null ? 0 : 1;
    }
    columns.push_back(std::move(c));
  }
  return columns;
}

size_t put_column_description(const ColumnInfo& c, uint8_t* out, size_t room) {
  const size_t name = c.name.size() < kMaxColumnName ? c.name.size() : kMaxColumnName;
  const size_t size = name + 1 + 2 + 4 + 2 + 2;
  if (size > room) return 0;
  std::memcpy(out, c.name.data(), name);
  uint8_t* p = out + name;
  *p++ = 0;
  p = put_u16(p, static_cast<uint16_t>(c.type));
  p = put_u32(p, c.precision);
  p = put_u16(p, c.scale);
  put_u16(p, c.nullable);
  return size;
}

size_t put_description_section(const std::vector<ColumnInfo>& columns, uint8_t* out, size_t room) {
  if (room < 5) return 0;
  size_t pos = 5;
  for (const ColumnInfo& c : columns) {
    if (pos + 4 > room) return 0;
    const size_t n = put_column_description(c, out + pos + 4, room - pos - 4);
    if (n == 0) return 0;
    put_u32(out + pos, static_cast<uint32_t>(n + 4));
    pos += n + 4;
  }
  out[0] = 'X';
  put_u32(out + 1, static_cast<uint32_t>(pos - 1));
  return pos;
}

Outcome run_text(sqlite3* db, std::string_view text, const std::vector<std::string_view>& binaries,
                 bool compile_only, TableColumns* columns) {
  Outcome outcome;
  std::string sql;
  const size_t lead = after_trivia(text, 0, false);
  if (lead < text.size() && (text[lead] == '>' || text[lead] == '[' || text[lead] == ']')) {
    sql.assign(text.substr(lead + 1));
  } else {
    std::string message;
    if (!translate_escapes(text, binaries.size(), &sql, &message)) {
      outcome.error_status = error_status(map_sqlite_error(SQLITE_ERROR, message), message);
      return outcome;
    }
  }
  // Raw SQL too: the guard and the exact decimals keep the column types'
  // promise; they are no escape.
  rewrite_decimal_declarations(&sql);
  add_datetime_checks(&sql);
  // Long numeric literals are read statement by statement, just before
  // each is compiled: whether one keeps its digits depends on the columns
  // it meets, which statements before it may create.
  const bool long_literals = may_hold_long_literals(sql);
  TableColumns own;  // when the caller keeps none
  DatabaseTypes types(db, columns != nullptr ? columns : &own);

  size_t offset = 0;
  for (;;) {
    if (long_literals) rewrite_long_literals(&sql, offset, &types);
    const char* const tail = sql.c_str() + offset;
    const char* const end = sql.c_str() + sql.size();
    sqlite3_stmt* raw = nullptr;
    const char* next = nullptr;
    const int rc = sqlite3_prepare_v2(db, tail, static_cast<int>(end - tail), &raw, &next);
    if (rc != SQLITE_OK) {
      outcome.error_status = sqlite_error(db, rc);
      return outcome;
    }
    StmtHandle stmt(raw);
    if (!stmt) break;  // only comments or blanks were left
    if (!bind_binaries(stmt.get(), binaries, compile_only, &outcome.error_status)) return outcome;
    const bool last = only_trivia(next, end);
    if (compile_only) {
      // Later statements may need what earlier ones create, so only the
      // first can be compiled without running anything; a text of several
      // statements is described once it runs.
      if (last && sqlite3_column_count(stmt.get()) > 0) {
        std::vector<ColumnInfo> columns = describe_columns(stmt.get());
        outcome.cursor = std::make_unique<Cursor>(std::move(stmt), std::move(columns));
      }
      break;
    }
    if (last && sqlite3_column_count(stmt.get()) > 0) {
      std::vector<ColumnInfo> columns = describe_columns(stmt.get());
      outcome.cursor = std::make_unique<Cursor>(std::move(stmt), std::move(columns));
      if (!outcome.cursor->start()) {
        const Cursor& c = *outcome.cursor;
        outcome.error_status =
            error_status(map_sqlite_error(c.error_code(), c.error_message()), c.error_message());
        outcome.cursor.reset();
        return outcome;
      }
      break;
    }
    const int64_t before = sqlite3_total_changes64(db);
    int step = SQLITE_ROW;
    while (step == SQLITE_ROW) step = sqlite3_step(stmt.get());
    if (step != SQLITE_DONE) {
      outcome.error_status = sqlite_error(db, step);
      return outcome;
    }
    // sqlite3_changes keeps the count of the last INSERT, UPDATE or DELETE;
    // a statement that changed nothing (DDL, an UPDATE matching no row) must
    // not report an earlier statement's count.
    outcome.changes = sqlite3_total_changes64(db) != before ? sqlite3_changes64(db) : 0;
    if (last) break;
    offset = static_cast<size_t>(next - sql.c_str());
  }
  outcome.ok = true;
  return outcome;
}

}  // namespace q4::lite
