// Connecting through the unixODBC Driver Manager: isql and a program of our
// own against q4lite, with the driver registered in a private odbcinst.ini.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "support.h"

namespace q4e2e {
namespace {

constexpr const char* kLogonFailed =
    "[Halvex Software][ODBC Q4 Driver]Logon failed. Check Q4 connection parameters and "
    "available licenses.";
constexpr const char* kNoHost =
    "[Halvex Software][ODBC Q4 Driver]Unable to communicate with host. Check server status.";

// q4lite that knows one user, "test" with password "secret".
class ConnectE2e : public ::testing::Test {
 protected:
  ConnectE2e() : server_(users_args()) {}
  std::vector<std::string> users_args() {
    files_.write("users", "test:secret\n");
    return {"--users", files_.file("users")};
  }
  // unixODBC keeps the values it read from odbc.ini for about 20 seconds, so
  // every test names its data source differently (within the 32 characters
  // the Driver Manager allows).
  std::string dsn() const {
    static int count = 0;
    static std::string name;
    static const ::testing::TestInfo* named_for = nullptr;
    const ::testing::TestInfo* current = ::testing::UnitTest::GetInstance()->current_test_info();
    if (named_for != current) {
      named_for = current;
      name = "q4connect" + std::to_string(++count);
    }
    return name;
  }
  std::string isql(const std::string& arguments) {
    std::string output;
    status_ = run_command("isql -v " + arguments + " < /dev/null", &output);
    return output;
  }

  TempDir files_;
  Q4lite server_;
  OdbcConfig config_;
  int status_ = -1;
};

TEST_F(ConnectE2e, IsqlConnectsAndDisconnects) {
  ASSERT_TRUE(server_.running());
  config_.add_server_dsn(dsn(), server_);
  std::string output = isql(dsn());
  EXPECT_EQ(status_, 0) << output;
  EXPECT_NE(output.find("Connected!"), std::string::npos) << output;
}

TEST_F(ConnectE2e, IsqlWithScrambledProfilePassword) {
  ASSERT_TRUE(server_.running());
  // "secret" as the driver scrambles it.
  config_.add_server_dsn(dsn(), server_, {{"PASSWORD", "~7hGiyw"}});
  std::string output = isql(dsn());
  EXPECT_EQ(status_, 0) << output;
  EXPECT_NE(output.find("Connected!"), std::string::npos) << output;
}

TEST_F(ConnectE2e, IsqlWrongPasswordGives28000) {
  ASSERT_TRUE(server_.running());
  config_.add_server_dsn(dsn(), server_, {{"PASSWORD", "wrong"}});
  std::string output = isql(dsn());
  EXPECT_NE(status_, 0) << output;
  EXPECT_NE(output.find("[28000]"), std::string::npos) << output;
  EXPECT_NE(output.find(kLogonFailed), std::string::npos) << output;
}

// A user named on the command line does not get the profile's password.
TEST_F(ConnectE2e, IsqlOtherUserDoesNotGetProfilePassword) {
  ASSERT_TRUE(server_.running());
  config_.add_server_dsn(dsn(), server_);
  std::string output = isql(dsn() + " TEST");
  EXPECT_NE(output.find("[28000]"), std::string::npos) << output;
  output = isql(dsn() + " test secret");
  EXPECT_EQ(status_, 0) << output;
}

TEST_F(ConnectE2e, IsqlStoppedServerGives08001) {
  ASSERT_TRUE(server_.running());
  config_.add_server_dsn(dsn(), server_);
  server_.stop();
  std::string output = isql(dsn());
  EXPECT_NE(status_, 0) << output;
  EXPECT_NE(output.find("[08001]"), std::string::npos) << output;
  EXPECT_NE(output.find(kNoHost), std::string::npos) << output;
}

// SQLDriverConnect through the Driver Manager: the completed string, used
// again, connects as well.
TEST_F(ConnectE2e, DriverConnectAnswersReusableString) {
  ASSERT_TRUE(server_.running());
  config_.add_server_dsn(dsn(), server_);
  SQLHENV env;
  SQLHDBC dbc;
  ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
  SQLCHAR out[1024];
  SQLSMALLINT length = 0;
  std::string input = "DSN=" + dsn() + ";";
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)input.c_str(), SQL_NTS, out, sizeof out,
                                  &length, SQL_DRIVER_NOPROMPT);
  ASSERT_EQ(rc, SQL_SUCCESS) << diagnostic(env, dbc, nullptr);
  std::string answered(reinterpret_cast<char*>(out), length);
  EXPECT_EQ(answered.rfind(input + "SERVER=127.0.0.1;", 0), 0u) << answered;
  EXPECT_EQ(answered.find("secret"), std::string::npos) << "passwords go out scrambled";
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);

  // Without the data source: the answered items alone must do.
  std::string without_dsn = "DRIVER=Q4;" + answered.substr(answered.find(';') + 1);
  rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)without_dsn.c_str(), SQL_NTS, out, sizeof out,
                        &length, SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(rc, SQL_SUCCESS) << without_dsn << " " << diagnostic(env, dbc, nullptr);
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
}

TEST_F(ConnectE2e, DisconnectAfterServerWentAwaySucceeds) {
  ASSERT_TRUE(server_.running());
  config_.add_server_dsn(dsn(), server_);
  SQLHENV env;
  SQLHDBC dbc;
  ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
  ASSERT_EQ(SQLConnect(dbc, (SQLCHAR*)dsn().c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
      << diagnostic(env, dbc, nullptr);
  server_.stop();
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(dbc), SQL_SUCCESS);
  SQLFreeEnv(env);
}

}  // namespace
}  // namespace q4e2e
