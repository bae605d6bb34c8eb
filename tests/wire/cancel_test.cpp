// SQLCancel from another thread against a scripted peer that falls silent:
// every kind of wait for the server ends at once, the call fails with
// "S1008", and the link is dropped ("08S01" from then on). A cancel of an
// idle statement only discards its result.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <thread>

#include "link/cancellable_wait.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

using Clock = std::chrono::steady_clock;

// Waits (at most 5 s) until the statement's call waits for its server, so
// that the cancel lands in the wait and not before it.
bool wait_for_the_wait(const Statement* stmt) {
  auto limit = Clock::now() + std::chrono::seconds(5);
  while ((stmt->call.state.load() & kWaitingForServer) == 0) {
    if (Clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Fills the socket's way to the peer (which reads nothing) until it takes no
// more, so that the next send blocks.
void fill_socket(int socket) {
  Bytes junk(65536, 'j');
  while (send(socket, junk.data(), junk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
  }
}

class CancelCutsTheWait : public StatementTest {
 protected:
  // The peer's last steps: the cancel, from the peer's thread while the
  // driver waits, then silence until the driver closes the link.
  void cancel_then_silence() {
    peer.call([this] {
          EXPECT_TRUE(wait_for_the_wait(stmt)) << "the call never waited";
          EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
        })
        .expect_closed();
  }
  // Runs `call` and checks that it failed as cancelled within a second,
  // having dropped the link: the next execution fails at once with "08S01"
  // and sends nothing.
  void expect_cut(const std::function<SQLRETURN()>& call, const char* what) {
    auto started = Clock::now();
    EXPECT_EQ(call(), SQL_ERROR) << what;
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1)) << what;
    EXPECT_EQ(diag(), "S1008 " + kPrefix + "Operation cancelled") << what;
    EXPECT_STREQ(conn->sqlstate, "08S01") << what;
    EXPECT_EQ(conn->link->lost, 1) << what;
    EXPECT_EQ(stmt->call.state.load(), 0u) << what;
    EXPECT_EQ(exec_direct("SELECT N FROM T"), SQL_ERROR) << what;
    EXPECT_EQ(sqlstate(), "08S01") << what;
  }
};

// The server never answers the execute request.
TEST_F(CancelCutsTheWait, WaitingForTheFirstReply) {
  peer.expect_request(kCmdExecute);
  cancel_then_silence();
  expect_cut([this] { return exec_direct("SELECT N FROM T"); }, "execute");
}

// The reply's first frame came and was acknowledged; the next never does.
TEST_F(CancelCutsTheWait, WaitingForALaterFrameOfTheReply) {
  peer.expect_request(kCmdExecute)
      .send_raw(frame_bytes("K", pattern_bytes(20480), /*more=*/1))
      .expect_ack();
  cancel_then_silence();
  expect_cut([this] { return exec_direct("SELECT N FROM T"); }, "second frame");
}

// The peer reads nothing and the socket is full: the request's send blocks.
TEST_F(CancelCutsTheWait, ASendBlockedOnAFullSocket) {
  fill_socket(conn->link->socket);
  cancel_then_silence();
  expect_cut([this] { return exec_direct("SELECT N FROM T"); }, "send");
  EXPECT_TRUE(peer.requests().empty());
}

// The result's first block says the server holds more rows; the request for
// the next block is never answered.
TEST_F(CancelCutsTheWait, FetchingTheNextBlock) {
  ASSERT_EQ(execute(execute_payload(1, 2, numbered_block(1, 2, kRowMore))), SQL_SUCCESS) << diag();
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  peer.expect_request(kCmdFetch, next_block_request(stmt));
  cancel_then_silence();
  expect_cut([this] { return SQLFetch(stmt); }, "fetch");
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR) << "the result is gone";
}

// Catalog functions and SQLPrepare wait like an execution.
TEST_F(CancelCutsTheWait, CatalogFunctionsAndPrepare) {
  struct Case {
    uint8_t command;
    std::function<SQLRETURN(SQLHSTMT)> call;
  };
  const Case cases[] = {
      {kCmdTables,
       [](SQLHSTMT s) { return SQLTables(s, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }},
      {kCmdColumns,
       [](SQLHSTMT s) {
         return SQLColumns(s, nullptr, 0, nullptr, 0, sql_text("T"), SQL_NTS, nullptr, 0);
       }},
      {kCmdTypeInfo, [](SQLHSTMT s) { return SQLGetTypeInfo(s, SQL_ALL_TYPES); }},
      {kCmdPrepare, [](SQLHSTMT s) { return SQLPrepare(s, sql_text("SELECT N FROM T"), SQL_NTS); }},
  };
  for (const Case& c : cases) {
    ScriptedPeer own;
    ConnectionPtr other = connect_link(own.port());
    ASSERT_NE(other->link, nullptr);
    other->server_version = 754;
    stmt->connection = other.get();
    own.expect_request(c.command)
        .call([this] {
          EXPECT_TRUE(wait_for_the_wait(stmt));
          EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
        })
        .expect_closed();
    auto started = Clock::now();
    EXPECT_EQ(c.call(stmt), SQL_ERROR) << int(c.command);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1)) << int(c.command);
    EXPECT_EQ(sqlstate(), "S1008") << int(c.command);
    EXPECT_EQ(other->link->lost, 1) << int(c.command);
    EXPECT_EQ(own.finish(), "") << int(c.command);
  }
  stmt->connection = conn.get();
}

// A cancel of an idle statement discards its result without a request, and
// the link stays: the next execution works.
TEST_F(CancelCutsTheWait, AnIdleStatementOnlyLosesItsResult) {
  ASSERT_EQ(execute(execute_payload(1, 2, numbered_block(7, 2, 'W'))), SQL_SUCCESS) << diag();
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1010");
  ASSERT_EQ(execute(execute_payload(1, 2, numbered_block(7, 2, 'W'))), SQL_SUCCESS) << diag();
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_EQ(int_at(1), 7);
  EXPECT_EQ(conn->link->lost, 0);
}

// A cancel of an idle statement while a call of another statement holds the
// connection: the idle statement's result is gone once that call ends (the
// cancel does not wait for it), and the busy call is not disturbed.
TEST_F(CancelCutsTheWait, AnIdleStatementOfABusyConnectionLosesItsResultWhenTheCallEnds) {
  ASSERT_EQ(execute(execute_payload(1, 2, numbered_block(7, 2, 'W'))), SQL_SUCCESS) << diag();
  Statement* busy = nullptr;
  ASSERT_EQ(alloc_statement(conn.get(), &busy), SQL_SUCCESS);
  peer.expect_request(kCmdExecute)
      .call([this] { EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS); })
      .reply("K", execute_payload(1, 1, numbered_block(5, 1, 'W')));
  EXPECT_EQ(SQLExecDirect(busy, sql_text("SELECT N FROM U"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(busy), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1010") << "discarded, not failed as cancelled";
  EXPECT_EQ(conn->link->lost, 0);
  peer.expect_request(kCmdRelease).reply("K");
  EXPECT_EQ(free_statement(busy, SQL_DROP), SQL_SUCCESS);
}

// The exchange on its own: a request raised before it starts is taken and
// nothing is sent (the link stays in step); one raised during its wait cuts
// it and drops the link; a signal without a request changes nothing.
TEST_F(CancelCutsTheWait, TheExchangeTakesARequestBeforeItSendsAnything) {
  CallSignal signal{};
  signal.state = kCancelRequested;
  char status[16];
  auto execute = [&] {
    return exchange(conn->link, kCmdExecute, nullptr, 0, ReplyArea{status, sizeof status}, 0,
                    &signal);
  };
  // A cancelled exchange, when it was cut, and whether the link survived it.
  auto expect_cancelled = [&](const Exchanged& got, Exchanged::Cancel when, bool sent, int lost) {
    EXPECT_EQ(got.link_status, LinkStatus::LINK_CANCELLED);
    EXPECT_TRUE(got.cancel == when);
    EXPECT_EQ(got.sent, sent);
    EXPECT_EQ(signal.state.load(), 0u) << "the request is taken";
    EXPECT_EQ(conn->link->lost, lost);
  };
  expect_cancelled(execute(), Exchanged::Cancel::kBeforeSend, false, 0);

  peer.expect_request(kCmdExecute).reply("K");
  Exchanged plain = execute();
  EXPECT_TRUE(plain.ok());
  EXPECT_EQ(signal.state.load(), 0u);

  peer.expect_request(kCmdExecute)
      .call([&] {
        int socket = -1;
        EXPECT_TRUE(raise_cancel(&signal, &socket) == CancelStep::kCutWait);
        cut_socket(socket);
        end_cutting(&signal);
      })
      .expect_closed();
  expect_cancelled(execute(), Exchanged::Cancel::kInWait, true, 1);
}

}  // namespace
}  // namespace q4::wire
