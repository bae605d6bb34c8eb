#include <gtest/gtest.h>
#include <sql.h>

#include <cstring>
#include <string>

#include "core/diagnostics.h"

namespace q4 {
namespace {

const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

struct Outputs {
  SQLCHAR state[6];
  SQLINTEGER native = 99;
  SQLCHAR text[300];
  SQLSMALLINT length = 99;
};

SQLRETURN read(Connection* c, Statement* s, Outputs* o, SQLSMALLINT max) {
  memset(o->text, '#', sizeof o->text);
  return read_diagnostic(c, s, o->state, &o->native, o->text, max, &o->length);
}

TEST(SqlError, ConnectionSlotWinsOverStatement) {
  Connection conn{};
  Statement stmt{};
  post_error(&stmt, "stmt text", "S1000");
  Outputs o;
  EXPECT_EQ(read(&conn, &stmt, &o, 300), SQL_NO_DATA_FOUND);
  // The presets are written even when nothing is pending.
  EXPECT_STREQ(reinterpret_cast<char*>(o.state), "00000");
  EXPECT_EQ(o.native, 0);
  EXPECT_EQ(o.length, 0);
  EXPECT_EQ(o.text[0], '\0');
  EXPECT_STREQ(stmt.sqlstate, "S1000") << "the statement slot must be left alone";

  EXPECT_EQ(read(nullptr, &stmt, &o, 300), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(o.state), "S1000");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(o.text)), kPrefix + "stmt text");
}

TEST(SqlError, NoHandleReturnsNoDataAndWritesNothing) {
  Outputs o;
  memset(o.state, 'x', sizeof o.state);
  EXPECT_EQ(read_diagnostic(nullptr, nullptr, o.state, &o.native, o.text, 300, &o.length),
            SQL_NO_DATA_FOUND);
  EXPECT_EQ(o.state[0], 'x');
  EXPECT_EQ(o.native, 99);
}

TEST(SqlError, ReadingEmptiesTheSlotAndSecondPostReplacesFirst) {
  Connection conn{};
  post_connection_error(&conn, "first", "08001");
  post_connection_error(&conn, "second", "28000");
  Outputs o;
  EXPECT_EQ(read(&conn, nullptr, &o, 300), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(o.state), "28000");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(o.text)), kPrefix + "second");
  EXPECT_EQ(o.length, static_cast<SQLSMALLINT>(kPrefix.size() + 6));
  EXPECT_EQ(read(&conn, nullptr, &o, 300), SQL_NO_DATA_FOUND);
}

// Truncation is silent: SQL_SUCCESS, the full length, max-1 characters and a
// NUL, and nothing written past the buffer.
TEST(SqlError, SilentTruncationSweep) {
  Statement stmt{};
  const std::string text = "abcdefghij";  // message = prefix + 10 chars
  const size_t full = kPrefix.size() + text.size();
  for (int max = -2; max <= static_cast<int>(full) + 2; ++max) {
    post_error(&stmt, text.c_str(), "S1000");
    Outputs o;
    ASSERT_EQ(read(nullptr, &stmt, &o, static_cast<SQLSMALLINT>(max)), SQL_SUCCESS);
    EXPECT_EQ(o.length, static_cast<SQLSMALLINT>(full)) << "max " << max;
    if (max < 1) {
      EXPECT_EQ(o.text[0], '#') << "nothing may be written with max " << max;
      continue;
    }
    size_t copied = std::min(full, static_cast<size_t>(max - 1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(o.text)), (kPrefix + text).substr(0, copied));
    EXPECT_EQ(o.text[copied + 1], '#') << "wrote past the buffer, max " << max;
    EXPECT_STREQ(stmt.sqlstate, "");
  }
}

TEST(SqlError, NullStateBufferDiscardsTheDiagnostic) {
  Connection conn{};
  post_connection_error(&conn, "gone", "S1000");
  EXPECT_EQ(read_diagnostic(&conn, nullptr, nullptr, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(conn.sqlstate, "");
}

TEST(Posting, LongTextIsCutToFitTheSlot) {
  Statement stmt{};
  std::string longer(400, 'z');
  post_error(&stmt, longer.c_str(), "S1000");
  EXPECT_EQ(strlen(stmt.message), kPrefix.size() + kMaxPostedText);
  EXPECT_LT(strlen(stmt.message), sizeof stmt.message);
}

TEST(Posting, UnprefixedTextStandsAlone) {
  Statement stmt{};
  post_error_unprefixed(&stmt, "Wrong number of parameters", "07001");
  EXPECT_STREQ(stmt.message, "Wrong number of parameters");
  EXPECT_STREQ(stmt.sqlstate, "07001");
}

}  // namespace
}  // namespace q4
