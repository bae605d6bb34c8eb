// Connecting as applications see it: isql's answers for a good, a refused
// (28000) and an unreachable (08001) logon, and SQLDriverConnect finding the
// driver by name through the private odbcinst.ini.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "support.h"

namespace q4e2e {
namespace {

using ConnectE2e = Connected;

TEST_F(ConnectE2e, IsqlConnectsOrReportsWhyNot) {
  const std::string logon_failed =
      "[Halvex Software][ODBC Q4 Driver]Logon failed. Check Q4 connection parameters and "
      "available licenses.";
  const std::string no_host =
      "[Halvex Software][ODBC Q4 Driver]Unable to communicate with host. Check server status.";
  const struct {
    const char* what;
    std::map<std::string, std::string> keys;
    std::string arguments;  // after the data source name
    bool stop_server;
    std::string state, message;  // state "": connected
  } cases[] = {
      {"scrambled profile password", {{"PASSWORD", "~7hGiyw"}}, "", false, "", "Connected!"},
      {"wrong password", {{"PASSWORD", "wrong"}}, "", false, "[28000]", logon_failed},
      // A user named on the command line does not get the profile's password.
      {"other user", {}, " TEST", false, "[28000]", logon_failed},
      {"server stopped", {}, "", true, "[08001]", no_host},  // last: it stops the server
  };
  for (const auto& c : cases) {
    const std::string dsn = add_dsn(c.keys);
    if (c.stop_server) server_->stop();
    std::string output;
    const int status = run_command("isql -v " + dsn + c.arguments + " < /dev/null", &output);
    EXPECT_EQ(status == 0, c.state.empty()) << c.what << ": " << output;
    EXPECT_NE(output.find(c.state), std::string::npos) << c.what << ": " << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << c.what << ": " << output;
  }
}

// SQLDriverConnect: the completed string carries no clear password, and without
// the data source the Driver Manager finds the driver by name from it alone.
TEST_F(ConnectE2e, DriverConnectAnswersReusableString) {
  const std::string input = "DSN=" + add_dsn() + ";";
  SQLHDBC dbc = nullptr;
  ASSERT_EQ(SQLAllocConnect(env_, &dbc), SQL_SUCCESS);
  SQLCHAR out[1024];
  SQLSMALLINT length = 0;
  auto connect = [&](const std::string& text) {
    EXPECT_EQ(SQLDriverConnect(dbc, nullptr, as_sql(text), SQL_NTS, out, sizeof out, &length,
                               SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS)
        << text << " " << diagnostic(env_, dbc, nullptr);
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    return std::string(reinterpret_cast<char*>(out), length);
  };
  const std::string answered = connect(input);
  EXPECT_EQ(answered.rfind(input + "SERVER=127.0.0.1;", 0), 0u) << answered;
  EXPECT_EQ(answered.find("secret"), std::string::npos) << "passwords go out scrambled";
  connect("DRIVER=Q4;" + answered.substr(answered.find(';') + 1));
  SQLFreeConnect(dbc);
}

}  // namespace
}  // namespace q4e2e
