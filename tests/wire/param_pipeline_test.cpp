// Parameter arrays whose rows go ahead of their replies, against the scripted
// peer: the first row alone, then a bounded window; where the rows fall back
// to one at a time; a lost link and a time limit in the middle; both socket
// buffers full at once. (A failing row with rows in
// flight: the e2e parameter array program.)
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>

#include <cstdio>
#include <string>
#include <thread>

#include "link/pipeline.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

constexpr int kWindow = static_cast<int>(kMaxPipelineWindow);

// INSERT INTO T VALUES (?) with the row numbers 1, 2, ... as values and a
// status array.
class Pipelined : public StatementTest {
 protected:
  static constexpr int kRows = 200;
  void SetUp() override {
    StatementTest::SetUp();
    for (int i = 0; i < kRows; ++i) ids[i] = i + 1;
    ASSERT_EQ(
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, ids, 0, nullptr),
        SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses, 0), SQL_SUCCESS);
  }
  Bytes row(int n) {
    return text_request(stmt, "INSERT INTO T VALUES (" + std::to_string(n) + ")");
  }
  // Peer steps: the requests of rows first..last, each answered at once with
  // a count of 1, or only read.
  void answered(int first, int last) {
    for (int n = first; n <= last; ++n) {
      peer.expect_request(kCmdExecute, row(n)).reply("K", execute_payload(0, 1));
    }
  }
  void requested(int first, int last) {
    for (int n = first; n <= last; ++n) peer.expect_request(kCmdExecute, row(n));
  }
  void replies(int count) {
    for (int n = 0; n < count; ++n) peer.reply("K", execute_payload(0, 1));
  }
  // "rc sqlstate counter statuses rowcount" after running `rows` rows; the
  // statuses as runs: S(uccess), I(nfo), E(rror), U(nused), D(iagnostics
  // unavailable), e.g. "S9 E1 S63 U127".
  std::string run(SQLULEN rows, const std::string& text = "INSERT INTO T VALUES (?)") {
    EXPECT_EQ(SQLParamOptions(stmt, rows, &done), SQL_SUCCESS);
    for (SQLUSMALLINT& s : statuses) s = 99;
    stmt->sqlstate[0] = '\0';
    std::string out = std::to_string(exec_direct(text));
    out += " " + (sqlstate().empty() ? "-" : sqlstate()) + " " + std::to_string(done);
    char last = 0;
    int count = 0;
    auto close_run = [&] {
      if (count > 0) out += " " + std::string(1, last) + std::to_string(count);
    };
    for (SQLULEN i = 0; i < rows; ++i) {
      SQLUSMALLINT s = statuses[i];
      char c = s < 8 ? "SD???EIU"[s] : '-';
      if (c != last) close_run(), last = c, count = 0;
      ++count;
    }
    close_run();
    SQLLEN counted = -99;
    EXPECT_EQ(SQLRowCount(stmt, &counted), SQL_SUCCESS);
    return out + " " + std::to_string(counted);
  }

  int32_t ids[kRows];
  SQLUSMALLINT statuses[kRows];
  SQLULEN done = 0;
};

// The first row goes alone; once its reply shows a statement without a
// result, the next rows go ahead, never more than the window in flight: the
// driver sends nothing more until a reply arrives, then one row for it.
TEST_F(Pipelined, RowsGoAheadWithinTheWindowAfterTheFirstReply) {
  const int rows = kWindow + 6;
  peer.expect_request(kCmdExecute, row(1)).expect_quiet(200).reply("K", execute_payload(0, 1));
  requested(2, kWindow + 1);
  peer.expect_quiet(200);
  replies(1);
  requested(kWindow + 2, kWindow + 2);
  peer.expect_quiet(200);
  replies(kWindow);  // rows 3 .. window + 2
  answered(kWindow + 3, rows);
  EXPECT_EQ(run(rows), "0 - " + std::to_string(rows) + " S" + std::to_string(rows) + " " +
                           std::to_string(rows));
  EXPECT_EQ(peer.finish(), "");
  // Each request is one frame of its own row.
  ASSERT_EQ(peer.requests().size(), static_cast<size_t>(rows));
  for (const ReceivedRequest& r : peer.requests()) EXPECT_EQ(r.frame_lengths.size(), 1u);
}

// Where the rows go one at a time, each request waits for the reply before:
// a first reply in two frames (this server splits replies).
TEST_F(Pipelined, RowsGoOneAtATimeWhereAReplyCouldTakeMoreFrames) {
  auto one_at_a_time = [&](int rows, const Bytes& first_reply, const Bytes& reply) {
    peer.expect_request(kCmdExecute).expect_quiet(200).send_raw(first_reply);
    const bool more = first_reply[7] != 0;  // the more flag of a "K" frame
    if (more) peer.expect_ack().send_raw(frame_bytes(nullptr, be32(1)));
    for (int n = 2; n <= rows; ++n)
      peer.expect_request(kCmdExecute).expect_quiet(200).send_raw(reply);
  };
  const Bytes counted = frame_bytes("K", execute_payload(0, 1));
  one_at_a_time(4, frame_bytes("K", be32(0), 1), counted);
  EXPECT_EQ(run(4), "0 - 4 S4 4");
}

// What ends the link in the middle of an array: the rows whose replies came
// keep their statuses, the oldest row without one fails with the link's
// diagnostic and the counter names it, the rows sent after it may or may not
// have run (D), the rest were not sent.
class LinkEndsMidArray : public Pipelined {
 protected:
  // `end` ends the link while row 6's reply is awaited.
  void fails_the_oldest_row_without_a_reply(const std::function<void()>& end,
                                            const std::string& state) {
    const int sent = 5 + kWindow;
    answered(1, 5);
    requested(6, sent);
    end();
    EXPECT_EQ(run(kRows), "-1 " + state + " 6 S5 E1 D" + std::to_string(sent - 6) + " U" +
                              std::to_string(kRows - sent) + " 5");
    EXPECT_NE(conn->link->lost, 0);
    EXPECT_STREQ(conn->sqlstate, "08S01");
  }
};

TEST_F(LinkEndsMidArray, ServerCloses) {
  fails_the_oldest_row_without_a_reply([&] { peer.close(); }, "08S01");
}

TEST_F(LinkEndsMidArray, NoReplyWithinTheQueryTimeout) {
  fails_the_oldest_row_without_a_reply(
      [&] {
        stmt->query_timeout = 1;
        peer.expect_closed();
      },
      "S1T00");
}

// The server answers each request before it reads the next, with replies as
// large as a frame, while the driver's requests are as large as a frame too,
// over a connection whose buffers hold little more than one of them: the
// driver keeps reading while it sends, so neither side waits for the other
// for good.
TEST_F(Pipelined, BothSocketBuffersFullDoNotDeadlock) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  for (int fd : pair) {
    int small = 24576;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  ScriptedPeer tight(pair[0]);
  ConnectionPtr tight_conn(new Connection{});
  tight_conn->link = link_on_socket(pair[1], nullptr);
  stmt->connection = tight_conn.get();
  stmt->query_timeout = 20;  // a deadlock fails the test instead of hanging it

  const int rows = 2 * kWindow;
  static char values[2 * kWindow][19901];
  for (int i = 0; i < rows; ++i) {
    memset(values[i], 'a' + i % 26, 19900);
    values[i][19900] = '\0';
  }
  std::vector<SQLLEN> lengths(rows, SQL_NTS);
  ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, values,
                             sizeof values[0], lengths.data()),
            SQL_SUCCESS);
  // The first reply shows a statement without a result; the others are
  // warnings of nearly a frame each.
  std::string warning = "W" + std::string(19000, 'w');
  tight.serve([&](int i, const ReceivedRequest& r) {
    bool right = r.payload.size() > 19900 && r.payload[30] == 'a' + i % 26;
    if (!right) return std::make_pair(std::string("Ewrong row"), Bytes{});
    return i == 0 ? std::make_pair(std::string("K"), execute_payload(0, 1))
                  : std::make_pair(warning, Bytes{});
  });
  EXPECT_EQ(run(rows),
            "1 00000 " + std::to_string(rows) + " S1 I" + std::to_string(rows - 1) + " 1");
  EXPECT_EQ(tight.finish(), "");
  stmt->connection = conn.get();
}

}  // namespace
}  // namespace q4::wire
