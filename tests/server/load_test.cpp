// q4lite as a process: flat memory while streaming, refused logons, damaged
// input that closes only its own connection, escape translation, SQLite's
// messages mapped to server error numbers, the connection limit, and a
// shutdown that interrupts a session inside SQLite. (Requests sent ahead of
// their replies: the parameter arrays of the e2e blocks script and program.)
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol_client.h"
#include "server/translation/escape_translator.h"

namespace q4::test {
namespace {

// One server and logged-on client, started on first use, for tests that leave it running.
struct Shared {
  std::unique_ptr<ServerProcess> server = start_server();
  Client client;
  bool ready = server && client.connect(server->port(), true);
  static Shared& get() {
    static Shared s;
    return s;
  }
};

TEST(Streaming, FlatServerMemoryAndAbsoluteFetchesIntoTheBlockBuiltAhead) {
  auto& [server, client, ready] = Shared::get();
  ASSERT_TRUE(ready);
  char trailer = 0;
  const auto sql = numbers(1000000, "i, 'row number ' || i, i * 0.25");
  int rows = static_cast<int>(rows_of(client.execute(10, sql), 0, &trailer).size());
  long rss_early = -1, rss_peak = 0;
  for (int blocks = 1; trailer == 'M'; ++blocks) {
    const Rows block = rows_of(client.fetch(10), 3, &trailer);
    if (block.empty()) break;
    ASSERT_EQ(block.front()[0], rows + 1);  // nothing lost, nothing repeated
    rows += static_cast<int>(block.size());
    if (blocks == 300) rss_early = server->rss_kib();
    if (blocks % 500 == 0) rss_peak = std::max(rss_peak, server->rss_kib());
  }
  EXPECT_EQ(rows, 1000000);
  EXPECT_EQ(trailer, 'W');
  ASSERT_GT(rss_early, 0);
  // A materialised result would take tens of megabytes.
  EXPECT_LT(rss_peak - rss_early, 8 * 1024) << "RSS " << rss_early << " -> " << rss_peak << " KiB";
  // The server builds the next block while the client reads one: an absolute
  // fetch landing inside it starts at its row, and the stream goes on gaplessly.
  const auto target = static_cast<uint32_t>(rows_of(client.execute(11, numbers(9000))).size() + 5);
  const Rows at = rows_of(client.fetch(11, target), 1), next = rows_of(client.fetch(11), 1),
             again = rows_of(client.fetch(11, 0), 1);
  ASSERT_TRUE(!at.empty() && !next.empty() && !again.empty());
  EXPECT_EQ(at.front()[0], static_cast<int>(target));
  EXPECT_EQ(next.front()[0], at.back()[0] + 1);
  EXPECT_EQ(again.front()[0], 1);  // row 0 is row 1
}

// The password is everything after the user's first colon; "nopw:" is an
// account whose password is empty.
TEST(Authentication, RefusedLogonsAreAnsweredAndClosed) {
  auto server = start_server({"--data-dir", "."}, "# users\n\ntester:se:cret\nnopw:\n");
  ASSERT_TRUE(server);
  const std::pair<const char*, const char*> refused[] = {
      // the logon request, why refused
      {"localhost,vm,tester,se:cret,../etc,acpw,", "account outside the data folder"},
      {"only,three,fields,", "malformed logon"},
      {"localhost,vm,nopw,x,main,acpw,", "a password for a user who has none"},
  };
  for (const auto& [text, why] : refused) {
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    const Reply reply = client.call(kCmdLogon, bytes(text));
    EXPECT_EQ(reply.status.rfind("ELogon failed", 0), 0u) << why << ": " << reply.status;
    EXPECT_TRUE(client.closed_by_peer(2000)) << why;
  }
  // Before a logon nothing runs; after it the account may not leave the folder either.
  Client client;
  ASSERT_TRUE(client.connect(server->port()));
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'E');
  EXPECT_EQ(client.logon("tester,se:cret,main").letter(), 'K');
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'K');
  EXPECT_EQ(client.call(kCmdAccount, bytes("../x,")).letter(), 'E');
}

TEST(BadInput, DamagedFramesCloseOnlyTheirOwnConnection) {
  auto server = start_server({"--max-request", "50000"});
  ASSERT_TRUE(server);
  Client healthy, client;
  ASSERT_TRUE(healthy.connect(server->port(), true));
  const std::vector<std::vector<uint8_t>> damaged = {
      {0x00, 0x01},                                            // frame length below the minimum
      {0xFF, 0xFF, 0x07},                                      // longer than any frame
      {0x00, 0x09, 0x07, 0x00, 0x00, 0x05, 0x00, 0x00, 0x41},  // chunk length 5, one byte sent
      {0x00, 0x08, 0x07, 0x00, 0x60, 0x00, 0x00, 0x00},        // chunk length above 20480
      {0x00, 0x0A, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x41, 0x42},  // a byte after the chunk
      {0x00, 0x08, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07},              // the command never ends
  };
  for (const auto& frame : damaged) {
    Client damaging;
    ASSERT_TRUE(damaging.connect(server->port()) && damaging.send_raw(frame));
    EXPECT_TRUE(damaging.closed_by_peer(3000)) << frame.size();
  }
  // Well-framed but absurd requests, and one above the request limit (read
  // whole and dropped), get an "E" and the stream goes on.
  ASSERT_TRUE(client.connect(server->port(), true));
  const std::pair<uint8_t, std::vector<uint8_t>> absurd[] = {
      {kCmdExecute, {1, 2}},                           // shorter than a statement id
      {kCmdExecute, std::vector<uint8_t>(100, 0xFF)},  // text never ends
      {kCmdExecute,
       {0, 0, 0, 1, 'X', 0, '5', 0, 'a', 0, 0}},   // binary block shorter than its count
      {kCmdGetData, std::vector<uint8_t>(8, 0)},   // no such statement
      {kCmdFetch, {0, 0, 0, 1, 'B'}},              // no such fetch form
      {kCmdConnectOptions, bytes("105")},          // no such isolation level
      {kCmdTables, {0, 0, 0, 7, '%', 0, '%', 0}},  // catalog strings missing
  };
  for (const auto& [command, payload] : absurd)
    EXPECT_EQ(client.call(command, payload).letter(), 'E') << int(command);
  const Reply info = client.call(kCmdServerInfo, {1, 2, 3});
  EXPECT_EQ(info.letter(), 'E');
  EXPECT_LT(info.status.size(), 16u);  // the driver's status area for this reply
  EXPECT_EQ(error_number(client.call(0x7F, {1, 2, 3})), 98);
  EXPECT_EQ(client.execute(1, "SELECT '" + std::string(60000, 'a') + "'").letter(), 'E');
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'K');
  EXPECT_EQ(healthy.execute(1, "SELECT 2").letter(), 'K');
  EXPECT_EQ(server->stop(), 0);
}

TEST(Statements, EscapeTranslationPlacesBinaryBlocks) {
  std::string blocks, error;
  // Binary blocks replace the first bare 0xN markers, as many as were sent.
  EXPECT_TRUE(
      lite::translate_escapes("VALUES (0x0, '0x1', a0x1, 0x1F, 0x1, 0x2)", 2, &blocks, &error));
  EXPECT_EQ(blocks, "VALUES (:q4b0, '0x1', a0x1, 0x1F, :q4b1, 0x2)");
}

TEST(Statements, SqliteMessagesCarryTheFittingServerErrorNumber) {
  auto& [server, client, ready] = Shared::get();
  ASSERT_TRUE(ready);
  ASSERT_EQ(client
                .execute(1,
                         "CREATE TABLE e (k INTEGER PRIMARY KEY, u VARCHAR(5) NOT NULL); "
                         "CREATE TABLE e2 (k INTEGER); CREATE VIEW ev AS SELECT k FROM e")
                .status,
            "K");
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"SELECT * FROM missing_table", 3}, {"SELECT nocolumn FROM e", 0},
      {"SELECT k FROM e, e2", 2}, {"SELEKT 1", 26},
      {"CREATE TABLE e (a)", 51}, {"INSERT INTO e VALUES (2, NULL)", 70},
      {"INSERT INTO e2 VALUES (1, 2)", 36}, {"DROP TABLE ev", 96},
      {"SELECT abs(1, 2)", 19},
  };
  // clang-format on
  for (const auto& [sql, number] : cases)
    EXPECT_EQ(error_number(client.execute(4, sql)), number) << sql;
  EXPECT_EQ(client.execute(4, "SELECT * FROM missing_table").status,
            "E3 no such table: missing_table");  // SQLite's own message after the number
  std::string deep = "SELECT ";
  for (int i = 0; i < 10000; ++i) deep += "{oj ";
  EXPECT_EQ(error_number(client.execute(4, deep)), 26);  // refused, not recursed into
  EXPECT_NE(client.execute(4, "{call p(?)}").status.find("no stored procedures"),
            std::string::npos);
  // The sleep function for tests of waits and cancels exists only when asked for.
  EXPECT_EQ(client.execute(4, "SELECT q4_sleep(1)").letter(), 'E');
}

// q4lite with room for one connection: the second is answered at its logon
// with the session's refusal while the first works on; past twice the limit a
// connection is closed unanswered. Once the first has gone, there is room.
TEST(Listener, ConnectionsPastTheLimitAreRefusedAtLogon) {
  auto server = start_server({"--max-connections", "1"});
  ASSERT_TRUE(server);
  Client first;
  ASSERT_TRUE(first.connect(server->port(), true));
  auto second = std::make_unique<Client>();
  ASSERT_TRUE(second->connect(server->port()));
  Client third;
  ASSERT_TRUE(third.connect(server->port()));
  EXPECT_TRUE(third.closed_by_peer(3000));
  EXPECT_EQ(second->logon().status, "ELogon failed: too many connections");
  EXPECT_TRUE(second->closed_by_peer(3000));
  EXPECT_EQ(first.execute(1, "SELECT 1").letter(), 'K');
  second.reset();
  first.call(kCmdDisconnect, {});
  bool room = false;
  for (int attempt = 0; attempt < 100 && !room; ++attempt) {  // the first's thread ends soon
    Client later;
    room = later.connect(server->port()) && later.logon().letter() == 'K';
    if (!room) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(room);
}

// SIGTERM while a statement runs without end: the session's SQLite call is
// interrupted and q4lite exits with status 0.
TEST(Listener, StopInterruptsARunningStatement) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port(), true));
  ASSERT_TRUE(client.send(
      kCmdExecute,
      Client::execute_payload(1,
                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                              "SELECT count(*) FROM n")));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(server->stop(), 0);  // a server that does not stop hits the test's time limit
}

}  // namespace
}  // namespace q4::test
