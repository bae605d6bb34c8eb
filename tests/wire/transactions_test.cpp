// The connection timeout and the pool's reset (SQL_ATTR_RESET_CONNECTION),
// against the scripted peer.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstring>

#include "connect/connection_attributes.h"
#include "core/handles.h"
#include "link/link.h"
#include "result_fixture.h"
#include "statement/lifecycle.h"
#include "statement/options.h"

namespace q4::wire {
namespace {

class Transactions : public ::testing::Test, public Wire {
 protected:
  void SetUp() override {
    link_loopback(conn.get(), peer.port());
    conn->server_version = 754;
  }
  void TearDown() override {
    EXPECT_EQ(peer.finish(), "");
    close_link(conn->link);
    conn->link = nullptr;
  }
  std::string diag() const {
    return conn.sqlstate().empty() ? "" : conn.sqlstate() + " " + conn.message();
  }
  SQLRETURN set(SQLINTEGER attribute, uintptr_t value) {
    return set_connect_attr(conn.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0,
                            AttributeText::kNarrow);
  }
  SQLRETURN reset() { return set(SQL_ATTR_RESET_CONNECTION, SQL_RESET_CONNECTION_YES); }
  // The previous user's changes: autocommit off and serializable (told to
  // the server), a catalog, a connection timeout and a statement default.
  void change_everything() {
    peer.expect_request(kCmdConnectOptions, bytes_of("102")).reply("K");
    ASSERT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    peer.expect_request(kCmdConnectOptions, bytes_of("104")).reply("K");
    ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
    ASSERT_EQ(set_connect_attr(conn.get(), SQL_ATTR_CURRENT_CATALOG, const_cast<char*>("old"),
                               SQL_NTS, AttributeText::kNarrow),
              SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_CONNECTION_TIMEOUT, 30), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_MAX_ROWS, 10), SQL_SUCCESS);
  }
  void expect_defaults() {
    EXPECT_EQ(conn->autocommit, uint32_t{SQL_AUTOCOMMIT_ON});
    EXPECT_EQ(conn->txn_isolation, uint32_t{SQL_TXN_READ_COMMITTED});
    EXPECT_EQ(conn->access_mode, uint32_t{SQL_MODE_READ_WRITE});
    EXPECT_STREQ(conn->current_qualifier, "");
    EXPECT_EQ(conn->connection_timeout, 0u);
    EXPECT_EQ(conn->default_max_rows, 0u);
  }
  ScriptedPeer peer;
  ConnectionRecord conn;
};

// The whole reset, in order: the forgotten statements released, the open
// work rolled back, and only then the default settings (autocommit on
// before the roll back would commit it).
TEST_F(Transactions, ResetReleasesRollsBackThenRestoresTheDefaults) {
  change_everything();
  Statement *a = nullptr, *b = nullptr;
  ASSERT_EQ(alloc_statement(conn.get(), &a), SQL_SUCCESS);
  ASSERT_EQ(alloc_statement(conn.get(), &b), SQL_SUCCESS);
  peer.expect_request(kCmdRelease, statement_request(b)).reply("K");
  peer.expect_request(kCmdRelease, statement_request(a)).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("K");
  peer.expect_request(kCmdConnectOptions, bytes_of("112")).reply("K");
  EXPECT_EQ(reset(), SQL_SUCCESS);
  EXPECT_EQ(diag(), "");
  EXPECT_EQ(conn->statements, nullptr);
  expect_defaults();
  EXPECT_EQ(peer.finish(), "");
  // A new statement starts from the defaults too (dropped without the
  // finished peer: on a dead link the record just goes).
  Statement* c = nullptr;
  ASSERT_EQ(alloc_statement(conn.get(), &c), SQL_SUCCESS);
  EXPECT_EQ(c->max_rows, 0u);
  drop_link(conn->link);
  EXPECT_EQ(free_statement(c, SQL_DROP), SQL_SUCCESS);
}

// With the settings untouched only the roll back goes out (a transaction
// begun by a statement text is possible with autocommit on).
TEST_F(Transactions, ResetLeavesUnchangedSettingsAlone) {
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("K");
  EXPECT_EQ(reset(), SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
}

// A refused roll back or refused defaults leave a server state nobody can
// vouch for: the link goes, the connection reads as dead, and the pool
// closes it instead of handing it on. Nothing is sent after a refused roll
// back: the defaults would commit the work.
TEST_F(Transactions, RefusedResetKillsTheConnection) {
  struct Case {
    bool settings_changed;
    const char* transact_status;
    const char* settings_status;
    const char* diagnostic;
  } cases[] = {
      {true, "Ebusy", nullptr, "08007 Transaction Failed"},
      {true, "K", "Eno", "S1000 no"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScriptedPeer peer;
    ConnectionRecord conn;
    link_loopback(conn.get(), peer.port());
    conn->autocommit = c.settings_changed ? SQL_AUTOCOMMIT_OFF : SQL_AUTOCOMMIT_ON;
    peer.expect_request(kCmdTransact, bytes_of("R")).reply(c.transact_status);
    if (c.settings_status != nullptr) {
      peer.expect_request(kCmdConnectOptions, bytes_of("112")).reply(c.settings_status);
    }
    EXPECT_EQ(set_connect_attr(conn.get(), SQL_ATTR_RESET_CONNECTION,
                               reinterpret_cast<SQLPOINTER>(SQL_RESET_CONNECTION_YES), 0,
                               AttributeText::kNarrow),
              SQL_ERROR);
    EXPECT_EQ(conn.sqlstate() + " " + conn.message(), c.diagnostic);
    SQLUINTEGER dead = SQL_CD_FALSE;
    EXPECT_EQ(get_connect_attr(conn.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr,
                               AttributeText::kNarrow),
              SQL_SUCCESS);
    EXPECT_EQ(dead, SQLUINTEGER{SQL_CD_TRUE});
    EXPECT_EQ(conn->autocommit, uint32_t{SQL_AUTOCOMMIT_ON});
    EXPECT_EQ(peer.finish(), "");
    close_link(conn->link);
    conn->link = nullptr;
  }
}

// A dead link: nothing to send, the attributes restored all the same.
TEST_F(Transactions, ResetOfADeadLinkOnlyRestoresAttributes) {
  conn->autocommit = SQL_AUTOCOMMIT_OFF;
  strcpy(conn->current_qualifier, "old");
  drop_link(conn->link);
  EXPECT_EQ(reset(), SQL_SUCCESS);
  expect_defaults();
}

// The connection timeout limits a commit's wait: "HYT01", the link given up.
TEST_F(Transactions, ConnectionTimeoutEndsAWaitForACommit) {
  ASSERT_EQ(set(SQL_ATTR_CONNECTION_TIMEOUT, 1), SQL_SUCCESS);
  peer.expect_request(kCmdTransact, bytes_of("C"));  // and no answer
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(diag(), "HYT01 Connection timeout expired");
  EXPECT_EQ(conn->link->lost, 1);
}

}  // namespace
}  // namespace q4::wire
