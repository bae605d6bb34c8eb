// The logon on the wire: SQLConnect and SQLDisconnect against the scripted
// peer, with data sources in a private ODBC.INI.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "../unit/connect_test_support.h"
#include "../unit/private_odbc_ini.h"
#include "connect/password_scramble.h"
#include "link/socket_layer.h"
#include "platform/locale_marks.h"
#include "protocol/wire.h"
#include "result_fixture.h"
#include "statement/lifecycle.h"

namespace q4::wire {
namespace {

using Keys = std::map<std::string, std::string>;
const char kRefused[] = "Logon failed. Check Q4 connection parameters and available licenses.";

std::string scrambled(const std::string& plain) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%s", plain.c_str());
  return scramble_password(buffer, false);
}

// A data source for `port`: user joe with a stored scrambled password, and
// whatever `extra` adds or replaces.
std::string peer_dsn(uint16_t port, const Keys& extra = {}) {
  Keys keys = {{"SERVER", "127.0.0.1"},
               {"PORTNUMBER", std::to_string(port)},
               {"USER", "joe"},
               {"PASSWORD", scrambled("pw")},
               {"VIRTUALMACHINE", "vm"},
               {"ACCOUNT", "acc"},
               {"ACPASSWORD", scrambled("acpw")},
               {"NUMERICFORMAT", "$/,/."},
               {"LoginTimeout", "5"}};
  for (const auto& [key, value] : extra) keys[key] = value;
  return PrivateOdbcIni::get().add_dsn(keys);
}

SQLRETURN sql_connect(const ConnectionRecord& conn, const std::string& dsn,
                      const char* uid = nullptr, const char* auth = nullptr) {
  return SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, sql_text(uid), SQL_NTS,
                    sql_text(auth), SQL_NTS);
}

class Logon : public ::testing::Test, public Wire {
 protected:
  void SetUp() override {
    reset_locale_marks();
    users_ = socket_layer_users();
  }
  void TearDown() override { EXPECT_EQ(socket_layer_users(), users_) << "a link left open"; }
  int users_ = 0;
};

// The text's fields are the unit tier's; here: the marks can be left out, the
// stored password goes only to the stored user, and disconnect's bytes. Four
// reply bytes raise the level to 710, a fifth (signed) sets the flags; a
// warning is success without flags.
TEST_F(Logon, TextAndReply) {
  const char kFull[] = "127.0.0.1,vm,joe,pw,acc,acpw,\"$/,/.\",";
  const char kBare[] = "127.0.0.1,vm,joe,pw,acc,acpw,";  // marks only from level 754
  struct Case {
    Keys extra;
    const char* uid;
    const char* auth;
    const char* text;
    const char* status;
    Bytes data;
    uint32_t level_after;
    uint32_t flags_after;
  } cases[] = {
      {{{"Q4VERSION", "754"}}, nullptr, nullptr, kFull, "K", {0, 0, 0, 0, 1}, 754, 1},
      {{{"Q4VERSION", "754"}, {"ServerFormatOpt", "Yes"}},
       nullptr,
       nullptr,
       kBare,
       "Wnote",
       {1, 2, 3, 4, 3},
       754,
       0},
      {{{"Q4VERSION", "700"}}, nullptr, nullptr, kBare, "K", {1, 2, 3, 4}, 710, 0},
      {{{"Q4VERSION", "700"}}, "JOE", "", "127.0.0.1,vm,JOE,,acc,acpw,", "K", {1, 2, 3}, 700, 0},
      {{{"Q4VERSION", "720"}},
       nullptr,
       nullptr,
       kBare,
       "K",
       {0, 0, 0, 0, 0x80, 9},
       720,
       0xFFFFFF80u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon, bytes_of(c.text))
        .reply(c.status, c.data)
        .expect_request(kCmdDisconnect, Bytes{})
        .reply("K")
        .expect_closed();
    ConnectionRecord conn;
    conn->server_flags = 0xDEAD;
    ASSERT_EQ(sql_connect(conn, peer_dsn(peer.port(), c.extra), c.uid, c.auth), SQL_SUCCESS)
        << conn.message();
    EXPECT_EQ(conn->server_version, c.level_after);
    EXPECT_EQ(conn->server_flags, c.flags_after);
    EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
    EXPECT_EQ(conn->socket, kInvalidSocket);
    EXPECT_EQ(peer.finish(), "");
  }
}

// Every failure leaves the record unconnected; the server's own words are
// not shown. A reply broken off right after a refusal's status is still a
// refusal, not a transport failure.
TEST_F(Logon, FailuresAndTheirDiagnostics) {
  const char kLink[] = "Communication Link failure. Check server status.";
  Bytes refusal_cut = frame_bytes("ELogon failed", {}, 0, 200);
  Bytes other_cut = frame_bytes("K", {}, 0, 200);
  Bytes broken = frame_bytes("K", {}, 0, 1);  // cannot even hold its own length
  struct Case {
    const char* name;
    std::function<void(ScriptedPeer&)> script;
    const char* state;
    const char* message;
  } cases[] = {
      {"unknown letter", [](ScriptedPeer& p) { p.reply("Xsomething").expect_closed(); }, "28000",
       kRefused},
      {"cut after refusal", [&](ScriptedPeer& p) { p.send_raw(refusal_cut).close(); }, "28000",
       kRefused},
      {"other cut reply", [&](ScriptedPeer& p) { p.send_raw(other_cut).close(); }, "08S01", kLink},
      {"closed before the reply", [](ScriptedPeer& p) { p.close(); }, "08S01", kLink},
      {"broken reply", [&](ScriptedPeer& p) { p.send_raw(broken).expect_closed(); }, "S1000",
       "General error. Unable to connect to host."},
      {"silent server", [](ScriptedPeer&) {}, "S1T00", "Login Timeout expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon);
    c.script(peer);
    ConnectionRecord conn;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sql_connect(conn, peer_dsn(peer.port(), {{"LoginTimeout", "1"}})), SQL_ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(conn.sqlstate(), c.state);
    EXPECT_EQ(conn.message(), c.message);
    EXPECT_EQ(conn->socket, kInvalidSocket);
    EXPECT_EQ(peer.finish(), "");
  }
}

// SQLDisconnect succeeds whatever the server does; it releases every
// statement (newest first, as the list holds them) before the session ends,
// and frees them also when no release can reach the server.
TEST_F(Logon, DisconnectReleasesEveryStatement) {
  for (const char* end : {"K", "Enope", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(end ? end : "server gone");
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon).reply("K");
    if (end == nullptr) peer.close();
    ConnectionRecord conn;
    ASSERT_EQ(sql_connect(conn, peer_dsn(peer.port())), SQL_SUCCESS);
    Statement* stmt[2] = {nullptr, nullptr};
    for (Statement*& s : stmt) ASSERT_EQ(alloc_statement(conn.get(), &s), SQL_SUCCESS);
    if (end != nullptr) {
      peer.expect_request(kCmdRelease, statement_request(stmt[1]))
          .reply("K")
          .expect_request(kCmdRelease, statement_request(stmt[0]))
          .reply(end)
          .expect_request(kCmdDisconnect, Bytes{})
          .reply(end)
          .expect_closed();
    }
    EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
    EXPECT_TRUE(end == nullptr || conn.sqlstate().empty()) << conn.sqlstate();
    EXPECT_EQ(conn->statements, nullptr);
    EXPECT_EQ(conn->socket, kInvalidSocket);
    EXPECT_EQ(peer.finish(), "");
  }
}

}  // namespace
}  // namespace q4::wire
