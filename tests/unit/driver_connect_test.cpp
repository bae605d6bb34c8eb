// SQLConnect, SQLDriverConnect and the logon text without a server (no host is named: every
// logon fails with "08001").
#include <arpa/inet.h>

#include "connect/logon.h"
#include "connect_test_support.h"
#include "link/link.h"
#include "private_odbc_ini.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

Window* const kOwner = reinterpret_cast<Window*>(0x1234);

std::string dsn(const std::map<std::string, std::string>& keys) {
  return PrivateOdbcIni::get().add_dsn(keys);
}

class DriverConnectTest : public ::testing::Test {
 protected:
  // The C locale, whatever the machine's environment says: marks "", "", ".".
  void SetUp() override { setenv("LC_ALL", "C", 1); }
  void TearDown() override { unsetenv("LC_ALL"); }

  // A fresh record connected with `input`; out() is what was answered.
  SQLRETURN connect(const std::string& input, SQLUSMALLINT mode = SQL_DRIVER_NOPROMPT,
                    bool with_out = true) {
    conn_ = std::make_unique<ConnectionRecord>();
    memset(out_, '#', sizeof out_);
    length_ = -7;
    return SQLDriverConnect(conn_->get(), kOwner, sql_text(input.c_str()), SQL_NTS,
                            with_out ? out_ : nullptr, with_out ? 512 : 0, &length_, mode);
  }
  std::string out() const { return reinterpret_cast<const char*>(out_); }
  Connection* conn() const { return conn_->get(); }

  std::unique_ptr<ConnectionRecord> conn_;
  SQLCHAR out_[1100];
  SQLSMALLINT length_;
};

// An empty item overrides too; the profile's user stays; a bad port fails the connect (its
// message: e2e/pyodbc_rowcount_connect_test.py).
TEST_F(DriverConnectTest, StringItemsOverrideProfile) {
  // clang-format off
  std::string name = dsn({{"SERVER", "profile-host"}, {"USER", "p"}, {"PASSWORD", "pw"},
      {"PORTNUMBER", "1700"}, {"DESCRIPTION", "profile"}, {"NotNullConstraint", "Yes"},
      {"LoginTimeout", "9"}});
  // clang-format on
  EXPECT_EQ(connect("DSN=" + name +
                    ";SERVER=;PORTNUMBER=1800x;DESCRIPTION=mine;VIRTUALMACHINE=vm;"
                    "NotNullConstraint=No;DisableExtFetch=Yes;LoginTimeout=-1;"
                    "NUMERICFORMAT=$/,/.;ServerFormatOpt=Yes"),
            SQL_ERROR);
  EXPECT_EQ(
      fields({conn()->server, conn()->port_text, conn()->description, conn()->virtual_machine,
              conn()->not_null_constraint, conn()->disable_ext_fetch, conn()->server_format_opt,
              conn()->currency_sign, conn()->thousand_mark, conn()->decimal_mark, conn()->user}),
      "|1800x|mine|vm|No|Yes|Yes|$|,|.|p");
  EXPECT_EQ(conn()->login_timeout, 32767u);
}

// SSLMode and SSLRootCert: from the data source, overridden by the string (SERVER is empty
// here: the connect fails with "Unable to communicate with host"; unknown modes: e2e/tls_test.py).
TEST_F(DriverConnectTest, TlsSettings) {
  const std::string secure = dsn({{"SERVER", ""},
                                  {"USER", "u"},
                                  {"SSLMode", "verify-full"},
                                  {"SSLRootCert", "/etc/q4/ca.pem"}});
  const std::tuple<std::string, const char*, const char*> cases[] = {
      {"DSN=" + secure, "verify-full", "/etc/q4/ca.pem"},
      {"DSN=" + secure + ";SSLMode=require;SSLRootCert=", "require", ""},
  };
  for (const auto& [input, mode, root] : cases) {
    EXPECT_EQ(connect(input), SQL_ERROR) << input;
    EXPECT_STREQ(conn()->ssl_mode, mode) << input;
    EXPECT_STREQ(conn()->ssl_root_cert, root) << input;
    EXPECT_NE(conn_->message().find("Unable to communicate with host"), std::string::npos)
        << input << ": " << conn_->message();
  }
}

// Only a DSN item before DRIVER names a data source (and reads its profile). Results as
// "user|password|account password|account".
TEST_F(DriverConnectTest, DsnUserAndPasswordItems) {
  const std::string name = dsn({{"SERVER", ""}, {"USER", "p"}, {"ACCOUNT", "a"}});
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {
      {"DRIVER={Q4};DSN=" + name + ";UID=joe", "joe|||"}, {"DSN=" + name + ";DRIVER={Q4}", "p|||a"},
      {"DRIVER=x;UID=joe;PWD=" + scrambled("s3cret") + ";", "joe|s3cret||"},
      // PASSWORD matches the tail of ACPASSWORD: the PASSWORD item after it counts.
      {"DRIVER=x;UID=joe;ACPASSWORD=acp;PASSWORD=pw;", "joe|pw|acp|"}};
  // clang-format on
  for (const auto& [input, expected] : cases) {
    connect(input);
    EXPECT_EQ(fields({conn()->user, conn()->password, conn()->ac_password, conn()->account}),
              expected)
        << input;
  }
}

TEST_F(DriverConnectTest, CutAnswerStaysInsideBuffer) {
  for (SQLSMALLINT max : {0, 1, 2, 10}) {
    ConnectionRecord record;
    SQLCHAR buffer[16];
    memset(buffer, '#', sizeof buffer);
    SQLDriverConnect(record.get(), nullptr, sql_text("DRIVER=x;UID=joe"), SQL_NTS, buffer + 2, max,
                     nullptr, SQL_DRIVER_NOPROMPT);
    std::string expected = "##" + std::string("DRIVER=x;").substr(0, max > 0 ? max - 1 : 0);
    if (max > 0) expected += '\0';
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2 + max + 1), expected + "#") << max;
  }
}

// Answers: 100 cancels, 0 OK, 1 OK with user "typed"; "" answered: nothing written.
TEST_F(DriverConnectTest, CompletionModes) {
  struct Case {
    std::string input;
    SQLUSMALLINT mode;
    std::vector<int> answers;
    const char* shown;
    SQLRETURN rc;
    const char* state;
    const char* answered;
  };
  const std::string with_user = "DSN=" + dsn({{"USER", "p"}});
  // clang-format off
  const Case cases[] = {
      // A USER item counts as a user even when empty; the string is answered before connecting.
      {"DSN=" + dsn({{"SERVER", ""}}) + ";USER=;PWD=pw", SQL_DRIVER_NOPROMPT, {}, "", SQL_ERROR, "08001",
       ";PORTNUMBER=1603;"},
      {with_user, 4, {}, "", SQL_ERROR, "", ""},  // an unknown mode: no diagnostic
      {"DRIVER=x", SQL_DRIVER_PROMPT, {1}, "FULLCONNECTINFO2 ", SQL_ERROR, "08001", ";UID=typed;"},
      // A failed logon with a user given leads to the full dialog; its diagnostic stays.
      {with_user, SQL_DRIVER_COMPLETE, {100}, "FULLCONNECTINFO ", SQL_NO_DATA_FOUND, "08001", ""},
      {"DSN=" + dsn({}), SQL_DRIVER_COMPLETE_REQUIRED, {0, 100}, "CONNECTINFO FULLCONNECTINFO ",
       SQL_NO_DATA_FOUND, "", ""}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " mode " + std::to_string(c.mode));
    ScriptedDialogs user;
    for (int answer : c.answers) {
      user.answer(answer == 100 ? 100 : 0, [answer](Connection* conn) {
        if (answer == 1) set(conn->user, "typed");
      });
    }
    EXPECT_EQ(connect(c.input, c.mode, c.mode != SQL_DRIVER_COMPLETE_REQUIRED), c.rc);
    EXPECT_EQ(conn_->sqlstate(), c.state);
    EXPECT_EQ(length_, -7);
    std::string shown;
    for (const auto& s : user.shown) shown += s.template_name + (s.owner == kOwner ? " " : "?");
    EXPECT_EQ(shown, c.shown);
    EXPECT_TRUE(*c.answered ? out().find(c.answered) != std::string::npos : out_[0] == '#')
        << out();
  }
}

// An empty or missing name fails before any socket is opened.
TEST(SqlConnect, MissingDsnAndCountedNames) {
  for (const auto& [dsn, length] :
       {std::pair<const char*, SQLSMALLINT>{nullptr, SQL_NTS}, {"", SQL_NTS}, {"abc", 0}}) {
    ConnectionRecord conn;
    int users = socket_layer_users();
    EXPECT_EQ(SQLConnect(conn.get(), sql_text(dsn), length, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(conn.sqlstate() + " " + conn.message(), "S1000 No DSN was specified");
    EXPECT_EQ(socket_layer_users(), users);
  }
  // Counted names are not read past their length.
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "profile-user"}});
  ConnectionRecord conn;
  SQLConnect(conn.get(), sql_text((dsn + "garbage").c_str()), static_cast<SQLSMALLINT>(dsn.size()),
             sql_text("annXX"), 3, sql_text("pw-XX"), 2);
  EXPECT_EQ(fields({conn->dsn, conn->user, conn->password}), dsn + "|ann|pw");
}

Connection logon_record(uint32_t level, const char* server_format_opt, const char* user = "joe") {
  Connection conn{};
  // clang-format off
  const std::pair<char*, const char*> texts[] = {{conn.server, "db1"}, {conn.virtual_machine, "vm"},
      {conn.user, user}, {conn.password, "pw"}, {conn.account, "acc"}, {conn.ac_password, "acpw"},
      {conn.currency_sign, "$"}, {conn.thousand_mark, ","}, {conn.decimal_mark, "."},
      {conn.server_format_opt, server_format_opt}, {conn.field_separator, ","}};
  // clang-format on
  for (const auto& [field, text] : texts) strcpy(field, text);
  conn.server_version = level;
  return conn;
}

// "yes" is no "Yes", only a leading "?" empties a field (the marks' rules: wire).
TEST(LogonText, FieldsAndMarks) {
  const std::pair<Connection, const char*> cases[] = {
      {logon_record(754, "yes"), "db1,vm,joe,pw,acc,acpw,\"$/,/.\","},
      {logon_record(710, "No", "?joe"), "db1,vm,,pw,acc,acpw,"}};
  for (auto [conn, text] : cases) {
    EXPECT_EQ(build_logon_text(&conn), static_cast<int>(strlen(text)));
    EXPECT_EQ(std::string(conn.exchange_buffer), text);
  }
}

TEST(LogonText, LongestFieldsFitTheExchangeBuffer) {
  Connection conn = logon_record(754, "No");
  memset(conn.server, 's', sizeof conn.server - 1);
  memset(conn.account, 'a', sizeof conn.account - 1);
  memset(conn.field_separator, ';', sizeof conn.field_separator - 1);
  int length = build_logon_text(&conn);
  EXPECT_EQ(length, static_cast<int>(strlen(conn.exchange_buffer)));
  EXPECT_LT(length, kExchangeBufferSize);
  EXPECT_EQ(std::string(conn.exchange_buffer).substr(length - 9), std::string(9, ';'));
}

}  // namespace
}  // namespace q4
