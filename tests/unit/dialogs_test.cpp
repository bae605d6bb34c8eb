// The connect dialogs' logic, played by the scripted user: what each dialog
// shows, what its buttons read back into the record, every check with its
// message, the confirm boxes and the help action.
#include <gtest/gtest.h>

#include <cstdlib>
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

Window* const kOwner = reinterpret_cast<Window*>(0x4242);
// A name that no lookup can resolve, refused by the resolver itself (a label
// longer than 63 characters), so that no query leaves the machine.
const std::string kUnresolvable = std::string(70, 'a') + ".invalid";

constexpr const char* kParameterError = " PARAMETER ERROR";
constexpr const char* kNetworkError = " NETWORK SETUP ERROR ";

template <size_t N>
void set(char (&field)[N], const char* text) {
  snprintf(field, N, "%s", text);
}

// A record as the profile of a complete data source leaves it.
void fill_record(Connection* conn) {
  set(conn->dsn, "src");
  set(conn->description, "the description");
  set(conn->server, "127.0.0.1");
  set(conn->port_text, "1603");
  set(conn->virtual_machine, "vm");
  set(conn->user, "joe");
  set(conn->password, "pw");
  set(conn->account, "acc");
  set(conn->ac_password, "acpw");
  set(conn->connect_dialog, "No");
  set(conn->account_connect_dialog, "No");
  set(conn->not_null_constraint, "Yes");
  set(conn->server_format_opt, "No");
  set(conn->decimal_mark, ",");
  set(conn->thousand_mark, ".");
  set(conn->currency_sign, "EUR");
  conn->server_version = 754;
  conn->login_timeout = 30;
}

// ---- The small connect dialog.

TEST(SmallConnectDialog, ShowsOnlyTheCredentialsTheRecordHolds) {
  ConnectionRecord conn;
  set(conn->user, "joe");
  set(conn->account, "acc");
  ScriptedDialogs ui;
  ui.play().press(kIdCancel);
  EXPECT_EQ(run_small_connect_dialog(kOwner, conn.get()), kDialogCancelled);
  const ScriptedWindow& w = *ui.windows[0];
  EXPECT_EQ(w.template_name, "CONNECTINFO");
  EXPECT_EQ(w.owner, kOwner);
  EXPECT_TRUE(w.centered);
  EXPECT_EQ(w.initial_texts, (std::map<int, std::string>{{202, "joe"}, {207, "acc"}}))
      << "empty fields leave their edits alone";
  ASSERT_EQ(ui.brought_to_front.size(), 2u);
  EXPECT_EQ(ui.brought_to_front[0], kOwner) << "the owner comes to the front first";
  EXPECT_EQ(ui.brought_to_front[1], reinterpret_cast<Window*>(ui.windows[0].get()));
}

TEST(SmallConnectDialog, ConnectReadsTheFourEditsCutToTheirFields) {
  ConnectionRecord conn;
  set(conn->user, "joe");
  set(conn->password, "old");
  ScriptedDialogs ui;
  ui.play()
      .type(kControlUser, std::string(50, 'u'))
      .type(kControlPassword, "")
      .type(kControlAccount, "acc2")
      .type(kControlAcPassword, std::string(25, 'p'))
      .press(kIdOk);
  EXPECT_EQ(run_small_connect_dialog(nullptr, conn.get()), 0);
  EXPECT_EQ(std::string(conn->user), std::string(39, 'u'));
  EXPECT_STREQ(conn->password, "") << "an emptied edit empties the field";
  EXPECT_STREQ(conn->account, "acc2");
  EXPECT_EQ(std::string(conn->ac_password), std::string(19, 'p'));
}

// ---- The full connect dialog: what it shows.

TEST(FullConnectDialog, ShowsEverySetting) {
  ConnectionRecord conn;
  fill_record(conn.get());
  set(conn->connect_dialog, "Yes");
  set(conn->server_format_opt, "YES");
  ScriptedDialogs ui;
  ui.play().press(kIdCancel);
  EXPECT_EQ(run_full_connect_dialog(kOwner, conn.get(), true), kDialogCancelled);
  const ScriptedWindow& w = *ui.windows[0];
  EXPECT_EQ(w.template_name, "FULLCONNECTINFO");
  EXPECT_EQ(w.owner, kOwner);
  EXPECT_TRUE(w.centered);
  EXPECT_EQ(w.initial_texts, (std::map<int, std::string>{{1134, "src"},
                                                         {1135, "the description"},
                                                         {1101, "127.0.0.1"},
                                                         {1136, "1603"},
                                                         {206, "vm"},
                                                         {202, "joe"},
                                                         {204, "pw"},
                                                         {207, "acc"},
                                                         {209, "acpw"},
                                                         {219, "30"},
                                                         {1012, ","},
                                                         {1013, "."},
                                                         {1014, "EUR"}}));
  EXPECT_EQ(w.initial_checks, (std::map<int, bool>{{1157, true}, {1159, true}, {1015, true}}));
  EXPECT_EQ(w.items.at(218),
            (std::vector<std::string>{"7.0.X", "7.1.X", "7.2.X - 7.5.S3", "7.5.S4 and up"}));
  EXPECT_EQ(w.selected_item(218), "7.5.S4 and up");
  EXPECT_EQ(w.limits, (std::map<int, int>{{1012, 5}, {1013, 5}, {1014, 5}}));
}

TEST(FullConnectDialog, WithoutADataSourceTheNameAndDescriptionAreNotShown) {
  ConnectionRecord conn;
  fill_record(conn.get());
  set(conn->connect_dialog, "yes");  // lower case: off
  set(conn->not_null_constraint, "No");
  ScriptedDialogs ui;
  ui.play().press(kIdCancel);
  run_full_connect_dialog(nullptr, conn.get(), false);
  const ScriptedWindow& w = *ui.windows[0];
  EXPECT_EQ(w.template_name, "FULLCONNECTINFO2");
  EXPECT_EQ(w.initial_texts.count(1134) + w.initial_texts.count(1135), 0u);
  EXPECT_TRUE(w.initial_checks.empty()) << "switches that are off leave their boxes alone";
}

struct VersionCase {
  uint32_t level;
  const char* shown;
  const char* chosen;  // nullptr: left as shown
  uint32_t stored;
};

// The list offers four levels; any other number shows as "7.1.X" and is
// stored as what the list holds when OK is pressed.
TEST(FullConnectDialog, VersionListMapping) {
  const VersionCase cases[] = {
      {700, "7.0.X", nullptr, 700},
      {710, "7.1.X", nullptr, 710},
      {720, "7.2.X - 7.5.S3", nullptr, 720},
      {754, "7.5.S4 and up", nullptr, 754},
      {999, "7.1.X", nullptr, 710},
      {999, "7.1.X", "7.5.S4 and up", 754},
      {0, "7.1.X", "7.0.X", 700},
      {754, "7.5.S4 and up", "7.2.X - 7.5.S3", 720},
  };
  for (const VersionCase& c : cases) {
    ConnectionRecord conn;
    fill_record(conn.get());
    conn->server_version = c.level;
    ScriptedDialogs ui;
    auto& script = ui.play().look([&](const ScriptedWindow& w) {
      EXPECT_EQ(w.selected_item(kControlVersionList), c.shown) << c.level;
    });
    if (c.chosen != nullptr) script.select(kControlVersionList, c.chosen);
    script.press(kIdOk);
    EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), 0);
    EXPECT_EQ(conn->server_version, c.stored) << c.level << " / " << (c.chosen ? c.chosen : "-");
  }
  EXPECT_EQ(level_for_version_item(""), 754u) << "no selection";
}

// ---- OK: what it reads back.

TEST(FullConnectDialog, OkReadsEveryControl) {
  ConnectionRecord conn;
  fill_record(conn.get());
  ScriptedDialogs ui;
  ui.play()
      .type(1134, "other")
      .type(1135, "new description")
      .type(1101, "localhost")
      .type(1136, "2000")
      .type(206, "vm2")
      .type(202, "ann")
      .type(204, "secret")
      .type(207, "acc2")
      .type(209, "acpw2")
      .type(219, "99999")
      .check(1015, true)
      .check(1157, true)
      .check(1159, false)
      .type(1012, "#")
      .type(1013, "'")
      .type(1014, "SFRXYZ")  // the edit takes 5 characters
      .press(kIdOk);
  EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), 0);
  EXPECT_STREQ(conn->dsn, "other");
  EXPECT_STREQ(conn->description, "new description");
  EXPECT_STREQ(conn->server, "localhost");
  EXPECT_STREQ(conn->port_text, "2000");
  EXPECT_STREQ(conn->virtual_machine, "vm2");
  EXPECT_STREQ(conn->user, "ann");
  EXPECT_STREQ(conn->password, "secret");
  EXPECT_STREQ(conn->account, "acc2");
  EXPECT_STREQ(conn->ac_password, "acpw2");
  EXPECT_EQ(conn->login_timeout, 32767u);
  EXPECT_STREQ(conn->server_format_opt, "Yes");
  EXPECT_STREQ(conn->connect_dialog, "Yes");
  EXPECT_STREQ(conn->account_connect_dialog, "Yes") << "follows the same box";
  EXPECT_STREQ(conn->not_null_constraint, "No");
  EXPECT_STREQ(conn->decimal_mark, "#");
  EXPECT_STREQ(conn->thousand_mark, "'");
  EXPECT_STREQ(conn->currency_sign, "SFRXY");
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(conn->confirm_flag, 0u);
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
  EXPECT_STREQ(conn->decimal_mark, ".");
  EXPECT_STREQ(conn->thousand_mark, "");
  EXPECT_STREQ(conn->currency_sign, "");

  // Before the process loaded the locale marks they are empty too.
  reset_locale_marks();
  ConnectionRecord fresh;
  fill_record(fresh.get());
  ui.play().type(1012, "").press(kIdOk);
  run_full_connect_dialog(nullptr, fresh.get(), true);
  EXPECT_STREQ(fresh->decimal_mark, "");
  EXPECT_STREQ(fresh->thousand_mark, ".") << "a filled edit keeps its mark";
}

// ---- OK: the checks.

struct CheckCase {
  const char* name;
  bool dsn_named;
  int control;  // emptied by the user
  const char* text;
};

// Each missing entry shows its information box and keeps the dialog open;
// the user then cancels.
TEST(FullConnectDialog, MissingEntriesKeepTheDialogOpen) {
  const CheckCase cases[] = {
      {"no data source name", true, 1134, "You must input a Data Source Name and Host."},
      {"no host", true, 1101, "You must input a Data Source Name and Host."},
      {"no host, no data source", false, 1101, " You have to input the host name."},
      {"no user, no data source", false, 202, " A connection can not be made without a User Name."},
      {"no account, no data source", false, 207,
       " A connection can not be made without an Account."},
  };
  for (const CheckCase& c : cases) {
    ConnectionRecord conn;
    fill_record(conn.get());
    ScriptedDialogs ui;
    ui.play().type(c.control, "").press(kIdOk).press(kIdCancel);
    EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), c.dsn_named), kDialogCancelled)
        << c.name;
    ASSERT_EQ(ui.boxes.size(), 1u) << c.name;
    const ScriptedDialogs::Box& box = ui.boxes[0];
    EXPECT_EQ(box.text, c.text) << c.name;
    EXPECT_EQ(box.title, kParameterError);
    EXPECT_EQ(box.style, kMbIconInformation);
    EXPECT_EQ(box.owner, reinterpret_cast<Window*>(ui.windows[0].get()));
    EXPECT_EQ(ui.shown.size(), 1u) << c.name << ": no confirm box";
  }
}

TEST(FullConnectDialog, UnresolvableHostShowsTheNetworkBoxWhateverTheAnswer) {
  int users = socket_layer_users();
  ConnectionRecord conn;
  fill_record(conn.get());
  ScriptedDialogs ui;
  ui.answer_box(kIdOk);
  ui.answer_box(kIdCancel);
  ui.play()
      .type(kControlServer, kUnresolvable)
      .press(kIdOk)  // the box answered OK
      .press(kIdOk)  // the box answered Cancel
      .type(kControlServer, "127.0.0.1")
      .press(kIdOk);
  EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), 0);
  ASSERT_EQ(ui.boxes.size(), 2u);
  for (const ScriptedDialogs::Box& box : ui.boxes) {
    EXPECT_EQ(box.text,
              " The IP address of the server can not be resolved. \n"
              " You need to set up the hosts file or the Domain Name Server on you system. \n"
              " The installation can not continue until your system is set up correctly.");
    EXPECT_EQ(box.title, kNetworkError);
    EXPECT_EQ(box.style, kMbOkCancel | kMbIconInformation);
  }
  EXPECT_STREQ(conn->server, "127.0.0.1");
  EXPECT_EQ(socket_layer_users(), users) << "every lookup ends its use of the socket layer";
}

// ---- OK with a data source: the confirm boxes.

struct ConfirmCase {
  const char* name;
  bool user_empty;
  bool account_empty;
  std::vector<int> confirm_answers;  // in the order the boxes appear
  bool ends;
  const char* connect_dialog;
  const char* account_connect_dialog;
};

TEST(FullConnectDialog, ConfirmBoxes) {
  const ConfirmCase cases[] = {
      {"user confirmed", true, false, {kIdOk}, true, "YES", "No"},
      {"user refused", true, false, {kIdCancel}, false, "No", "No"},
      {"account confirmed", false, true, {kIdOk}, true, "No", "YES"},
      {"account refused", false, true, {kIdCancel}, false, "No", "No"},
      {"both confirmed", true, true, {kIdOk, kIdOk}, true, "YES", "YES"},
      {"user confirmed, account refused", true, true, {kIdOk, kIdCancel}, false, "YES", "No"},
      {"user refused, account confirmed", true, true, {kIdCancel, kIdOk}, false, "No", "YES"},
  };
  for (const ConfirmCase& c : cases) {
    ConnectionRecord conn;
    fill_record(conn.get());
    ScriptedDialogs ui;
    auto& full = ui.play();
    if (c.user_empty) full.type(kControlUser, "");
    if (c.account_empty) full.type(kControlAccount, "");
    full.press(kIdOk);
    if (!c.ends) full.press(kIdCancel);
    std::vector<uint32_t> flags_seen;
    for (int answer : c.confirm_answers) {
      ui.play()
          .look([&](const ScriptedWindow&) { flags_seen.push_back(conn->confirm_flag); })
          .press(answer);
    }
    int result = run_full_connect_dialog(kOwner, conn.get(), true);
    EXPECT_EQ(result, c.ends ? 0 : kDialogCancelled) << c.name;
    EXPECT_STREQ(conn->connect_dialog, c.connect_dialog) << c.name;
    EXPECT_STREQ(conn->account_connect_dialog, c.account_connect_dialog) << c.name;
    EXPECT_EQ(conn->confirm_flag, 0u) << c.name;
    ASSERT_EQ(ui.windows.size(), 1 + c.confirm_answers.size()) << c.name;
    if (c.user_empty) {
      EXPECT_EQ(ui.windows[1]->template_name, "CONFDLGU") << c.name;
    }
    if (c.account_empty) {
      EXPECT_EQ(ui.windows.back()->template_name, "CONFDLGA") << c.name;
    }
    for (size_t i = 1; i < ui.windows.size(); ++i) {
      EXPECT_EQ(ui.windows[i]->owner, reinterpret_cast<Window*>(ui.windows[0].get()));
      EXPECT_TRUE(ui.windows[i]->centered);
    }
    EXPECT_EQ(flags_seen.front(), 1u) << c.name << ": the flag is set while the boxes run";
    EXPECT_TRUE(ui.boxes.empty()) << c.name;
  }
}

// Closing a confirm box, or a box that the platform cannot show, does not
// confirm.
TEST(FullConnectDialog, ConfirmBoxNotAnsweredRefuses) {
  for (bool shown : {true, false}) {
    ConnectionRecord conn;
    fill_record(conn.get());
    ScriptedDialogs ui;
    ui.play().type(kControlUser, "").press(kIdOk).press(kIdCancel);
    if (shown) {
      ui.play().close();
    } else {
      ui.answer(kDialogFailed);
    }
    EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), kDialogCancelled);
    EXPECT_STREQ(conn->connect_dialog, "No");
  }
}

// ---- Cancel, close, help.

// Cancel ends with 100, closing the window with 0; neither reads the edits.
TEST(ConnectDialogs, CancelAndCloseReadNothing) {
  for (bool full : {false, true}) {
    for (bool close : {false, true}) {
      ConnectionRecord conn;
      fill_record(conn.get());
      ScriptedDialogs ui;
      auto& script = ui.play().type(kControlUser, "typed").type(kControlAccount, "typed");
      if (close) {
        script.close();
      } else {
        script.press(kIdCancel);
      }
      int result = full ? run_full_connect_dialog(nullptr, conn.get(), true)
                        : run_small_connect_dialog(nullptr, conn.get());
      EXPECT_EQ(result, close ? 0 : kDialogCancelled) << full << close;
      EXPECT_STREQ(conn->user, "joe");
      EXPECT_STREQ(conn->account, "acc");
    }
  }
}

TEST(FullConnectDialog, HelpOpensTheDocumentBesideTheProgram) {
  char directory[4096];
  ASSERT_TRUE(program_directory(directory, sizeof directory));
  for (bool found : {false, true}) {
    ConnectionRecord conn;
    fill_record(conn.get());
    ScriptedDialogs ui;
    ui.set_documents_open(found);
    ui.play().press(kControlHelp).press(kIdCancel);
    EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), kDialogCancelled)
        << "help leaves the dialog open";
    EXPECT_EQ(ui.documents, std::vector<std::string>{std::string(directory) + "/q4odbc-help.html"});
    if (found) {
      EXPECT_TRUE(ui.boxes.empty());
      continue;
    }
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Help is currently not available.  Help topic not found.");
    EXPECT_EQ(ui.boxes[0].title, "Help");
    EXPECT_EQ(ui.boxes[0].style, kMbIconStop);
    EXPECT_EQ(ui.boxes[0].owner, nullptr);
  }
}

// A dialog that cannot be shown runs none of its logic: the record is as it
// was, and the connect functions return the failure value as SQL_ERROR.
TEST(ConnectDialogs, DialogThatCannotBeShownLeavesTheRecordAlone) {
  ConnectionRecord conn;
  fill_record(conn.get());
  Connection before = *conn.get();
  DialogOps* previous = set_dialog_ops(no_user_interface());
  EXPECT_EQ(run_small_connect_dialog(nullptr, conn.get()), kDialogFailed);
  EXPECT_EQ(run_full_connect_dialog(nullptr, conn.get(), true), kDialogFailed);
  set_dialog_ops(previous);
  EXPECT_EQ(kDialogFailed, SQL_ERROR);
  EXPECT_EQ(memcmp(&before, conn.get(), sizeof before), 0);
}

}  // namespace
}  // namespace q4
