#include <cstdio>
#include <cstring>

#include "statement/cursor_name.h"
#include "statement_fixture.h"

namespace q4::test {
namespace {

using CursorName = StatementTest;

const SQLCHAR* text(const char* s) {
  return reinterpret_cast<const SQLCHAR*>(s);
}

std::string name_of(Statement* s) {
  SQLCHAR buffer[32];
  SQLSMALLINT length = -1;
  EXPECT_EQ(get_cursor_name(s, buffer, sizeof buffer, &length), SQL_SUCCESS) << diag(s);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(strlen(reinterpret_cast<char*>(buffer))));
  return reinterpret_cast<char*>(buffer);
}

struct SetCase {
  const char* what;
  const char* name;
  SQLSMALLINT length;
  const char* expected_diag;  // "" for success
  const char* stored;         // name afterwards
};

void PrintTo(const SetCase& c, std::ostream* os) {
  *os << c.what;
}

class SetCursorNameRules : public StatementTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetCursorNameRules, AcceptsOrRefuses) {
  const SetCase& c = GetParam();
  Statement* s = new_statement();
  SQLRETURN rc = set_cursor_name(s, text(c.name), c.length);
  EXPECT_EQ(rc, c.expected_diag[0] == '\0' ? SQL_SUCCESS : SQL_ERROR);
  EXPECT_EQ(diag(s), c.expected_diag);
  EXPECT_STREQ(s->cursor_name, c.stored);
}

const char k18[] = "ABCDEFGHIJKLMNOPQR";
const char k19[] = "ABCDEFGHIJKLMNOPQRS";

INSTANTIATE_TEST_SUITE_P(
    Lengths, SetCursorNameRules,
    ::testing::Values(
        SetCase{"Nts18", k18, SQL_NTS, "", k18},
        SetCase{"Explicit18", k18, 18, "34000 Invalid cursor name - exceeds max length", ""},
        SetCase{"Nts19", k19, SQL_NTS, "34000 Invalid cursor name", ""},
        SetCase{"Explicit19", k19, 19, "34000 Invalid cursor name", ""},
        SetCase{"Explicit17OfLonger", k19, 17, "", "ABCDEFGHIJKLMNOPQ"},
        SetCase{"ExplicitShort", "curs", 4, "", "curs"},
        SetCase{"ExplicitCutsText", "cursor_one", 6, "", "cursor"},
        SetCase{"NegativeLength", "c", -1, "S1090 Invalid string or buffer length", ""},
        SetCase{"MostNegative", "c", -32768, "S1090 Invalid string or buffer length", ""}),
    [](const auto& info) { return std::string(info.param.what); });

// Checks come in a fixed order: version, null text, open cursor, length.
TEST_F(CursorName, RefusalsComeInOrder) {
  Statement* s = new_statement();
  s->cursor_open = 1;
  conn_->server_version = 700;
  EXPECT_EQ(set_cursor_name(s, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(s), "IM001 Not Supported");
  conn_->server_version = 710;
  EXPECT_EQ(set_cursor_name(s, nullptr, 40), SQL_ERROR);
  EXPECT_EQ(diag(s), "S1009 Invalid argument value");
  EXPECT_EQ(set_cursor_name(s, text(k19), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(s), "24000 Invalid cursor state");
  s->cursor_open = 0;
  EXPECT_EQ(set_cursor_name(s, text("ok"), SQL_NTS), SQL_SUCCESS);
}

TEST_F(CursorName, DuplicatesAreRefusedPerConnectionAndCaseSensitively) {
  Statement* a = new_statement();
  Statement* b = new_statement();
  ASSERT_EQ(set_cursor_name(a, text("Orders"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(set_cursor_name(b, text("Orders"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(b), "3C000 Duplicate cursor name");
  EXPECT_STREQ(b->cursor_name, "");
  // The stored form decides: six bytes of a longer text are the same name.
  EXPECT_EQ(set_cursor_name(b, text("Orders_2024"), 6), SQL_ERROR);
  EXPECT_EQ(diag(b), "3C000 Duplicate cursor name");
  EXPECT_EQ(set_cursor_name(b, text("ORDERS"), SQL_NTS), SQL_SUCCESS);
  // A statement may set its own name again.
  EXPECT_EQ(set_cursor_name(a, text("Orders"), SQL_NTS), SQL_SUCCESS);

  // Another connection of the environment has its own names.
  ConnectionHolder other(env_);
  other.open_link();
  Statement* c = other.new_statement();
  EXPECT_EQ(set_cursor_name(c, text("Orders"), SQL_NTS), SQL_SUCCESS);
}

// An unnamed statement's name is empty, so an empty name clashes with it,
// while its generated name is not a stored name and clashes with nothing.
TEST_F(CursorName, EmptyNameClashesWithAnUnnamedStatementButGeneratedNamesDoNot) {
  Statement* unnamed = new_statement();
  Statement* s = new_statement();
  EXPECT_EQ(set_cursor_name(s, text(""), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(s), "3C000 Duplicate cursor name");
  std::string generated = name_of(unnamed);
  EXPECT_EQ(set_cursor_name(s, text(generated.c_str()), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(name_of(unnamed), generated);
}

TEST_F(CursorName, GeneratedNameIsSqlCurAndTheStatementIdInHex) {
  Statement* s = new_statement();
  char expected[32];
  snprintf(expected, sizeof expected, "SQL_CUR%08X", statement_id(s));
  std::string name = name_of(s);
  EXPECT_EQ(name, expected);
  ASSERT_EQ(name.size(), 15u);
  EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 7), std::string::npos) << name;
  EXPECT_EQ(name_of(s), name) << "the same name on every call";
  ASSERT_EQ(set_cursor_name(s, text("mine"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(name_of(s), "mine");
}

// Every buffer size from 0 to beyond the name, with guard bytes on both
// sides: the copy stays inside cbCursorMax bytes, is NUL-terminated when
// cut, zero-fills the rest when it fits, and always reports the full length.
TEST_F(CursorName, CopyIntoEveryBufferSize) {
  Statement* s = new_statement();
  const std::string name = "fifteen_letters";
  ASSERT_EQ(set_cursor_name(s, text(name.c_str()), SQL_NTS), SQL_SUCCESS);
  constexpr int kGuard = 8;
  for (int size = 0; size <= 20; ++size) {
    SCOPED_TRACE("buffer " + std::to_string(size));
    std::vector<SQLCHAR> area(kGuard + size + kGuard, '#');
    SQLCHAR* buffer = area.data() + kGuard;
    SQLSMALLINT length = -1;
    clear_diagnostic(s->sqlstate, s->message);
    SQLRETURN rc = get_cursor_name(s, buffer, size, &length);
    EXPECT_EQ(length, 15);
    for (int i = 0; i < kGuard; ++i) {
      EXPECT_EQ(area[i], '#') << "wrote before the buffer";
      EXPECT_EQ(area[kGuard + size + i], '#') << "wrote past the buffer";
    }
    if (size > 15) {
      EXPECT_EQ(rc, SQL_SUCCESS);
      EXPECT_EQ(diag(s), "");
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), name);
      for (int i = 15; i < size; ++i) EXPECT_EQ(buffer[i], 0) << "not zero-filled at " << i;
    } else {
      EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
      EXPECT_EQ(diag(s), "01004 Data truncated");
      if (size > 0) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), name.substr(0, size - 1));
      }
    }
  }
}

TEST_F(CursorName, GetRefusesOldServersAndNegativeLengths) {
  Statement* s = new_statement();
  SQLCHAR buffer[32];
  conn_->server_version = 709;
  EXPECT_EQ(get_cursor_name(s, buffer, sizeof buffer, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(s), "IM001 Not Supported");
  conn_->server_version = 720;
  EXPECT_EQ(get_cursor_name(s, buffer, -1, nullptr), SQL_ERROR);
  EXPECT_EQ(diag(s), "S1090 Invalid string or buffer length");
  // A null length pointer is allowed.
  EXPECT_EQ(get_cursor_name(s, buffer, sizeof buffer, nullptr), SQL_SUCCESS);
}

// After a result, the name and the scroll setting stay locked even after
// SQL_CLOSE, which only rewinds.
TEST_F(CursorName, OpenCursorLocksNameAndScrollOptionsEvenAfterClose) {
  Statement* s = new_statement();
  s->cursor_open = 1;
  EXPECT_EQ(free_statement(s, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(set_cursor_name(s, text("late"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag(s), "24000 Invalid cursor state");
  EXPECT_EQ(set_scroll_options(s, 10), SQL_ERROR);
  EXPECT_EQ(diag(s), "24000 Invalid cursor state");
  EXPECT_EQ(s->rowset_size, 1u);
}

TEST_F(CursorName, ScrollOptionsTakeOnlyTheRowsetSize) {
  Statement* s = new_statement();
  EXPECT_EQ(set_scroll_options(s, 0), SQL_ERROR);
  EXPECT_EQ(diag(s), "S1009 Invalid argument value");
  EXPECT_EQ(s->rowset_size, 1u);
  EXPECT_EQ(SQLSetScrollOptions(s, SQL_CONCUR_VALUES, SQL_SCROLL_KEYSET_DRIVEN, 65535),
            SQL_SUCCESS);
  EXPECT_EQ(s->rowset_size, 65535u);
  EXPECT_EQ(s->concurrency, 1u) << "the concurrency argument has no effect";
}

}  // namespace
}  // namespace q4::test
