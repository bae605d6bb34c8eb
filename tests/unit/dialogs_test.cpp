// The connect dialogs' logic, played by the scripted user.
#include "connect/connect_dialogs.h"
#include "connect/dialogs_controls.h"
#include "connect/dialogs_full.h"
#include "connect/settings.h"
#include "connect_test_support.h"
#include "link/link.h"
#include "scripted_dialogs.h"

namespace q4 {
namespace {

using ScriptedWindow = ScriptedDialogs::ScriptedWindow;
using Texts = std::map<int, std::string>;
Window* const kOwner = reinterpret_cast<Window*>(0x4242);

// A record as the profile of a complete data source leaves it.
struct FilledRecord : ConnectionRecord {
  FilledRecord() {
    // clang-format off
    const std::pair<char*, const char*> texts[] = {
        {get()->dsn, "src"}, {get()->description, "the description"}, {get()->server, "127.0.0.1"},
        {get()->port_text, "1603"}, {get()->virtual_machine, "vm"}, {get()->user, "joe"},
        {get()->password, "pw"}, {get()->account, "acc"}, {get()->ac_password, "acpw"},
        {get()->connect_dialog, "Yes"}, {get()->account_connect_dialog, "No"},
        {get()->not_null_constraint, "Yes"}, {get()->server_format_opt, "YES"},
        {get()->decimal_mark, ","}, {get()->thousand_mark, "."}, {get()->currency_sign, "EUR"}};
    // clang-format on
    for (const auto& [field, text] : texts) strcpy(field, text);
    get()->server_version = 754;
    get()->login_timeout = 30;
  }
};

// What the full dialog shows and OK reads back; help leaves the dialog open.
TEST(FullConnectDialog, ShowsEverySettingAndOkReadsEveryControl) {
  FilledRecord conn;
  ScriptedDialogs ui;
  auto& script = ui.play().press(kControlHelp);
  // clang-format off
  const Texts typed = {{1134, "other"}, {1135, "new description"}, {1101, "localhost"},
      {1136, "2000"}, {206, "vm2"}, {202, "ann"}, {204, "secret"}, {207, "acc2"}, {209, "acpw2"},
      {219, "99999"}, {1012, "#"}, {1013, "'"}, {1014, "SFRXYZ"}};  // the last edit takes 5
  // clang-format on
  for (const auto& [control, text] : typed) script.type(control, text);
  script.check(1015, false).check(1159, false).press(kIdOk);
  EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), true), 0);
  const ScriptedWindow& w = *ui.windows[0];
  EXPECT_EQ(w.template_name + (w.owner == kOwner ? " owned" : ""), "FULLCONNECTINFO owned");
  // clang-format off
  EXPECT_EQ(w.initial_texts, (Texts{{1134, "src"}, {1135, "the description"}, {1101, "127.0.0.1"},
      {1136, "1603"}, {206, "vm"}, {202, "joe"}, {204, "pw"}, {207, "acc"}, {209, "acpw"},
      {218, "7.5.S4 and up"}, {219, "30"}, {1012, ","}, {1013, "."}, {1014, "EUR"}}));
  // clang-format on
  EXPECT_EQ(w.initial_checks, (std::map<int, bool>{{1157, true}, {1159, true}, {1015, true}}));
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
  EXPECT_EQ(ui.documents.at(0).substr(ui.documents[0].rfind('/')), "/q4odbc-help.html");
}

// Each check's box keeps the dialog open; the host's label is refused locally.
TEST(FullConnectDialog, ChecksKeepTheDialogOpen) {
  const std::string kNetwork =
      " The IP address of the server can not be resolved. \n"
      " You need to set up the hosts file or the Domain Name Server on you system. \n"
      " The installation can not continue until your system is set up correctly.";
  // clang-format off
  const std::tuple<bool, int, std::string, std::string> cases[] = {
      {true, 1134, "", " PARAMETER ERROR|You must input a Data Source Name and Host."},
      {false, 1101, "", " PARAMETER ERROR| You have to input the host name."},
      {false, 202, "", " PARAMETER ERROR| A connection can not be made without a User Name."},
      {false, 207, "", " PARAMETER ERROR| A connection can not be made without an Account."},
      {true, 1101, std::string(70, 'a') + ".invalid", " NETWORK SETUP ERROR |" + kNetwork}};
  // clang-format on
  int users = socket_layer_users();
  for (const auto& [dsn_named, control, typed, box] : cases) {
    FilledRecord conn;
    ScriptedDialogs ui;
    ui.answer_box(kIdOk);
    ui.play().type(control, typed).press(kIdOk).press(kIdCancel);
    EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), dsn_named), kDialogCancelled);
    ASSERT_EQ(ui.boxes.size(), 1u) << box;
    EXPECT_EQ(ui.boxes[0].title + "|" + ui.boxes[0].text, box);
    bool network = box[1] == 'N';
    EXPECT_EQ(ui.boxes[0].style, (network ? kMbOkCancel : 0) | kMbIconInformation);
    EXPECT_EQ(ui.shown.size(), 1u) << box << ": no confirm box";
  }
  EXPECT_EQ(socket_layer_users(), users) << "every lookup ends its use of the socket layer";
}

// An empty user or account asks to confirm each; only OK confirms (and switches it on).
TEST(FullConnectDialog, ConfirmBoxes) {
  struct Case {
    bool user_empty, account_empty;
    std::vector<int> answers;
    bool ends;
    const char* boxes_and_switches;
  };
  // clang-format off
  const Case cases[] = {{true, false, {kIdOk}, true, "CONFDLGU YES|No"},
      {false, true, {kIdOk}, true, "CONFDLGA No|YES"},
      {true, true, {kIdCancel, kIdOk}, false, "CONFDLGU CONFDLGA No|YES"}};
  // clang-format on
  for (const Case& c : cases) {
    FilledRecord conn;
    set(conn->connect_dialog, "No");
    ScriptedDialogs ui;
    auto& full = ui.play();
    if (c.user_empty) full.type(kControlUser, "");
    if (c.account_empty) full.type(kControlAccount, "");
    full.press(kIdOk).press(kIdCancel);  // the Cancel only when the dialog stayed open
    std::string seen;
    for (int answer : c.answers) {
      ui.play()
          .add([&](ScriptedWindow& w, DialogProc*) {
            bool flag_missing = seen.empty() && conn->confirm_flag != 1;
            seen += w.template_name + (flag_missing ? "(flag not set) " : " ");
          })
          .press(answer);
    }
    EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), true), c.ends ? 0 : kDialogCancelled);
    EXPECT_EQ(seen + fields({conn->connect_dialog, conn->account_connect_dialog}),
              c.boxes_and_switches);
    EXPECT_EQ(conn->confirm_flag, 0u);
    EXPECT_EQ(ui.shown.back().owner, reinterpret_cast<Window*>(ui.windows[0].get()));
  }
}

}  // namespace
}  // namespace q4
