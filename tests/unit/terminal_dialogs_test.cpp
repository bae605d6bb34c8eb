// The terminal forms at a pseudo-terminal, the test typing at its master side.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "connect/connect_dialogs.h"
#include "connect_test_support.h"
#include "platform/terminal_dialogs.h"

namespace q4 {
namespace {

// A dialog on the pty's terminal forms, run on a thread of its own.
class TerminalForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, name_, nullptr, nullptr), 0);
    terminal_ = std::make_unique<TerminalDialogs>(name_);  // keeps the pointer
    previous_ = set_dialog_ops(terminal_.get());
  }
  void TearDown() override {
    close(master_);  // a dialog still waiting fails instead of hanging the test
    if (runner_.joinable()) runner_.join();
    close(slave_);
    set_dialog_ops(previous_);
  }
  void start(std::function<int()> dialog) {
    runner_ = std::thread([this, dialog] { result_ = dialog(); });
  }
  int finish() {
    runner_.join();
    return result_;
  }
  // Reads past `text` (after earlier waits); false after 5 quiet seconds. "\r" dropped.
  bool wait_for(const std::string& text) {
    for (int quiet = 0; quiet < 50;) {
      size_t found = transcript_.find(text, consumed_);
      if (found != std::string::npos) return (consumed_ = found + text.size()), true;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0 && ++quiet) continue;
      char buffer[512];
      ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return false;
      for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r') transcript_.push_back(buffer[i]);
      }
    }
    return false;
  }
  void type(const std::string& bytes) {
    EXPECT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Waits for each prompt and types its answer and Enter (a null answer only waits).
  void answer(std::initializer_list<std::pair<const char*, const char*>> steps) {
    for (const auto& [prompt, text] : steps) {
      ASSERT_TRUE(wait_for(prompt)) << "no \"" << prompt << "\" in:\n" << transcript_;
      if (text != nullptr) type(std::string(text) + "\n");
    }
  }
  bool echo_on() {
    termios mode{};
    tcgetattr(slave_, &mode);
    return (mode.c_lflag & ECHO) != 0;
  }

  int master_ = -1, slave_ = -1, result_ = -2;
  char name_[256];
  std::string transcript_;
  size_t consumed_ = 0;
  std::unique_ptr<TerminalDialogs> terminal_;
  DialogOps* previous_ = nullptr;
  std::thread runner_;
  ConnectionRecord conn_;
};

TEST_F(TerminalForm, SmallDialogAsksEveryFieldAndReadsPasswordsWithoutEcho) {
  set(conn_->password, "old");
  set(conn_->account, "acc");
  start([this] { return run_small_connect_dialog(nullptr, conn_.get()); });
  answer({{"Q4 User ID: []: ", "ann"}, {"User Password : [********]: ", nullptr}});
  EXPECT_FALSE(echo_on()) << "echo is off while the password is typed";
  type("s3cret\n");
  ASSERT_TRUE(wait_for("-- Q4 Account Info --"));
  EXPECT_TRUE(echo_on()) << "and on again afterwards";
  // Enter keeps a value; buttons go by number.
  answer({{"Q4 Account: [acc]: ", ""},
          {"Account Password: []: ", "acpw"},
          {"1) Connect   2) Cancel\nChoose [1]: ", ""}});
  EXPECT_EQ(finish(), 0);
  EXPECT_EQ(fields({conn_->user, conn_->password, conn_->account, conn_->ac_password}),
            "ann|s3cret|acc|acpw");
  EXPECT_NE(transcript_.find("ann"), std::string::npos) << "ordinary answers echo";
  EXPECT_EQ(transcript_.find("s3cret"), std::string::npos) << transcript_;
  EXPECT_EQ(transcript_.find("acpw"), std::string::npos) << "account password too";
}

// Rows: style, the buttons shown, what is typed, the answer.
TEST_F(TerminalForm, MessageBoxButtons) {
  // clang-format off
  const std::tuple<unsigned, const char*, const char*, int> cases[] = {
      {kMbYesNo, "1) Yes   2) No\nChoose [1]: ", "n", kIdNo},
      {kMbOkCancel | kMbIconInformation, "1) OK   2) Cancel\nChoose [1]: ", "2", kIdCancel},
      {kMbIconStop, "Press Enter to continue: ", "", kIdOk}};
  // clang-format on
  for (const auto& [style, buttons, typed, result] : cases) {
    start([this, style = style] {
      return terminal_->message_box(nullptr, "Save it?", " Title ", style);
    });
    answer({{"*** Title ***\nSave it?\n", nullptr}, {buttons, typed}});
    EXPECT_EQ(finish(), result) << buttons << " / " << typed;
  }
}

volatile sig_atomic_t g_interrupts = 0;
extern "C" void count_interrupt(int) {
  ++g_interrupts;
}

// Ctrl-D or a signal fails the dialog, echo comes back, the signal reaches the program.
TEST_F(TerminalForm, EndOfInputOrSignalFailsTheDialogAndRestoresEcho) {
  struct sigaction counting = {}, before = {}, now = {};
  counting.sa_handler = count_interrupt;
  sigaction(SIGINT, &counting, &before);
  g_interrupts = 0;
  set(conn_->user, "joe");
  for (bool signal : {false, true}) {
    start([this] { return run_small_connect_dialog(nullptr, conn_.get()); });
    answer({{"Q4 User ID: [joe]: ", "ann"}, {"User Password : []: ", nullptr}});
    ASSERT_FALSE(echo_on());
    signal ? void(pthread_kill(runner_.native_handle(), SIGINT)) : type("\x04");
    EXPECT_EQ(finish(), kDialogFailed) << signal;
    EXPECT_STREQ(conn_->user, "joe");
    EXPECT_TRUE(echo_on()) << signal;
  }
  EXPECT_EQ(g_interrupts, 1) << "the signal is raised again for the program";
  sigaction(SIGINT, &before, &now);
  EXPECT_EQ(now.sa_handler, count_interrupt) << "the program's handler is back in place";
}

}  // namespace
}  // namespace q4
