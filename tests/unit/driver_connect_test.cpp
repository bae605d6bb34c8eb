// SQLDriverConnect without a server: completion modes, dialogs, the string's
// items over the profile, and the answered connection string. Every logon
// here fails to open its socket (no host is named), which posts "08001".
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/password_scramble.h"
#include "connect_test_support.h"
#include "platform/locale_marks.h"
#include "private_odbc_ini.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

std::string scrambled(const std::string& plain) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%s", plain.c_str());
  return scramble_password(buffer, true);
}

Window* const kOwner = reinterpret_cast<Window*>(0x1234);

class DriverConnectTest : public ::testing::Test {
 protected:
  // The C locale, whatever the machine's environment says: marks "", "", ".".
  void SetUp() override { setenv("LC_ALL", "C", 1); }
  void TearDown() override { unsetenv("LC_ALL"); }

  SQLRETURN connect(const std::string& input, SQLUSMALLINT mode, SQLSMALLINT out_max = 512) {
    memset(out_, '#', sizeof out_);
    out_length_ = -7;
    return SQLDriverConnect(conn.get(), kOwner, sql_text(input.c_str()), SQL_NTS, out_, out_max,
                            &out_length_, mode);
  }
  std::string out() const { return reinterpret_cast<const char*>(out_); }

  ConnectionRecord conn;
  SQLCHAR out_[1100];
  SQLSMALLINT out_length_;
};

TEST_F(DriverConnectTest, NoPromptWithoutDsnOrDriverFailsSilently) {
  EXPECT_EQ(connect("UID=joe;SERVER=x", SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "");
  EXPECT_EQ(out_[0], '#') << "nothing answered";
}

TEST_F(DriverConnectTest, NoPromptWithoutUserFailsSilently) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", ""}});
  EXPECT_EQ(connect("DSN=" + dsn, SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "");
}

TEST_F(DriverConnectTest, UnknownCompletionModeFailsSilently) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "joe"}});
  ScriptedDialogs user;
  EXPECT_EQ(connect("DSN=" + dsn, 4), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "");
  EXPECT_TRUE(user.shown.empty());
}

// A USER item counts as giving a user even when empty.
TEST_F(DriverConnectTest, NoPromptAnswersThenConnects) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", ""}});
  EXPECT_EQ(connect("DSN=" + dsn + ";USER=;", SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "08001");
  EXPECT_EQ(out().rfind("DSN=" + dsn + ";", 0), 0u) << out();
  EXPECT_EQ(out_length_, -7) << "the length is reported only after a successful connect";
}

TEST_F(DriverConnectTest, DsnAfterDriverNamesNoDataSource) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", "from-profile"}, {"USER", "p"}});
  EXPECT_EQ(connect("DRIVER={Q4};DSN=" + dsn + ";UID=joe;FOO=1", SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_STREQ(conn->server, "") << "no profile was read";
  EXPECT_STREQ(conn->dsn, "");
  EXPECT_EQ(out().rfind("DRIVER={Q4};DSN=" + dsn + ";FOO=1;", 0), 0u) << out();
  EXPECT_NE(out().find(";Q4PWD="), std::string::npos) << out();
}

TEST_F(DriverConnectTest, DsnBeforeDriverReadsProfile) {
  std::string dsn =
      PrivateOdbcIni::get().add_dsn({{"SERVER", ""}, {"USER", "p"}, {"ACCOUNT", "a"}});
  EXPECT_EQ(connect("DSN=" + dsn + ";DRIVER={Q4};FOO=1", SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_STREQ(conn->user, "p");
  EXPECT_STREQ(conn->account, "a");
  EXPECT_EQ(out().find("DRIVER"), std::string::npos) << out();
  EXPECT_EQ(out().find("FOO"), std::string::npos) << out();
  EXPECT_EQ(out().find("Q4PWD"), std::string::npos) << out();
}

TEST_F(DriverConnectTest, StringItemsOverrideProfile) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", "profile-host"},
                                                   {"USER", "p"},
                                                   {"PORTNUMBER", "1700"},
                                                   {"DESCRIPTION", "profile"},
                                                   {"NotNullConstraint", "Yes"},
                                                   {"LoginTimeout", "9"}});
  EXPECT_EQ(connect("DSN=" + dsn +
                        ";SERVER=;PORTNUMBER=1800x;DESCRIPTION=mine;VIRTUALMACHINE=vm;"
                        "NotNullConstraint=No;DisableExtFetch=Yes;LoginTimeout=-1;"
                        "NUMERICFORMAT=$/,/.;ServerFormatOpt=Yes",
                    SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  EXPECT_STREQ(conn->server, "") << "an empty item overrides too";
  EXPECT_STREQ(conn->port_text, "1800x");
  EXPECT_EQ(conn->port, htons(1800));
  EXPECT_STREQ(conn->description, "mine");
  EXPECT_STREQ(conn->virtual_machine, "vm");
  EXPECT_STREQ(conn->not_null_constraint, "No");
  EXPECT_STREQ(conn->disable_ext_fetch, "Yes");
  EXPECT_EQ(conn->login_timeout, 32767u);
  EXPECT_STREQ(conn->server_format_opt, "Yes");
  EXPECT_STREQ(conn->currency_sign, "$");
  EXPECT_STREQ(conn->thousand_mark, ",");
  EXPECT_STREQ(conn->decimal_mark, ".");
  EXPECT_STREQ(conn->user, "p") << "the profile's user stays";
}

TEST_F(DriverConnectTest, MarksOfStringIgnoredBelowLevel754) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "p"}});
  connect("DSN=" + dsn + ";Q4VERSION=710;NUMERICFORMAT=$/,/.;ServerFormatOpt=Yes",
          SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(conn->server_version, 710u);
  EXPECT_STREQ(conn->currency_sign, "");
  EXPECT_STREQ(conn->server_format_opt, "No");
  EXPECT_EQ(std::string(conn->exchange_buffer), ",,p,,,,") << "no marks at level 710";
}

TEST_F(DriverConnectTest, UidWinsOverUserAndBlankEndsIt) {
  EXPECT_EQ(connect("DRIVER=x;USER=other;UID=joe smith;", SQL_DRIVER_NOPROMPT), SQL_ERROR);
  EXPECT_STREQ(conn->user, "joe");
  EXPECT_EQ(out().rfind("DRIVER=x;smith;", 0), 0u) << out();
}

TEST_F(DriverConnectTest, LowerCaseItemIsFoundButNotRemoved) {
  connect("DRIVER=x;uid=joe;", SQL_DRIVER_NOPROMPT);
  EXPECT_STREQ(conn->user, "joe");
  EXPECT_EQ(out().rfind("DRIVER=x;uid=joe;", 0), 0u) << out();
  EXPECT_NE(out().find(";UID=joe;"), std::string::npos) << out();
}

TEST_F(DriverConnectTest, AConnectDialogItemSetsConnectDialog) {
  ScriptedDialogs user;
  user.answer(100);
  EXPECT_EQ(connect("DRIVER=x;UID=joe;AConnectDialog=Yes", SQL_DRIVER_NOPROMPT), SQL_NO_DATA_FOUND);
  EXPECT_STREQ(conn->connect_dialog, "Yes");
  EXPECT_STREQ(conn->account_connect_dialog, "No");
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].template_name, "CONNECTINFO");
  EXPECT_EQ(user.shown[0].owner, kOwner);
  EXPECT_EQ(user.brought_to_front, std::vector<Window*>{kOwner});
}

struct PasswordCase {
  const char* name;
  std::string input;
  const char* password;
  const char* ac_password;
};

class DriverConnectPasswords : public DriverConnectTest,
                               public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(DriverConnectPasswords, TakesRightItem) {
  const PasswordCase& c = GetParam();
  connect("DRIVER=x;UID=joe;" + c.input, SQL_DRIVER_NOPROMPT);
  EXPECT_STREQ(conn->password, c.password);
  EXPECT_STREQ(conn->ac_password, c.ac_password);
}

const PasswordCase kPasswordCases[] = {
    {"Pwd", "PWD=pw;", "pw", ""},
    {"ScrambledPwd", "PWD=" + scrambled("s3cret") + ";", "s3cret", ""},
    {"Password", "PASSWORD=pw;", "pw", ""},
    {"Q4PwdFoundAsPwd", "Q4PWD=" + scrambled("q4") + ";", "q4", ""},
    {"PwdWinsOverPassword", "PASSWORD=b;PWD=a;", "a", ""},
    {"EmptyPwdFallsBackToPassword", "PWD=;PASSWORD=b;", "b", ""},
    // PASSWORD matches the tail of ACPASSWORD: the user password comes from
    // the PASSWORD item after it.
    {"AcPasswordBeforePassword", "ACPASSWORD=acp;PASSWORD=pw;", "pw", "acp"},
    {"AcPasswordOnly", "ACPASSWORD=acp;", "", "acp"},
    {"AcPasswordThenQ4Pwd", "ACPASSWORD=acp;Q4PWD=q;", "q", "acp"},
    {"PasswordBeforeAcPassword", "PASSWORD=pw;ACPASSWORD=acp;", "pw", "acp"},
    // A ";" inside a scrambled value is dropped unless a keyword follows it.
    {"ScrambledValueHoldingSemicolon",
     "PWD=" + scrambled("ab").insert(2, ";") + ";ACPASSWORD=" + scrambled("cd").insert(2, ";"),
     "ab", "cd"},
};

INSTANTIATE_TEST_SUITE_P(Items, DriverConnectPasswords, ::testing::ValuesIn(kPasswordCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The completed string of one call, given back as the input of the next,
// reproduces the settings, the longest scrambled passwords included.
TEST_F(DriverConnectTest, AnsweredStringConnectsTheSameWay) {
  std::string first = "DRIVER=x;UID=joe;PWD=" + std::string(19, 'p') +
                      ";ACPASSWORD=" + std::string(19, 'a') + ";ACCOUNT=acc;Q4VERSION=720";
  connect(first, SQL_DRIVER_NOPROMPT);
  std::string answered = out();
  ConnectionRecord second;
  SQLCHAR again[1100];
  SQLDriverConnect(second.get(), nullptr, sql_text(answered.c_str()), SQL_NTS, again, sizeof again,
                   nullptr, SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(std::string(second->password), std::string(19, 'p'));
  EXPECT_EQ(std::string(second->ac_password), std::string(19, 'a'));
  EXPECT_STREQ(second->user, "joe");
  EXPECT_STREQ(second->account, "acc");
  EXPECT_EQ(second->server_version, 720u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(again)), answered);
}

TEST_F(DriverConnectTest, CutAnswerStaysInsideBuffer) {
  for (SQLSMALLINT max : {0, 1, 2, 10}) {
    ConnectionRecord record;
    SQLCHAR buffer[16];
    memset(buffer, '#', sizeof buffer);
    SQLDriverConnect(record.get(), nullptr, sql_text("DRIVER=x;UID=joe"), SQL_NTS, buffer + 2, max,
                     nullptr, SQL_DRIVER_NOPROMPT);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(buffer[1], '#');
    if (max > 0) {
      EXPECT_EQ(strlen(reinterpret_cast<char*>(buffer + 2)), static_cast<size_t>(max - 1));
      EXPECT_EQ(memcmp(buffer + 2, "DRIVER=x;", max - 1), 0);
    } else {
      EXPECT_EQ(buffer[2], '#');
    }
    EXPECT_EQ(buffer[2 + (max > 0 ? max : 0)], '#') << "written past the buffer";
  }
}

TEST_F(DriverConnectTest, PromptShowsFullDialogForDataSource) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "p"}});
  ScriptedDialogs user;
  user.answer(100);
  EXPECT_EQ(connect("DSN=" + dsn, SQL_DRIVER_PROMPT), SQL_NO_DATA_FOUND);
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].template_name, "FULLCONNECTINFO");
  EXPECT_EQ(user.shown[0].owner, kOwner);
  EXPECT_EQ(out_[0], '#') << "a cancelled dialog answers nothing";
}

TEST_F(DriverConnectTest, PromptWithoutDataSourceShowsSecondFullDialog) {
  ScriptedDialogs user;
  user.answer(0, [](Connection* c) { snprintf(c->user, sizeof c->user, "typed"); });
  EXPECT_EQ(connect("DRIVER=x", SQL_DRIVER_PROMPT), SQL_ERROR);
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].template_name, "FULLCONNECTINFO2");
  EXPECT_EQ(conn.sqlstate(), "08001");
  EXPECT_NE(out().find(";UID=typed;"), std::string::npos) << "answered before connecting";
}

TEST_F(DriverConnectTest, PromptWithoutUserInterfaceFails) {
  EXPECT_EQ(connect("DRIVER=x;UID=joe", SQL_DRIVER_PROMPT), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "");
}

// A failed logon with a user given leads to the full dialog.
TEST_F(DriverConnectTest, CompleteFallsBackToFullDialogAfterFailedLogon) {
  for (SQLUSMALLINT mode : {SQL_DRIVER_COMPLETE, SQL_DRIVER_COMPLETE_REQUIRED}) {
    std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "p"}});
    ConnectionRecord record;
    ScriptedDialogs user;
    user.answer(100);
    SQLCHAR buffer[512] = "#";
    EXPECT_EQ(SQLDriverConnect(record.get(), kOwner, sql_text(("DSN=" + dsn).c_str()), SQL_NTS,
                               buffer, sizeof buffer, nullptr, mode),
              SQL_NO_DATA_FOUND);
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].template_name, "FULLCONNECTINFO");
    EXPECT_EQ(record.sqlstate(), "08001") << "the failed logon's diagnostic stays";
    EXPECT_EQ(buffer[0], '#') << "a failed connect answers nothing in this mode";
  }
}

TEST_F(DriverConnectTest, CompleteRequiredAsksForMissingUser) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({});
  ScriptedDialogs user;
  user.answer(0, [](Connection* c) { snprintf(c->user, sizeof c->user, "typed"); });
  EXPECT_EQ(connect("DSN=" + dsn, SQL_DRIVER_COMPLETE_REQUIRED), SQL_ERROR);
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].template_name, "CONNECTINFO");
  EXPECT_NE(out().find(";UID=typed;"), std::string::npos) << out();
  EXPECT_EQ(conn.sqlstate(), "08001");
}

TEST_F(DriverConnectTest, CompleteRequiredWithoutOutputGoesOnToFullDialog) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({});
  ScriptedDialogs user;
  user.answer(0);
  user.answer(100);
  EXPECT_EQ(SQLDriverConnect(conn.get(), kOwner, sql_text(("DSN=" + dsn).c_str()), SQL_NTS, nullptr,
                             0, nullptr, SQL_DRIVER_COMPLETE_REQUIRED),
            SQL_NO_DATA_FOUND);
  ASSERT_EQ(user.shown.size(), 2u);
  EXPECT_EQ(user.shown[0].template_name, "CONNECTINFO");
  EXPECT_EQ(user.shown[1].template_name, "FULLCONNECTINFO");
}

TEST_F(DriverConnectTest, CompleteWithoutUserShowsFullDialog) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({});
  ScriptedDialogs user;
  user.answer(100);
  EXPECT_EQ(connect("DSN=" + dsn, SQL_DRIVER_COMPLETE), SQL_NO_DATA_FOUND);
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].template_name, "FULLCONNECTINFO");
}

}  // namespace
}  // namespace q4
