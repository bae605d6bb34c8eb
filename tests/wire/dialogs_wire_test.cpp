// The connect dialogs on the wire: what a user enters in them reaches the
// logon of SQLConnect and SQLDriverConnect, and SpecInfoDlg's connect and
// account commands talk to the scripted peer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <map>
#include <string>

#include "../unit/connect_test_support.h"
#include "../unit/private_odbc_ini.h"
#include "../unit/scripted_dialogs.h"
#include "connect/dialogs_controls.h"
#include "connect/dialogs_spec_info.h"
#include "link/socket_layer.h"
#include "loopback.h"
#include "platform/locale_marks.h"
#include "protocol/wire.h"
#include "scripted_peer.h"

extern "C" q4::DialogAnswer SpecInfoDlg(void* hwnd, unsigned int message, q4::WParam wparam,
                                        q4::LParam lparam);

namespace q4::wire {
namespace {

using ScriptedWindow = ScriptedDialogs::ScriptedWindow;

std::string peer_dsn(const ScriptedPeer& peer, std::map<std::string, std::string> extra = {}) {
  std::map<std::string, std::string> keys = {{"SERVER", "127.0.0.1"},
                                             {"PORTNUMBER", std::to_string(peer.port())},
                                             {"USER", "joe"},
                                             {"PASSWORD", "pw"},
                                             {"VIRTUALMACHINE", "vm"},
                                             {"ACCOUNT", "acc"},
                                             {"NUMERICFORMAT", "$/,/."},
                                             {"LoginTimeout", "5"}};
  for (const auto& [key, value] : extra) keys[key] = value;
  return PrivateOdbcIni::get().add_dsn(keys);
}

class DialogsWire : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_locale_marks();
    users_ = socket_layer_users();
  }
  void TearDown() override { EXPECT_EQ(socket_layer_users(), users_); }
  int users_ = 0;
};

TEST_F(DialogsWire, SqlConnectAsksForCredentialsWhenTheDataSourceSaysSo) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,vm,ann,typed,acc2,acpw,\"$/,/.\","))
      .reply("K")
      .expect_request(kCmdDisconnect)
      .reply("K");
  std::string dsn = peer_dsn(peer, {{"AConnectDialog", "Yes"}});
  ScriptedDialogs ui;
  ui.play()
      .look([](const ScriptedWindow& w) {
        EXPECT_EQ(w.initial_texts, (std::map<int, std::string>{{202, "ann"}, {207, "acc"}}))
            << "the profile's password belongs to joe, not to the user SQLConnect named";
      })
      .type(kControlUser, "ann")
      .type(kControlPassword, "typed")
      .type(kControlAccount, "acc2")
      .type(kControlAcPassword, "acpw")
      .press(kIdOk);
  ConnectionRecord conn;
  EXPECT_EQ(
      SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, sql_text("ann"), SQL_NTS, nullptr, 0),
      SQL_SUCCESS)
      << conn.message();
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].template_name, "CONNECTINFO");
  EXPECT_EQ(ui.shown[0].owner, nullptr);
  SQLDisconnect(conn.get());
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(DialogsWire, SqlDriverConnectPromptLogsOnWithTheFullDialogsEntries) {
  ScriptedPeer peer;
  // Level 7.1.X chosen in the list: the logon carries no marks.
  peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,vm2,ann,secret,acc,,"))
      .reply("K")
      .expect_request(kCmdDisconnect)
      .reply("K");
  std::string dsn = peer_dsn(peer);
  ScriptedDialogs ui;
  ui.play()
      .type(kControlVirtualMachine, "vm2")
      .type(kControlUser, "ann")
      .type(kControlPassword, "secret")
      .select(kControlVersionList, "7.1.X")
      .press(kIdOk);
  Window* owner = reinterpret_cast<Window*>(0x77);
  ConnectionRecord conn;
  SQLCHAR out[512];
  SQLSMALLINT out_length = 0;
  std::string input = "DSN=" + dsn;
  EXPECT_EQ(SQLDriverConnect(conn.get(), owner, sql_text(input.c_str()), SQL_NTS, out, sizeof out,
                             &out_length, SQL_DRIVER_PROMPT),
            SQL_SUCCESS)
      << conn.message();
  ASSERT_EQ(ui.windows.size(), 1u);
  EXPECT_EQ(ui.windows[0]->template_name, "FULLCONNECTINFO");
  EXPECT_EQ(ui.windows[0]->owner, owner);
  std::string answered(reinterpret_cast<char*>(out), static_cast<size_t>(out_length));
  for (const char* item : {"VIRTUALMACHINE=vm2;", "UID=ann;", "Q4VERSION=710;"}) {
    EXPECT_NE(answered.find(item), std::string::npos) << item << " in " << answered;
  }
  SQLDisconnect(conn.get());
  EXPECT_EQ(peer.finish(), "");
}

// ---- SpecInfoDlg, as a host program drives it.

class SpecInfoWire : public DialogsWire {
 protected:
  // A record as an earlier connect call leaves it: port and separator set.
  void prepare(uint16_t port) {
    conn_->port = htons(port);
    conn_->login_timeout = 5;
    conn_->server_version = 710;
    snprintf(conn_->field_separator, sizeof conn_->field_separator, ",");
    window_ = ui_.host_window();
    SpecInfoDlg(window_, kWmInitDialog, 0, reinterpret_cast<LParam>(conn_.get()));
    ui_.type(window_, kControlServer, "127.0.0.1");
    ui_.type(window_, kControlUser, "joe");
    ui_.type(window_, kControlVirtualMachine, "vm");
    ui_.type(window_, kControlPassword, "pw");
    ui_.type(window_, kControlAccount, "acc");
    ui_.type(window_, kControlAcPassword, "acpw");
  }
  void TearDown() override {
    if (window_ != nullptr) SpecInfoDlg(window_, kWmDestroy, 0, 0);
    SQLDisconnect(conn_.get());
    DialogsWire::TearDown();
  }
  DialogAnswer press(int control) {
    return SpecInfoDlg(window_, kWmCommand, static_cast<WParam>(control), 0);
  }
  ScriptedWindow& state() { return ui_.state(window_); }

  ScriptedDialogs ui_;
  Window* window_ = nullptr;
  ConnectionRecord conn_;
};

TEST_F(SpecInfoWire, ConnectLogsOnWithTheWindowsEntriesAndEndsWithOne) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,vm,joe,pw,acc,acpw,"))
      .reply("K")
      .expect_request(kCmdDisconnect)
      .reply("K");
  prepare(peer.port());
  EXPECT_EQ(press(kCommandConnect), kTrue);
  EXPECT_TRUE(state().ended);
  EXPECT_EQ(state().result, 1);
  EXPECT_NE(conn_->socket, kInvalidSocket) << "the host now holds a connected record";
  EXPECT_EQ(state().status_lines, std::vector<std::string>{"Resolving hostname..."});
  SQLDisconnect(conn_.get());
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(SpecInfoWire, RefusalIsShownAndClosesTheSocket) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("Ewrong password").expect_closed();
  prepare(peer.port());
  EXPECT_EQ(press(kCommandConnect), kTrue);
  EXPECT_FALSE(state().ended) << "the user may correct the entries";
  EXPECT_EQ(state().status_lines,
            (std::vector<std::string>{"Resolving hostname...", "Logon Error:", "wrong password"}));
  EXPECT_EQ(conn_->socket, kInvalidSocket);
  EXPECT_STREQ(conn_->sqlstate, "") << "nothing is posted for a refusal";
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(SpecInfoWire, HostThatRefusesConnectionsEndsNothing) {
  RefusingPort port;
  prepare(port.port());
  EXPECT_EQ(press(kCommandConnect), kTrue);
  EXPECT_FALSE(state().ended);
  EXPECT_EQ(conn_->socket, kInvalidSocket);
}

struct AccountCase {
  const char* name;
  const char* status;  // the peer's reply; nullptr: it closes the link instead
  std::vector<std::string> lines;
};

TEST_F(SpecInfoWire, SetAccountReportsTheServersAnswer) {
  const AccountCase cases[] = {
      {"accepted", "K", {"Account set"}},
      {"accepted with text", "Kfine", {"Account set"}},
      {"refused", "ENo such account", {"No such account"}},
      {"warning", "Wlicence expires", {"licence expires"}},
      {"link closed", nullptr, {"Link error!!"}},
  };
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("K");
  for (const AccountCase& c : cases) {
    if (c.status != nullptr) {
      peer.expect_request(kCmdAccount, bytes_of(std::string("acc2,") + c.name)).reply(c.status);
    } else {
      peer.expect_request(kCmdAccount).close();
    }
  }
  prepare(peer.port());
  press(kCommandConnect);
  ASSERT_NE(conn_->socket, kInvalidSocket);
  for (const AccountCase& c : cases) {
    state().status_lines.clear();
    ui_.type(window_, kControlAccount, "acc2");
    ui_.type(window_, kControlAcPassword, c.name);
    EXPECT_EQ(press(kCommandSetAccount), kTrue);
    EXPECT_EQ(state().status_lines, c.lines) << c.name;
    EXPECT_STREQ(conn_->account, "acc2");
    EXPECT_STREQ(conn_->ac_password, c.name);
  }
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(SpecInfoWire, SetAccountWithoutAConnectionIsALinkError) {
  prepare(1);
  EXPECT_EQ(press(kCommandSetAccount), kTrue);
  EXPECT_EQ(state().status_lines, std::vector<std::string>{"Link error!!"});
}

}  // namespace
}  // namespace q4::wire
