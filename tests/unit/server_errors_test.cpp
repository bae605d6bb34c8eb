#include <gtest/gtest.h>

#include <string>

#include "core/diagnostics.h"
#include "core/server_errors.h"

namespace q4 {
namespace {

struct Case {
  const char* text;
  const char* sqlstate;
  const char* message;  // after the prefix
};

const Case kCases[] = {
    {"26 syntax error near FROM", "37000", "Syntax error"},
    {"3", "S0002", "Base table not found"},
    {"29", "S0002", "Base table not found"},
    {"0", "S0022", "Column not found"},
    {"1", "S0022", "Column not found"},
    {"122", "S1000", "Unknown error"},
    {"123", "S1000", "Unknown error"},
    {"99999999999", "S1000", "Unknown error"},  // beyond 32 bits
    {"4294967296", "S1000", "Unknown error"},   // 2^32 must not wrap to 0
    {"abc", "S1000", "RUNTIME_ERROR"},
    {"", "S1000", "RUNTIME_ERROR"},
    {" 26", "S1000", "RUNTIME_ERROR"},  // a leading blank is not a digit
    {"38", "S1000", ""},
    {"39", "S1000", ""},
    {"59", "S1000", "Q4_FILE_ALREADY_DELETED\t"},
    {"87x", "S1000", "INVALID_CONSTRAINT_NAME\t"},
    {"070", "23000", "Constraint failure"},
    {"61", "42000", "Access violation"},
    {"64", "S0021", "Column already exists"},
};

TEST(ServerErrors, TextsSelectTheirRow) {
  for (const Case& c : kCases) {
    Statement stmt{};
    EXPECT_EQ(map_server_error(&stmt, c.text), SQL_ERROR);
    EXPECT_STREQ(stmt.sqlstate, c.sqlstate) << "text '" << c.text << "'";
    EXPECT_EQ(std::string(stmt.message), std::string(kMessagePrefix) + c.message)
        << "text '" << c.text << "'";
  }
}

// Every row has a valid five-character state and a text that fits the slot;
// the shared rows hold the same content.
TEST(ServerErrors, EveryRowIsWellFormed) {
  for (unsigned n = 0; n < kServerErrorCount; ++n) {
    const DiagText& row = server_error_row(n);
    EXPECT_EQ(std::string(row.sqlstate).size(), 5u) << n;
    EXPECT_LE(std::string(row.text).size(), static_cast<size_t>(kMaxPostedText)) << n;
    EXPECT_EQ(server_error_number(std::to_string(n).c_str()), n);
  }
  for (auto [a, b] : {std::pair{0u, 1u}, {3u, 29u}, {95u, 97u}, {95u, 122u}, {99u, 102u}}) {
    EXPECT_STREQ(server_error_row(a).text, server_error_row(b).text) << a << " vs " << b;
  }
  int tabs = 0, empty = 0;
  for (unsigned n = 0; n < kServerErrorCount; ++n) {
    std::string t = server_error_row(n).text;
    if (!t.empty() && t.back() == '\t') ++tabs;
    if (t.empty()) ++empty;
  }
  EXPECT_EQ(tabs, 4);
  EXPECT_EQ(empty, 2);
}

}  // namespace
}  // namespace q4
