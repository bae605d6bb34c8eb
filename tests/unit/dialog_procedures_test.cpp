// SpecInfoDlg driven as a host's dialog manager would (logon commands: wire tests).
#include <fstream>
#include <sstream>

#include "connect/dialogs_spec_info.h"
#include "connect/settings.h"
#include "connect_test_support.h"
#include "private_odbc_ini.h"
#include "scripted_dialogs.h"

extern "C" q4::DialogAnswer SpecInfoDlg(void* hwnd, unsigned int message, q4::WParam wparam,
                                        q4::LParam lparam);

namespace q4 {
namespace {

std::string file_text(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class SpecInfo : public ::testing::Test {
 protected:
  void SetUp() override {
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
  // A button click: the control in the low word, notification 0 in the high one.
  DialogAnswer press(int control) { return SpecInfoDlg(window_, kWmCommand, control, 0); }
  ScriptedDialogs::ScriptedWindow& state() { return ui_.state(window_); }

  ScriptedDialogs ui_;
  Window* window_ = ui_.host_window();
  ConnectionRecord conn_;
};

// Placeholders ("?...") are not shown; connect needs host, user and machine.
TEST_F(SpecInfo, InitialisationChecksAndDestroy) {
  EXPECT_EQ(init(), kTrue);
  auto shown = state().texts;
  shown.erase(215);  // the note
  // clang-format off
  EXPECT_EQ(shown, (std::map<int, std::string>{{1101, "host"}, {202, "joe"}, {204, "pw"},
      {209, ""}, {1014, "$"}, {1013, ","}, {1012, "."}}));
  // clang-format on
  for (int emptied : {1101, 202, 206}) {
    for (int control : {1101, 202, 206}) ui_.type(window_, control, control == emptied ? "" : "x");
    EXPECT_EQ(press(kCommandConnect), kTrue);
    ASSERT_EQ(ui_.boxes.size(), 1u) << emptied;
    EXPECT_EQ(ui_.boxes[0].text + "|" + ui_.boxes[0].title,
              "Missing Connection Parameter|Logical Error");
    EXPECT_EQ(ui_.boxes[0].style, kMbIconInformation);
    EXPECT_EQ(ui_.boxes[0].owner, window_);
    ui_.boxes.clear();
  }
  EXPECT_TRUE(state().status_lines.empty()) << "no logon was tried";
  EXPECT_EQ(press(4711), kFalse) << "unknown commands are left to the host";
  EXPECT_EQ(SpecInfoDlg(window_, kWmDestroy, 0, 0), kTrue);
  EXPECT_EQ(press(kCommandSave), kFalse) << "after WM_DESTROY the record is forgotten";
}

// On Yes the record (not the window) goes to the user's file (not the system's).
TEST_F(SpecInfo, SaveWritesTheRecordToOdbcIni) {
  // clang-format off
  const std::tuple<uint32_t, int, std::string> cases[] = {
      {754, kIdYes, "host|?vm|joe|acc|pw|ac pw|No|$/,/.|"},
      {720, kIdYes, "host|?vm|joe|acc|pw|ac pw|-|-|"}, {754, kIdNo, "-|-|-|-|-|-|-|-|"}};
  // clang-format on
  PrivateOdbcIni& ini = PrivateOdbcIni::get();
  for (const auto& [level, answer, saved] : cases) {
    std::string dsn = ini.add_dsn({}, true);
    set(conn_->dsn, dsn);
    set(conn_->account, "acc");
    set(conn_->ac_password, "ac pw");
    conn_->server_version = level;
    std::string before = file_text(ini.folder() + "/odbc.ini");
    init();
    ui_.type(window_, 1101, "typed-but-not-read");
    ui_.answer_box(answer);
    EXPECT_EQ(press(kCommandSave), kTrue);
    EXPECT_EQ(ui_.boxes.back().text + "|" + ui_.boxes.back().title,
              "Save parameters in the ODBC.INI file?|Save connection parameters");
    EXPECT_EQ(ui_.boxes.back().style, kMbYesNo);
    std::string keys;  // as the data source's profile now reads them
    for (const char* key : {"SERVER", "VIRTUALMACHINE", "USER", "ACCOUNT", "PASSWORD", "ACPASSWORD",
                            "ServerFormatOpt", "NUMERICFORMAT"}) {
      char value[64];
      read_dsn_setting(dsn.c_str(), key, "-", value, sizeof value);
      keys += std::string(value) + "|";
    }
    EXPECT_EQ(keys, saved) << level << " " << answer;
    EXPECT_EQ(file_text(ini.folder() + "/odbc.ini"), before);
  }
}

}  // namespace
}  // namespace q4
