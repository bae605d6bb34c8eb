// SQLConnect and SQLDisconnect without a server: every logon here fails to
// open its socket (the data sources name no host), so what is checked is what
// the record holds when the logon is attempted.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "connect_test_support.h"
#include "link/socket_layer.h"
#include "private_odbc_ini.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

const char* kNoHostState = "08001";

TEST(SqlConnect, MissingDsnFailsWithoutTouchingTheNetwork) {
  struct Case {
    const char* dsn;
    SQLSMALLINT length;
  };
  for (const Case& c : {Case{nullptr, SQL_NTS}, Case{"", SQL_NTS}, Case{"abc", 0}}) {
    ConnectionRecord conn;
    int users = socket_layer_users();
    EXPECT_EQ(SQLConnect(conn.get(), sql_text(c.dsn), c.length, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(conn.sqlstate(), "S1000");
    EXPECT_EQ(conn.message(), "No DSN was specified");
    EXPECT_EQ(socket_layer_users(), users);
    EXPECT_EQ(conn->socket, kInvalidSocket);
  }
}

TEST(SqlConnect, HostThatCannotBeReachedGives08001) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", ""}, {"USER", "joe"}});
  ConnectionRecord conn;
  EXPECT_EQ(SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), kNoHostState);
  EXPECT_EQ(conn.message(), "Unable to communicate with host. Check server status.");
  EXPECT_EQ(conn->socket, kInvalidSocket);
}

TEST(SqlConnect, CountedNamesAreNotReadPastTheirLength) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"USER", "profile-user"}});
  std::string padded = dsn + "garbage";
  ConnectionRecord conn;
  SQLConnect(conn.get(), sql_text(padded.c_str()), static_cast<SQLSMALLINT>(dsn.size()),
             sql_text("annXX"), 3, sql_text("pw-XX"), 2);
  EXPECT_EQ(std::string(conn->dsn), dsn);
  EXPECT_STREQ(conn->user, "ann");
  EXPECT_STREQ(conn->password, "pw");
}

TEST(SqlConnect, AccountDialogCancelReturnsNoData) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"AConnectDialog", "Yes"}});
  ScriptedDialogs user;
  user.answer(100);
  ConnectionRecord conn;
  EXPECT_EQ(SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0),
            SQL_NO_DATA_FOUND);
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].template_name, "CONNECTINFO");
  EXPECT_EQ(user.shown[0].owner, nullptr);
  EXPECT_EQ(conn.sqlstate(), "");
}

TEST(SqlConnect, AccountDialogEntriesGoIntoTheLogon) {
  std::string dsn =
      PrivateOdbcIni::get().add_dsn({{"AConnectDialog", "Yes"}, {"Q4VERSION", "710"}});
  ScriptedDialogs user;
  user.answer(0, [](Connection* c) {
    snprintf(c->user, sizeof c->user, "typed");
    snprintf(c->account, sizeof c->account, "acct");
  });
  ConnectionRecord conn;
  EXPECT_EQ(SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), kNoHostState);
  EXPECT_EQ(std::string(conn->exchange_buffer), ",,typed,,acct,,");
}

TEST(SqlConnect, AccountDialogWithoutUserInterfaceFails) {
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"AConnectDialog", "Yes"}});
  ConnectionRecord conn;
  EXPECT_EQ(SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0),
            SQL_ERROR);
  EXPECT_EQ(conn->socket, kInvalidSocket);
}

TEST(SqlDisconnect, NeverConnectedSucceedsAndSendsNothing) {
  ConnectionRecord conn;
  int users = socket_layer_users();
  EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(socket_layer_users(), users);
  EXPECT_EQ(conn->socket, kInvalidSocket);
}

TEST(ConnectEntryPoints, NullHandleIsInvalid) {
  SQLCHAR out[16];
  SQLSMALLINT length;
  EXPECT_EQ(SQLConnect(nullptr, sql_text("x"), SQL_NTS, nullptr, 0, nullptr, 0),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDisconnect(nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLDriverConnect(nullptr, nullptr, sql_text("DSN=x"), SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLBrowseConnect(nullptr, sql_text("DSN=x"), SQL_NTS, out, sizeof out, &length),
            SQL_INVALID_HANDLE);
}

TEST(ConnectEntryPoints, BrowseConnectWritesNothing) {
  ConnectionRecord conn;
  SQLCHAR out[4] = {'#', '#', '#', '#'};
  SQLSMALLINT length = 77;
  EXPECT_EQ(SQLBrowseConnect(conn.get(), sql_text("DSN=x"), SQL_NTS, out, sizeof out, &length),
            SQL_SUCCESS);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(length, 77);
}

}  // namespace
}  // namespace q4
