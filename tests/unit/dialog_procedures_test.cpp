// The exported dialog procedures, driven as a host program's dialog manager
// would: FDriverConnectProc, and SpecInfoDlg's initialisation, checks,
// closing commands and the save to a private ODBC.INI. (Its logon and
// account commands are tested on the wire.)
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "connect/dialogs_spec_info.h"
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

constexpr WParam kBnClicked = 0;  // notification code in the high word

WParam command(int control, WParam notification = kBnClicked) {
  return static_cast<WParam>(control) | (notification << 16);
}

LParam record(const ConnectionRecord& conn) {
  return reinterpret_cast<LParam>(conn.get());
}

template <size_t N>
void set(char (&field)[N], const char* text) {
  snprintf(field, N, "%s", text);
}

std::string file_text(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  size_t last = text.find_last_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The keys of `section` in the ini file at `path`.
std::map<std::string, std::string> section_keys(const std::string& path,
                                                const std::string& section) {
  std::map<std::string, std::string> keys;
  std::ifstream file(path);
  std::string line;
  bool inside = false;
  while (std::getline(file, line)) {
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + section + "]";
      continue;
    }
    size_t equals = line.find('=');
    if (inside && equals != std::string::npos) {
      keys[trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
    }
  }
  return keys;
}

struct GenericCase {
  unsigned message;
  WParam wparam;
  DialogAnswer answer;
  bool ends;
  int result;
};

TEST(FDriverConnectProc, AnswersInitialisationAndEndsOnOkOrCancel) {
  const GenericCase cases[] = {
      {kWmInitDialog, 0, kTrue, false, 0},      {kWmCommand, command(1), kTrue, true, 1},
      {kWmCommand, command(2), kTrue, true, 0}, {kWmCommand, command(3), kFalse, false, 0},
      {kWmClose, 0, kFalse, false, 0},          {kWmDestroy, 0, kFalse, false, 0},
  };
  for (const GenericCase& c : cases) {
    ScriptedDialogs ui;
    Window* window = ui.host_window();
    EXPECT_EQ(FDriverConnectProc(window, c.message, c.wparam, 0), c.answer) << c.message;
    EXPECT_EQ(ui.state(window).ended, c.ends) << c.message << " " << c.wparam;
    if (c.ends) {
      EXPECT_EQ(ui.state(window).result, c.result);
    }
  }
}

class SpecInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ui_.host_window();
    set(conn_->dsn, "src");
    set(conn_->server, "host");
    set(conn_->virtual_machine, "?vm");
    set(conn_->user, "joe");
    set(conn_->password, "pw");
    set(conn_->ac_password, "");
    set(conn_->account, "?");
    set(conn_->currency_sign, "$");
    set(conn_->thousand_mark, ",");
    set(conn_->decimal_mark, ".");
    set(conn_->server_format_opt, "No");
    conn_->server_version = 754;
  }
  void TearDown() override { SpecInfoDlg(window_, kWmDestroy, 0, 0); }
  DialogAnswer init() { return SpecInfoDlg(window_, kWmInitDialog, 0, record(conn_)); }
  DialogAnswer press(int control) { return SpecInfoDlg(window_, kWmCommand, command(control), 0); }
  ScriptedDialogs::ScriptedWindow& state() { return ui_.state(window_); }

  ScriptedDialogs ui_;
  Window* window_ = nullptr;
  ConnectionRecord conn_;
};

TEST_F(SpecInfo, InitialisationShowsFieldsExceptPlaceholders) {
  EXPECT_EQ(init(), kTrue);
  EXPECT_TRUE(state().centered);
  EXPECT_EQ(state().texts,
            (std::map<int, std::string>{
                {1101, "host"},
                {202, "joe"},
                {204, "pw"},
                {209, ""},
                {1014, "$"},
                {1013, ","},
                {1012, "."},
                {215,
                 "   NOTE\r\n Modify the connection parameters\r\n and then select the <Connect> "
                 "menu item.\r\n All parameters exept Account and \r\n and Account password must "
                 "be set\r\n"}}));
}

TEST_F(SpecInfo, ConnectNeedsHostUserAndVirtualMachine) {
  init();
  for (int emptied : {1101, 202, 206}) {
    ui_.type(window_, 1101, "127.0.0.1");
    ui_.type(window_, 202, "joe");
    ui_.type(window_, 206, "vm");
    ui_.type(window_, emptied, "");
    size_t boxes = ui_.boxes.size();
    EXPECT_EQ(press(kCommandConnect), kTrue);
    ASSERT_EQ(ui_.boxes.size(), boxes + 1) << emptied;
    EXPECT_EQ(ui_.boxes.back().text, "Missing Connection Parameter");
    EXPECT_EQ(ui_.boxes.back().title, "Logical Error");
    EXPECT_EQ(ui_.boxes.back().style, kMbIconInformation);
    EXPECT_EQ(ui_.boxes.back().owner, window_);
    EXPECT_TRUE(ui_.status_lines.empty()) << "no logon was tried";
    EXPECT_FALSE(state().ended);
  }
}

struct LeaveCase {
  unsigned message;
  int control;
  int result;
};

TEST_F(SpecInfo, LeavingCommands) {
  init();
  EXPECT_EQ(press(4711), kFalse) << "unknown commands are left to the host";
  EXPECT_EQ(SpecInfoDlg(window_, kWmClose, 0, 0), kFalse);
  EXPECT_FALSE(state().ended);
  for (LeaveCase c :
       {LeaveCase{kWmCommand, 2, 0}, LeaveCase{kWmCommand, 211, 1}, LeaveCase{kWmDestroy, 0, 1}}) {
    state().ended = false;
    EXPECT_EQ(SpecInfoDlg(window_, c.message, command(c.control), 0), kTrue);
    EXPECT_TRUE(state().ended) << c.control;
    EXPECT_EQ(state().result, c.result) << c.control;
  }
  EXPECT_EQ(press(kCommandSave), kFalse) << "after WM_DESTROY the record is forgotten";
  EXPECT_TRUE(ui_.boxes.empty());
}

// The save writes the record (not the window) into the data source's section.
TEST_F(SpecInfo, SaveWritesTheRecordToOdbcIni) {
  PrivateOdbcIni& ini = PrivateOdbcIni::get();
  std::string dsn = ini.add_dsn({{"SERVER", "old"}}, true);
  set(conn_->dsn, dsn.c_str());
  set(conn_->account, "acc");
  set(conn_->ac_password, "ac pw");
  init();
  ui_.type(window_, 1101, "typed-but-not-read");
  ui_.answer_box(kIdYes);
  EXPECT_EQ(press(kCommandSave), kTrue);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].text, "Save parameters in the ODBC.INI file?");
  EXPECT_EQ(ui_.boxes[0].title, "Save connection parameters");
  EXPECT_EQ(ui_.boxes[0].style, kMbYesNo);
  EXPECT_TRUE(state().status_lines.empty());

  // The installer library writes a user's data sources into the user's file.
  EXPECT_EQ(section_keys(ini.folder() + "/user-odbc.ini", dsn),
            (std::map<std::string, std::string>{{"SERVER", "host"},
                                                {"VIRTUALMACHINE", "?vm"},
                                                {"USER", "joe"},
                                                {"ACCOUNT", "acc"},
                                                {"PASSWORD", "pw"},
                                                {"ACPASSWORD", "ac pw"},
                                                {"ServerFormatOpt", "No"},
                                                {"NUMERICFORMAT", "$/,/."}}))
      << "the record's texts, placeholders and plain passwords included; never the window's";
}

TEST_F(SpecInfo, SaveBelowLevel754LeavesTheNumericKeysOut) {
  PrivateOdbcIni& ini = PrivateOdbcIni::get();
  std::string dsn = ini.add_dsn({}, true);
  set(conn_->dsn, dsn.c_str());
  conn_->server_version = 720;
  init();
  ui_.answer_box(kIdYes);
  press(kCommandSave);
  std::map<std::string, std::string> keys = section_keys(ini.folder() + "/user-odbc.ini", dsn);
  EXPECT_EQ(keys.count("ACPASSWORD"), 1u);
  EXPECT_EQ(keys.count("ServerFormatOpt") + keys.count("NUMERICFORMAT"), 0u);
}

TEST_F(SpecInfo, SaveAnsweredNoWritesNothing) {
  PrivateOdbcIni& ini = PrivateOdbcIni::get();
  std::string dsn = ini.add_dsn({}, true);
  set(conn_->dsn, dsn.c_str());
  std::string before =
      file_text(ini.folder() + "/user-odbc.ini") + file_text(ini.folder() + "/odbc.ini");
  init();
  ui_.answer_box(kIdNo);
  EXPECT_EQ(press(kCommandSave), kTrue);
  EXPECT_EQ(file_text(ini.folder() + "/user-odbc.ini") + file_text(ini.folder() + "/odbc.ini"),
            before);
}

}  // namespace
}  // namespace q4
