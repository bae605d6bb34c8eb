// The logon on the wire: SQLConnect, SQLDriverConnect and SQLDisconnect
// against the scripted peer, with data sources in a private ODBC.INI.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <map>
#include <string>

#include "../unit/connect_test_support.h"
#include "../unit/private_odbc_ini.h"
#include "../unit/scripted_dialogs.h"
#include "connect/logon.h"
#include "connect/password_scramble.h"
#include "link/socket_layer.h"
#include "statement/lifecycle.h"
#include "loopback.h"
#include "platform/locale_marks.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "scripted_peer.h"

namespace q4::wire {
namespace {

constexpr const char* kRefused =
    "Logon failed. Check Q4 connection parameters and available licenses.";

std::string scrambled(const std::string& plain) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%s", plain.c_str());
  return scramble_password(buffer, false);
}

// A data source for the peer: host, port, user joe with a stored scrambled
// password, and whatever `extra` adds or replaces.
std::string peer_dsn(const ScriptedPeer& peer, std::map<std::string, std::string> extra = {}) {
  std::map<std::string, std::string> keys = {{"SERVER", "127.0.0.1"},
                                             {"PORTNUMBER", std::to_string(peer.port())},
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

const Bytes kNoBytes;

class LogonWire : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_locale_marks();
    users_ = socket_layer_users();
  }
  // Every opened link was closed again.
  void TearDown() override { EXPECT_EQ(socket_layer_users(), users_); }
  int users_ = 0;
};

TEST_F(LogonWire, MarksTravelAtLevel754) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,vm,joe,pw,acc,acpw,\"$/,/.\","))
      .reply("K")
      .expect_request(kCmdDisconnect, kNoBytes)
      .reply("K")
      .expect_closed();
  ConnectionRecord conn;
  ASSERT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_SUCCESS) << conn.message();
  EXPECT_EQ(conn.sqlstate(), "");
  EXPECT_EQ(conn->server_version, 754u);
  EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, NoMarksBelowLevel754OrWithServerFormat) {
  for (const auto& extra : std::vector<std::map<std::string, std::string>>{
           {{"Q4VERSION", "710"}}, {{"ServerFormatOpt", "Yes"}}}) {
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,vm,joe,pw,acc,acpw,"))
        .reply("K")
        .expect_request(kCmdDisconnect)
        .reply("K");
    ConnectionRecord conn;
    EXPECT_EQ(sql_connect(conn, peer_dsn(peer, extra)), SQL_SUCCESS) << conn.message();
    SQLDisconnect(conn.get());
    EXPECT_EQ(peer.finish(), "");
  }
}

TEST_F(LogonWire, QuestionMarkFieldsTravelEmpty) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,,joe,pw,,acpw,\"/,/\","))
      .reply("K")
      .expect_request(kCmdDisconnect)
      .reply("K");
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer, {{"VIRTUALMACHINE", "?"},
                                              {"ACCOUNT", "?any"},
                                              {"NUMERICFORMAT", "?/,/?"}})),
            SQL_SUCCESS);
  EXPECT_STREQ(conn->virtual_machine, "") << "the record keeps the emptied field";
  EXPECT_STREQ(conn->account, "");
  SQLDisconnect(conn.get());
  EXPECT_EQ(peer.finish(), "");
}

struct PasswordRuleCase {
  const char* uid;
  const char* auth;
  const char* user_and_password;  // as they travel
};

// The stored password goes only to the stored user.
TEST_F(LogonWire, PasswordRuleOfSqlConnect) {
  const PasswordRuleCase cases[] = {
      {nullptr, nullptr, "joe,pw"}, {"joe", "", "joe,pw"},         {"JOE", "", "JOE,"},
      {"ann", "", "ann,"},          {"ann", "typed", "ann,typed"}, {"", "typed", "joe,typed"},
  };
  for (const PasswordRuleCase& c : cases) {
    ScriptedPeer peer;
    std::string text = std::string("127.0.0.1,vm,") + c.user_and_password + ",acc,acpw,\"$/,/.\",";
    peer.expect_request(kCmdLogon, bytes_of(text))
        .reply("K")
        .expect_request(kCmdDisconnect)
        .reply("K");
    ConnectionRecord conn;
    EXPECT_EQ(sql_connect(conn, peer_dsn(peer), c.uid, c.auth), SQL_SUCCESS);
    SQLDisconnect(conn.get());
    EXPECT_EQ(peer.finish(), "") << (c.uid ? c.uid : "(null)") << " / " << (c.auth ? c.auth : "");
  }
}

struct ReplyCase {
  const char* name;
  const char* status;
  Bytes data;
  const char* level;  // Q4VERSION of the data source
  uint32_t level_after;
  uint32_t flags_after;
};

class LogonReply : public LogonWire, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(LogonReply, SetsLevelAndFlags) {
  const ReplyCase& c = GetParam();
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply(c.status, c.data).expect_request(kCmdDisconnect).reply("K");
  ConnectionRecord conn;
  conn->server_flags = 0xDEAD;
  ASSERT_EQ(sql_connect(conn, peer_dsn(peer, {{"Q4VERSION", c.level}})), SQL_SUCCESS);
  EXPECT_EQ(conn->server_version, c.level_after);
  EXPECT_EQ(conn->server_flags, c.flags_after);
  SQLDisconnect(conn.get());
  EXPECT_EQ(peer.finish(), "");
}

const ReplyCase kReplyCases[] = {
    {"NoData", "K", {}, "700", 700, 0},
    {"ThreeBytesKeepLevel", "K", {1, 2, 3}, "700", 700, 0},
    {"FourBytesRaiseTo710", "K", {1, 2, 3, 4}, "700", 710, 0},
    {"FiveBytesSetFlags", "K", {1, 2, 3, 4, 3}, "700", 710, 3},
    {"FlagsByteIsSigned", "K", {0, 0, 0, 0, 0x80, 9}, "720", 720, 0xFFFFFF80u},
    {"HigherLevelStays", "K", {0, 0, 0, 0, 1}, "754", 754, 1},
    {"WarningIsSuccessWithoutFlags", "Wnote", {1, 2, 3, 4, 3}, "700", 700, 0},
};

INSTANTIATE_TEST_SUITE_P(Replies, LogonReply, ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogonWire, RefusalGives28000AndClosesTheLink) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("ELogon failed: bad password").expect_closed();
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "28000");
  EXPECT_EQ(conn.message(), kRefused) << "the server's own words are not shown";
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, UnknownStatusLetterIsARefusal) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("Xsomething").expect_closed();
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "28000");
  EXPECT_EQ(peer.finish(), "");
}

// The server closes the link right after the status of its refusal: the
// frame breaks off, and that is still a refusal, not a transport failure.
TEST_F(LogonWire, ReplyCutAfterRefusalIsStillRefusal) {
  ScriptedPeer peer;
  RawFrame cut;
  cut.status = "ELogon failed";
  cut.frame_length = 200;
  peer.expect_request(kCmdLogon).send_frame(cut).close();
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "28000");
  EXPECT_EQ(conn.message(), kRefused);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, OtherCutReplyIsALinkFailure) {
  ScriptedPeer peer;
  RawFrame cut;
  cut.status = "K";
  cut.frame_length = 200;
  peer.expect_request(kCmdLogon).send_frame(cut).close();
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "08S01");
  EXPECT_EQ(conn.message(), "Communication Link failure. Check server status.");
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, PeerClosingBeforeReplyIsALinkFailure) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).close();
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "08S01");
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, BrokenReplyStreamIsAGeneralError) {
  ScriptedPeer peer;
  RawFrame broken;
  broken.status = "K";
  broken.frame_length = 1;  // cannot even hold its own length
  peer.expect_request(kCmdLogon).send_frame(broken).expect_closed();
  ConnectionRecord conn;
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "S1000");
  EXPECT_EQ(conn.message(), "General error. Unable to connect to host.");
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, RefusedPortGives08001) {
  RefusingPort refusing;
  ConnectionRecord conn;
  std::string dsn = PrivateOdbcIni::get().add_dsn(
      {{"SERVER", "127.0.0.1"}, {"PORTNUMBER", std::to_string(refusing.port())}});
  EXPECT_EQ(sql_connect(conn, dsn), SQL_ERROR);
  EXPECT_EQ(conn.sqlstate(), "08001");
  EXPECT_EQ(conn.message(), "Unable to communicate with host. Check server status.");
  EXPECT_EQ(conn->socket, kInvalidSocket);
}

TEST_F(LogonWire, SilentServerEndsInLoginTimeout) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).stay_silent();
  ConnectionRecord conn;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sql_connect(conn, peer_dsn(peer, {{"LoginTimeout", "1"}})), SQL_ERROR);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(conn.sqlstate(), "S1T00");
  EXPECT_EQ(conn.message(), "Login Timeout expired");
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(4));
  EXPECT_EQ(conn->socket, kInvalidSocket);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, UnansweredConnectEndsInLoginTimeout) {
  FullBacklogListener listener;
  if (!listener.problem().empty()) GTEST_SKIP() << listener.problem();
  std::string dsn = PrivateOdbcIni::get().add_dsn({{"SERVER", "127.0.0.1"},
                                                   {"PORTNUMBER", std::to_string(listener.port())},
                                                   {"LoginTimeout", "1"}});
  ConnectionRecord conn;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sql_connect(conn, dsn), SQL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(conn.sqlstate(), "08001");
}

// The server's words reach a user only through a window's status list.
TEST_F(LogonWire, RefusalTextGoesToTheWindowStatusList) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("Eno such account");
  ScriptedDialogs user;
  Window* window = reinterpret_cast<Window*>(0x42);
  ConnectionPtr conn = new_connection("127.0.0.1", peer.port());
  snprintf(conn->field_separator, sizeof conn->field_separator, ",");
  build_logon_text(conn.get());
  EXPECT_EQ(logon(window, conn.get()), kLogonRefused);
  EXPECT_EQ(user.status_lines,
            (std::vector<std::string>{"Resolving hostname...", "Logon Error:", "no such account"}));
  EXPECT_STREQ(conn->sqlstate, "") << "a refusal posts nothing by itself";
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, DisconnectSucceedsWhenServerIsGone) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("K").close();
  ConnectionRecord conn;
  ASSERT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(conn->socket, kInvalidSocket);
}

TEST_F(LogonWire, DisconnectIgnoresErrorReply) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("K").expect_request(kCmdDisconnect).reply("Enope");
  ConnectionRecord conn;
  ASSERT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(conn.sqlstate(), "");
  EXPECT_EQ(peer.finish(), "");
}

// SQLDisconnect releases every statement on the server (newest first, as the
// list holds them) before it ends the session.
TEST_F(LogonWire, DisconnectDropsEveryStatement) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("K");
  ConnectionRecord conn;
  ASSERT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_SUCCESS);
  Statement* first = nullptr;
  Statement* second = nullptr;
  ASSERT_EQ(alloc_statement(conn.get(), &first), SQL_SUCCESS);
  ASSERT_EQ(alloc_statement(conn.get(), &second), SQL_SUCCESS);
  auto release_payload = [](const Statement* stmt) {
    Bytes payload(6);
    put_u16(put_u32(payload.data(), statement_id(stmt)), 1);
    return payload;
  };
  peer.expect_request(kCmdRelease, release_payload(second))
      .reply("K")
      .expect_request(kCmdRelease, release_payload(first))
      .reply("K")
      .expect_request(kCmdDisconnect, kNoBytes)
      .reply("K")
      .expect_closed();
  EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(conn->statements, nullptr);
  EXPECT_EQ(peer.finish(), "");
}

// With the server gone no release can succeed; the statements must still be
// freed (the sanitizer build reports the leak otherwise).
TEST_F(LogonWire, DisconnectAfterLostLinkFreesTheStatements) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("K").close();
  ConnectionRecord conn;
  ASSERT_EQ(sql_connect(conn, peer_dsn(peer)), SQL_SUCCESS);
  Statement* stmt[2] = {nullptr, nullptr};
  for (Statement*& s : stmt) ASSERT_EQ(alloc_statement(conn.get(), &s), SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(conn->statements, nullptr);
  EXPECT_EQ(conn->socket, kInvalidSocket);
}

TEST_F(LogonWire, DriverConnectReportsCutAnswerAsSuccess) {
  ScriptedPeer peer;
  // Without a data source the marks are the C locale's: only the point.
  peer.expect_request(kCmdLogon, bytes_of("127.0.0.1,,joe,pw,,,\"//.\","))
      .reply("K")
      .expect_request(kCmdDisconnect)
      .reply("K");
  setenv("LC_ALL", "C", 1);
  ConnectionRecord conn;
  std::string input = "DRIVER={Q4};SERVER=127.0.0.1;PORTNUMBER=" + std::to_string(peer.port()) +
                      ";UID=joe;PWD=" + scrambled("pw");
  SQLCHAR out[12];
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLDriverConnect(conn.get(), nullptr, sql_text(input.c_str()), SQL_NTS, out, sizeof out,
                             &length, SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << conn.message();
  EXPECT_STREQ(reinterpret_cast<char*>(out), "DRIVER={Q4}");
  EXPECT_EQ(length, 11);
  EXPECT_EQ(conn.sqlstate(), "") << "no truncation warning";
  SQLDisconnect(conn.get());
  unsetenv("LC_ALL");
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(LogonWire, DriverConnectCompleteAnswersAfterConnecting) {
  ScriptedPeer peer;
  peer.expect_request(kCmdLogon).reply("K").expect_request(kCmdDisconnect).reply("K");
  ConnectionRecord conn;
  std::string dsn = peer_dsn(peer);
  SQLCHAR out[1024];
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLDriverConnect(conn.get(), nullptr, sql_text(("DSN=" + dsn).c_str()), SQL_NTS, out,
                             sizeof out, &length, SQL_DRIVER_COMPLETE),
            SQL_SUCCESS)
      << conn.message();
  std::string answered = reinterpret_cast<char*>(out);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(answered.size()));
  EXPECT_EQ(answered.rfind("DSN=" + dsn + ";SERVER=127.0.0.1;PORTNUMBER=", 0), 0u) << answered;
  SQLDisconnect(conn.get());
  EXPECT_EQ(peer.finish(), "");
}

}  // namespace
}  // namespace q4::wire
