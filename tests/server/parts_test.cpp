// The server's pure parts in-process: framing, request parsing, escape
// translation, type mapping, value formatting, patterns, error numbers,
// account names and the user table.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "server/error_map.h"
#include "server/escape_translator.h"
#include "server/frame_codec.h"
#include "server/logon.h"
#include "server/request_parser.h"
#include "server/sql_functions.h"
#include "server/type_map.h"
#include "server/value_encoding.h"

namespace q4::lite {
namespace {

// A literal with its embedded NULs, without the terminating one.
template <size_t N>
std::string raw(const char (&s)[N]) {
  return std::string(s, N - 1);
}
const uint8_t* u8(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// clang-format off
TEST(FrameCodec, FramesWhoseLengthsDisagreeAreRejected) {
  const struct { std::vector<uint8_t> body; bool first, ok; } cases[] = {  // body: after the length
      {{0x07, 0, 0, 0, 0, 0}, true, true},             // empty payload
      {{0x07, 0, 0, 3, 0, 0, 'a', 'b'}, true, false},  // chunk longer than the frame
      {{0x07, 0, 0, 1, 0, 0, 'a', 'b'}, true, false},  // bytes after the chunk
      {{0, 2, 0, 1, 'a', 'b'}, false, true},           // later frame: no command
      {{0x07, 0x07, 0x07}, true, false},               // command never ends
      {{0x07, 0, 0x50, 0x01, 0, 0}, true, false},      // chunk length 20481
      {{0x07, 0}, true, false},                        // no chunk header
  };
  for (const auto& c : cases) {
    FrameView view;
    EXPECT_EQ(parse_frame(c.body.data(), c.body.size(), c.first, &view), c.ok) << c.body.size();
  }
}

TEST(RequestParser, ExecuteTrailerAndBinaryBlocks) {
  const struct { std::string after_id; bool ok; size_t blocks; std::string cursor; } cases[] = {
      {raw("SELECT 1\0\0"), true, 0, ""},
      {raw("X\0" "1\0z\0" "2\0zz\0" "CUR\0\0\0"), true, 2, "CUR"},
      {raw("SELECT 1\0" "1\0\0\0"), true, 0, "1"},  // a cursor name that looks like a block
      {raw("SELECT 1"), false, 0, ""},              // text never ends
      {raw("SELECT 1\0"), false, 0, ""},            // no trailer
      {raw("X\0" "5\0ab\0\0"), false, 0, ""},       // block shorter than its count
      {raw("SELECT 1\0C\0\0"), false, 0, ""},       // name with two NULs only
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> p = {0, 0, 0, 9};
    p.insert(p.end(), c.after_id.begin(), c.after_id.end());
    ExecuteRequest r;
    ASSERT_EQ(parse_execute(p.data(), p.size(), &r), c.ok) << c.after_id;
    if (!c.ok) continue;
    EXPECT_EQ(r.statement_id, 9u);
    EXPECT_EQ(r.binaries.size(), c.blocks);
    EXPECT_EQ(r.cursor_name, c.cursor);
  }
}

TEST(RequestParser, LogonTextTakesItsSeparatorFromTheLastByte) {
  const struct { std::string text; bool ok; std::string user, password, account, marks; } cases[] = {
      {"srv;vm;ann;p,w;acct;;", true, "ann", "p,w", "acct", ""},
      {"srv,vm,,,,,", true, "", "", "", ""},
      {"srv,vm,u,p,a,ap,\"$/,/.\",", true, "u", "p", "a", "$/,/."},
      {"srv,vm,u,p,a,", false, "", "", "", ""},           // five fields
      {"srv,vm,u,p,a,ap,extra,", false, "", "", "", ""},  // unquoted seventh item
  };
  for (const auto& c : cases) {
    LogonRequest r;
    ASSERT_EQ(parse_logon(u8(c.text), c.text.size(), &r), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(std::vector<std::string_view>({r.user, r.password, r.account, r.numeric_marks}),
              std::vector<std::string_view>({c.user, c.password, c.account, c.marks}));
  }
}

TEST(EscapeTranslator, TranslatesOutsideLiteralsOnly) {
  const struct { std::string in; size_t binaries; std::string out; } cases[] = {  // out "": fails
      {"SELECT {ts'2024-01-02 03:04:05'}", 0, "SELECT '2024-01-02 03:04:05'"},
      {"SELECT {fn UCASE(name)} FROM t", 0, "SELECT upper((name)) FROM t"},
      {"SELECT '{fn x}', \"{d\" FROM t -- {oj\n", 0, "SELECT '{fn x}', \"{d\" FROM t -- {oj\n"},
      {"x LIKE 'a' {escape '\\'}", 0, "x LIKE 'a'  ESCAPE '\\'"},
      {"FROM {oj a LEFT OUTER JOIN b ON a.k=b.k}", 0, "FROM   a LEFT OUTER JOIN b ON a.k=b.k "},
      // Binary blocks replace the first bare 0xN markers, as many as were sent.
      {"VALUES (0x0, '0x1', a0x1, 0x1F, 0x1, 0x2)", 2, "VALUES (:q4b0, '0x1', a0x1, 0x1F, :q4b1, 0x2)"},
      {"SELECT {fn LEFT({fn UCASE('a,b')}, 1)}", 0, "SELECT substr((upper(('a,b'))),1,(1))"},
      {"SELECT {xyz}", 0, ""}, {"SELECT {fn UCASE(1)", 0, ""}, {"SELECT }", 0, ""},
      {"SELECT {d 2024}", 0, ""},
      {"SELECT " + [] { std::string s; for (int i = 0; i < 10000; ++i) s += "{oj "; return s; }(),
       0, ""},  // deep nesting is refused, not recursed into
  };
  for (const auto& c : cases) {
    std::string out, error;
    const bool ok = translate_escapes(c.in, c.binaries, &out, &error);
    EXPECT_EQ(ok, !c.out.empty()) << c.in.substr(0, 60) << ": " << error;
    if (ok) {
      EXPECT_EQ(out, c.out) << c.in;
    }
  }
}

TEST(TypeMap, DeclaredTypesMapToWireTypes) {
  const struct { const char* declared; int16_t type; uint32_t precision; uint16_t scale; } cases[] = {
      {"INTEGER", kSqlInteger, 10, 0}, {"SMALLINT", kSqlSmallint, 5, 0},
      {"BIGINT", kSqlNumeric, 19, 0}, {"decimal( 7 , 3 )", kSqlNumeric, 7, 3},
      {"NUMERIC", kSqlNumeric, 18, 0}, {"REAL", kSqlNumeric, 24, 0}, {"CHAR(8)", kSqlChar, 8, 0},
      {"character varying(9)", kSqlVarchar, 9, 0}, {"TEXT", kSqlVarchar, 65535, 0},
      {"DATE", kSqlDate, 10, 0}, {"TIME", kSqlTime, 8, 0}, {"DATETIME", kSqlTimestamp, 19, 0},
      {"VARBINARY(16)", kSqlVarbinary, 16, 0}, {"BLOB", kSqlLongVarbinary, 1000000000, 0},
      {"UNSIGNED INTEGER", kSqlInteger, 10, 0},
      {"NVARCHAR2(5)", kSqlVarchar, 65535, 0},  // affinity: contains CHAR
      {"MONEY", kSqlNumeric, 18, 0},            // affinity: numeric
  };
  for (const auto& c : cases) {
    const ColumnInfo info = map_declared_type(c.declared);
    EXPECT_TRUE(info.declared);
    EXPECT_EQ(std::vector<long>({info.type, info.precision, info.scale}),
              std::vector<long>({c.type, c.precision, c.scale})) << c.declared;
  }
  EXPECT_FALSE(map_declared_type(nullptr).declared);
  EXPECT_FALSE(map_declared_type("").declared);
}

TEST(ValueEncoding, DecimalsAndDates) {
  const struct { double value; int scale; const char* text; } decimals[] = {
      {3.5, 2, "3.50"}, {-0.05, 2, "-0.05"}, {-0.004, 2, "0.00"}, {123.456, 0, "123"},
      {1e20, 2, "1e+20"}, {0.1, -1, "0.1"}, {-2.5e-7, -1, "-2.5e-07"},
  };
  char out[kValueScratch];
  for (const auto& d : decimals) {
    EXPECT_EQ(std::string(out, format_decimal(d.value, d.scale, out, sizeof out)), d.text)
        << d.value << " scale " << d.scale;
  }
  const struct { int16_t type; const char *in, *out; } dates[] = {  // out "": not of that type
      {kSqlDate, "2024-02-29", "2024-02-29"}, {kSqlDate, "2024-2-9", ""},
      {kSqlTime, "23:59", "23:59:00"}, {kSqlTime, "2024-01-01 12:00:01.5", "12:00:01"},
      {kSqlTime, "noon", ""}, {kSqlTimestamp, "2024-01-01T10:00", "2024-01-01 10:00:00"},
      {kSqlTimestamp, "2024-01-01 x", ""},
  };
  for (const auto& d : dates) {
    EXPECT_EQ(std::string(out, normalise_datetime(d.type, d.in, std::strlen(d.in), out)), d.out) << d.in;
  }
}

TEST(Patterns, OdbcSearchPatterns) {
  const struct { const char *pattern, *name; bool match; } cases[] = {
      {"%", "", true}, {"a%", "ABC", true}, {"a_c", "ac", false}, {"a\\_c", "a_c", true},
      {"a\\_c", "abc", false}, {"", "a", false},
      {"%a%a%a%a%b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},  // no backtracking blow-up
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pattern_matches(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
  }
}

// The message rules are checked against SQLite's real messages in types_test.cpp.
TEST(ErrorMap, ResultCodesDecideBeforeMessages) {
  const struct { int code; const char* message; int number; } cases[] = {
      {SQLITE_CONSTRAINT_UNIQUE, "UNIQUE constraint failed: t.a", 70},  // extended code
      {SQLITE_BUSY, "database is locked", 62},
      {SQLITE_READONLY, "attempt to write a readonly database", 61},
      {SQLITE_ERROR, "table index_log already exists", 51},
      {SQLITE_ERROR, "index i already exists", 40},
      {SQLITE_ERROR, "something new", 25},
  };
  for (const auto& c : cases) EXPECT_EQ(map_sqlite_error(c.code, c.message), c.number) << c.message;
  EXPECT_EQ(error_status(3, "no such table: t"), "E3 no such table: t");
}

TEST(Accounts, OnlyPlainNamesBecomeFiles) {
  const std::pair<std::string, bool> cases[] = {
      {"sales", true}, {"a-b_1", true}, {std::string(64, 'a'), true}, {std::string(65, 'a'), false},
      {"../x", false}, {"a/b", false}, {".hidden", false}, {"", false}, {"-x", false},
  };
  for (const auto& [name, ok] : cases) EXPECT_EQ(valid_account_name(name), ok) << name;
}

TEST(Users, PasswordIsEverythingAfterTheFirstColon) {
  char path[] = "/tmp/q4lite-users-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "# users\nalice:wonder:land\n\nbob:\n";
  UserTable users;
  std::string error;
  ASSERT_TRUE(users.load(path, &error)) << error;
  const struct { const char *user, *password; bool accepted; } cases[] = {
      {"alice", "wonder:land", true}, {"alice", "wonder", false}, {"bob", "", true},
      {"bob", "x", false}, {"carol", "", false}, {"ALICE", "wonder:land", false},
  };
  for (const auto& c : cases) EXPECT_EQ(users.accepts(c.user, c.password), c.accepted) << c.user;
  EXPECT_TRUE(UserTable().accepts("anyone", "x"));  // no file: authentication off
  std::ofstream(path) << "no colon here\n";
  EXPECT_FALSE(UserTable().load(path, &error));
  std::remove(path);
}
// clang-format on

}  // namespace
}  // namespace q4::lite
