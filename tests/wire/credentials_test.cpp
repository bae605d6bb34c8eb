// Connects that cannot ask (SQLConnect without a dialog, SQLDriverConnect
// without prompting) and lack a user or a password: "28000" naming what is
// missing, and nothing sent; "?" still sends an empty value.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "../unit/connect_test_support.h"
#include "../unit/private_odbc_ini.h"
#include "link/link.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

using Keys = std::map<std::string, std::string>;

const char kNoUser[] =
    "28000 No user name was given. Set UID in the connection string or USER in the data source "
    "(\"?\" sends an empty one).";
std::string no_password(const std::string& user) {
  return "28000 No password was given for user \"" + user +
         "\". Set PWD in the connection string or PASSWORD in the data source, which goes only "
         "with its own USER (\"?\" sends an empty one).";
}

struct Case {
  const char* what;
  Keys profile;            // besides SERVER, PORTNUMBER and ACCOUNT
  const char* uid;         // SQLConnect's user argument; null: SQLDriverConnect
  std::string input;       // SQLDriverConnect's string after "DSN=name;"
  std::string diagnostic;  // empty: connects
  const char* logon_user;  // the user and password fields of the logon text
};

TEST(Credentials, MissingUserOrPasswordIsNamedBeforeAnythingIsSent) {
  const Keys user_and_password = {{"USER", "joe"}, {"PASSWORD", "pw"}};
  // clang-format off
  const Case cases[] = {
      {"SQLConnect, no user anywhere", {}, "", "", kNoUser, nullptr},
      {"SQLConnect, the profile's user without a password", {{"USER", "joe"}}, "", "",
       no_password("joe"), nullptr},
      // The profile's password goes only with its own user: JOE is another.
      {"SQLConnect, another user", user_and_password, "JOE", "", no_password("JOE"), nullptr},
      {"SQLConnect, a password of ?", {{"USER", "joe"}, {"PASSWORD", "?"}}, "", "", "", "joe,,"},
      {"NOPROMPT, no user", {}, nullptr, "PWD=pw", kNoUser, nullptr},
      {"NOPROMPT, no password", {}, nullptr, "UID=ann", no_password("ann"), nullptr},
      {"NOPROMPT, an empty PWD item", {{"USER", "joe"}}, nullptr, "PWD=", no_password("joe"),
       nullptr},
      {"NOPROMPT, a PWD of ?", {}, nullptr, "UID=ann;PWD=?", "", "ann,,"},
      {"NOPROMPT, both from the profile", user_and_password, nullptr, "", "", "joe,pw,"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    if (c.diagnostic.empty()) {
      std::string text = std::string("127.0.0.1,,") + c.logon_user + "acc,,";
      peer.expect_request(kCmdLogon, bytes_of(text)).reply("K");
      peer.expect_request(kCmdDisconnect).reply("K");
    }
    Keys keys = {{"SERVER", "127.0.0.1"},
                 {"PORTNUMBER", std::to_string(peer.port())},
                 {"ACCOUNT", "acc"},
                 {"Q4VERSION", "720"},  // no numeric marks in the logon text
                 {"LoginTimeout", "5"}};
    keys.insert(c.profile.begin(), c.profile.end());
    std::string dsn = PrivateOdbcIni::get().add_dsn(keys);
    std::string input = "DSN=" + dsn + ";" + c.input;
    int users = socket_layer_users();

    ConnectionRecord conn;
    SQLRETURN rc = c.uid != nullptr
                       ? SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, sql_text(c.uid),
                                    SQL_NTS, sql_text(""), SQL_NTS)
                       : SQLDriverConnect(conn.get(), nullptr, sql_text(input.c_str()), SQL_NTS,
                                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    std::string posted = conn.sqlstate().empty() ? "" : conn.sqlstate() + " " + conn.message();
    EXPECT_EQ(posted, c.diagnostic);
    EXPECT_EQ(rc, c.diagnostic.empty() ? SQL_SUCCESS : SQL_ERROR);
    if (rc == SQL_SUCCESS) {
      EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
    } else {
      EXPECT_EQ(conn->link, nullptr);
      EXPECT_EQ(socket_layer_users(), users) << "a socket was opened";
    }
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(peer.requests().size(), c.diagnostic.empty() ? 2u : 0u);
  }
}

}  // namespace
}  // namespace q4::wire
