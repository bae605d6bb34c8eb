// The server's pure parts in-process: execute-request parsing, escape
// translation and declared-type mapping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/wire.h"
#include "server/escape_translator.h"
#include "server/request_parser.h"
#include "server/type_map.h"

namespace q4::lite {
namespace {

// A literal with its embedded NULs, without the terminating one.
template <size_t N>
std::string raw(const char (&s)[N]) {
  return std::string(s, N - 1);
}

// clang-format off
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
      {"BIGINT", kSqlNumeric, 19, 0}, {"decimal( 7 , 3 )", kSqlNumeric, 7, 3},
      {"NUMERIC", kSqlNumeric, 18, 0}, {"character varying(9)", kSqlVarchar, 9, 0},
      {"TEXT", kSqlVarchar, 65535, 0}, {"DATETIME", kSqlTimestamp, 19, 0},
      {"BLOB", kSqlLongVarbinary, 1000000000, 0}, {"UNSIGNED INTEGER", kSqlInteger, 10, 0},
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

// clang-format on

}  // namespace
}  // namespace q4::lite
