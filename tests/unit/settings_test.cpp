// Data source settings: number and switch rules, NUMERICFORMAT, locale marks.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "connect/settings.h"
#include "connect_test_support.h"
#include "platform/locale_marks.h"
#include "private_odbc_ini.h"

namespace q4 {
namespace {

using Profile = std::map<std::string, std::string>;

// A fresh record naming a fresh data source with `keys`.
Connection record_for(const Profile& keys, bool user_file = false) {
  Connection conn{};
  set(conn.dsn, PrivateOdbcIni::get().add_dsn(keys, user_file));
  return conn;
}

std::string marks(const Connection& conn) {
  return fields({conn.currency_sign, conn.thousand_mark, conn.decimal_mark});
}

// Only "Y" switches on; leading integers saturate; timeouts cap at 32767; ports wrap.
TEST(SettingTexts, SwitchAndNumberRules) {
  for (const auto& [text, on] : {std::pair{"Yonder", true}, {"yes", false}, {" Yes", false}}) {
    EXPECT_EQ(switch_on(text), on) << '"' << text << '"';
  }
  // clang-format off
  const std::pair<const char*, int32_t> ints[] = {{"  42x", 42}, {"-1", -1}, {"abc", 0},
      {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}};
  const std::pair<const char*, uint32_t> timeouts[] = {{"32767", 32767}, {"32768", 32767}};
  const std::pair<const char*, uint16_t> ports[] = {{"70000", 70000 - 65536}, {"-1", 65535}};
  // clang-format on
  for (const auto& [text, value] : ints) EXPECT_EQ(parse_leading_int(text), value) << text;
  for (const auto& [text, value] : timeouts) EXPECT_EQ(timeout_from_text(text), value) << text;
  for (const auto& [text, port] : ports) EXPECT_EQ(port_from_text(text), htons(port)) << text;
  EXPECT_EQ(level_from_text("-1"), 0xFFFFFFFFu);
}

// Marks the text does not give keep what they held ("C", "T", "D").
TEST(SettingTexts, NumericFormatSplitsUpToFirstEmptyPart) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"$/,/.", "$|,|."}, {"$//.", "$|T|D"}, {"/,/.", "C|T|D"}, {"$/,", "$|,|D"},
      {"$/,/ . x", "$|,|."},    // the third part is one word
      {"EUR /./,", "EUR |.|,"},  // the first two keep their blanks
      {"abcdefg/1234567/uvwxyz", "abcde|12345|uvwxy"}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    Connection conn{};
    strcpy(conn.currency_sign, "C"), strcpy(conn.thousand_mark, "T"),
        strcpy(conn.decimal_mark, "D");
    split_numeric_format(&conn, text);
    EXPECT_EQ(marks(conn), expected) << text;
  }
}

// SQLConnect converts the port at once (the marks' level rule is on the wire).
TEST(ConnectSettings, DefaultsAndNumbers) {
  Connection conn = record_for({});
  read_connect_settings(&conn);
  EXPECT_EQ(fields({conn.not_null_constraint, conn.disable_ext_fetch, conn.server_format_opt,
                    conn.account_connect_dialog}),
            "Yes|No|No|");
  EXPECT_EQ(conn.port, htons(1603));
  EXPECT_EQ(conn.server_version, 754u);
  conn = record_for({{"PORTNUMBER", "1700abc"}, {"LoginTimeout", "99999"}});
  read_connect_settings(&conn);
  EXPECT_EQ(conn.port, htons(1700));
  EXPECT_STREQ(conn.port_text, "");
  EXPECT_EQ(conn.login_timeout, 32767u);
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

// de_DE is built once into the build tree, renamed into place whole (parallel runs).
const std::string kBuildGermanLocale =
    "test -e $F || { P=$F.$$; mkdir -p $P && localedef -i de_DE -f UTF-8 $P/de_DE.UTF-8 "
    ">/dev/null 2>&1 && mv -T $P $F; rm -rf $P; }";
TEST(LocaleMarks, UserLocaleGivesTheDefaultMarks) {
  const char* build = getenv("Q4_BUILD_DIR");
  std::string folder = std::string(build != nullptr ? build : "/tmp") + "/q4-test-locales";
  std::system(("F=" + folder + "; " + kBuildGermanLocale).c_str());
  if (access((folder + "/de_DE.UTF-8").c_str(), F_OK) != 0) GTEST_SKIP() << "no localedef";
  setenv("LOCPATH", folder.c_str(), 1);
  setenv("LC_ALL", "de_DE.UTF-8", 1);
#if defined(__SANITIZE_ADDRESS__)
  __lsan::ScopedDisabler keep_locale_path;  // glibc keeps a loaded locale's LOCPATH
#endif
  load_locale_marks();
  unsetenv("LOCPATH");
  unsetenv("LC_ALL");
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
  Connection conn = record_for({});
  read_connect_settings(&conn);
  EXPECT_EQ(marks(conn), "\xE2\x82\xAC|.|,");
  reset_locale_marks();
}

}  // namespace
}  // namespace q4
