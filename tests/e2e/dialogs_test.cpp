// The connect dialog of a real program: isql on a pseudo-terminal with a data
// source that asks for credentials at connect time (AConnectDialog=Yes).
#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace q4e2e {
namespace {

class DialogsE2e : public ::testing::Test {
 protected:
  DialogsE2e() : server_(users_args()) {}
  std::vector<std::string> users_args() {
    files_.write("users", "test:secret\n");
    return {"--users", files_.file("users")};
  }
  // unixODBC keeps values it read for a while: a data source per test.
  std::string isql_command(const std::string& name) {
    config_.add_server_dsn(name, server_,
                           {{"USER", "nobody"}, {"PASSWORD", ""}, {"AConnectDialog", "Yes"}});
    return "isql -v " + name;
  }
  // The dialog's questions, answered in turn.
  static void answer_all(PtyProgram& isql, const std::vector<std::string>& answers) {
    const char* prompts[] = {"Q4 User ID: [nobody]: ", "User Password : []: ",
                             "Q4 Account: [main]: ", "Account Password: []: ", "Choose [1]: "};
    for (size_t i = 0; i < 5; ++i)
      EXPECT_TRUE(isql.answer(prompts[i], answers[i])) << isql.transcript();
  }

  TempDir files_;
  Q4lite server_;
  OdbcConfig config_;
};

TEST_F(DialogsE2e, IsqlAsksForUserAndPasswordAtTheTerminal) {
  ASSERT_TRUE(server_.running());
  PtyProgram isql(isql_command("q4dialogs1"));
  ASSERT_TRUE(isql.started());
  EXPECT_TRUE(isql.wait_for("== Q4 Data Source Configuration Parameters ==")) << isql.transcript();
  answer_all(isql, {"test", "secret", "", "", ""});
  EXPECT_TRUE(isql.wait_for("Connected!")) << isql.transcript();
  EXPECT_TRUE(isql.answer("SQL> ", "quit")) << isql.transcript();
  EXPECT_EQ(isql.finish(), 0) << isql.transcript();
  EXPECT_EQ(isql.transcript().find("secret"), std::string::npos)
      << "the password was typed without echo:\n"
      << isql.transcript();
}

TEST_F(DialogsE2e, CancelAtTheTerminalConnectsNothing) {
  ASSERT_TRUE(server_.running());
  PtyProgram isql(isql_command("q4dialogs2"));
  answer_all(isql, {"", "", "", "", "Cancel"});
  EXPECT_NE(isql.finish(), 0) << isql.transcript();
  EXPECT_EQ(isql.transcript().find("Connected!"), std::string::npos) << isql.transcript();
}

// Without a terminal the dialog cannot be shown: the connect fails at once
// instead of waiting for an answer nobody can give.
TEST_F(DialogsE2e, WithoutATerminalTheConnectFailsAtOnce) {
  ASSERT_TRUE(server_.running());
  std::string output;
  EXPECT_NE(run_command("setsid -w " + isql_command("q4dialogs3") + " < /dev/null", &output), 0)
      << output;
  EXPECT_EQ(output.find("Connected!"), std::string::npos) << output;
  EXPECT_EQ(output.find("Q4 User ID"), std::string::npos) << output;
}

}  // namespace
}  // namespace q4e2e
