// SQLCancel from another thread against a scripted peer that falls silent:
// every kind of wait for the server ends at once, the call fails with
// "S1008", and the link is dropped ("08S01" from then on).
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

// The statement fixture, its members open to the scripts of the table below.
class CancelCutsTheWait : public StatementTest {
 public:
  using StatementTest::conn;
  using StatementTest::execute;
  using StatementTest::peer;
  using StatementTest::stmt;
};

// Where the call waits, and the call.
struct Wait {
  const char* name;
  std::function<void(CancelCutsTheWait&)> script;  // the peer's steps up to the wait
  std::function<SQLRETURN(Statement*)> call;
  bool sends = true;  // whether the request reaches the peer before the cut
};
void PrintTo(const Wait& wait, std::ostream* out) {
  *out << wait.name;
}
class WaitCut : public CancelCutsTheWait, public ::testing::WithParamInterface<Wait> {};

SQLRETURN select(Statement* stmt) {
  return SQLExecDirect(stmt, sql_text("SELECT N FROM T"), SQL_NTS);
}

// The cancel comes from the peer's thread while the driver waits, then the
// peer is silent until the driver closes the link. The call fails as
// cancelled within a second, having dropped the link: the next execution
// fails at once with "08S01" and sends nothing. (The waits for an execute's
// first reply and for the next block, and a cancel of an idle statement: the
// e2e cancel script; every call waits for its first reply in the same
// exchange.)
TEST_P(WaitCut, FailsAsCancelledAndDropsTheLink) {
  GetParam().script(*this);
  peer.call([this] {
        EXPECT_TRUE(wait_for_the_wait(stmt)) << "the call never waited";
        EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
      })
      .expect_closed();
  auto started = Clock::now();
  EXPECT_EQ(GetParam().call(stmt), SQL_ERROR);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
  EXPECT_EQ(diag(), "S1008 " + kPrefix + "Operation cancelled");
  EXPECT_STREQ(conn->sqlstate, "08S01");
  EXPECT_EQ(conn->link->lost, 1);
  EXPECT_EQ(stmt->call.state.load(), 0u);
  EXPECT_EQ(select(stmt), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "08S01");
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR) << "no result is left";
  EXPECT_EQ(stmt->param_descriptions, nullptr);
  EXPECT_EQ(peer.requests().empty(), !GetParam().sends);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cancel, WaitCut, ::testing::Values(
    // The reply's first frame came and was acknowledged; the next never does.
    Wait{"LaterFrameOfTheReply", [](CancelCutsTheWait& t) {
           t.peer.expect_request(kCmdExecute).send_raw(frame_bytes("K", pattern_bytes(20480), 1)).expect_ack();
         }, select},
    // The peer reads nothing and the socket is full: the request's send blocks.
    Wait{"SendBlockedOnAFullSocket", [](CancelCutsTheWait& t) { fill_socket(t.conn->link->socket); }, select, false}),
    [](const ::testing::TestParamInfo<Wait>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace q4::wire
