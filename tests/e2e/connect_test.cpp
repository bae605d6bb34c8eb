// Connecting through the Driver Manager: isql and a program of our own
// against q4lite, with the driver registered in a private odbcinst.ini.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "support.h"

namespace q4e2e {
namespace {

// q4lite that knows one user, "test" with password "secret".
class ConnectE2e : public ::testing::Test {
 protected:
  ConnectE2e() : server_(users_args()) {}
  std::vector<std::string> users_args() {
    files_.write("users", "test:secret\n");
    return {"--users", files_.file("users")};
  }
  // unixODBC keeps the values it read from odbc.ini for about 20 seconds, so
  // every data source gets a name of its own (of at most 32 characters).
  std::string add_dsn(const std::map<std::string, std::string>& extra = {}) {
    static int count = 0;
    const std::string name = "q4connect" + std::to_string(++count);
    config_.add_server_dsn(name, server_, extra);
    return name;
  }
  void SetUp() override { ASSERT_TRUE(server_.running()); }

  TempDir files_;
  Q4lite server_;
  OdbcConfig config_;
};

// The same through the Driver Manager in this process. The data source comes
// before the environment, which reads odbc.ini.
class ConnectApi : public ConnectE2e {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    dsn_ = add_dsn();
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
  }
  std::string dsn_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
};

TEST_F(ConnectE2e, IsqlConnectsOrReportsWhyNot) {
  const std::string logon_failed =
      "[Halvex Software][ODBC Q4 Driver]Logon failed. Check Q4 connection parameters and "
      "available licenses.";
  const std::string no_host =
      "[Halvex Software][ODBC Q4 Driver]Unable to communicate with host. Check server "
      "status.";
  const struct {
    const char* what;
    std::map<std::string, std::string> keys;
    std::string arguments;  // after the data source name
    bool stop_server;
    std::string state, message;  // state "": connected
  } cases[] = {
      {"profile password", {}, "", false, "", "Connected!"},
      {"scrambled profile password", {{"PASSWORD", "~7hGiyw"}}, "", false, "", "Connected!"},
      {"wrong password", {{"PASSWORD", "wrong"}}, "", false, "[28000]", logon_failed},
      // A user named on the command line does not get the profile's password.
      {"other user", {}, " TEST", false, "[28000]", logon_failed},
      {"user and password given", {}, " test secret", false, "", "Connected!"},
      {"server stopped", {}, "", true, "[08001]", no_host},  // last: it stops the server
  };
  for (const auto& c : cases) {
    const std::string dsn = add_dsn(c.keys);
    if (c.stop_server) server_.stop();
    std::string output;
    const int status = run_command("isql -v " + dsn + c.arguments + " < /dev/null", &output);
    EXPECT_EQ(status == 0, c.state.empty()) << c.what << ": " << output;
    EXPECT_NE(output.find(c.state), std::string::npos) << c.what << ": " << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << c.what << ": " << output;
  }
}

// SQLDriverConnect: the completed string, used again, connects as well.
TEST_F(ConnectApi, DriverConnectAnswersReusableString) {
  SQLCHAR out[1024];
  SQLSMALLINT length = 0;
  const std::string input = "DSN=" + dsn_ + ";";
  ASSERT_EQ(SQLDriverConnect(dbc_, nullptr, as_sql(input), SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << diagnostic(env_, dbc_, nullptr);
  const std::string answered(reinterpret_cast<char*>(out), length);
  EXPECT_EQ(answered.rfind(input + "SERVER=127.0.0.1;", 0), 0u) << answered;
  EXPECT_EQ(answered.find("secret"), std::string::npos) << "passwords go out scrambled";
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  // Without the data source: the answered items alone must do.
  const std::string without_dsn = "DRIVER=Q4;" + answered.substr(answered.find(';') + 1);
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, as_sql(without_dsn), SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << without_dsn << " " << diagnostic(env_, dbc_, nullptr);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(ConnectApi, DisconnectAfterServerWentAwaySucceeds) {
  ASSERT_EQ(SQLConnect(dbc_, as_sql(dsn_), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
      << diagnostic(env_, dbc_, nullptr);
  server_.stop();
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

}  // namespace
}  // namespace q4e2e
