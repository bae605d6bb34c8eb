// The diagnostic slots: posting, reading through SQLError, and mapping
// server error texts to SQLSTATEs.
#include <gtest/gtest.h>
#include <sql.h>

#include <cstring>
#include <string>

#include "core/diagnostics.h"
#include "core/server_errors.h"

namespace q4 {
namespace {

const std::string kPrefix = kMessagePrefix;

struct Outputs {
  SQLCHAR state[6];
  SQLINTEGER native = 99;
  SQLCHAR text[300];
  SQLSMALLINT length = 99;
  std::string str() const { return reinterpret_cast<const char*>(text); }
  std::string all() const { return reinterpret_cast<const char*>(state) + (" " + str()); }
};

SQLRETURN read(Connection* c, Statement* s, Outputs* o, SQLSMALLINT max) {
  memset(o->text, '#', sizeof o->text);
  return read_diagnostic(c, s, o->state, &o->native, o->text, max, &o->length);
}

// A connection argument reads the connection slot only (writing the presets
// when it is empty); reading empties the slot; a second post replaces the
// first.
TEST(SqlError, SlotsAreReadOnceAndTheConnectionWins) {
  Connection conn{};
  Statement stmt{};
  Outputs o;
  post_error(&stmt, "stmt text", "S1000");
  EXPECT_EQ(read(&conn, &stmt, &o, 300), SQL_NO_DATA_FOUND);
  EXPECT_EQ(o.all() + std::to_string(o.native + o.length), "00000 0");
  EXPECT_EQ(read(nullptr, &stmt, &o, 300), SQL_SUCCESS) << "the statement slot was touched";
  EXPECT_EQ(o.all(), "S1000 " + kPrefix + "stmt text");
  post_connection_error(&conn, "first", "08001");
  post_connection_error(&conn, "second", "28000");
  EXPECT_EQ(read(&conn, nullptr, &o, 300), SQL_SUCCESS);
  EXPECT_EQ(o.all(), "28000 " + kPrefix + "second");
  EXPECT_EQ(read(&conn, nullptr, &o, 300), SQL_NO_DATA_FOUND);
}

// Truncation is silent: SQL_SUCCESS, the full length, max-1 characters and a
// NUL, nothing written past the buffer, nothing at all below max 1.
TEST(SqlError, SilentTruncation) {
  Statement stmt{};
  const std::string text = "abcdefghij";
  const size_t full = kPrefix.size() + text.size();
  for (int max : {0, 1, static_cast<int>(full), static_cast<int>(full) + 1}) {
    post_error(&stmt, text.c_str(), "S1000");
    Outputs o;
    ASSERT_EQ(read(nullptr, &stmt, &o, static_cast<SQLSMALLINT>(max)), SQL_SUCCESS);
    EXPECT_EQ(o.length, static_cast<SQLSMALLINT>(full)) << "max " << max;
    size_t copied = max < 1 ? 0 : std::min(full, static_cast<size_t>(max - 1));
    EXPECT_EQ(o.text[max < 1 ? 0 : copied + 1], '#') << "wrote past the buffer, max " << max;
    if (max < 1) continue;
    EXPECT_EQ(o.str(), (kPrefix + text).substr(0, copied));
  }
}

// Rows with a rule: the number ends at the first non-digit, past the table
// (or 32 bits) is "Unknown error", no digit at all is "RUNTIME_ERROR", and
// some rows carry odd texts that are kept as they are.
TEST(ServerErrors, TextsSelectTheirRow) {
  // clang-format off
  struct Case { const char* text; const char* sqlstate; const char* message; } cases[] = {
      {"26 syntax error near FROM", "37000", "Syntax error"},
      {"123", "S1000", "Unknown error"},          // one past the table
      {"4294967296", "S1000", "Unknown error"},   // 2^32 must not wrap to 0
      {" 26", "S1000", "RUNTIME_ERROR"},  // a leading blank is not a digit
      {"59", "S1000", "Q4_FILE_ALREADY_DELETED\t"},
      {"070", "23000", "Constraint failure"},
  };
  // clang-format on
  for (const Case& c : cases) {
    Statement stmt{};
    EXPECT_EQ(map_server_error(&stmt, c.text), SQL_ERROR);
    EXPECT_EQ(std::string(stmt.sqlstate) + " " + stmt.message,
              c.sqlstate + (" " + kPrefix) + c.message)
        << "text '" << c.text << "'";
  }
}

}  // namespace
}  // namespace q4
