// The statement module's exchanges against a scripted server: allocate and
// release requests, the connection settings request, commit and roll back,
// and how each reports a broken or refusing server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/memory.h"
#include "link/socket_layer.h"
#include "link/transport.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "scripted_peer.h"
#include "statement/lifecycle.h"
#include "statement/options.h"
#include "statement/transact.h"

namespace q4::wire {
namespace {

const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

std::string diag(const Connection* c) {
  if (c->sqlstate[0] == '\0') return "";
  std::string text = c->message;
  if (text.rfind(kPrefix, 0) == 0) text.erase(0, kPrefix.size());
  return std::string(c->sqlstate) + " " + text;
}

// The 6-byte payload of the allocate and release requests.
Bytes statement_payload(const Statement* stmt) {
  Bytes payload(6);
  put_u16(put_u32(payload.data(), statement_id(stmt)), 1);
  return payload;
}

// A connection record of an environment, connected to a scripted peer as
// after a logon.
class Linked {
 public:
  Linked(Environment* env, uint16_t port) {
    EXPECT_EQ(alloc_connection(env, &conn_), SQL_SUCCESS);
    snprintf(conn_->server, sizeof conn_->server, "127.0.0.1");
    conn_->port = htons(port);
    conn_->login_timeout = 5;
    conn_->server_version = 754;
    if (connect_server(nullptr, conn_) == 1) set_blocking(conn_->socket, true);
  }
  ~Linked() {
    close_link(conn_);
    free_connection(conn_);
  }
  Connection* get() const { return conn_; }

 private:
  Connection* conn_ = nullptr;
};

class StatementWire : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(alloc_environment(&env_), SQL_SUCCESS); }
  void TearDown() override { EXPECT_EQ(free_environment(env_), SQL_SUCCESS); }

  // Frees a record that a failed drop left unlinked.
  static void discard(Statement* stmt) {
    EXPECT_EQ(stmt->binary_blocks, nullptr);
    drv_free(stmt->request_buffer);
    drv_free(stmt);
  }

  Environment* env_ = nullptr;
};

// Without DisableExtFetch the server hears of a statement only when it is
// dropped: the first request it sees is the release.
TEST_F(StatementWire, PlainStatementIsAnnouncedOnlyByItsRelease) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  ASSERT_NE(link.get()->socket, kInvalidSocket);
  Statement* stmt = nullptr;
  ASSERT_EQ(alloc_statement(link.get(), &stmt), SQL_SUCCESS);
  peer.expect_request(kCmdRelease, statement_payload(stmt)).reply("K");
  EXPECT_EQ(free_statement(stmt, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(StatementWire, DisableExtFetchSendsTheAllocateRequest) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  strcpy(link.get()->disable_ext_fetch, "Yes");
  // The statement id is known only once the record exists, so the payload
  // is checked against the record the driver hands out.
  peer.expect_request(kCmdAllocate).reply("K");
  Statement* stmt = nullptr;
  ASSERT_EQ(alloc_statement(link.get(), &stmt), SQL_SUCCESS);
  peer.expect_request(kCmdRelease, statement_payload(stmt)).reply("K");
  EXPECT_EQ(free_statement(stmt, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
  auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(first_difference(requests[0].payload, statement_payload(stmt)), "");
}

// Only the completion of the exchange matters, not the status letter.
TEST_F(StatementWire, ReleaseSucceedsWhateverTheStatusLetter) {
  for (const char* status : {"K", "W", "Eno such statement", "Q"}) {
    SCOPED_TRACE(status);
    ScriptedPeer peer;
    Linked link(env_, peer.port());
    Statement* stmt = nullptr;
    ASSERT_EQ(alloc_statement(link.get(), &stmt), SQL_SUCCESS);
    peer.expect_request(kCmdRelease, statement_payload(stmt)).reply(status, pattern_bytes(40));
    EXPECT_EQ(free_statement(stmt, SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(diag(link.get()), "");
    EXPECT_EQ(peer.finish(), "");
  }
}

TEST_F(StatementWire, BrokenReleaseIsACommunicationFailureOnTheConnection) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  Statement* a = nullptr;
  Statement* b = nullptr;
  ASSERT_EQ(alloc_statement(link.get(), &a), SQL_SUCCESS);
  ASSERT_EQ(alloc_statement(link.get(), &b), SQL_SUCCESS);
  peer.expect_request(kCmdRelease).close();
  EXPECT_EQ(free_statement(b, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(diag(link.get()), "08S01 Communications_ERROR");
  EXPECT_EQ(b->sqlstate[0], '\0');
  EXPECT_EQ(link.get()->link_lost, 1) << "the broken link must be given up";
  EXPECT_EQ(link.get()->statements, a);
  EXPECT_EQ(peer.finish(), "");
  // Every later exchange fails at once.
  EXPECT_EQ(free_statement(a, SQL_DROP), SQL_ERROR);
  EXPECT_EQ(link.get()->statements, nullptr);
  discard(a);
  discard(b);
}

TEST_F(StatementWire, BrokenAllocateKeepsTheRecordAndReportsOnTheConnection) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  strcpy(link.get()->disable_ext_fetch, "Y");
  peer.expect_request(kCmdAllocate).reset();
  Statement* out = reinterpret_cast<Statement*>(0x1234);
  EXPECT_EQ(alloc_statement(link.get(), &out), SQL_ERROR);
  EXPECT_EQ(out, reinterpret_cast<Statement*>(0x1234));
  EXPECT_EQ(diag(link.get()), "08S01 Communications_ERROR");
  Statement* kept = link.get()->statements;
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(free_statement(kept, SQL_DROP), SQL_ERROR);
  // The failed drop freed the tables and unlinked the record.
  discard(kept);
}

// --- Connection settings: access mode, autocommit and isolation as digits.

struct SettingsCase {
  const char* what;
  SQLUSMALLINT option;
  SQLULEN value;
  uint32_t autocommit_before;
  const char* payload;
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
  *os << c.what;
}

class SettingsPayload : public StatementWire, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsPayload, CarriesTheThreeDigits) {
  const SettingsCase& c = GetParam();
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  link.get()->autocommit = c.autocommit_before;
  peer.expect_request(kCmdConnectOptions, bytes_of(c.payload)).reply("K");
  EXPECT_EQ(set_connect_option(link.get(), c.option, c.value), SQL_SUCCESS) << diag(link.get());
  EXPECT_EQ(peer.finish(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Digits, SettingsPayload,
    ::testing::Values(
        SettingsCase{"ReadUncommitted", SQL_TXN_ISOLATION, SQL_TXN_READ_UNCOMMITTED, 1, "111"},
        SettingsCase{"ReadCommitted", SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED, 1, "112"},
        SettingsCase{"RepeatableRead", SQL_TXN_ISOLATION, SQL_TXN_REPEATABLE_READ, 1, "113"},
        SettingsCase{"Serializable", SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, 1, "114"},
        SettingsCase{"SerializableAutocommitOff", SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, 0,
                     "104"},
        SettingsCase{"AutocommitOff", SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, 1, "102"},
        SettingsCase{"AutocommitOn", SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON, 0, "112"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(StatementWire, RefusedSettingsPostTheServersText) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  peer.expect_request(kCmdConnectOptions).reply("Eisolation not available");
  EXPECT_EQ(set_connect_option(link.get(), SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_ERROR);
  EXPECT_EQ(diag(link.get()), "S1000 isolation not available");
  EXPECT_EQ(link.get()->link_lost, 0) << "a refusal is not a link failure";
  EXPECT_EQ(peer.finish(), "");
}

// A settings reply that never comes is a broken link, not a message made of
// the request's own bytes.
TEST_F(StatementWire, UnreceivedSettingsReplyIsACommunicationFailure) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  peer.expect_request(kCmdConnectOptions).close();
  EXPECT_EQ(set_connect_option(link.get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_ERROR);
  EXPECT_EQ(diag(link.get()), "08007 Communications_ERROR");
  EXPECT_EQ(link.get()->link_lost, 1);
  EXPECT_EQ(link.get()->autocommit, 0u) << "the value stays stored";
  EXPECT_EQ(peer.finish(), "");
}

// After an unencodable isolation no settings request goes out, also for a
// later autocommit change; correcting the isolation sends again.
TEST_F(StatementWire, UnencodableIsolationBlocksSettingsUntilCorrected) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  EXPECT_EQ(set_connect_option(link.get(), SQL_TXN_ISOLATION, 3), SQL_ERROR);
  EXPECT_EQ(diag(link.get()), "S1002 Bad Trans Setting");
  EXPECT_EQ(set_connect_option(link.get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_ERROR);
  EXPECT_EQ(diag(link.get()), "S1002 Bad Trans Setting");
  // The first request the peer sees is the corrected one.
  peer.expect_request(kCmdConnectOptions, bytes_of("101")).reply("K");
  EXPECT_EQ(set_connect_option(link.get(), SQL_TXN_ISOLATION, SQL_TXN_READ_UNCOMMITTED),
            SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
}

// --- Commit and roll back.

TEST_F(StatementWire, CommitAndRollbackSendOneLetter) {
  ScriptedPeer peer;
  Linked link(env_, peer.port());
  peer.expect_request(kCmdTransact, bytes_of("C"))
      .reply("K")
      .expect_request(kCmdTransact, bytes_of("R"))
      .reply("K");
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, link.get(), 2), SQL_ERROR) << "sends nothing";
  EXPECT_EQ(diag(link.get()), "S1012 Invalid Transaction Code");
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, link.get(), SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(SQL_NULL_HENV, link.get(), SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(peer.finish(), "");
}

TEST_F(StatementWire, TransactionFailures) {
  struct Case {
    const char* what;
    bool refuse;  // the server answers "E"; otherwise it closes the link
  } cases[] = {{"refused", true}, {"no reply", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    Linked link(env_, peer.port());
    peer.expect_request(kCmdTransact, bytes_of("C"));
    if (c.refuse) {
      peer.reply("Erollback segment full");
    } else {
      peer.close();
    }
    EXPECT_EQ(transact_connection(link.get(), SQL_COMMIT), SQL_ERROR);
    EXPECT_EQ(diag(link.get()), "08007 Transaction Failed");
    EXPECT_EQ(link.get()->link_lost, c.refuse ? 0 : 1);
    EXPECT_EQ(peer.finish(), "");
  }
}

// Three connections allocated A, B, C: the walk asks C, then B, and stops
// at B's refusal without asking A.
TEST_F(StatementWire, EnvironmentWalkGoesNewestFirstAndStopsAtAFailure) {
  std::mutex mutex;
  std::vector<char> order;
  auto record = [&](char name) {
    return [&, name](const ReceivedRequest& request) {
      std::lock_guard<std::mutex> guard(mutex);
      order.push_back(name);
      return request.payload == bytes_of("C") ? "" : "payload is not \"C\"";
    };
  };
  ScriptedPeer peer_a, peer_b, peer_c;
  Linked a(env_, peer_a.port());
  Linked b(env_, peer_b.port());
  Linked c(env_, peer_c.port());
  peer_c.expect_request(kCmdTransact, record('C')).reply("K");
  peer_b.expect_request(kCmdTransact, record('B')).reply("E");
  peer_a.set_step_timeout(300);
  peer_a.step("no request for A", [](PeerLink& link) -> std::string {
    Bytes byte;
    std::string why;
    if (!link.read_exact(1, &byte, &why)) return "";  // nothing came: as it should be
    // Answer, so that the faulty driver does not wait forever.
    link.send_reply("K", {}, &why);
    return "A received a request";
  });

  EXPECT_EQ(SQLTransact(env_, SQL_NULL_HDBC, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(diag(b.get()), "08007 Transaction Failed");
  EXPECT_EQ(diag(a.get()), "");
  EXPECT_EQ(diag(c.get()), "");
  EXPECT_EQ(peer_c.finish(), "");
  EXPECT_EQ(peer_b.finish(), "");
  EXPECT_EQ(peer_a.finish(), "");
  EXPECT_EQ(order, (std::vector<char>{'C', 'B'}));
}

}  // namespace
}  // namespace q4::wire
