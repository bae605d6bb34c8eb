// Connecting as applications see it: isql's answers for a good, a refused
// (28000) and an unreachable (08001) logon.
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

}  // namespace
}  // namespace q4e2e
