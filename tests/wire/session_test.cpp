// Connection-level exchanges against the scripted peer: logon (its
// credentials and port) and disconnect, allocate and release of statements,
// settings, commit and roll back, the connection timeout and the pool's
// reset.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "connect/connection_attributes.h"
#include "connect/session.h"
#include "core/handles.h"
#include "link/link.h"
#include "platform/locale_marks.h"
#include "result_fixture.h"
#include "statement/lifecycle.h"
#include "statement/options.h"
#include "statement/transact.h"

namespace q4::wire {
namespace {

// A connection linked to the peer as after a logon at level 754 (the logon
// tests connect records of their own); every test gives back the socket
// layer uses it took.
class Session : public ::testing::Test, public Wire {
 protected:
  void SetUp() override {
    reset_locale_marks();
    users_ = socket_layer_users();
    link_loopback(conn.get(), peer.port());
    conn->server_version = 754;
  }
  void TearDown() override {
    EXPECT_EQ(peer.finish(), "");
    close_link(conn->link);
    conn->link = nullptr;
    EXPECT_EQ(socket_layer_users(), users_) << "a link left open";
  }
  // "08S01 Communications_ERROR": the pending state and message, unprefixed.
  static std::string diag(const ConnectionRecord& c) {
    return c.sqlstate().empty() ? "" : c.sqlstate() + " " + c.message();
  }
  // A connect that cannot ask: SQLConnect with `uid` and an empty password,
  // or (`uid` null) SQLDriverConnect of "DSN=dsn;" and `input` without
  // prompting; then SQLDisconnect. The diagnostic, "" when it connected; no
  // socket may be left open.
  static std::string connect_once(const std::string& dsn, const char* uid,
                                  const std::string& input) {
    ConnectionRecord conn;
    int users = socket_layer_users();
    std::string text = "DSN=" + dsn + ";" + input;
    SQLRETURN rc = uid != nullptr
                       ? SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, sql_text(uid),
                                    SQL_NTS, sql_text(""), SQL_NTS)
                       : SQLDriverConnect(conn.get(), nullptr, sql_text(text.c_str()), SQL_NTS,
                                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    std::string outcome = diag(conn);
    EXPECT_EQ(rc, outcome.empty() ? SQL_SUCCESS : SQL_ERROR) << outcome;
    EXPECT_EQ(rc == SQL_SUCCESS ? SQLDisconnect(conn.get()) : SQL_SUCCESS, SQL_SUCCESS);
    EXPECT_EQ(conn->link, nullptr);
    EXPECT_EQ(socket_layer_users(), users) << "a socket was left open";
    return outcome;
  }
  ScriptedPeer peer;
  ConnectionRecord conn;
  int users_ = 0;
};

// Only with DisableExtFetch is a statement announced; a release's status does
// not matter; a broken release gives the link up, and later drops free their
// records without a request.
TEST_F(Session, StatementRequestsAndABrokenRelease) {
  Statement *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_EQ(alloc_statement(conn.get(), &a), SQL_SUCCESS);
  ASSERT_EQ(alloc_statement(conn.get(), &b), SQL_SUCCESS);
  strcpy(conn->disable_ext_fetch, "Yes");
  peer.expect_request(kCmdAllocate).reply("K");
  ASSERT_EQ(alloc_statement(conn.get(), &c), SQL_SUCCESS);
  peer.expect_request(kCmdRelease, statement_request(c)).reply("Eno such", pattern_bytes(40));
  EXPECT_EQ(free_statement(c, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(diag(conn), "");
  peer.expect_request(kCmdRelease, statement_request(b)).close();
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08S01 Communications_ERROR");
  EXPECT_STREQ(b->sqlstate, "08S01");
  EXPECT_EQ(conn->link->lost, 1);
  EXPECT_EQ(conn->statements, a);
  EXPECT_EQ(peer.finish(), "");
  // On the lost link there is nothing to release: the drop frees the record.
  EXPECT_EQ(free_statement(a, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(conn->statements, nullptr);
  // The failed drop waits for SQLDisconnect, which frees it (the sanitizer
  // run catches a leak).
  EXPECT_EQ(conn->unreleased, b);
  EXPECT_EQ(disconnect(conn.get()), SQL_SUCCESS);
  EXPECT_EQ(conn->unreleased, nullptr);
}

// Access mode, autocommit and isolation travel as three digits; a bad
// isolation blocks the request; after a refusal or a lost link the value stays.
TEST_F(Session, SettingsExchanges) {
  Connection* c = conn.get();
  c->autocommit = 1;
  peer.expect_request(kCmdConnectOptions, bytes_of("102")).reply("K");
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(set_connect_option(c, SQL_TXN_ISOLATION, 3), SQL_ERROR);
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_ERROR);
  EXPECT_EQ(diag(conn), "S1002 Bad Trans Setting");
  peer.expect_request(kCmdConnectOptions, bytes_of("114")).reply("K");
  EXPECT_EQ(set_connect_option(c, SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
  peer.expect_request(kCmdConnectOptions).reply("Eisolation not available");
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_ERROR);
  EXPECT_EQ(diag(conn), "S1000 isolation not available");
  EXPECT_EQ(c->autocommit, 0u);
  peer.expect_request(kCmdConnectOptions).close();
  EXPECT_EQ(set_connect_option(c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Communications_ERROR");
  EXPECT_EQ(c->link->lost, 1);
}

// SQLTransact and SQLEndTran send one letter; a refusal or a broken link is
// "08007 Transaction Failed", and on a lost link nothing can be sent. Handles
// other than an environment or a connection end nothing.
TEST_F(Session, TransactAndEndTranSendOneLetterAndReportFailuresAsTransactionFailed) {
  peer.expect_request(kCmdTransact, bytes_of("C")).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("Erollback segment full");
  peer.expect_request(kCmdTransact, bytes_of("C")).close();
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, conn.get(), SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, conn.get(), SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), 2), SQL_ERROR);
  EXPECT_EQ(diag(conn), "S1012 Invalid Transaction Code");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, conn.get(), SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Transaction Failed");
  EXPECT_EQ(conn->link->lost, 0);
  EXPECT_EQ(transact_connection(conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Transaction Failed");
  EXPECT_EQ(conn->link->lost, 1);
  EXPECT_EQ(transact_connection(conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Communications_ERROR");
}

// Marks only from level 754; a fifth reply byte sets the flags. SQLDisconnect
// releases statements newest first. A reply that is not "K" is a refusal and
// leaves the record unconnected.
TEST_F(Session, LogonRepliesAndDisconnect) {
  const char kFull[] = "127.0.0.1,vm,joe,Pw-Secret-17,acc,Ac-Secret-42,\"$/,/.\",";
  const std::string refused =
      "28000 Logon failed. Check Q4 connection parameters and available licenses.";
  for (bool accepted : {true, false}) {
    SCOPED_TRACE(accepted);
    ScriptedPeer peer;
    peer.expect_request(kCmdLogon, bytes_of(kFull));
    if (accepted) {
      peer.reply("K", {0, 0, 0, 0, 1});
    } else {
      peer.reply("Xsomething").expect_closed();
    }
    ConnectionRecord conn;
    std::string dsn = peer_dsn(peer.port(), {{"Q4VERSION", "754"}});
    SQLRETURN rc = SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0);
    EXPECT_EQ(diag(conn), accepted ? "" : refused);
    EXPECT_EQ(rc, accepted ? SQL_SUCCESS : SQL_ERROR);
    if (accepted) {
      EXPECT_EQ(conn->server_version, 754u);
      EXPECT_EQ(conn->server_flags, 1u);
      Statement* stmt[2] = {nullptr, nullptr};
      for (Statement*& s : stmt) ASSERT_EQ(alloc_statement(conn.get(), &s), SQL_SUCCESS);
      peer.expect_request(kCmdRelease, statement_request(stmt[1])).reply("K");
      peer.expect_request(kCmdRelease, statement_request(stmt[0])).reply("K");
      peer.expect_request(kCmdDisconnect, Bytes{}).reply("K").expect_closed();
      EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
      EXPECT_EQ(conn->statements, nullptr);
    }
    EXPECT_EQ(conn->link, nullptr);
    EXPECT_EQ(peer.finish(), "");
  }
}

// Connects that cannot ask (SQLConnect without a dialog, SQLDriverConnect
// without prompting): a missing user is "28000" naming it, with nothing sent;
// an empty password is sent, and the server decides; a refusal of a password
// given adds no hint. (The refusal of an empty password, which says so: the
// e2e rowcount/connect script.)
TEST_F(Session, MissingUserBeforeAnythingIsSentEmptyPasswordsToTheServer) {
  const std::string no_user =
      "28000 No user name was given. Set UID in the connection string or USER in the data "
      "source (\"?\" sends an empty one).";
  const std::string refused =
      "28000 Logon failed. Check Q4 connection parameters and available licenses.";
  const Keys joe = {{"USER", "joe"}}, joe_pw = {{"USER", "joe"}, {"PASSWORD", "pw"}};
  // The profile (besides SERVER, PORTNUMBER and ACCOUNT); SQLConnect's user
  // (null: SQLDriverConnect with "DSN=name;" and `input`); the user and
  // password of the logon text (null: nothing is sent); whether the server
  // takes them; the diagnostic.
  // clang-format off
  struct Case { Keys profile; const char* uid; const char* input; const char* logon; bool accepted; std::string diagnostic; } cases[] = {
      {{}, "", "", nullptr, false, no_user},
      {joe, "", "", "joe,,", true, ""},  // an account without a password
      {joe_pw, nullptr, "UID=ann", "ann,pw,", false, refused},  // SQLDriverConnect keeps it
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScriptedPeer peer;
    if (c.logon != nullptr) {
      peer.expect_request(kCmdLogon, bytes_of(std::string("127.0.0.1,,") + c.logon + "acc,,"));
      if (c.accepted) {
        peer.reply("K").expect_request(kCmdDisconnect).reply("K");
      } else {
        peer.reply("ELogon failed: user or password not accepted").expect_closed();
      }
    }
    Keys keys = c.profile;
    keys["Q4VERSION"] = "720";  // no numeric marks in the logon text
    EXPECT_EQ(connect_once(peer_dsn(peer.port(), keys, true), c.uid, c.input), c.diagnostic);
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(peer.requests().size(), c.logon == nullptr ? 0u : c.accepted ? 2u : 1u);
  }
}

// The pool's reset refused by the server: a refused roll back or refused
// defaults leave a server state nobody can vouch for, so the link goes, the
// connection reads as dead, and the pool closes it instead of handing it on.
// Nothing is sent after a refused roll back: the defaults would commit the
// work. (The whole reset after a previous user: the odbc3 pooled connections
// program.)
TEST_F(Session, RefusedResetKillsTheConnection) {
  const char* kCases[][3] = {{"Ebusy", nullptr, "08007 Transaction Failed"},
                             {"K", "Eno", "S1000 no"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c[2]);
    ScriptedPeer peer;
    ConnectionRecord conn;
    link_loopback(conn.get(), peer.port());
    conn->autocommit = SQL_AUTOCOMMIT_OFF;
    peer.expect_request(kCmdTransact, bytes_of("R")).reply(c[0]);
    if (c[1] != nullptr) peer.expect_request(kCmdConnectOptions, bytes_of("112")).reply(c[1]);
    EXPECT_EQ(set_connect_attr(conn.get(), SQL_ATTR_RESET_CONNECTION,
                               reinterpret_cast<SQLPOINTER>(SQL_RESET_CONNECTION_YES), 0,
                               AttributeText::kNarrow),
              SQL_ERROR);
    EXPECT_EQ(diag(conn), c[2]);
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

// The connection timeout limits a commit's wait: "HYT01", the link given up.
TEST_F(Session, ConnectionTimeoutEndsAWaitForACommit) {
  ASSERT_EQ(set_connect_attr(conn.get(), SQL_ATTR_CONNECTION_TIMEOUT,
                             reinterpret_cast<SQLPOINTER>(1), 0, AttributeText::kNarrow),
            SQL_SUCCESS);
  peer.expect_request(kCmdTransact, bytes_of("C"));  // and no answer
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(diag(conn), "HYT01 Connection timeout expired");
  EXPECT_EQ(conn->link->lost, 1);
}

}  // namespace
}  // namespace q4::wire
