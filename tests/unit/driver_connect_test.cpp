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

#include "connect_test_support.h"
#include "private_odbc_ini.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

Window* const kOwner = reinterpret_cast<Window*>(0x1234);
using Profile = std::map<std::string, std::string>;

class DriverConnectTest : public ::testing::Test {
 protected:
  // The C locale, whatever the machine's environment says: marks "", "", ".".
  void SetUp() override { setenv("LC_ALL", "C", 1); }
  void TearDown() override { unsetenv("LC_ALL"); }

  SQLRETURN connect(const std::string& input, SQLUSMALLINT mode) {
    memset(out_, '#', sizeof out_);
    return SQLDriverConnect(conn.get(), kOwner, sql_text(input.c_str()), SQL_NTS, out_, 512,
                            nullptr, mode);
  }
  std::string out() const { return reinterpret_cast<const char*>(out_); }
  static std::string dsn(const Profile& keys) { return PrivateOdbcIni::get().add_dsn(keys); }

  ConnectionRecord conn;
  SQLCHAR out_[1100];
};

// Only a DSN item before DRIVER names a data source (and reads its profile).
TEST_F(DriverConnectTest, DsnCountsOnlyBeforeDriver) {
  std::string name = dsn({{"SERVER", ""}, {"USER", "p"}, {"ACCOUNT", "a"}});
  connect("DRIVER={Q4};DSN=" + name + ";UID=joe;FOO=1", SQL_DRIVER_NOPROMPT);
  EXPECT_STREQ(conn->account, "") << "no profile was read";
  EXPECT_EQ(out().rfind("DRIVER={Q4};DSN=" + name + ";FOO=1;", 0), 0u) << out();
  EXPECT_NE(out().find(";Q4PWD="), std::string::npos) << out();

  ConnectionRecord second;
  SQLCHAR again[1100];
  SQLDriverConnect(second.get(), nullptr, sql_text(("DSN=" + name + ";DRIVER={Q4};FOO=1").c_str()),
                   SQL_NTS, again, sizeof again, nullptr, SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(std::string(second->user) + second->account, "pa");
  std::string answered = reinterpret_cast<char*>(again);
  for (const char* absent : {"DRIVER", "FOO", "Q4PWD"}) {
    EXPECT_EQ(answered.find(absent), std::string::npos) << answered;
  }
}

TEST_F(DriverConnectTest, StringItemsOverrideProfile) {
  // clang-format off
  std::string name = dsn({{"SERVER", "profile-host"}, {"USER", "p"}, {"PORTNUMBER", "1700"},
      {"DESCRIPTION", "profile"}, {"NotNullConstraint", "Yes"}, {"LoginTimeout", "9"}});
  // clang-format on
  EXPECT_EQ(connect("DSN=" + name +
                        ";SERVER=;PORTNUMBER=1800x;DESCRIPTION=mine;VIRTUALMACHINE=vm;"
                        "NotNullConstraint=No;DisableExtFetch=Yes;LoginTimeout=-1;"
                        "NUMERICFORMAT=$/,/.;ServerFormatOpt=Yes",
                    SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  // An empty item overrides too; the profile's user stays.
  EXPECT_EQ(fields({conn->server, conn->port_text, conn->description, conn->virtual_machine,
                    conn->not_null_constraint, conn->disable_ext_fetch, conn->server_format_opt,
                    conn->currency_sign, conn->thousand_mark, conn->decimal_mark, conn->user}),
            "|1800x|mine|vm|No|Yes|Yes|$|,|.|p");
  EXPECT_EQ(conn->port, htons(1800));
  EXPECT_EQ(conn->login_timeout, 32767u);
}

TEST_F(DriverConnectTest, MarksOfStringIgnoredBelowLevel754) {
  connect("DSN=" + dsn({{"USER", "p"}}) + ";Q4VERSION=710;NUMERICFORMAT=$/,/.;ServerFormatOpt=Yes",
          SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(conn->server_version, 710u);
  EXPECT_STREQ(conn->currency_sign, "");
  EXPECT_STREQ(conn->server_format_opt, "No");
  EXPECT_EQ(std::string(conn->exchange_buffer), ",,p,,,,") << "no marks at level 710";
}

TEST_F(DriverConnectTest, UserAndPasswordItems) {
  struct Case {
    std::string input;
    const char* user;
    const char* password;
    const char* ac_password;
  };
  // clang-format off
  const Case cases[] = {
      {"USER=other;UID=joe smith;", "joe", "", ""},  // UID wins, a blank ends it
      {"UID=joe;PWD=" + scrambled("s3cret") + ";", "joe", "s3cret", ""},
      {"UID=joe;Q4PWD=" + scrambled("q4") + ";", "joe", "q4", ""},  // found as PWD
      {"UID=joe;PWD=;PASSWORD=b;", "joe", "b", ""},
      // PASSWORD matches the tail of ACPASSWORD: the user password comes from
      // the PASSWORD item after it.
      {"UID=joe;ACPASSWORD=acp;PASSWORD=pw;", "joe", "pw", "acp"},
      {"UID=joe;ACPASSWORD=acp;", "joe", "", "acp"},
  };
  // clang-format on
  for (const Case& c : cases) {
    ConnectionRecord record;
    SQLDriverConnect(record.get(), nullptr, sql_text(("DRIVER=x;" + c.input).c_str()), SQL_NTS,
                     nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    EXPECT_STREQ(record->user, c.user) << c.input;
    EXPECT_STREQ(record->password, c.password) << c.input;
    EXPECT_STREQ(record->ac_password, c.ac_password) << c.input;
  }
}

TEST_F(DriverConnectTest, CutAnswerStaysInsideBuffer) {
  for (SQLSMALLINT max : {0, 1, 2, 10}) {
    ConnectionRecord record;
    SQLCHAR buffer[16];
    memset(buffer, '#', sizeof buffer);
    SQLDriverConnect(record.get(), nullptr, sql_text("DRIVER=x;UID=joe"), SQL_NTS, buffer + 2, max,
                     nullptr, SQL_DRIVER_NOPROMPT);
    std::string written(reinterpret_cast<char*>(buffer), 2 + max + 1);
    std::string expected = "##" + std::string("DRIVER=x;").substr(0, max > 0 ? max - 1 : 0);
    if (max > 0) expected += '\0';
    EXPECT_EQ(written, expected + "#") << "max " << max;
  }
}

// What each completion mode shows and answers. Answers: 100 cancels, 0 is OK
// untouched, 1 is OK after typing the user "typed". `answered`: a part of the
// answered string, or nullptr when nothing may be answered.
TEST_F(DriverConnectTest, CompletionModes) {
  struct Case {
    std::string input;
    SQLUSMALLINT mode;
    bool with_out;
    std::vector<int> answers;
    std::vector<std::string> templates;
    SQLRETURN rc;
    const char* state;
    const char* answered;
  };
  const std::string with_user = "DSN=" + dsn({{"USER", "p"}});
  const std::string no_user = "DSN=" + dsn({});
  const std::string empty_user = "DSN=" + dsn({{"SERVER", ""}}) + ";USER=;";
  const std::string full = "FULLCONNECTINFO";
  // clang-format off
  const Case cases[] = {
      // A USER item counts as a user even when empty; the string is answered
      // before connecting, its length only after a successful connect.
      {empty_user, SQL_DRIVER_NOPROMPT, true, {}, {}, SQL_ERROR, "08001", ";PORTNUMBER=1603;"},
      {with_user, 4, true, {}, {}, SQL_ERROR, "", nullptr},  // an unknown mode: no diagnostic
      {"DRIVER=x", SQL_DRIVER_PROMPT, true, {1}, {full + "2"}, SQL_ERROR, "08001", ";UID=typed;"},
      // A failed logon with a user given leads to the full dialog; its diagnostic stays.
      {with_user, SQL_DRIVER_COMPLETE, true, {100}, {full}, SQL_NO_DATA_FOUND, "08001", nullptr},
      {no_user, SQL_DRIVER_COMPLETE_REQUIRED, false, {0, 100}, {"CONNECTINFO", full},
       SQL_NO_DATA_FOUND, "", nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " mode " + std::to_string(c.mode));
    ConnectionRecord record;
    ScriptedDialogs user;
    for (int answer : c.answers) {
      user.answer(answer == 100 ? 100 : 0, [answer](Connection* conn) {
        if (answer == 1) set(conn->user, "typed");
      });
    }
    memset(out_, '#', sizeof out_);
    SQLSMALLINT length = -7;
    EXPECT_EQ(SQLDriverConnect(record.get(), kOwner, sql_text(c.input.c_str()), SQL_NTS,
                               c.with_out ? out_ : nullptr, c.with_out ? 512 : 0, &length, c.mode),
              c.rc);
    EXPECT_EQ(record.sqlstate(), c.state);
    EXPECT_EQ(length, -7);
    std::vector<std::string> shown;
    for (const auto& s : user.shown) {
      shown.push_back(s.template_name);
      EXPECT_EQ(s.owner, kOwner);
    }
    EXPECT_EQ(shown, c.templates);
    if (c.answered == nullptr) {
      EXPECT_EQ(out_[0], '#');
    } else {
      EXPECT_NE(out().find(c.answered), std::string::npos) << out();
    }
  }
}

}  // namespace
}  // namespace q4
