// The connection-string grammar and the scrambled passwords inside it; data source settings:
// number and switch rules, NUMERICFORMAT, the profile keys.
#include <arpa/inet.h>

#include "connect/connection_string.h"
#include "connect/settings.h"
#include "connect_test_support.h"
#include "private_odbc_ini.h"

namespace q4 {
namespace {

std::string unscrambled(const std::string& value, bool string_form) {
  char buffer[128];
  snprintf(buffer, sizeof buffer, "%s", value.c_str());
  return unscramble_password(buffer, string_form);
}

// Pinned (stored values must stay readable); round trips, never ";" or blank; edge bytes.
TEST(PasswordScramble, PinnedRoundTripsAndEdgeValues) {
  EXPECT_EQ(scrambled("secret", false), "~7hGiyw");
  EXPECT_EQ(scrambled("Q4-odbc!2024", true), "~>cO=m7`~$C?{");
  std::string all;
  for (int c = 0x21; c <= 0x7D; ++c) all += static_cast<char>(c);
  for (bool string_form : {false, true}) {
    for (size_t start = 0; start < all.size(); start += 19) {
      std::string plain = all.substr(start, 19), s = scrambled(plain, string_form);
      EXPECT_EQ(s.find_first_of("; "), std::string::npos) << s;
      EXPECT_EQ(unscrambled(s, string_form), plain);
    }
  }
  std::string with = scrambled("a\tb\xE9 c", false);
  EXPECT_EQ(std::string() + with[2] + with[4] + with[5], "\t\xE9 ");
  EXPECT_EQ(unscrambled(with, false), "a\tb\xE9 c");
  EXPECT_NE(unscrambled(scrambled("a b", true), true), "a b");
  // Damaged and plain values: ";" is in no table, its place keeps the one before.
  std::string s = scrambled("ab", false);
  EXPECT_EQ(unscrambled(s.substr(0, 2) + ";", false), std::string("a") + s[1]);
  EXPECT_EQ(unscrambled("pl~ain", false) + unscrambled("~", false), "pl~ain");
}

// Rows: text, keyword, capacity, string form, "found|value|position".
TEST(ConnectionStringGrammar, KeywordLookup) {
  // clang-format off
  const std::tuple<const char*, const char*, size_t, bool, const char*> cases[] = {
      {"UID=;PWD=x", "UID", 40, false, "1||0"}, {"uid = joe ;", "UID", 40, false, "1|joe|0"},
      // A keyword inside another keyword matches; the leftmost match wins.
      {"Q4PWD=abc;PWD=x;", "PWD", 20, false, "1|abc|2"},
      // A longer word that begins with the keyword is not a match; a blank or the capacity ends the value.
      {"UIDX=1;UID=2", "UID", 40, false, "1|2|7"}, {"UID=joe smith;PWD=x", "UID", 40, false, "1|joe|0"},
      {"UID=abcdef", "UID", 4, false, "1|abc|0"},
      // Without "=" after it the keyword is absent; the next "=" is used otherwise.
      {"UID joe", "UID", 40, false, "0||0"}, {"UID ;PWD=x", "UID", 40, false, "1|x|0"},
      // Scrambled: ";" is dropped unless a known keyword (exact case) or nothing follows.
      {"PWD=~ab;UID=x", "PWD", 20, true, "1|~ab|0"}, {"PWD=~ab;uid=x", "PWD", 20, true, "1|~abuid=x|0"},
  };
  // clang-format on
  for (const auto& [text, keyword, capacity, string_form, expected] : cases) {
    char dest[64];
    size_t position = 99;
    int found = get_keyword_value(text, keyword, dest, capacity, &position, string_form);
    EXPECT_EQ(std::to_string(found) + "|" + dest + "|" + std::to_string(position), expected)
        << text << " / " << keyword;
  }
}

Connection completed_connection() {
  Connection conn{};
  // clang-format off
  const std::pair<char*, const char*> texts[] = {{conn.dsn, "Sales"},
      {conn.description, "never written"}, {conn.server, "db1"}, {conn.port_text, "1603"},
      {conn.user, "joe"}, {conn.password, "pw"}, {conn.connect_dialog, "No"},
      {conn.account_connect_dialog, "No"}, {conn.not_null_constraint, "Yes"},
      {conn.disable_ext_fetch, "Yes"}, {conn.server_format_opt, "No"}, {conn.currency_sign, "$"},
      {conn.thousand_mark, ","}, {conn.decimal_mark, "."}};
  // clang-format on
  for (const auto& [field, text] : texts) strcpy(field, text);
  conn.server_version = 754;
  conn.login_timeout = 30;
  return conn;
}

// The settings part of the output for completed_connection().
std::string completed_items(bool with_q4pwd) {
  std::string pw = scrambled("pw");
  return "SERVER=db1;PORTNUMBER=1603;UID=joe;PWD=" + pw +
         ";ACPASSWORD=;ConnectDialog=No;AConnectDialog=No;Q4VERSION=754;" +
         (with_q4pwd ? "Q4PWD=" + pw + ";" : std::string()) +
         "NotNullConstraint=Yes;LoginTimeout=30;ServerFormatOpt=No;NUMERICFORMAT=$/,/.;";
}

std::string out_string(const std::string& input, const Connection& conn, bool dsn_named) {
  char out[kOutConnectStringMax + 1];
  build_out_connect_string(out, input.c_str(), &conn, dsn_named);
  return out;
}

TEST(OutConnectString, KeptInputThenTheSettings) {
  std::string every_known;
  for (int i = 1; i < kConnectKeywordCount; ++i) {
    every_known += std::string(kConnectKeywords[i]) + "=old" + std::to_string(i) + ";";
  }
  const std::tuple<std::string, bool, const char*> cases[] = {
      {"DRIVER={Q4};FOO=bar;DSN=Sales;UID=x", true, "DSN=Sales;"},
      {"", false, ";"},
      {every_known, false, ""},  // emptied, its closing ";" included
      // Removed only in exact case; a value's first word, all of a scrambled one.
      {"DRIVER=x;UID=joe smith;PWD=~a;b;", false, "DRIVER=x;smith;"},
  };
  Connection conn = completed_connection();
  for (const auto& [input, dsn_named, kept] : cases) {
    EXPECT_EQ(out_string(input, conn, dsn_named), kept + completed_items(!dsn_named)) << input;
  }
}

// Empty passwords are written, other empty fields not (a log file last, when
// there is one); a long input is cut.
TEST(OutConnectString, EmptyFieldsAndLimit) {
  Connection conn = completed_connection();
  conn.password[0] = conn.server[0] = '\0';
  std::string out = out_string("DSN=Sales", conn, true);
  EXPECT_NE(out.find(";PWD=;ACPASSWORD=;"), std::string::npos) << out;
  for (const char* never :
       {"SERVER", "DESCRIPTION", "NOBLOCK", "DisableExtFetch", "LogFile", "DisableArrayPipeline"}) {
    EXPECT_EQ(out.find(never), std::string::npos) << never;
  }
  strcpy(conn.log_file, "/tmp/q4.log");
  out = out_string("DSN=Sales", conn, true);
  EXPECT_EQ(out.substr(out.rfind(";NUMERICFORMAT=")), ";NUMERICFORMAT=$/,/.;LogFile=/tmp/q4.log;");
  // A string saved from a TLS connection reconnects with TLS, with the same roots.
  strcpy(conn.ssl_mode, "verify-full");
  strcpy(conn.ssl_root_cert, "/etc/q4/ca.pem");
  out = out_string("DRIVER=x;SSLMode=require;SSLRootCert=/old.pem;", conn, false);
  EXPECT_EQ(out.find("SSLMode=require"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.rfind(";LogFile=")),
            ";LogFile=/tmp/q4.log;SSLMode=verify-full;SSLRootCert=/etc/q4/ca.pem;");
  out = out_string("DRIVER=x;FOO=" + std::string(2000, 'f') + ";", conn, false);
  EXPECT_EQ(out.size(), kOutConnectStringMax);
  EXPECT_EQ(out.compare(0, 13, "DRIVER=x;FOO="), 0);
}

// A fresh record naming a fresh data source with `keys`.
Connection record_for(const std::map<std::string, std::string>& keys) {
  Connection conn{};
  set(conn.dsn, PrivateOdbcIni::get().add_dsn(keys));
  return conn;
}

// Only "Y" switches on; leading integers saturate; timeouts cap at 32767.
TEST(SettingTexts, SwitchAndNumberRules) {
  for (const auto& [text, on] : {std::pair{"Yonder", true}, {"yes", false}, {" Yes", false}}) {
    EXPECT_EQ(switch_on(text), on) << '"' << text << '"';
  }
  // clang-format off
  const std::pair<const char*, int32_t> ints[] = {{"  42x", 42}, {"abc", 0},
      {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}};
  const std::pair<const char*, uint32_t> timeouts[] = {{"32767", 32767}, {"32768", 32767}};
  // clang-format on
  for (const auto& [text, value] : ints) EXPECT_EQ(parse_leading_int(text), value) << text;
  for (const auto& [text, value] : timeouts) EXPECT_EQ(timeout_from_text(text), value) << text;
  EXPECT_EQ(level_from_text("-1"), 0xFFFFFFFFu);
}

// A port is a number from 1 to 65535 and nothing else (blanks around it aside); anything else
// leaves the port as it was (0, 65536, "5433x", "" refused: e2e/pyodbc_rowcount_connect_test.py).
TEST(SettingTexts, PortIsANumberFrom1To65535) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {" 5433\t", 5433}, {"1", 1}, {"65535", 65535}, {"4294967297", -1}, {"54 33", -1}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    uint16_t port = htons(7);
    bool ok = parse_port(text, &port);
    EXPECT_EQ(ok ? ntohs(port) : -1, expected) << '"' << text << '"';
    if (!ok) {
      EXPECT_EQ(ntohs(port), 7) << "changed by a refused text";
    }
  }
}

// SSLMode: the four names in any letter case; empty is plain TCP; anything else is refused and
// leaves the mode as it was, never taken as "disable" (the plain names, "on" and "verify":
// e2e/tls_test.py).
TEST(SettingTexts, SslModeIsOneOfFourNames) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"disable", 0}, {"  ", 0}, {" Verify-CA ", 2}, {"VERIFY-FULL\t", 3},
      {"verify-fullx", -1}, {"require;", -1}, {"prefer", -1}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    TlsMode mode = TlsMode::kVerifyCa;
    bool ok = tls_mode_from_text(text, &mode);
    EXPECT_EQ(ok ? static_cast<int>(mode) : -1, expected) << '"' << text << '"';
    if (!ok) {
      EXPECT_EQ(mode, TlsMode::kVerifyCa) << "changed by a refused text";
    }
  }
  EXPECT_STREQ(tls_mode_name(TlsMode::kRequire), "require");  // as the connection log writes it
}

// Marks the text does not give keep what they held ("C", "T", "D").
TEST(SettingTexts, NumericFormatSplitsUpToFirstEmptyPart) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"$/,/.", "$|,|."}, {"$//.", "$|T|D"}, {"/,/.", "C|T|D"}, {"$/,", "$|,|D"},
      {"abcdefg/1234567/uvwxyz", "abcde|12345|uvwxy"}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    Connection conn{};
    strcpy(conn.currency_sign, "C"), strcpy(conn.thousand_mark, "T"),
        strcpy(conn.decimal_mark, "D");
    split_numeric_format(&conn, text);
    EXPECT_EQ(fields({conn.currency_sign, conn.thousand_mark, conn.decimal_mark}), expected)
        << text;
  }
}

// USER before UID, PASSWORD before PWD, port kept as text, longest passwords whole.
TEST(DriverConnectSettings, UserPasswordAndPortKeys) {
  // clang-format off
  Connection conn = record_for({{"USER", "u"}, {"UID", "x"}, {"PASSWORD", "p"}, {"PWD", "y"},
                                {"PORTNUMBER", "1700"}, {"DESCRIPTION", "d"}});
  // clang-format on
  EXPECT_TRUE(read_driver_connect_settings(&conn));
  EXPECT_EQ(fields({conn.user, conn.password, conn.port_text, conn.description}), "u|p|1700|d");
  EXPECT_EQ(conn.port, 0) << "SQLDriverConnect converts the port when connecting";
  const std::string longest(19, 'k');
  conn = record_for({{"PASSWORD", scrambled(longest)}, {"ACPASSWORD", scrambled(longest)}});
  EXPECT_FALSE(read_driver_connect_settings(&conn)) << "no user";
  EXPECT_EQ(fields({conn.user, conn.password, conn.ac_password}), "|" + longest + "|" + longest);
}

}  // namespace
}  // namespace q4
