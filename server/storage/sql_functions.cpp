#include "server/storage/sql_functions.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "protocol/type_names.h"
#include "protocol/wire.h"
#include "server/translation/decimal_columns.h"
#include "server/translation/type_map.h"

namespace q4::lite {

namespace {

char fold(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string_view text_argument(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  if (text == nullptr) return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(text),
                          static_cast<size_t>(sqlite3_value_bytes(v)));
}

// q4_match(pattern, name): 1 when name matches the ODBC pattern; a NULL
// pattern matches everything.
void match_function(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_int(context, 1);
    return;
  }
  sqlite3_result_int(context, pattern_matches(text_argument(argv[0]), text_argument(argv[1])));
}

ColumnInfo declared(sqlite3_value* v) {
  if (sqlite3_value_type(v) == SQLITE_NULL) return map_declared_type(nullptr);
  const std::string text(text_argument(v));
  return map_declared_type(text.c_str());
}

// q4_type(declared type, what): one field of the column's wire type.
// what: 'type', 'name', 'precision', 'length', 'scale', 'radix'.
void type_function(sqlite3_context* context, int, sqlite3_value** argv) {
  const ColumnInfo c = declared(argv[0]);
  const std::string_view what = text_argument(argv[1]);
  const bool numeric = c.type == kSqlNumeric || c.type == kSqlInteger || c.type == kSqlSmallint;
  if (what == "type") {
    sqlite3_result_int(context, c.type);
  } else if (what == "name") {
    // The driver names a result column's type by its code with the same table.
    sqlite3_result_text(context, sql_type_name(c.type), -1, SQLITE_STATIC);
  } else if (what == "precision") {
    sqlite3_result_int64(context, c.precision);
  } else if (what == "length") {
    sqlite3_result_int64(context, wire_type_length(c));
  } else if (what == "scale" && (numeric || c.type == kSqlTimestamp || c.type == kSqlTime)) {
    // Times and timestamps: the digits of their fractional seconds.
    sqlite3_result_int(context, c.scale);
  } else if (what == "radix" && numeric) {
    sqlite3_result_int(context, 10);
  } else {
    sqlite3_result_null(context);
  }
}

// q4_sleep(ms): the statement takes that long, as a slow query would.
void sleep_function(sqlite3_context* context, int, sqlite3_value** argv) {
  constexpr int64_t kLongest = 60000;
  const int64_t ms = std::min<int64_t>(sqlite3_value_int64(argv[0]), kLongest);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  sqlite3_result_value(context, argv[0]);
}

void name_function(sqlite3_context* context, int, sqlite3_value**) {
  const std::string* name = static_cast<const std::string*>(sqlite3_user_data(context));
  sqlite3_result_text(context, name->data(), static_cast<int>(name->size()), SQLITE_TRANSIENT);
}

}  // namespace

bool pattern_matches(std::string_view pattern, std::string_view name) {
  // Iterative wildcard match: on a mismatch after a "%", retry with the "%"
  // swallowing one more character. Linear in practice, never recursive.
  size_t p = 0;
  size_t n = 0;
  size_t star_p = std::string_view::npos;
  size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size()) {
      const char c = pattern[p];
      if (c == '%') {
        star_p = ++p;
        star_n = n;
        continue;
      }
      if (c == '_') {
        ++p;
        ++n;
        continue;
      }
      const char literal = c == '\\' && p + 1 < pattern.size() ? pattern[p + 1] : c;
      const size_t width = c == '\\' && p + 1 < pattern.size() ? 2 : 1;
      if (fold(literal) == fold(name[n])) {
        p += width;
        ++n;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    p = star_p;
    n = ++star_n;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

int register_sql_functions(sqlite3* db, const SessionNames* names) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc =
      sqlite3_create_function(db, "q4_match", 2, flags, nullptr, match_function, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "q4_type", 2, flags, nullptr, type_function, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "q4_user", 0, SQLITE_UTF8,
                                 const_cast<std::string*>(&names->user), name_function, nullptr,
                                 nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "q4_database", 0, SQLITE_UTF8,
                                 const_cast<std::string*>(&names->account), name_function, nullptr,
                                 nullptr);
  }
  if (rc == SQLITE_OK) rc = register_decimal_collation(db);
  return rc;
}

int register_test_functions(sqlite3* db) {
  return sqlite3_create_function(db, "q4_sleep", 1, SQLITE_UTF8, nullptr, sleep_function, nullptr,
                                 nullptr);
}

}  // namespace q4::lite
