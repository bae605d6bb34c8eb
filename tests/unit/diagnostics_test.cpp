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

SQLRETURN read_all(Environment* e, Connection* c, Statement* s, Outputs* o) {
  memset(o->text, '#', sizeof o->text);
  return read_diagnostic(e, c, s, o->state, &o->native, o->text, sizeof o->text, &o->length);
}

// The most specific handle given is read (statement, then connection, then
// environment), even when its slot is empty and a less specific one's is not;
// reading empties; posts replace.
TEST(SqlError, TheMostSpecificHandleIsReadOnce) {
  struct Case {
    bool env_arg, conn_arg, stmt_arg;
    const char* read;  // the diagnostic SQLError gives, "" for SQL_NO_DATA_FOUND
  };
  const Case cases[] = {
      {true, true, true, "S1000 stmt"},  {false, true, true, "S1000 stmt"},
      {true, false, true, "S1000 stmt"}, {true, true, false, "08001 conn"},
      {true, false, false, "S1009 env"}, {false, false, false, ""},
  };
  for (const Case& c : cases) {
    Environment env{};
    Connection conn{};
    Statement stmt{};
    stmt.connection = &conn;
    post_error(&stmt, "stmt", "S1000");
    post_connection_error(&conn, "conn", "08001");
    post_environment_error(&env, {"S1009", "env"});
    Outputs o;
    SQLRETURN rc = read_all(c.env_arg ? &env : nullptr, c.conn_arg ? &conn : nullptr,
                            c.stmt_arg ? &stmt : nullptr, &o);
    std::string got = rc == SQL_SUCCESS ? o.all().replace(6, kPrefix.size(), "") : "";
    EXPECT_EQ(got, c.read) << c.env_arg << c.conn_arg << c.stmt_arg;
    if (rc == SQL_SUCCESS) {
      EXPECT_EQ(read_all(c.env_arg ? &env : nullptr, c.conn_arg ? &conn : nullptr,
                         c.stmt_arg ? &stmt : nullptr, &o),
                SQL_NO_DATA_FOUND)
          << "read twice: " << c.read;
    }
  }
}

// An empty slot presets the outputs; a later post replaces an unread one.
TEST(SqlError, EmptySlotsPresetAndPostsReplace) {
  Connection conn{};
  Outputs o;
  EXPECT_EQ(read(&conn, nullptr, &o), SQL_NO_DATA_FOUND);
  EXPECT_EQ(o.all() + std::to_string(o.native + o.length), "00000 0");
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
