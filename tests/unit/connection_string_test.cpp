#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "connect/connection_string.h"
#include "connect/password_scramble.h"

namespace q4 {
namespace {

TEST(ToUpperChar, MapsAsciiAndCodePage866LowerCaseOnly) {
  for (int c = 0; c < 256; ++c) {
    int expected = c;
    if (c >= 'a' && c <= 'z') expected = c - 32;
    if (c >= 0xA0 && c <= 0xAF) expected = c - 0x20;
    if (c >= 0xE0 && c <= 0xEF) expected = c - 0x50;
    EXPECT_EQ(to_upper_char(static_cast<unsigned char>(c)), expected) << "byte " << c;
  }
}

struct LookupCase {
  const char* name;
  const char* text;
  const char* keyword;
  size_t capacity;
  bool string_form;
  int found;
  const char* value;
  size_t position;
};

class KeywordLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(KeywordLookup, FindsValue) {
  const LookupCase& c = GetParam();
  char dest[64];
  memset(dest, '#', sizeof dest);
  size_t position = 99;
  EXPECT_EQ(get_keyword_value(c.text, c.keyword, dest, c.capacity, &position, c.string_form),
            c.found);
  EXPECT_STREQ(dest, c.value);
  EXPECT_EQ(position, c.position);
}

const LookupCase kLookupCases[] = {
    {"Plain", "DSN=a;UID=joe;", "UID", 40, false, 1, "joe", 6},
    {"CaseIgnored", "dsn=a;uid=joe", "UID", 40, false, 1, "joe", 6},
    {"MixedCaseKeyword", "notnullconstraint=No", "NotNullConstraint", 10, false, 1, "No", 0},
    {"Absent", "DSN=a;", "UID", 40, false, 0, "", 0},
    {"EmptyValueIsFound", "UID=;PWD=x", "UID", 40, false, 1, "", 0},
    {"ValueAtEnd", "UID=joe", "UID", 40, false, 1, "joe", 0},
    // A keyword inside another keyword matches; the leftmost match wins.
    {"PwdInsideQ4Pwd", "Q4PWD=abc;PWD=x;", "PWD", 20, false, 1, "abc", 2},
    {"PasswordInsideAcPassword", "ACPASSWORD=a;PASSWORD=b", "PASSWORD", 20, false, 1, "a", 2},
    {"ConnectDialogInsideA", "AConnectDialog=Yes;ConnectDialog=No", "CONNECTDIALOG", 10, false, 1,
     "Yes", 1},
    // A longer word that begins with the keyword is not a match.
    {"LongerWordSkipped", "UIDX=1;UID=2", "UID", 40, false, 1, "2", 7},
    {"BlanksAroundEquals", "UID = joe ;", "UID", 40, false, 1, "joe", 0},
    {"BlankEndsValue", "UID=joe smith;PWD=x", "UID", 40, false, 1, "joe", 0},
    {"OnlyBlanksGiveEmpty", "UID=   ;", "UID", 40, false, 1, "", 0},
    {"CutToCapacity", "UID=abcdef", "UID", 4, false, 1, "abc", 0},
    // A keyword without "=" after it counts as absent.
    {"NoEqualsAnywhere", "UID joe", "UID", 40, false, 0, "", 0},
    {"EqualsOfLaterItem", "UID ;PWD=x", "UID", 40, false, 1, "x", 0},
    // Scrambled values: ";" is dropped unless a known keyword or nothing
    // follows it.
    {"ScrambledSemicolonDropped", "PWD=~ab;cd;UID=x", "PWD", 20, true, 1, "~abcd", 0},
    {"ScrambledEndsBeforeKeyword", "PWD=~ab;UID=x", "PWD", 20, true, 1, "~ab", 0},
    {"ScrambledEndsAtLastSemicolon", "PWD=~ab;", "PWD", 20, true, 1, "~ab", 0},
    {"KeywordAfterSemicolonIsCaseSensitive", "PWD=~ab;uid=x", "PWD", 20, true, 1, "~abuid=x", 0},
    {"ShorterThanKeywordIsNoKeyword", "PWD=~ab;DS", "PWD", 20, true, 1, "~abDS", 0},
    {"ScrambledAfterBlank", "PWD= ~ab;cd", "PWD", 20, true, 1, "~abcd", 0},
    {"StringFormNeedsTilde", "PWD=ab;cd", "PWD", 20, true, 1, "ab", 0},
    {"TildeWithoutStringForm", "PWD=~ab;cd", "PWD", 20, false, 1, "~ab", 0},
    {"ScrambledStillEndsAtBlank", "PWD=~ab cd;", "PWD", 20, true, 1, "~ab", 0},
};

INSTANTIATE_TEST_SUITE_P(Grammar, KeywordLookup, ::testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RemoveCase {
  const char* name;
  const char* text;
  const char* keyword;
  int removed;
  const char* result;
};

class KeywordRemoval : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(KeywordRemoval, RemovesWholeItem) {
  const RemoveCase& c = GetParam();
  char text[128];
  snprintf(text, sizeof text, "%s", c.text);
  EXPECT_EQ(remove_keyword(text, c.keyword), c.removed);
  EXPECT_STREQ(text, c.result);
}

const RemoveCase kRemoveCases[] = {
    {"Middle", "DSN=a;UID=joe;PWD=x;", "UID", 1, "DSN=a;PWD=x;"},
    {"AtEnd", "DSN=a;UID=joe", "UID", 1, "DSN=a;"},
    {"ExactCaseOnly", "uid=a;UID=b;", "UID", 1, "uid=a;"},
    {"OtherCaseNotRemoved", "uid=a;", "UID", 0, "uid=a;"},
    {"BlankEndsItem", "UID=joe smith;PWD=x", "UID", 1, "smith;PWD=x"},
    {"ScrambledPwdKeepsSemicolons", "PWD=~a;b;UID=x", "PWD", 1, "UID=x"},
    {"ScrambledAcPassword", "ACPASSWORD=~a;b;UID=x", "ACPASSWORD", 1, "UID=x"},
    {"Q4PwdIsNotStringForm", "Q4PWD=~a;b;UID=x", "Q4PWD", 1, "b;UID=x"},
    {"NoEquals", "UID joe", "UID", 0, "UID joe"},
    // Why removal order matters: PWD also stands inside Q4PWD.
    {"TailOfLongerKeyword", "Q4PWD=x;PWD=y;", "PWD", 1, "Q4PWD=y;"},
};

INSTANTIATE_TEST_SUITE_P(Grammar, KeywordRemoval, ::testing::ValuesIn(kRemoveCases),
                         [](const auto& info) { return std::string(info.param.name); });

Connection completed_connection() {
  Connection conn{};
  snprintf(conn.dsn, sizeof conn.dsn, "%s", "Sales");
  snprintf(conn.description, sizeof conn.description, "%s", "never written");
  snprintf(conn.server, sizeof conn.server, "%s", "db1");
  snprintf(conn.port_text, sizeof conn.port_text, "%s", "1603");
  snprintf(conn.user, sizeof conn.user, "%s", "joe");
  snprintf(conn.password, sizeof conn.password, "%s", "pw");
  snprintf(conn.connect_dialog, sizeof conn.connect_dialog, "%s", "No");
  snprintf(conn.account_connect_dialog, sizeof conn.account_connect_dialog, "%s", "No");
  snprintf(conn.not_null_constraint, sizeof conn.not_null_constraint, "%s", "Yes");
  snprintf(conn.disable_ext_fetch, sizeof conn.disable_ext_fetch, "%s", "Yes");
  snprintf(conn.server_format_opt, sizeof conn.server_format_opt, "%s", "No");
  snprintf(conn.currency_sign, sizeof conn.currency_sign, "%s", "$");
  snprintf(conn.thousand_mark, sizeof conn.thousand_mark, "%s", ",");
  snprintf(conn.decimal_mark, sizeof conn.decimal_mark, "%s", ".");
  conn.server_version = 754;
  conn.login_timeout = 30;
  return conn;
}

std::string scrambled_pw(const char* plain) {
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%s", plain);
  return scramble_password(buffer, true);
}

// The settings part of the output for completed_connection().
std::string completed_items(bool with_q4pwd) {
  std::string pw = scrambled_pw("pw");
  return "SERVER=db1;PORTNUMBER=1603;UID=joe;PWD=" + pw +
         ";ACPASSWORD=;ConnectDialog=No;AConnectDialog=No;Q4VERSION=754;" +
         (with_q4pwd ? "Q4PWD=" + pw + ";" : std::string()) +
         "NotNullConstraint=Yes;LoginTimeout=30;ServerFormatOpt=No;NUMERICFORMAT=$/,/.;";
}

std::string out_string(const char* input, const Connection& conn, bool dsn_named) {
  char out[kOutConnectStringMax + 1];
  build_out_connect_string(out, input, &conn, dsn_named);
  return out;
}

TEST(OutConnectString, DataSourceNamedKeepsNothingElseOfInput) {
  Connection conn = completed_connection();
  EXPECT_EQ(out_string("DRIVER={Q4};FOO=bar;DSN=Sales;UID=x", conn, true),
            "DSN=Sales;" + completed_items(false));
}

TEST(OutConnectString, NoDataSourceKeepsUnknownItemsAndAddsQ4Pwd) {
  Connection conn = completed_connection();
  EXPECT_EQ(out_string("DRIVER={Q4};FOO=bar;SERVER=old;Q4PWD=x;PWD=y", conn, false),
            "DRIVER={Q4};FOO=bar;" + completed_items(true));
}

TEST(OutConnectString, EmptyInputWithoutDataSourceStartsWithSemicolon) {
  Connection conn = completed_connection();
  EXPECT_EQ(out_string("", conn, false), ";" + completed_items(true));
}

// Keywords are found in any case but removed only in their exact case.
TEST(OutConnectString, LowerCaseItemStaysBesideCompletedOne) {
  Connection conn = completed_connection();
  std::string out = out_string("DRIVER=x;uid=joe;", conn, false);
  EXPECT_EQ(out.find("DRIVER=x;uid=joe;SERVER=db1;"), 0u) << out;
  EXPECT_NE(out.find(";UID=joe;"), std::string::npos) << out;
}

TEST(OutConnectString, SecondWordOfBlankedValueStays) {
  Connection conn = completed_connection();
  std::string out = out_string("DRIVER=x;UID=joe smith;", conn, false);
  EXPECT_EQ(out.find("DRIVER=x;smith;SERVER=db1;"), 0u) << out;
}

TEST(OutConnectString, EmptyPasswordsAreWrittenOtherEmptyFieldsNot) {
  Connection conn = completed_connection();
  conn.password[0] = '\0';
  conn.server[0] = '\0';
  std::string out = out_string("DSN=Sales", conn, true);
  EXPECT_NE(out.find(";PWD=;"), std::string::npos) << out;
  EXPECT_NE(out.find(";ACPASSWORD=;"), std::string::npos) << out;
  EXPECT_EQ(out.find("SERVER"), std::string::npos) << out;
  for (const char* never : {"DESCRIPTION", "NOBLOCK", "NOCACHE", "DisableExtFetch"}) {
    EXPECT_EQ(out.find(never), std::string::npos) << never;
  }
}

TEST(OutConnectString, EveryKnownItemOfInputIsReplaced) {
  Connection conn = completed_connection();
  std::string input;
  for (int i = 1; i < kConnectKeywordCount; ++i) {
    input += std::string(kConnectKeywords[i]) + "=old" + std::to_string(i) + ";";
  }
  std::string out = out_string(input.c_str(), conn, false);
  EXPECT_EQ(out.find("old"), std::string::npos) << out;
  // The input is emptied by the removals, its closing ";" included.
  EXPECT_EQ(out, completed_items(true));
}

// A completed string read back gives the same passwords, whatever printable
// characters they hold (a blank can never stand in a value).
TEST(OutConnectString, PasswordsReadBackFromOutput) {
  std::string printable;
  for (int c = 0x21; c <= 0x7D; ++c) printable += static_cast<char>(c);
  printable += printable;
  for (size_t start = 0; start < 0x7D - 0x21 + 1; ++start) {
    Connection conn = completed_connection();
    std::string password = printable.substr(start, 19);
    std::string ac_password = printable.substr(start + 7, 19);
    snprintf(conn.password, sizeof conn.password, "%s", password.c_str());
    snprintf(conn.ac_password, sizeof conn.ac_password, "%s", ac_password.c_str());
    std::string out = out_string("DSN=Sales", conn, true);
    char value[21];
    size_t position;
    ASSERT_EQ(get_keyword_value(out.c_str(), "PWD", value, 21, &position, true), 1);
    EXPECT_EQ(unscramble_password(value, true), password) << out;
    ASSERT_EQ(get_keyword_value(out.c_str(), "ACPASSWORD", value, 21, &position, true), 1);
    EXPECT_EQ(unscramble_password(value, true), ac_password) << out;
  }
}

TEST(OutConnectString, LongInputIsCutAtLimit) {
  Connection conn = completed_connection();
  std::string input = "DRIVER=x;FOO=" + std::string(2000, 'f') + ";";
  std::string out = out_string(input.c_str(), conn, false);
  EXPECT_EQ(out.size(), kOutConnectStringMax);
  EXPECT_EQ(out.compare(0, 13, "DRIVER=x;FOO="), 0);
}

}  // namespace
}  // namespace q4

namespace q4 {
namespace {

// Random strings made of the grammar's own pieces: whatever the input, values
// stay within their capacity, removals only shorten the text, and the output
// stays within its limit (run under AddressSanitizer for overruns).
TEST(ConnectionStringGrammar, RandomInputsKeepTheBounds) {
  const char* pieces[] = {"DSN", "PWD", "Q4PWD", "PASSWORD", "ACPASSWORD",    "UID", "uid",  "=",
                          ";",   " ",   "~",     "x",        "ConnectDialog", "A",   "\xE0", "=;"};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245 + 12345;
    return (seed >> 16) & 0x7FFF;
  };
  Connection conn = completed_connection();
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int count = static_cast<int>(next() % 40);
    for (int i = 0; i < count; ++i) text += pieces[next() % (sizeof pieces / sizeof *pieces)];
    for (const char* keyword : kConnectKeywords) {
      char value[8];
      size_t position;
      int found =
          get_keyword_value(text.c_str(), keyword, value, sizeof value, &position, next() % 2 == 0);
      ASSERT_LT(strlen(value), sizeof value);
      if (found) {
        ASSERT_LT(position, text.size());
      } else {
        ASSERT_EQ(value[0], '\0');
      }
      std::string edited = text;
      size_t before = edited.size();
      if (remove_keyword(edited.data(), keyword)) {
        ASSERT_LT(strlen(edited.c_str()), before) << text;
      } else {
        ASSERT_EQ(edited, text);
      }
    }
    char out[kOutConnectStringMax + 1];
    build_out_connect_string(out, text.c_str(), &conn, next() % 2 == 0);
    ASSERT_LE(strlen(out), kOutConnectStringMax);
  }
}

}  // namespace
}  // namespace q4
