// The connect dialog of a real program: isql at a pseudo-terminal with a data
// source that asks for credentials at connect time (AConnectDialog=Yes).
#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace q4e2e {
namespace {

class DialogsE2e : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.running()); }
  // unixODBC keeps what it read from odbc.ini for a while: a name per test.
  std::string isql_command(const std::string& name) {
    config_.add_server_dsn(name, server_,
                           {{"USER", "nobody"}, {"PASSWORD", ""}, {"AConnectDialog", "Yes"}});
    return "isql -v " + name;
  }
  // The dialog's questions, answered in turn.
  static void answer_all(PtyProgram& isql, const std::vector<std::string>& answers) {
    const char* prompts[] = {"Q4 User ID: [nobody]: ", "User Password : []: ",
                             "Q4 Account: [main]: ", "Account Password: []: ", "Choose [1]: "};
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_TRUE(isql.wait_for(prompts[i])) << isql.transcript();
      isql.type(answers[i]);
    }
  }
  Q4lite server_{{}, true};
  OdbcConfig config_;
};

TEST_F(DialogsE2e, IsqlAsksForUserAndPasswordAtTheTerminal) {
  PtyProgram isql(isql_command("q4dialogs1"));
  EXPECT_TRUE(isql.wait_for("== Q4 Data Source Configuration Parameters ==")) << isql.transcript();
  answer_all(isql, {"test", "secret", "", "", ""});
  EXPECT_TRUE(isql.wait_for("Connected!")) << isql.transcript();
  EXPECT_TRUE(isql.wait_for("SQL> ")) << isql.transcript();
  isql.type("quit");
  EXPECT_EQ(isql.finish(), 0) << isql.transcript();
  EXPECT_EQ(isql.transcript().find("secret"), std::string::npos)
      << "the password was typed without echo:\n"
      << isql.transcript();
}

TEST_F(DialogsE2e, CancelAtTheTerminalConnectsNothing) {
  PtyProgram isql(isql_command("q4dialogs2"));
  answer_all(isql, {"", "", "", "", "Cancel"});
  EXPECT_NE(isql.finish(), 0) << isql.transcript();
  EXPECT_EQ(isql.transcript().find("Connected!"), std::string::npos) << isql.transcript();
}

// Without a terminal the connect fails at once instead of waiting for an
// answer nobody can give.
TEST_F(DialogsE2e, WithoutATerminalTheConnectFailsAtOnce) {
  std::string output;
  EXPECT_NE(run_command("setsid -w " + isql_command("q4dialogs3") + " < /dev/null", &output), 0)
      << output;
  EXPECT_EQ(output.find("Connected!"), std::string::npos) << output;
  EXPECT_EQ(output.find("Q4 User ID"), std::string::npos) << output;
}

}  // namespace
}  // namespace q4e2e
