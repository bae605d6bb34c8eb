// The connect dialogs' logic, played by the scripted user: what each dialog
// shows, what OK reads back, every check with its message and the confirm boxes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/connect_dialogs.h"
#include "connect/dialogs_controls.h"
#include "connect/dialogs_full.h"
#include "connect_test_support.h"
#include "link/socket_layer.h"
#include "platform/locale_marks.h"
#include "platform/program_path.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

using ScriptedWindow = ScriptedDialogs::ScriptedWindow;
using Texts = std::map<int, std::string>;
Window* const kOwner = reinterpret_cast<Window*>(0x4242);
// A name the resolver itself refuses (a label longer than 63 characters), so
// that no query leaves the machine.
const std::string kUnresolvable = std::string(70, 'a') + ".invalid";

Window* handle(const std::unique_ptr<ScriptedWindow>& w) {
  return reinterpret_cast<Window*>(w.get());
}

// A record as the profile of a complete data source leaves it.
void fill_record(Connection* conn) {
  // clang-format off
  const std::pair<char*, const char*> texts[] = {
      {conn->dsn, "src"}, {conn->description, "the description"}, {conn->server, "127.0.0.1"},
      {conn->port_text, "1603"}, {conn->virtual_machine, "vm"}, {conn->user, "joe"},
      {conn->password, "pw"}, {conn->account, "acc"}, {conn->ac_password, "acpw"},
      {conn->connect_dialog, "No"}, {conn->account_connect_dialog, "No"},
      {conn->not_null_constraint, "Yes"}, {conn->server_format_opt, "No"},
      {conn->decimal_mark, ","}, {conn->thousand_mark, "."}, {conn->currency_sign, "EUR"}};
  // clang-format on
  for (const auto& [field, text] : texts) strcpy(field, text);
  conn->server_version = 754;
  conn->login_timeout = 30;
}

TEST(SmallConnectDialog, ShowsTheCredentialsAndReadsTheFourEdits) {
  ConnectionRecord conn;
  set(conn->user, "joe");
  set(conn->password, "old");
  set(conn->account, "acc");
  ScriptedDialogs ui;
  ui.play()
      .type(kControlUser, std::string(50, 'u'))  // cut to the field
      .type(kControlPassword, "")
      .type(kControlAccount, "acc2")
      .type(kControlAcPassword, std::string(25, 'p'))
      .press(kIdOk);
  EXPECT_EQ(run_small_connect_dialog(kOwner, conn.get()), 0);
  const ScriptedWindow& w = *ui.windows[0];
  EXPECT_EQ(w.template_name, "CONNECTINFO");
  EXPECT_EQ(w.owner, kOwner);
  EXPECT_EQ(w.initial_texts, (Texts{{202, "joe"}, {204, "old"}, {207, "acc"}}))
      << "empty fields leave their edits alone";
  EXPECT_EQ(fields({conn->user, conn->password, conn->account, conn->ac_password}),
            std::string(39, 'u') + "||acc2|" + std::string(19, 'p'));
}

// What the full dialog shows, then everything OK reads back (help leaves
// the dialog open); without a data source no name or description.
TEST(FullConnectDialog, ShowsEverySettingAndOkReadsEveryControl) {
  ConnectionRecord conn;
  fill_record(conn.get());
  set(conn->connect_dialog, "Yes");
  set(conn->server_format_opt, "YES");
  ScriptedDialogs ui;
  auto& script = ui.play().press(kControlHelp);
  // clang-format off
  const Texts typed = {{1134, "other"}, {1135, "new description"}, {1101, "localhost"},
      {1136, "2000"}, {206, "vm2"}, {202, "ann"}, {204, "secret"}, {207, "acc2"}, {209, "acpw2"},
      {219, "99999"}, {1012, "#"}, {1013, "'"}, {1014, "SFRXYZ"}};  // the last edit takes 5
  // clang-format on
  for (const auto& [control, text] : typed) script.type(control, text);
  script.check(1015, false).check(1157, true).check(1159, false).press(kIdOk);
  EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), true), 0);
  const ScriptedWindow& w = *ui.windows[0];
  EXPECT_EQ(w.template_name, "FULLCONNECTINFO");
  EXPECT_EQ(w.owner, kOwner);
  // clang-format off
  EXPECT_EQ(w.initial_texts, (Texts{{1134, "src"}, {1135, "the description"}, {1101, "127.0.0.1"},
      {1136, "1603"}, {206, "vm"}, {202, "joe"}, {204, "pw"}, {207, "acc"}, {209, "acpw"},
      {219, "30"}, {1012, ","}, {1013, "."}, {1014, "EUR"}}));
  // clang-format on
  EXPECT_EQ(w.initial_checks, (std::map<int, bool>{{1157, true}, {1159, true}, {1015, true}}));
  EXPECT_EQ(w.items.at(218),
            (std::vector<std::string>{"7.0.X", "7.1.X", "7.2.X - 7.5.S3", "7.5.S4 and up"}));
  EXPECT_EQ(
      fields({conn->dsn, conn->description, conn->server, conn->port_text, conn->virtual_machine,
              conn->user, conn->password, conn->account, conn->ac_password, conn->decimal_mark,
              conn->thousand_mark, conn->currency_sign}),
      "other|new description|localhost|2000|vm2|ann|secret|acc2|acpw2|#|'|SFRXY");
  EXPECT_EQ(conn->login_timeout, 32767u);
  EXPECT_EQ(conn->server_version, 754u) << "the version list as shown";
  // The connect-dialog box sets both dialog switches.
  EXPECT_EQ(fields({conn->server_format_opt, conn->connect_dialog, conn->account_connect_dialog,
                    conn->not_null_constraint}),
            "No|Yes|Yes|No");
  char directory[4096];
  ASSERT_TRUE(program_directory(directory, sizeof directory));
  EXPECT_EQ(ui.documents, std::vector<std::string>{std::string(directory) + "/q4odbc-help.html"});
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Help is currently not available.  Help topic not found.");
  EXPECT_EQ(conn->confirm_flag, 0u);

  // Switches that are off ("yes" in lower case too) leave their boxes alone.
  set(conn->connect_dialog, "yes");
  ui.play().press(kIdCancel);
  run_full_connect_dialog(nullptr, conn.get(), false);
  EXPECT_EQ(ui.windows[1]->template_name, "FULLCONNECTINFO2");
  EXPECT_EQ(ui.windows[1]->initial_texts.count(1134) + ui.windows[1]->initial_texts.count(1135),
            0u);
  EXPECT_TRUE(ui.windows[1]->initial_checks.empty());
}

TEST(FullConnectDialog, EmptyMarksFallBackToTheLocale) {
  // A locale that is not installed: the C library's marks, a point only.
  setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  load_locale_marks();
  unsetenv("LC_ALL");
  ConnectionRecord conn;
  fill_record(conn.get());
  ScriptedDialogs ui;
  ui.play().type(1012, "").type(1013, "").type(1014, "").press(kIdOk);
  run_full_connect_dialog(nullptr, conn.get(), true);
  EXPECT_EQ(fields({conn->decimal_mark, conn->thousand_mark, conn->currency_sign}), ".||");
  reset_locale_marks();
}

// Each missing entry shows its box and keeps the dialog open; the user then
// cancels. An unresolvable host shows the network box whatever its answer.
TEST(FullConnectDialog, ChecksKeepTheDialogOpen) {
  const char* kNetwork =
      " The IP address of the server can not be resolved. \n"
      " You need to set up the hosts file or the Domain Name Server on you system. \n"
      " The installation can not continue until your system is set up correctly.";
  struct Case {
    bool dsn_named;
    int control;
    std::string typed;
    int box_answer;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {true, 1134, "", 0, "You must input a Data Source Name and Host."},
      {false, 1101, "", 0, " You have to input the host name."},
      {false, 202, "", 0, " A connection can not be made without a User Name."},
      {false, 207, "", 0, " A connection can not be made without an Account."},
      {true, 1101, kUnresolvable, kIdOk, kNetwork}};
  // clang-format on
  int users = socket_layer_users();
  for (const Case& c : cases) {
    ConnectionRecord conn;
    fill_record(conn.get());
    ScriptedDialogs ui;
    if (c.box_answer != 0) ui.answer_box(c.box_answer);
    ui.play().type(c.control, c.typed).press(kIdOk).press(kIdCancel);
    EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), c.dsn_named), kDialogCancelled);
    ASSERT_EQ(ui.boxes.size(), 1u) << c.text;
    EXPECT_EQ(ui.boxes[0].text, c.text);
    bool network = c.box_answer != 0;
    EXPECT_EQ(ui.boxes[0].title, network ? " NETWORK SETUP ERROR " : " PARAMETER ERROR");
    EXPECT_EQ(ui.boxes[0].style, (network ? kMbOkCancel : 0) | kMbIconInformation);
    EXPECT_EQ(ui.boxes[0].owner, handle(ui.windows[0]));
    EXPECT_EQ(ui.shown.size(), 1u) << c.text << ": no confirm box";
  }
  EXPECT_EQ(socket_layer_users(), users) << "every lookup ends its use of the socket layer";
}

// OK with a data source and an empty user or account asks to confirm each.
// Answers: OK, Cancel, 0 closes the box, kDialogFailed cannot show it; only
// OK confirms.
TEST(FullConnectDialog, ConfirmBoxes) {
  struct Case {
    bool user_empty, account_empty;
    std::vector<int> answers;
    bool ends;
    const char* dialog_switches;
  };
  // clang-format off
  const Case cases[] = {
      {true, false, {kIdOk}, true, "YES|No"}, {true, false, {kIdCancel}, false, "No|No"},
      {false, true, {kIdOk}, true, "No|YES"}, {true, true, {kIdCancel, kIdOk}, false, "No|YES"},
      {true, false, {0}, false, "No|No"}, {true, false, {kDialogFailed}, false, "No|No"}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.user_empty) + std::to_string(c.account_empty) + " " +
                 std::to_string(c.answers[0]));
    ConnectionRecord conn;
    fill_record(conn.get());
    ScriptedDialogs ui;
    auto& full = ui.play();
    if (c.user_empty) full.type(kControlUser, "");
    if (c.account_empty) full.type(kControlAccount, "");
    full.press(kIdOk);
    if (!c.ends) full.press(kIdCancel);
    std::vector<uint32_t> flags;  // as each played box saw it
    for (int answer : c.answers) {
      if (answer == kDialogFailed) {
        ui.answer(kDialogFailed);
        continue;
      }
      auto& box =
          ui.play().add([&](ScriptedWindow&, DialogProc*) { flags.push_back(conn->confirm_flag); });
      answer == 0 ? box.close() : box.press(answer);
    }
    EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), true), c.ends ? 0 : kDialogCancelled);
    EXPECT_EQ(fields({conn->connect_dialog, conn->account_connect_dialog}), c.dialog_switches);
    EXPECT_EQ(conn->confirm_flag, 0u);
    EXPECT_EQ(flags.empty() ? 1u : flags[0], 1u) << "set while the boxes run";
    std::vector<std::string> boxes;
    for (size_t i = 1; i < ui.shown.size(); ++i) {
      boxes.push_back(ui.shown[i].template_name);
      EXPECT_EQ(ui.shown[i].owner, handle(ui.windows[0]));
    }
    std::vector<std::string> expected;
    if (c.user_empty) expected.push_back("CONFDLGU");
    if (c.account_empty) expected.push_back("CONFDLGA");
    EXPECT_EQ(boxes, expected);
    EXPECT_TRUE(ui.boxes.empty());
  }
}

// Cancel ends with 100, closing the window with 0; neither reads the edits.
TEST(ConnectDialogs, CancelAndCloseReadNothing) {
  for (bool full : {false, true}) {
    for (bool close : {false, true}) {
      ConnectionRecord conn;
      fill_record(conn.get());
      ScriptedDialogs ui;
      auto& script = ui.play().type(kControlUser, "typed").type(kControlAccount, "typed");
      close ? script.close() : script.press(kIdCancel);
      int result = full ? run_full_connect_dialog(nullptr, conn.get(), true)
                        : run_small_connect_dialog(nullptr, conn.get());
      EXPECT_EQ(result, close ? 0 : kDialogCancelled) << full << close;
      EXPECT_EQ(fields({conn->user, conn->account}), "joe|acc");
    }
  }
}

// A dialog that cannot be shown runs none of its logic: the record is as it was.
TEST(ConnectDialogs, DialogThatCannotBeShownLeavesTheRecordAlone) {
  ConnectionRecord conn;
  fill_record(conn.get());
  Connection before = *conn.get();
  DialogOps* previous = set_dialog_ops(no_user_interface());
  EXPECT_EQ(run_small_connect_dialog(nullptr, conn.get()), kDialogFailed);
  EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), kDialogFailed);
  set_dialog_ops(previous);
  EXPECT_EQ(memcmp(&before, conn.get(), sizeof before), 0);
}

}  // namespace
}  // namespace q4
