// Connection-level exchanges against the scripted peer: logon and disconnect,
// allocate and release of statements, settings, commit and roll back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <map>

#include "../unit/connect_test_support.h"
#include "../unit/private_odbc_ini.h"
#include "connect/session.h"
#include "core/handles.h"
#include "link/link.h"
#include "link/transport.h"
#include "platform/locale_marks.h"
#include "result_fixture.h"
#include "statement/options.h"
#include "statement/transact.h"

namespace q4::wire {
namespace {

// "08S01 Communications_ERROR": the pending state and message, unprefixed.
std::string diag(const Connection* c) {
  std::string text = c->message;
  if (text.rfind(kPrefix, 0) == 0) text.erase(0, kPrefix.size());
  return c->sqlstate[0] == '\0' ? "" : std::string(c->sqlstate) + " " + text;
}

// A connection of the test's environment, linked to `port` as after a logon.
struct Linked {
  Linked(Environment* env, uint16_t port) {
    EXPECT_EQ(alloc_connection(env, &conn), SQL_SUCCESS);
    snprintf(conn->server, sizeof conn->server, "127.0.0.1");
    conn->port = htons(port);
    conn->login_timeout = 5;
    conn->server_version = 754;
    OpenFailure failure;
    int error;
    conn->link =
        open_link(conn->server, conn->port, conn->login_timeout, nullptr, &failure, &error);
    if (conn->link != nullptr) set_blocking(conn->link->socket, true);
  }
  ~Linked() {
    close_link(conn->link);
    free_connection(conn);
  }
  Connection* conn = nullptr;
};

class Session : public ::testing::Test, public Wire {
 protected:
  void SetUp() override {
    reset_locale_marks();
    users_ = socket_layer_users();
    ASSERT_EQ(alloc_environment(&env_), SQL_SUCCESS);
  }
  void TearDown() override {
    EXPECT_EQ(free_environment(env_), SQL_SUCCESS);
    EXPECT_EQ(socket_layer_users(), users_) << "a link left open";
  }
  Environment* env_ = nullptr;
  int users_ = 0;
};

// Only with DisableExtFetch is a statement announced; a release's status does
// not matter; a broken release gives the link up and later exchanges fail at once.
TEST_F(Session, StatementRequestsAndABrokenRelease) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  Statement *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_EQ(alloc_statement(link.conn, &a), SQL_SUCCESS);
  ASSERT_EQ(alloc_statement(link.conn, &b), SQL_SUCCESS);
  strcpy(link.conn->disable_ext_fetch, "Yes");
  peer.expect_request(kCmdAllocate).reply("K");
  ASSERT_EQ(alloc_statement(link.conn, &c), SQL_SUCCESS);
  peer.expect_request(kCmdRelease, statement_request(c)).reply("Eno such", pattern_bytes(40));
  EXPECT_EQ(free_statement(c, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(diag(link.conn), "");
  peer.expect_request(kCmdRelease, statement_request(b)).close();
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(link.conn), "08S01 Communications_ERROR");
  EXPECT_STREQ(b->sqlstate, "08S01");
  EXPECT_EQ(link.conn->link->lost, 1);
  EXPECT_EQ(link.conn->statements, a);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(free_statement(a, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(link.conn->statements, nullptr);
  // Failed drops wait for SQLDisconnect, which frees them (the sanitizer
  // run catches a leak).
  EXPECT_EQ(link.conn->unreleased, a);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(disconnect(link.conn), SQL_SUCCESS);
  EXPECT_EQ(link.conn->unreleased, nullptr);
}

// Access mode, autocommit and isolation travel as three digits; a bad
// isolation blocks the request; after a refusal or a lost link the value stays.
TEST_F(Session, SettingsExchanges) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  Connection* c = link.conn;
  c->autocommit = 1;
  peer.expect_request(kCmdConnectOptions, bytes_of("102")).reply("K");
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(set_connect_option(c, SQL_TXN_ISOLATION, 3), SQL_ERROR);
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_ERROR);
  EXPECT_EQ(diag(c), "S1002 Bad Trans Setting");
  peer.expect_request(kCmdConnectOptions, bytes_of("114")).reply("K");
  EXPECT_EQ(set_connect_option(c, SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
  peer.expect_request(kCmdConnectOptions).reply("Eisolation not available");
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_ERROR);
  EXPECT_EQ(diag(c), "S1000 isolation not available");
  EXPECT_EQ(c->autocommit, 0u);
  peer.expect_request(kCmdConnectOptions).close();
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_ERROR);
  EXPECT_EQ(diag(c), "08007 Communications_ERROR");
  EXPECT_EQ(c->link->lost, 1);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(Session, TransactSendsOneLetterAndReportsFailuresAsTransactionFailed) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  peer.expect_request(kCmdTransact, bytes_of("C")).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("C")).reply("Erollback segment full");
  peer.expect_request(kCmdTransact, bytes_of("C")).close();
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, link.conn, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, link.conn, SQL_ROLLBACK), SQL_SUCCESS);
  for (int lost : {0, 1}) {
    EXPECT_EQ(transact_connection(link.conn, SQL_COMMIT), SQL_ERROR);
    EXPECT_EQ(diag(link.conn), "08007 Transaction Failed");
    EXPECT_EQ(link.conn->link->lost, lost);
  }
  // Nothing can be sent on a lost link: the communication failure alone.
  EXPECT_EQ(transact_connection(link.conn, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(link.conn), "08007 Communications_ERROR");
  EXPECT_EQ(peer.finish(), "");
}

// The logon: SQLConnect and SQLDisconnect, data sources in a private ODBC.INI.
using Keys = std::map<std::string, std::string>;
const char kRefused[] =
    "28000 Logon failed. Check Q4 connection parameters and available licenses.";

// A data source for `port`, with whatever `extra` adds or replaces.
std::string peer_dsn(uint16_t port, const Keys& extra = {}) {
  Keys keys = {{"SERVER", "127.0.0.1"},
               {"PORTNUMBER", std::to_string(port)},
               {"USER", "joe"},
               {"PASSWORD", scrambled("pw", false)},
               {"VIRTUALMACHINE", "vm"},
               {"ACCOUNT", "acc"},
               {"ACPASSWORD", scrambled("acpw", false)},
               {"NUMERICFORMAT", "$/,/."},
               {"LoginTimeout", "5"}};
  for (const auto& [key, value] : extra) keys[key] = value;
  return PrivateOdbcIni::get().add_dsn(keys);
}

SQLRETURN sql_connect(const ConnectionRecord& conn, const std::string& dsn) {
  return SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0);
}

// Marks only from level 754; four reply bytes raise the level to 710, a fifth
// (signed) sets the flags. SQLDisconnect releases statements newest first
// whatever the answers, and frees them when the server is gone (`end` nullptr).
TEST_F(Session, LogonReplyAndDisconnect) {
  const char kFull[] = "127.0.0.1,vm,joe,pw,acc,acpw,\"$/,/.\",";
  const char kBare[] = "127.0.0.1,vm,joe,pw,acc,acpw,";
  struct Case {
    const char* level;
    const char* text;
    Bytes data;
    uint32_t level_after;
    uint32_t flags_after;
    const char* end;
  } cases[] = {
      {"754", kFull, {0, 0, 0, 0, 1}, 754, 1, "K"},
      {"700", kBare, {1, 2, 3, 4}, 710, 0, "Enope"},
      {"720", kBare, {0, 0, 0, 0, 0x80, 9}, 720, 0xFFFFFF80u, "K"},
      {"754", kFull, {}, 754, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.level) + " " + (c.end ? c.end : "server gone"));
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon, bytes_of(c.text)).reply("K", c.data);
    if (c.end == nullptr) peer.close();
    ConnectionRecord conn;
    conn->server_flags = 0xDEAD;
    ASSERT_EQ(sql_connect(conn, peer_dsn(peer.port(), {{"Q4VERSION", c.level}})), SQL_SUCCESS)
        << conn.message();
    EXPECT_EQ(conn->server_version, c.level_after);
    EXPECT_EQ(conn->server_flags, c.flags_after);
    Statement* stmt[2] = {nullptr, nullptr};
    for (Statement*& s : stmt) ASSERT_EQ(alloc_statement(conn.get(), &s), SQL_SUCCESS);
    if (c.end != nullptr) {
      peer.expect_request(kCmdRelease, statement_request(stmt[1]))
          .reply("K")
          .expect_request(kCmdRelease, statement_request(stmt[0]))
          .reply(c.end)
          .expect_request(kCmdDisconnect, Bytes{})
          .reply(c.end)
          .expect_closed();
    }
    EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
    EXPECT_TRUE(c.end == nullptr || conn.sqlstate().empty()) << conn.sqlstate();
    EXPECT_EQ(conn->statements, nullptr);
    EXPECT_EQ(conn->link, nullptr);
    EXPECT_EQ(peer.finish(), "");
  }
}

// Every failure leaves the record unconnected; a reply cut after a refusal's
// status is still a refusal.
TEST_F(Session, FailuresAndTheirDiagnostics) {
  Bytes refusal_cut = frame_bytes("ELogon failed", {}, 0, 200);
  Bytes broken = frame_bytes("K", {}, 0, 1);  // cannot even hold its own length
  const std::pair<std::function<void(ScriptedPeer&)>, std::string> cases[] = {
      {[](ScriptedPeer& p) { p.reply("Xsomething").expect_closed(); }, kRefused},
      {[&](ScriptedPeer& p) { p.send_raw(refusal_cut).close(); }, kRefused},
      {[](ScriptedPeer& p) { p.close(); },
       "08S01 Communication Link failure. Check server status."},
      {[&](ScriptedPeer& p) { p.send_raw(broken).expect_closed(); },
       "S1000 General error. Unable to connect to host."},
      {[](ScriptedPeer&) {}, "S1T00 Login Timeout expired"},  // a silent server
  };
  for (const auto& [script, want] : cases) {
    ScriptedPeer peer;
    script(peer.expect_request(kCmdLogon));
    ConnectionRecord conn;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sql_connect(conn, peer_dsn(peer.port(), {{"LoginTimeout", "1"}})), SQL_ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(conn.sqlstate() + " " + conn.message(), want);
    EXPECT_EQ(conn->link, nullptr);
    EXPECT_EQ(peer.finish(), "");
  }
}

}  // namespace
}  // namespace q4::wire
