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
  std::vector<ScriptedDialogs::Step> steps = {ui.press(kControlHelp)};
  // clang-format off
  const Texts typed = {{1134, "other"}, {1135, "new description"}, {1101, "localhost"},
      {1136, "2000"}, {206, "vm2"}, {202, "ann"}, {204, "secret"}, {207, "acc2"}, {209, "acpw2"},
      {219, "99999"}, {1012, "#"}, {1013, "'"}, {1014, "SFRXYZ"}};  // the last edit takes 5
  // clang-format on
  for (const auto& [control, text] : typed) steps.push_back(ui.type(control, text));
  steps.insert(steps.end(), {ui.check(1015, false), ui.check(1159, false), ui.press(kIdOk)});
  ui.play(steps);
  EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), true), 0);
  EXPECT_EQ(ui.shown[0].template_name + (ui.shown[0].owner == kOwner ? " owned" : ""),
            "FULLCONNECTINFO owned");
  // clang-format off
  EXPECT_EQ(ui.initial_texts, (Texts{{1134, "src"}, {1135, "the description"}, {1101, "127.0.0.1"},
      {1136, "1603"}, {206, "vm"}, {202, "joe"}, {204, "pw"}, {207, "acc"}, {209, "acpw"},
      {218, "7.5.S4 and up"}, {219, "30"}, {1012, ","}, {1013, "."}, {1014, "EUR"}}));
  // clang-format on
  EXPECT_EQ(ui.initial_checks, (std::map<int, bool>{{1157, true}, {1159, true}, {1015, true}}));
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

// OK: each check's box keeps the dialog open (the host's name is looked up here). With a data
// source an empty user or account asks to confirm each (over the dialog, the confirm flag set
// meanwhile); only OK confirms, switching that dialog on. Rows: data source named, the edits
// emptied or typed, the confirm answers, then what was shown ("title|text|style" of a box, the
// confirm templates) and the two dialog switches.
TEST(FullConnectDialog, OkChecksAndConfirms) {
  const std::string kNetwork =
      " NETWORK SETUP ERROR | The IP address of the server can not be resolved. \n"
      " You need to set up the hosts file or the Domain Name Server on you system. \n"
      " The installation can not continue until your system is set up correctly.|65";
  const std::string kParameter = " PARAMETER ERROR|", kOff = " No|No";
  struct Case {
    bool dsn_named;
    Texts edits;
    std::vector<int> answers;
    std::string seen;
  };
  // clang-format off
  const Case cases[] = {
      {true, {{1134, ""}}, {}, kParameter + "You must input a Data Source Name and Host.|64" + kOff},
      {false, {{1101, ""}}, {}, kParameter + " You have to input the host name.|64" + kOff},
      {false, {{202, ""}}, {}, kParameter + " A connection can not be made without a User Name.|64" + kOff},
      {false, {{207, ""}}, {}, kParameter + " A connection can not be made without an Account.|64" + kOff},
      {true, {{1101, std::string(70, 'a') + ".invalid"}}, {}, kNetwork + kOff},
      {true, {{202, ""}}, {kIdOk}, "CONFDLGU YES|No"},
      {true, {{202, ""}, {207, ""}}, {kIdCancel, kIdOk}, "CONFDLGU CONFDLGA No|YES"}};  // stays open
  // clang-format on
  int users = socket_layer_users();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seen);
    FilledRecord conn;
    set(conn->connect_dialog, "No");
    ScriptedDialogs ui;
    ui.answer_box(kIdOk);
    std::vector<ScriptedDialogs::Step> steps;
    for (const auto& [control, text] : c.edits) steps.push_back(ui.type(control, text));
    steps.insert(steps.end(), {ui.press(kIdOk), ui.press(kIdCancel)});  // Cancel if still open
    ui.play(steps);
    for (int answer : c.answers) {
      ui.play({[&](DialogProc*, Window*) {
                 EXPECT_TRUE(ui.shown.size() > 2 || conn->confirm_flag == 1);
               },
               ui.press(answer)});
    }
    bool ends = !c.answers.empty() && c.answers[0] == kIdOk;
    EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), c.dsn_named),
              ends ? 0 : kDialogCancelled);
    std::string seen;
    for (const auto& b : ui.boxes)
      seen += b.title + "|" + b.text + "|" + std::to_string(b.style) + " ";
    for (size_t i = 1; i < ui.shown.size(); ++i) {
      seen += ui.shown[i].template_name + " ";
      EXPECT_EQ(ui.shown[i].owner, ui.shown[0].window) << "a confirm box over the dialog";
    }
    EXPECT_EQ(seen + fields({conn->connect_dialog, conn->account_connect_dialog}), c.seen);
    EXPECT_EQ(conn->confirm_flag, 0u);
  }
  EXPECT_EQ(socket_layer_users(), users) << "every lookup ends its use of the socket layer";
}

}  // namespace
}  // namespace q4
