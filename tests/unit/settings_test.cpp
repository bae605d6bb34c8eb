#include <arpa/inet.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "connect/password_scramble.h"
#include "connect/settings.h"
#include "platform/locale_marks.h"
#include "private_odbc_ini.h"

namespace q4 {
namespace {

std::string scrambled(const std::string& plain, bool string_form) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%s", plain.c_str());
  return scramble_password(buffer, string_form);
}

TEST(DsnSetting, StoredValueDefaultAndCut) {
  std::string dsn = PrivateOdbcIni::get().add_dsn(
      {{"SERVER", "db.example"}, {"DESCRIPTION", std::string(300, 'd')}});
  char buffer[300];
  read_dsn_setting(dsn.c_str(), "SERVER", "", buffer, 128);
  EXPECT_STREQ(buffer, "db.example");
  read_dsn_setting(dsn.c_str(), "server", "", buffer, 128);
  EXPECT_STREQ(buffer, "db.example") << "keys are found in any case";
  read_dsn_setting(dsn.c_str(), "PORTNUMBER", "1603", buffer, 10);
  EXPECT_STREQ(buffer, "1603");
  read_dsn_setting(dsn.c_str(), "DESCRIPTION", "", buffer, 255);
  EXPECT_EQ(std::string(buffer), std::string(254, 'd'));
  read_dsn_setting(dsn.c_str(), "SERVER", "", buffer, 3);
  EXPECT_STREQ(buffer, "db");
}

TEST(DsnSetting, UserFileSourcesAreFound) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", "mine"}}, true);
  char buffer[128];
  read_dsn_setting(dsn.c_str(), "SERVER", "", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "mine");
}

TEST(DsnSetting, UnknownSourceGivesDefaults) {
  char buffer[16];
  read_dsn_setting("q4-no-such-source", "Q4VERSION", "754", buffer, 15);
  EXPECT_STREQ(buffer, "754");
}

TEST(SwitchText, OnlyLeadingUpperCaseYIsOn) {
  const std::pair<const char*, bool> cases[] = {
      {"Yes", true}, {"YES", true}, {"Y", true}, {"Yonder", true}, {"yes", false},
      {"y", false},  {"No", false}, {"", false}, {" Yes", false},
  };
  for (const auto& [text, on] : cases) EXPECT_EQ(switch_on(text), on) << '"' << text << '"';
}

TEST(NumberText, LeadingIntegerRule) {
  const std::pair<const char*, int32_t> cases[] = {
      {"1603", 1603},
      {"  42x", 42},
      {"\t5", 5},
      {"+7", 7},
      {"-1", -1},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"12 34", 12},
      {"0x10", 0},
      {"2147483647", INT32_MAX},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(parse_leading_int(text), value) << text;
}

TEST(NumberText, TimeoutIsCappedAsUnsigned) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"30", 30},       {"0", 0},      {"32767", 32767}, {"32768", 32767},
      {"99999", 32767}, {"-1", 32767}, {"abc", 0},       {"15s", 15},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(timeout_from_text(text), value) << text;
}

TEST(NumberText, PortKeepsLowSixteenBitsInNetworkOrder) {
  const std::pair<const char*, uint16_t> cases[] = {
      {"1603", 1603}, {"1603abc", 1603}, {"70000", 70000 - 65536}, {"-1", 65535}, {"x", 0},
  };
  for (const auto& [text, port] : cases) EXPECT_EQ(port_from_text(text), htons(port)) << text;
}

TEST(NumberText, LevelIsStoredUnchanged) {
  EXPECT_EQ(level_from_text("754"), 754u);
  EXPECT_EQ(level_from_text("999"), 999u);
  EXPECT_EQ(level_from_text("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(level_from_text("7.1"), 7u);
}

struct SplitCase {
  const char* text;
  const char* currency;
  const char* thousand;
  const char* decimal;
};

class NumericFormatSplit : public ::testing::TestWithParam<SplitCase> {};

// The record starts with the marks "C", "T" and "D": a mark that the text
// does not give keeps what it held.
TEST_P(NumericFormatSplit, AssignsUpToFirstEmptyPart) {
  const SplitCase& c = GetParam();
  Connection conn{};
  snprintf(conn.currency_sign, sizeof conn.currency_sign, "C");
  snprintf(conn.thousand_mark, sizeof conn.thousand_mark, "T");
  snprintf(conn.decimal_mark, sizeof conn.decimal_mark, "D");
  split_numeric_format(&conn, c.text);
  EXPECT_STREQ(conn.currency_sign, c.currency);
  EXPECT_STREQ(conn.thousand_mark, c.thousand);
  EXPECT_STREQ(conn.decimal_mark, c.decimal);
}

const SplitCase kSplitCases[] = {
    {"$/,/.", "$", ",", "."},
    {"$//.", "$", "T", "D"},  // empty second part ends the split
    {"/,/.", "C", "T", "D"},  // empty first part: nothing assigned
    {"//", "C", "T", "D"},    // the default when the locale marks are empty
    {"", "C", "T", "D"},
    {"$", "$", "T", "D"},
    {"$/,", "$", ",", "D"},
    {"$/,/", "$", ",", "D"},
    {"$/,/ . x", "$", ",", "."},     // the third part is one word
    {"EUR /./,", "EUR ", ".", ","},  // the first two keep their blanks
    {"abcdefg/1234567/uvwxyz", "abcde", "12345", "uvwxy"},
    {"\xE2\x82\xAC/./,", "\xE2\x82\xAC", ".", ","},
};

INSTANTIATE_TEST_SUITE_P(Texts, NumericFormatSplit, ::testing::ValuesIn(kSplitCases));

// SQLConnect reads straight into a fresh record.
class ConnectSettings : public ::testing::Test {
 protected:
  void SetUp() override { reset_locale_marks(); }
  void read(const std::map<std::string, std::string>& keys) {
    std::string dsn = PrivateOdbcIni::get().add_dsn(keys);
    snprintf(conn.dsn, sizeof conn.dsn, "%s", dsn.c_str());
    read_connect_settings(&conn);
  }
  Connection conn{};
};

TEST_F(ConnectSettings, EmptySectionGivesDefaults) {
  read({});
  EXPECT_EQ(conn.port, htons(1603));
  EXPECT_STREQ(conn.not_null_constraint, "Yes");
  EXPECT_STREQ(conn.disable_ext_fetch, "No");
  EXPECT_STREQ(conn.server_format_opt, "No");
  EXPECT_STREQ(conn.account_connect_dialog, "");
  EXPECT_EQ(conn.server_version, 754u);
  EXPECT_EQ(conn.login_timeout, 0u);
  // Before any SQLDriverConnect the process-wide marks are empty, so the
  // NUMERICFORMAT default is "//" and assigns nothing.
  EXPECT_STREQ(conn.currency_sign, "");
  EXPECT_STREQ(conn.thousand_mark, "");
  EXPECT_STREQ(conn.decimal_mark, "");
}

TEST_F(ConnectSettings, StoredValuesAndNumberRules) {
  read({{"SERVER", "db1"},
        {"VIRTUALMACHINE", "vm"},
        {"PORTNUMBER", "1700abc"},
        {"ACCOUNT", "acct"},
        {"ACPASSWORD", scrambled("ac-secret", false)},
        {"AConnectDialog", "Yes"},
        {"NotNullConstraint", "yes"},
        {"DisableExtFetch", "Yes"},
        {"Q4VERSION", "720"},
        {"LoginTimeout", "99999"}});
  EXPECT_STREQ(conn.server, "db1");
  EXPECT_STREQ(conn.virtual_machine, "vm");
  EXPECT_EQ(conn.port, htons(1700));
  EXPECT_STREQ(conn.port_text, "") << "SQLConnect converts the port at once";
  EXPECT_STREQ(conn.account, "acct");
  EXPECT_STREQ(conn.ac_password, "ac-secret");
  EXPECT_TRUE(switch_on(conn.account_connect_dialog));
  EXPECT_FALSE(switch_on(conn.not_null_constraint));
  EXPECT_TRUE(switch_on(conn.disable_ext_fetch));
  EXPECT_EQ(conn.server_version, 720u);
  EXPECT_EQ(conn.login_timeout, 32767u);
}

TEST_F(ConnectSettings, MarksAreReadOnlyFromLevel754) {
  read({{"Q4VERSION", "710"}, {"ServerFormatOpt", "Yes"}, {"NUMERICFORMAT", "a/b/c"}});
  EXPECT_STREQ(conn.server_format_opt, "");
  EXPECT_STREQ(conn.currency_sign, "");

  Connection later{};
  conn = later;
  read({{"Q4VERSION", "754"}, {"ServerFormatOpt", "Yes"}, {"NUMERICFORMAT", "a/b/c"}});
  EXPECT_STREQ(conn.server_format_opt, "Yes");
  EXPECT_STREQ(conn.currency_sign, "a");
  EXPECT_STREQ(conn.thousand_mark, "b");
  EXPECT_STREQ(conn.decimal_mark, "c");
}

TEST_F(ConnectSettings, PlainStoredPasswordStaysAsItIs) {
  read({{"ACPASSWORD", "plain~"}});
  EXPECT_STREQ(conn.ac_password, "plain~");
}

TEST(DriverConnectSettings, UidAndPwdStandInForEmptyUserAndPassword) {
  std::string dsn = PrivateOdbcIni::get().add_dsn(
      {{"UID", "uid-user"}, {"PWD", scrambled("pwd-secret", true)}, {"PORTNUMBER", "1700"}});
  Connection conn{};
  snprintf(conn.dsn, sizeof conn.dsn, "%s", dsn.c_str());
  EXPECT_TRUE(read_driver_connect_settings(&conn));
  EXPECT_STREQ(conn.user, "uid-user");
  EXPECT_STREQ(conn.password, "pwd-secret");
  EXPECT_STREQ(conn.port_text, "1700");
  EXPECT_EQ(conn.port, 0) << "SQLDriverConnect converts the port when connecting";
}

TEST(DriverConnectSettings, UserAndPasswordWinOverUidAndPwd) {
  std::string dsn = PrivateOdbcIni::get().add_dsn(
      {{"USER", "u"}, {"UID", "x"}, {"PASSWORD", "p"}, {"PWD", "y"}, {"DESCRIPTION", "d"}});
  Connection conn{};
  snprintf(conn.dsn, sizeof conn.dsn, "%s", dsn.c_str());
  EXPECT_TRUE(read_driver_connect_settings(&conn));
  EXPECT_STREQ(conn.user, "u");
  EXPECT_STREQ(conn.password, "p");
  EXPECT_STREQ(conn.description, "d");
}

TEST(DriverConnectSettings, NoUserInProfile) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", "db"}});
  Connection conn{};
  snprintf(conn.dsn, sizeof conn.dsn, "%s", dsn.c_str());
  EXPECT_FALSE(read_driver_connect_settings(&conn));
}

// A password of the longest length is one character longer scrambled; it
// must come back whole from the profile.
TEST(DriverConnectSettings, LongestScrambledPasswordComesBackWhole) {
  std::string longest(19, 'k');
  std::string dsn = PrivateOdbcIni::get().add_dsn(
      {{"PASSWORD", scrambled(longest, true)}, {"ACPASSWORD", scrambled(longest, true)}});
  Connection conn{};
  snprintf(conn.dsn, sizeof conn.dsn, "%s", dsn.c_str());
  read_driver_connect_settings(&conn);
  EXPECT_EQ(std::string(conn.password), longest);
  EXPECT_EQ(std::string(conn.ac_password), longest);
}

TEST(DriverConnectSettings, WithoutDataSource) {
  reset_locale_marks();
  Connection conn{};
  snprintf(conn.dsn, sizeof conn.dsn, "old");
  snprintf(conn.virtual_machine, sizeof conn.virtual_machine, "old");
  snprintf(conn.server, sizeof conn.server, "kept");
  snprintf(conn.currency_sign, sizeof conn.currency_sign, "X");
  conn.server_version = 700;
  conn.login_timeout = 5;
  set_settings_without_dsn(&conn);
  EXPECT_STREQ(conn.dsn, "");
  EXPECT_STREQ(conn.virtual_machine, "");
  EXPECT_STREQ(conn.server, "kept");
  EXPECT_STREQ(conn.port_text, "1603");
  EXPECT_STREQ(conn.connect_dialog, "No");
  EXPECT_STREQ(conn.account_connect_dialog, "No");
  EXPECT_STREQ(conn.disable_ext_fetch, "No");
  EXPECT_STREQ(conn.server_format_opt, "No");
  EXPECT_STREQ(conn.not_null_constraint, "Yes");
  EXPECT_EQ(conn.server_version, 754u);
  EXPECT_EQ(conn.login_timeout, 0u);
  EXPECT_STREQ(conn.currency_sign, "") << "copied from the (empty) process-wide marks";
}

// Locale data compiled into a private folder (LOCPATH), so the test does not
// depend on the locales the machine has installed. Compiling takes seconds,
// so the folder is kept in the build tree and made only once.
class LocaleMarksTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("LOCPATH");
    unsetenv("LC_ALL");
    reset_locale_marks();
  }
  // The folder holding en_US.UTF-8 and de_DE.UTF-8, or "" when they cannot
  // be built.
  static std::string test_locales() {
    const char* build = getenv("Q4_BUILD_DIR");
    std::string folder = std::string(build != nullptr ? build : "/tmp") + "/q4-test-locales";
    if (access((folder + "/de_DE.UTF-8").c_str(), F_OK) == 0) return folder;
    // Built beside and renamed into place, so that parallel tests never see
    // a half-built folder.
    std::string partial = folder + ".partial." + std::to_string(getpid());
    std::string command = "mkdir -p " + partial + " && localedef -i en_US -f UTF-8 " + partial +
                          "/en_US.UTF-8 >/dev/null 2>&1 && localedef -i de_DE -f UTF-8 " + partial +
                          "/de_DE.UTF-8 >/dev/null 2>&1";
    bool built = std::system(command.c_str()) == 0;
    if (built) rename(partial.c_str(), folder.c_str());
    std::system(("rm -rf " + partial).c_str());
    return access((folder + "/de_DE.UTF-8").c_str(), F_OK) == 0 ? folder : "";
  }
  LocaleMarks load(const std::string& folder, const char* locale) {
    setenv("LOCPATH", folder.c_str(), 1);
    setenv("LC_ALL", locale, 1);
    {
#if defined(__SANITIZE_ADDRESS__)
      // glibc keeps the parsed LOCPATH of a locale it loaded for the life of
      // the process, which the leak checker reports.
      __lsan::ScopedDisabler keep_locale_path;
#endif
      load_locale_marks();
    }
    return locale_marks();
  }
};

TEST_F(LocaleMarksTest, UserLocaleMarks) {
  std::string folder = test_locales();
  if (folder.empty()) GTEST_SKIP() << "localedef cannot build the test locales";
  LocaleMarks us = load(folder, "en_US.UTF-8");
  EXPECT_STREQ(us.currency_sign, "$");
  EXPECT_STREQ(us.thousand_mark, ",");
  EXPECT_STREQ(us.decimal_mark, ".");
  LocaleMarks de = load(folder, "de_DE.UTF-8");
  EXPECT_STREQ(de.currency_sign, "\xE2\x82\xAC");
  EXPECT_STREQ(de.thousand_mark, ".");
  EXPECT_STREQ(de.decimal_mark, ",");
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C") << "the process locale must stay";
}

TEST_F(LocaleMarksTest, MissingLocaleFallsBackToC) {
  LocaleMarks marks = load("/nonexistent", "xx_NOWHERE.UTF-8");
  EXPECT_STREQ(marks.currency_sign, "");
  EXPECT_STREQ(marks.thousand_mark, "");
  EXPECT_STREQ(marks.decimal_mark, ".");
}

TEST_F(LocaleMarksTest, DefaultNumericFormatFollowsLocale) {
  std::string folder = test_locales();
  if (folder.empty()) GTEST_SKIP() << "localedef cannot build the test locales";
  load(folder, "en_US.UTF-8");
  Connection conn{};
  set_settings_without_dsn(&conn);
  EXPECT_STREQ(conn.currency_sign, "$");
  EXPECT_STREQ(conn.thousand_mark, ",");
  EXPECT_STREQ(conn.decimal_mark, ".");

  std::string dsn = PrivateOdbcIni::get().add_dsn({});
  Connection fresh{};
  snprintf(fresh.dsn, sizeof fresh.dsn, "%s", dsn.c_str());
  read_connect_settings(&fresh);
  EXPECT_STREQ(fresh.currency_sign, "$");
  EXPECT_STREQ(fresh.thousand_mark, ",");
  EXPECT_STREQ(fresh.decimal_mark, ".");
}

}  // namespace
}  // namespace q4
