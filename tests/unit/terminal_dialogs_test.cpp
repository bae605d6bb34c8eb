// The terminal forms through a pseudo-terminal: the test plays the user at
// the master side, typing answers once their prompts appear, while the
// dialog runs on a thread of its own against the slave side (or, in one
// test, in a child process whose controlling terminal is the pty, so that
// the form opens /dev/tty as it does for a real user).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "connect/connect_dialogs.h"
#include "connect/dialogs_controls.h"
#include "connect_test_support.h"
#include "platform/terminal_dialogs.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

template <size_t N>
void set(char (&field)[N], const char* text) {
  snprintf(field, N, "%s", text);
}

// The master side of a pseudo-terminal, with what the program wrote so far.
class PtyUser {
 public:
  PtyUser() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) slave_name_ = name;
  }
  explicit PtyUser(int master) : master_(master) {}
  ~PtyUser() {
    hang_up();
    if (slave_ >= 0) close(slave_);
  }
  PtyUser(const PtyUser&) = delete;
  PtyUser& operator=(const PtyUser&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& slave_name() const { return slave_name_; }
  int slave() const { return slave_; }
  // Everything read from the terminal so far.
  const std::string& transcript() const { return transcript_; }

  // Reads until `text` appears after what earlier waits consumed; false
  // after 5 seconds without it.
  bool wait_for(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      size_t found = transcript_.find(text, consumed_);
      if (found != std::string::npos) {
        consumed_ = found + text.size();
        return true;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return false;
      // The terminal turns every line end into "\r\n"; keep the "\n" only.
      for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r') transcript_.push_back(buffer[i]);
      }
    }
  }
  // Waits for `prompt`, then types `answer` and Enter.
  bool answer(const std::string& prompt, const std::string& answer) {
    if (!wait_for(prompt)) {
      ADD_FAILURE() << "no prompt \"" << prompt << "\" in:\n" << transcript_;
      return false;
    }
    std::string line = answer + "\n";
    return write(master_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  }
  void type_raw(const std::string& bytes) {
    EXPECT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Closes the master side: the program's reads end.
  void hang_up() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
  std::string transcript_;
  size_t consumed_ = 0;
};

bool echo_on(int fd) {
  termios mode{};
  tcgetattr(fd, &mode);
  return (mode.c_lflag & ECHO) != 0;
}

// A dialog on the pty's terminal forms, run on a thread of its own.
class TerminalForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    name_ = pty_.slave_name();
    terminal_ = std::make_unique<TerminalDialogs>(name_.c_str());
    previous_ = set_dialog_ops(terminal_.get());
  }
  void TearDown() override {
    pty_.hang_up();  // a dialog still waiting fails instead of hanging the test
    if (runner_.joinable()) runner_.join();
    set_dialog_ops(previous_);
  }
  void start(std::function<int()> dialog) {
    runner_ = std::thread([this, dialog] { result_ = dialog(); });
  }
  int finish() {
    runner_.join();
    return result_;
  }

  PtyUser pty_;
  std::string name_;
  std::unique_ptr<TerminalDialogs> terminal_;
  DialogOps* previous_ = nullptr;
  std::thread runner_;
  int result_ = -2;
  ConnectionRecord conn_;
};

TEST_F(TerminalForm, SmallDialogAsksEveryFieldAndReadsPasswordsWithoutEcho) {
  set(conn_->user, "joe");
  set(conn_->password, "old");
  set(conn_->account, "acc");
  start([this] { return run_small_connect_dialog(nullptr, conn_.get()); });
  ASSERT_TRUE(pty_.wait_for("== Q4 Data Source Configuration Parameters =="));
  ASSERT_TRUE(pty_.wait_for("-- Q4 User Info --"));
  pty_.answer("Q4 User ID: [joe]: ", "ann");
  ASSERT_TRUE(pty_.wait_for("User Password : [********]: "));
  EXPECT_FALSE(echo_on(pty_.slave())) << "echo is off while the password is typed";
  pty_.type_raw("s3cret\n");
  ASSERT_TRUE(pty_.wait_for("-- Q4 Account Info --"));
  EXPECT_TRUE(echo_on(pty_.slave())) << "and on again afterwards";
  pty_.answer("Q4 Account: [acc]: ", "");  // Enter keeps
  pty_.answer("Account Password: []: ", "acpw");
  ASSERT_TRUE(pty_.wait_for("1) Connect   2) Cancel"));
  pty_.answer("Choose [1]: ", "");
  EXPECT_EQ(finish(), 0);
  EXPECT_STREQ(conn_->user, "ann");
  EXPECT_STREQ(conn_->password, "s3cret");
  EXPECT_STREQ(conn_->account, "acc");
  EXPECT_STREQ(conn_->ac_password, "acpw");
  EXPECT_NE(pty_.transcript().find("ann"), std::string::npos) << "ordinary answers echo";
  EXPECT_EQ(pty_.transcript().find("s3cret"), std::string::npos) << pty_.transcript();
  EXPECT_EQ(pty_.transcript().find("acpw"), std::string::npos) << "account password too";
}

TEST_F(TerminalForm, DashEmptiesAFieldAndButtonsGoByNumberOrName) {
  struct Case {
    const char* choice;
    int result;
  };
  for (Case c : {Case{"2", kDialogCancelled}, Case{"cancel", kDialogCancelled}, Case{"Conn", 0}}) {
    set(conn_->user, "joe");
    start([this] { return run_small_connect_dialog(nullptr, conn_.get()); });
    pty_.answer("Q4 User ID: [joe]: ", "-");
    pty_.answer("User Password : []: ", "");
    pty_.answer("Q4 Account: []: ", "");
    pty_.answer("Account Password: []: ", "");
    pty_.answer("Choose [1]: ", "9");
    ASSERT_TRUE(pty_.wait_for("Please answer 1 to 2."));
    pty_.answer("Choose [1]: ", c.choice);
    EXPECT_EQ(finish(), c.result) << c.choice;
    EXPECT_STREQ(conn_->user, c.result == 0 ? "" : "joe") << c.choice;
  }
}

// A failed check shows its box on the terminal and the form again.
TEST_F(TerminalForm, FullDialogChoicesChecksAndMessageBox) {
  set(conn_->server, "127.0.0.1");
  set(conn_->port_text, "1603");
  set(conn_->user, "joe");
  set(conn_->account, "acc");
  set(conn_->not_null_constraint, "Yes");
  conn_->server_version = 999;
  conn_->login_timeout = 7;
  start([this] { return run_full_connect_dialog(nullptr, conn_.get(), false); });
  ASSERT_TRUE(pty_.wait_for("== Q4 Data Source Connection Parameters =="));
  auto first_pass = [this](const char* user) {
    pty_.answer("Host: [127.0.0.1]: ", "");
    pty_.answer("Port Number: [1603]: ", "");
    pty_.answer("Virtual Machine: []: ", "");
    ASSERT_TRUE(pty_.wait_for("  2) 7.1.X  *\n"));
    pty_.answer("Server Version (1-4) [2]: ", "4");
    pty_.answer("Q4 User ID: [joe]: ", user);
    pty_.answer("User Password : []: ", "");
    pty_.answer("Q4 Account: [acc]: ", "");
    pty_.answer("Account Password: []: ", "");
    pty_.answer("Use server settings (y/n) [n]: ", "maybe");
    pty_.answer("Please answer y or n.", "Y");
    pty_.answer("Decimal Mark: []: ", "ABCDEFG");
    pty_.answer("Thousand Mark: []: ", "");
    pty_.answer("Currency Sign: []: ", "");
    pty_.answer("Login Timeout: [7]: ", "");
    pty_.answer("Set Password at Connection (y/n) [n]: ", "");
    pty_.answer("Support NOT NULL constraint (y/n) [y]: ", "no");
    ASSERT_TRUE(pty_.wait_for("1) OK   2) Cancel   3) Help"));
    pty_.answer("Choose [1]: ", "ok");
  };
  first_pass("-");
  ASSERT_TRUE(pty_.wait_for("*** PARAMETER ERROR ***"));
  ASSERT_TRUE(pty_.wait_for(" A connection can not be made without a User Name.\n"));
  pty_.answer("Press Enter to continue: ", "");
  ASSERT_TRUE(pty_.wait_for("== Q4 Data Source Connection Parameters =="));
  pty_.answer("Host: [127.0.0.1]: ", "");
  pty_.answer("Port Number: [1603]: ", "");
  pty_.answer("Virtual Machine: []: ", "");
  ASSERT_TRUE(pty_.wait_for("  4) 7.5.S4 and up  *\n")) << "the form shows what was chosen";
  pty_.answer("Server Version (1-4) [4]: ", "");
  pty_.answer("Q4 User ID: []: ", "ann");
  for (const char* prompt :
       {"User Password : []: ", "Q4 Account: [acc]: ", "Account Password: []: ",
        "Use server settings (y/n) [y]: ", "Decimal Mark: [ABCDE]: ", "Thousand Mark: []: ",
        "Currency Sign: []: ", "Login Timeout: [7]: ", "Set Password at Connection (y/n) [n]: ",
        "Support NOT NULL constraint (y/n) [n]: ", "Choose [1]: "}) {
    pty_.answer(prompt, "");
  }
  EXPECT_EQ(finish(), 0);
  EXPECT_STREQ(conn_->user, "ann");
  EXPECT_EQ(conn_->server_version, 754u);
  EXPECT_STREQ(conn_->server_format_opt, "Yes");
  EXPECT_STREQ(conn_->decimal_mark, "ABCDE") << "the edit holds 5 characters";
  EXPECT_STREQ(conn_->not_null_constraint, "No");
  EXPECT_EQ(conn_->login_timeout, 7u);
}

TEST_F(TerminalForm, MessageBoxButtons) {
  struct Case {
    unsigned style;
    const char* buttons;
    const char* typed;
    int answer;
  };
  const Case cases[] = {
      {kMbYesNo, "1) Yes   2) No", "n", kIdNo},
      {kMbYesNo, "1) Yes   2) No", "", kIdYes},
      {kMbOkCancel | kMbIconInformation, "1) OK   2) Cancel", "2", kIdCancel},
      {kMbIconStop, "Press Enter to continue: ", "", kIdOk},
  };
  for (const Case& c : cases) {
    start([this, c] { return terminal_->message_box(nullptr, "Save it?", " Title ", c.style); });
    ASSERT_TRUE(pty_.wait_for("*** Title ***\nSave it?\n"));
    ASSERT_TRUE(pty_.wait_for(c.buttons));
    if (c.style != kMbIconStop) {
      ASSERT_TRUE(pty_.wait_for("Choose [1]: "));
    }
    pty_.type_raw(std::string(c.typed) + "\n");
    EXPECT_EQ(finish(), c.answer) << c.buttons << " / " << c.typed;
  }
}

// End of input (Ctrl-D at the start of a line) fails the dialog before OK,
// so the record keeps what it held.
TEST_F(TerminalForm, EndOfInputFailsTheDialog) {
  set(conn_->user, "joe");
  start([this] { return run_small_connect_dialog(nullptr, conn_.get()); });
  pty_.answer("Q4 User ID: [joe]: ", "ann");
  ASSERT_TRUE(pty_.wait_for("User Password : []: "));
  pty_.type_raw("\x04");
  EXPECT_EQ(finish(), kDialogFailed);
  EXPECT_STREQ(conn_->user, "joe");
  EXPECT_TRUE(echo_on(pty_.slave())) << "echo comes back after a password prompt that ended";
}

volatile sig_atomic_t g_interrupts = 0;
extern "C" void count_interrupt(int) {
  ++g_interrupts;
}

// A signal at the password prompt: the terminal gets its echo back before
// the signal reaches the program's own handler, and the dialog fails.
TEST_F(TerminalForm, SignalAtThePasswordPromptRestoresEcho) {
  struct sigaction counting {};
  counting.sa_handler = count_interrupt;
  sigemptyset(&counting.sa_mask);
  struct sigaction before {};
  sigaction(SIGINT, &counting, &before);
  g_interrupts = 0;
  start([this] { return run_small_connect_dialog(nullptr, conn_.get()); });
  pty_.answer("Q4 User ID: []: ", "ann");
  ASSERT_TRUE(pty_.wait_for("User Password : []: "));
  ASSERT_FALSE(echo_on(pty_.slave()));
  pthread_kill(runner_.native_handle(), SIGINT);
  EXPECT_EQ(finish(), kDialogFailed);
  EXPECT_TRUE(echo_on(pty_.slave()));
  EXPECT_EQ(g_interrupts, 1) << "the signal is raised again for the program";
  struct sigaction now {};
  sigaction(SIGINT, &before, &now);
  EXPECT_EQ(now.sa_handler, count_interrupt) << "the program's handler is back in place";
}

TEST(TerminalDialogs, WithoutATerminalNothingIsShown) {
  TerminalDialogs terminal("/nonexistent/tty");
  DialogOps* previous = set_dialog_ops(&terminal);
  ConnectionRecord conn;
  set(conn->user, "joe");
  EXPECT_EQ(run_small_connect_dialog(nullptr, conn.get()), kDialogFailed);
  EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), kDialogFailed);
  EXPECT_EQ(terminal.message_box(nullptr, "text", "title", kMbYesNo), kIdCancel);
  EXPECT_STREQ(conn->user, "joe");
  set_dialog_ops(previous);
}

// The platform's own operations open /dev/tty: in a child whose controlling
// terminal is a pty, the small dialog is asked there.
TEST(TerminalDialogs, PlatformDefaultUsesTheControllingTerminal) {
  int master = -1;
  pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    set_dialog_ops(nullptr);  // the platform's operations
    static Connection conn;
    set(conn.user, "joe");
    int result = run_small_connect_dialog(nullptr, &conn);
    printf("RESULT %d user=%s password=%s\n", result, conn.user, conn.password);
    fflush(stdout);
    _exit(0);
  }
  PtyUser pty(master);
  pty.answer("Q4 User ID: [joe]: ", "ann");
  pty.answer("User Password : []: ", "hidden");
  pty.answer("Q4 Account: []: ", "");
  pty.answer("Account Password: []: ", "");
  pty.answer("Choose [1]: ", "1");
  EXPECT_TRUE(pty.wait_for("RESULT 0 user=ann password=hidden")) << pty.transcript();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  const std::string& text = pty.transcript();
  EXPECT_EQ(text.find("hidden"), text.rfind("hidden")) << "only the child's own line shows it";
}

}  // namespace
}  // namespace q4
