// Connection-level exchanges against the scripted peer: allocate and release
// of statements, the settings request, commit and roll back, and SQLGetInfo's
// server questions, with what each makes of refusals and broken links.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "link/socket_layer.h"
#include "link/transport.h"
#include "metadata/driver_info.h"
#include "protocol/wire.h"
#include "result_fixture.h"
#include "statement/lifecycle.h"
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
    if (connect_server(nullptr, conn) == 1) set_blocking(conn->socket, true);
  }
  ~Linked() {
    close_link(conn);
    free_connection(conn);
  }
  Connection* conn = nullptr;
};

class Session : public ::testing::Test, public Wire {
 protected:
  void SetUp() override { ASSERT_EQ(alloc_environment(&env_), SQL_SUCCESS); }
  void TearDown() override { EXPECT_EQ(free_environment(env_), SQL_SUCCESS); }
  // Frees a record that a failed drop left unlinked.
  static void discard(Statement* stmt) {
    EXPECT_EQ(stmt->binary_blocks, nullptr);
    discard_dropped_statement(stmt);
  }
  Environment* env_ = nullptr;
};

// Only with DisableExtFetch is a statement announced by an allocate request;
// the release's status letter does not matter, only its exchange.
TEST_F(Session, StatementRequestsCarryTheStatementId) {
  const std::pair<const char*, const char*> cases[] = {{"", "K"}, {"Yes", "Eno such statement"}};
  for (const auto& [disable, status] : cases) {
    SCOPED_TRACE(status);
    ScriptedPeer peer;
    Linked link(env_, peer.port());
    strcpy(link.conn->disable_ext_fetch, disable);
    if (*disable != '\0') peer.expect_request(kCmdAllocate).reply("K");
    Statement* stmt = nullptr;
    ASSERT_EQ(alloc_statement(link.conn, &stmt), SQL_SUCCESS);
    peer.expect_request(kCmdRelease, statement_request(stmt)).reply(status, pattern_bytes(40));
    EXPECT_EQ(free_statement(stmt, SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(diag(link.conn), "");
    EXPECT_EQ(peer.finish(), "");
  }
}

// A broken release gives the link up; the record stays unlinked, and every
// later exchange fails at once.
TEST_F(Session, BrokenReleaseIsACommunicationFailureOnTheConnection) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  Statement *a = nullptr, *b = nullptr;
  ASSERT_EQ(alloc_statement(link.conn, &a), SQL_SUCCESS);
  ASSERT_EQ(alloc_statement(link.conn, &b), SQL_SUCCESS);
  peer.expect_request(kCmdRelease).close();
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(link.conn), "08S01 Communications_ERROR");
  EXPECT_EQ(b->sqlstate[0], '\0');
  EXPECT_EQ(link.conn->link_lost, 1);
  EXPECT_EQ(link.conn->statements, a);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(free_statement(a, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(link.conn->statements, nullptr);
  discard(a);
  discard(b);
}

// Access mode, autocommit and isolation travel as three digits; an
// unencodable isolation blocks the request until corrected. A refusal posts
// the server's text, a reply that never comes is a broken link; the value
// stays stored either way.
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
  EXPECT_EQ(c->link_lost, 1);
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
    EXPECT_EQ(link.conn->link_lost, lost);
  }
  EXPECT_EQ(peer.finish(), "");
}

// Three connections allocated A, B, C: the walk asks C, then B, and stops at
// B's refusal; a request to A would be bytes no step reads.
TEST_F(Session, EnvironmentWalkGoesNewestFirstAndStopsAtAFailure) {
  ScriptedPeer peer_a, peer_b, peer_c;
  Linked a(env_, peer_a.port()), b(env_, peer_b.port()), c(env_, peer_c.port());
  peer_c.expect_request(kCmdTransact, bytes_of("C")).reply("K");
  peer_b.expect_request(kCmdTransact, bytes_of("C")).reply("E");
  peer_a.set_step_timeout(300);
  EXPECT_EQ(SQLTransact(env_, SQL_NULL_HDBC, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(b.conn), "08007 Transaction Failed");
  EXPECT_EQ(diag(a.conn) + diag(c.conn), "");
  EXPECT_EQ(peer_c.finish() + peer_b.finish() + peer_a.finish(), "");
}

// SQLGetInfo's server questions: function masks as (type, 0), conversions
// as (48, type), asked from level 710 with the capability.
TEST_F(Session, ServerInfoRequestCarriesTheTwoCodesBigEndian) {
  const std::pair<unsigned, Bytes> cases[] = {{SQL_NUMERIC_FUNCTIONS, {0, 0x31, 0, 0}},
                                              {SQL_CONVERT_LONGVARBINARY, {0, 0x30, 0, 0x47}}};
  ScriptedPeer peer;
  ConnectionPtr conn = connect_link(peer.port());
  conn->server_version = 710;
  conn->server_flags = 2;
  for (const auto& [type, payload] : cases) {
    peer.expect_request(kCmdServerInfo, payload).reply("K", be32(type));
    SQLUINTEGER answer = 0;
    SQLSMALLINT length = 0;
    ASSERT_EQ(
        get_info(conn.get(), static_cast<SQLUSMALLINT>(type), &answer, sizeof answer, &length),
        SQL_SUCCESS);
    EXPECT_EQ(answer, type);
    EXPECT_EQ(length, 4);
  }
  // A lost link is SQL_ERROR with "08S01" (not an answer with every bit set),
  // the buffer untouched; answers that need no server still work.
  peer.expect_request(kCmdServerInfo).close();
  SQLUINTEGER answer = 7;
  EXPECT_EQ(get_info(conn.get(), SQL_CONVERT_INTEGER, &answer, sizeof answer, nullptr), SQL_ERROR);
  EXPECT_EQ(answer, 7u);
  EXPECT_EQ(diag(conn.get()), "08S01 Communications_ERROR");
  EXPECT_NE(conn->link_lost, 0);
  EXPECT_EQ(peer.finish(), "");
  char name[8];
  EXPECT_EQ(get_info(conn.get(), SQL_DBMS_NAME, name, sizeof name, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(name, "Q4");
}

}  // namespace
}  // namespace q4::wire
