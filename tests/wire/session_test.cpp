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
  static SQLRETURN sql_connect(const ConnectionRecord& conn, const std::string& dsn) {
    return SQLConnect(conn.get(), sql_text(dsn.c_str()), SQL_NTS, nullptr, 0, nullptr, 0);
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
  peer.expect_request(kCmdTransact, bytes_of("C")).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("Erollback segment full");
  peer.expect_request(kCmdTransact, bytes_of("C")).close();
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, conn.get(), SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, conn.get(), SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, conn->environment, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), 2), SQL_ERROR);
  EXPECT_EQ(diag(conn), "S1012 Invalid Transaction Code");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, conn.get(), SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, SQL_NULL_HANDLE, SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Transaction Failed");
  EXPECT_EQ(conn->link->lost, 0);
  EXPECT_EQ(transact_connection(conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Transaction Failed");
  EXPECT_EQ(conn->link->lost, 1);
  EXPECT_EQ(transact_connection(conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(conn), "08007 Communications_ERROR");
}

// Marks only from level 754; four reply bytes raise the level to 710, a fifth
// (signed) sets the flags. SQLDisconnect releases statements newest first
// whatever the answers, and frees them when the server is gone (`end` null).
// Every failure leaves the record unconnected; a reply cut after a refusal's
// status is still a refusal.
TEST_F(Session, LogonRepliesAndDisconnect) {
  const char kFull[] = "127.0.0.1,vm,joe,Pw-Secret-17,acc,Ac-Secret-42,\"$/,/.\",";
  const char kBare[] = "127.0.0.1,vm,joe,Pw-Secret-17,acc,Ac-Secret-42,";
  const std::string refused =
      "28000 Logon failed. Check Q4 connection parameters and available licenses.";
  Bytes refusal_cut = frame_bytes("ELogon failed", {}, 0, 200);
  Bytes broken = frame_bytes("K", {}, 0, 1);  // cannot even hold its own length
  using Answer = std::function<void(ScriptedPeer&)>;
  // clang-format off
  struct Case { const char* level; const char* text; Answer answer; std::string diagnostic; uint32_t level_after = 0, flags_after = 0; const char* end = nullptr; } cases[] = {
      {"754", kFull, [](ScriptedPeer& p) { p.reply("K", {0, 0, 0, 0, 1}); }, "", 754, 1, "K"},
      {"700", kBare, [](ScriptedPeer& p) { p.reply("K", {1, 2, 3, 4}); }, "", 710, 0, "Enope"},
      {"720", kBare, [](ScriptedPeer& p) { p.reply("K", {0, 0, 0, 0, 0x80, 9}); }, "", 720, 0xFFFFFF80u, "K"},
      {"754", kFull, [](ScriptedPeer& p) { p.reply("K").close(); }, "", 754, 0},
      {"754", kFull, [](ScriptedPeer& p) { p.reply("Xsomething").expect_closed(); }, refused},
      {"754", kFull, [&](ScriptedPeer& p) { p.send_raw(refusal_cut).close(); }, refused},
      {"754", kFull, [](ScriptedPeer& p) { p.close(); }, "08S01 Communication Link failure. Check server status."},
      {"754", kFull, [&](ScriptedPeer& p) { p.send_raw(broken).expect_closed(); }, "S1000 General error. Unable to connect to host."},
      {"754", kFull, [](ScriptedPeer&) {}, "S1T00 Login Timeout expired"},  // a silent server
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScriptedPeer peer;
    c.answer(peer.expect_request(kCmdLogon, bytes_of(c.text)));
    ConnectionRecord conn;
    conn->server_flags = 0xDEAD;
    auto start = std::chrono::steady_clock::now();
    SQLRETURN rc =
        sql_connect(conn, peer_dsn(peer.port(), {{"Q4VERSION", c.level}, {"LoginTimeout", "1"}}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(diag(conn), c.diagnostic);
    EXPECT_EQ(rc, c.diagnostic.empty() ? SQL_SUCCESS : SQL_ERROR);
    if (rc == SQL_SUCCESS) {
      EXPECT_EQ(conn->server_version, c.level_after);
      EXPECT_EQ(conn->server_flags, c.flags_after);
      Statement* stmt[2] = {nullptr, nullptr};
      for (Statement*& s : stmt) ASSERT_EQ(alloc_statement(conn.get(), &s), SQL_SUCCESS);
      if (c.end != nullptr) {
        peer.expect_request(kCmdRelease, statement_request(stmt[1])).reply("K");
        peer.expect_request(kCmdRelease, statement_request(stmt[0])).reply(c.end);
        peer.expect_request(kCmdDisconnect, Bytes{}).reply(c.end).expect_closed();
      }
      EXPECT_EQ(SQLDisconnect(conn.get()), SQL_SUCCESS);
      EXPECT_TRUE(c.end == nullptr || conn.sqlstate().empty()) << conn.sqlstate();
      EXPECT_EQ(conn->statements, nullptr);
    }
    EXPECT_EQ(conn->link, nullptr);
    EXPECT_EQ(peer.finish(), "");
  }
}

// Connects that cannot ask (SQLConnect without a dialog, SQLDriverConnect
// without prompting): a missing user is "28000" naming it, with nothing sent;
// an empty password is sent (given as "?", as "~", its scrambled form, or not
// given at all), and the server decides. Its refusal of an empty password
// says so; a refusal of another password does not. (A user without a password
// given in the string, PWD= and PWD=~: the e2e rowcount/connect script.)
TEST_F(Session, MissingUserBeforeAnythingIsSentEmptyPasswordsToTheServer) {
  const std::string no_user =
      "28000 No user name was given. Set UID in the connection string or USER in the data "
      "source (\"?\" sends an empty one).";
  const std::string refused =
      "28000 Logon failed. Check Q4 connection parameters and available licenses.";
  auto empty_refused = [&](const std::string& user) {
    return refused + " The password sent for user \"" + user +
           "\" was empty; a data source's PASSWORD goes only with its own USER.";
  };
  const Keys joe = {{"USER", "joe"}}, joe_pw = {{"USER", "joe"}, {"PASSWORD", "pw"}};
  // The profile (besides SERVER, PORTNUMBER and ACCOUNT); SQLConnect's user
  // (null: SQLDriverConnect with "DSN=name;" and `input`); the user and
  // password of the logon text (null: nothing is sent); whether the server
  // takes them; the diagnostic.
  // clang-format off
  struct Case { Keys profile; const char* uid; const char* input; const char* logon; bool accepted; std::string diagnostic; } cases[] = {
      {{}, "", "", nullptr, false, no_user},
      {joe, "", "", "joe,,", true, ""},  // an account without a password
      // The profile's password is joe's only: JOE is another user.
      {joe_pw, "JOE", "", "JOE,,", false, empty_refused("JOE")},
      {{{"USER", "joe"}, {"PASSWORD", "?"}}, "", "", "joe,,", true, ""},
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
