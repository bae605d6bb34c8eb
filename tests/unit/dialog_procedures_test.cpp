// The exported dialog procedures, driven as a host program's dialog manager
// would: FDriverConnectProc, and SpecInfoDlg's initialisation, checks,
// closing commands and the save to a private ODBC.INI (its logon and account
// commands are tested on the wire).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "connect/dialogs_spec_info.h"
#include "connect/settings.h"
#include "connect_test_support.h"
#include "private_odbc_ini.h"
#include "scripted_dialogs.h"

extern "C" {
q4::DialogAnswer FDriverConnectProc(void* hwnd, unsigned int message, q4::WParam wparam,
                                    q4::LParam lparam);
q4::DialogAnswer SpecInfoDlg(void* hwnd, unsigned int message, q4::WParam wparam,
                             q4::LParam lparam);
}

namespace q4 {
namespace {

// A button click: the control in the low word, notification 0 in the high one.
WParam command(int control) {
  return static_cast<WParam>(control);
}

std::string file_text(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The keys SpecInfoDlg saves, as the data source's profile now reads them.
std::string saved_keys(const std::string& dsn) {
  std::string keys;
  for (const char* key : {"SERVER", "VIRTUALMACHINE", "USER", "ACCOUNT", "PASSWORD", "ACPASSWORD",
                          "ServerFormatOpt", "NUMERICFORMAT"}) {
    char value[64];
    read_dsn_setting(dsn.c_str(), key, "-", value, sizeof value);
    keys += std::string(value) + "|";
  }
  return keys;
}

TEST(FDriverConnectProc, AnswersInitialisationAndEndsOnOkOrCancel) {
  struct Case {
    unsigned message;
    WParam wparam;
    DialogAnswer answer;
    int result;  // -1: the dialog goes on
  };
  // clang-format off
  const Case cases[] = {{kWmInitDialog, 0, kTrue, -1}, {kWmCommand, command(1), kTrue, 1},
                        {kWmCommand, command(2), kTrue, 0}, {kWmCommand, command(3), kFalse, -1},
                        {kWmClose, 0, kFalse, -1}, {kWmDestroy, 0, kFalse, -1}};
  // clang-format on
  for (const Case& c : cases) {
    ScriptedDialogs ui;
    Window* window = ui.host_window();
    EXPECT_EQ(FDriverConnectProc(window, c.message, c.wparam, 0), c.answer) << c.message;
    EXPECT_EQ(ui.state(window).ended ? ui.state(window).result : -1, c.result) << c.wparam;
  }
}

class SpecInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ui_.host_window();
    // clang-format off
    const std::pair<char*, const char*> texts[] = {
        {conn_->dsn, "src"}, {conn_->server, "host"}, {conn_->virtual_machine, "?vm"},
        {conn_->user, "joe"}, {conn_->password, "pw"}, {conn_->account, "?"},
        {conn_->currency_sign, "$"}, {conn_->thousand_mark, ","}, {conn_->decimal_mark, "."},
        {conn_->server_format_opt, "No"}};
    // clang-format on
    for (const auto& [field, text] : texts) strcpy(field, text);
    conn_->server_version = 754;
  }
  void TearDown() override { SpecInfoDlg(window_, kWmDestroy, 0, 0); }
  DialogAnswer init() {
    return SpecInfoDlg(window_, kWmInitDialog, 0, reinterpret_cast<LParam>(conn_.get()));
  }
  DialogAnswer press(int control) { return SpecInfoDlg(window_, kWmCommand, command(control), 0); }
  ScriptedDialogs::ScriptedWindow& state() { return ui_.state(window_); }

  ScriptedDialogs ui_;
  Window* window_ = nullptr;
  ConnectionRecord conn_;
};

// The fields are shown except the placeholders ("?..."); the connect command
// needs host, user and virtual machine in the window.
TEST_F(SpecInfo, InitialisationAndConnectChecks) {
  EXPECT_EQ(init(), kTrue);
  auto shown = state().texts;
  shown.erase(215);  // the note
  EXPECT_EQ(shown, (std::map<int, std::string>{{1101, "host"},
                                               {202, "joe"},
                                               {204, "pw"},
                                               {209, ""},
                                               {1014, "$"},
                                               {1013, ","},
                                               {1012, "."}}));
  for (int emptied : {1101, 202, 206}) {
    for (int control : {1101, 202, 206}) ui_.type(window_, control, control == emptied ? "" : "x");
    EXPECT_EQ(press(kCommandConnect), kTrue);
    ASSERT_EQ(ui_.boxes.size(), 1u) << emptied;
    EXPECT_EQ(ui_.boxes[0].text, "Missing Connection Parameter");
    EXPECT_EQ(ui_.boxes[0].title, "Logical Error");
    EXPECT_EQ(ui_.boxes[0].style, kMbIconInformation);
    EXPECT_EQ(ui_.boxes[0].owner, window_);
    ui_.boxes.clear();
  }
  EXPECT_TRUE(state().status_lines.empty()) << "no logon was tried";
  EXPECT_FALSE(state().ended);
}

TEST_F(SpecInfo, LeavingCommands) {
  init();
  EXPECT_EQ(press(4711), kFalse) << "unknown commands are left to the host";
  EXPECT_EQ(SpecInfoDlg(window_, kWmClose, 0, 0), kFalse);
  EXPECT_FALSE(state().ended);
  for (auto [message, control, result] :
       {std::tuple{kWmCommand, 2, 0}, std::tuple{kWmCommand, 211, 1},
        std::tuple{kWmDestroy, 0, 1}}) {
    state().ended = false;
    EXPECT_EQ(SpecInfoDlg(window_, message, command(control), 0), kTrue);
    EXPECT_TRUE(state().ended) << control;
    EXPECT_EQ(state().result, result) << control;
  }
  EXPECT_EQ(press(kCommandSave), kFalse) << "after WM_DESTROY the record is forgotten";
  EXPECT_TRUE(ui_.boxes.empty());
}

// The save writes the record (never the window) into the data source's
// section of the user's file (not the system's), when the user answers Yes.
TEST_F(SpecInfo, SaveWritesTheRecordToOdbcIni) {
  struct Case {
    uint32_t level;
    int answer;
    const char* section;  // as the file holds it
  };
  // clang-format off
  const Case cases[] = {
      {754, kIdYes, "host|?vm|joe|acc|pw|ac pw|No|$/,/.|"},
      {720, kIdYes, "host|?vm|joe|acc|pw|ac pw|-|-|"}, {754, kIdNo, "-|-|-|-|-|-|-|-|"}};
  // clang-format on
  PrivateOdbcIni& ini = PrivateOdbcIni::get();
  for (const Case& c : cases) {
    std::string dsn = ini.add_dsn({}, true);
    set(conn_->dsn, dsn);
    set(conn_->account, "acc");
    set(conn_->ac_password, "ac pw");
    conn_->server_version = c.level;
    std::string before = file_text(ini.folder() + "/odbc.ini");
    init();
    ui_.type(window_, 1101, "typed-but-not-read");
    ui_.answer_box(c.answer);
    EXPECT_EQ(press(kCommandSave), kTrue);
    EXPECT_EQ(ui_.boxes.back().text, "Save parameters in the ODBC.INI file?");
    EXPECT_EQ(ui_.boxes.back().title, "Save connection parameters");
    EXPECT_EQ(ui_.boxes.back().style, kMbYesNo);
    EXPECT_EQ(saved_keys(dsn), c.section) << c.level << " " << c.answer;
    EXPECT_EQ(file_text(ini.folder() + "/odbc.ini"), before);
  }
  EXPECT_TRUE(state().status_lines.empty());
}

}  // namespace
}  // namespace q4
