// The diagnostic slots (posting, reading) and server error texts mapped to SQLSTATEs.
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
  std::string all() const {
    return reinterpret_cast<const char*>(state) +
           (" " + std::string(reinterpret_cast<const char*>(text)));
  }
};

SQLRETURN read(Connection* c, Statement* s, Outputs* o) {
  memset(o->text, '#', sizeof o->text);
  return read_diagnostic(nullptr, c, s, o->state, &o->native, o->text, sizeof o->text, &o->length);
}

// A connection argument reads only its slot (presets when empty); reading empties; posts replace.
TEST(SqlError, SlotsAreReadOnceAndTheConnectionWins) {
  Connection conn{};
  Statement stmt{};
  Outputs o;
  post_error(&stmt, "stmt text", "S1000");
  EXPECT_EQ(read(&conn, &stmt, &o), SQL_NO_DATA_FOUND);
  EXPECT_EQ(o.all() + std::to_string(o.native + o.length), "00000 0");
  EXPECT_EQ(read(nullptr, &stmt, &o), SQL_SUCCESS) << "the statement slot was touched";
  EXPECT_EQ(o.all(), "S1000 " + kPrefix + "stmt text");
  post_connection_error(&conn, "first", "08001");
  post_connection_error(&conn, "second", "28000");
  EXPECT_EQ(read(&conn, nullptr, &o), SQL_SUCCESS);
  EXPECT_EQ(o.all(), "28000 " + kPrefix + "second");
  EXPECT_EQ(read(&conn, nullptr, &o), SQL_NO_DATA_FOUND);
}

// The number ends at the first non-digit; past the table or 32 bits, or no digit; odd texts kept.
TEST(ServerErrors, TextsSelectTheirRow) {
  // clang-format off
  struct Case { const char* text; const char* sqlstate; const char* message; } cases[] = {
      {"26 syntax error near FROM", "37000", "Syntax error"},
      {"123", "S1000", "Unknown error"},          // one past the table
      {"4294967296", "S1000", "Unknown error"},   // 2^32 must not wrap to 0
      {" 26", "S1000", "RUNTIME_ERROR"},  // a leading blank is not a digit
      {"59", "S1000", "Q4_FILE_ALREADY_DELETED\t"},
      {"070", "23000", "Constraint failure"},
      // q4lite's refusal of text that is no date or time, past the table.
      {"22007 CHECK constraint failed: q4lite:22007:d", "22007", "Invalid datetime format"},
      {"22008", "S1000", "Unknown error"}, {"220070", "S1000", "Unknown error"},
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
