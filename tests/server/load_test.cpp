// Streaming with flat memory, many clients at once, authentication, limits,
// and damaged input that must close only its own connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "protocol_client.h"

namespace q4::test {
namespace {

std::string numbers(int last, const char* columns = "i") {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(last) + ") SELECT " + columns + " FROM n";
}

TEST(Streaming, MillionRowSelectStreamsWithFlatServerMemory) {
  auto server = start_server();
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const Result first =
      result_of(client->execute(1, numbers(1000000, "i, 'row number ' || i, i * 0.25")));
  ASSERT_EQ(first.trailer, 'M');
  int64_t rows = static_cast<int64_t>(first.rows.size());
  long rss_early = -1, rss_peak = 0;
  Rows block;
  for (int blocks = 1;; ++blocks) {
    const Reply reply = client->fetch(1);
    if (reply.letter() == 'W') break;
    block.clear();
    char trailer = 0;
    ASSERT_TRUE(parse_block(reply.payload, 3, &block, &trailer)) << reply.status;
    ASSERT_EQ(block.front()[0].as_int(), rows + 1);  // nothing lost, nothing repeated
    rows += static_cast<int64_t>(block.size());
    if (blocks == 300) rss_early = server->rss_kib();
    if (blocks % 500 == 0) rss_peak = std::max(rss_peak, server->rss_kib());
    if (trailer == 'W') break;
    ASSERT_EQ(trailer, 'M');
  }
  EXPECT_EQ(rows, 1000000);
  ASSERT_GT(rss_early, 0);
  // A materialised result would take tens of megabytes; streaming keeps the
  // server where it was after the first few hundred blocks.
  EXPECT_LT(rss_peak - rss_early, 8 * 1024) << "RSS " << rss_early << " -> " << rss_peak << " KiB";
}

TEST(Concurrency, EightClientsAtOnceEachSeeTheirOwnWork) {
  char dir[] = "/tmp/q4lite-load-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  auto server = start_server({"--db", std::string(dir) + "/shared.db"});
  ASSERT_TRUE(server);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < 8; ++c) {
    threads.emplace_back([&, c] {
      Client client;
      const std::string table = "t" + std::to_string(c);
      bool ok = client.connect(server->port()) && client.logon().letter() == 'K' &&
                client.execute(1, "CREATE TABLE " + table + " (i INTEGER)").letter() == 'K';
      for (int round = 0; ok && round < 20; ++round) {
        ok = client.execute(2, "INSERT INTO " + table + " VALUES (" + std::to_string(round) + ")")
                 .letter() == 'K';
      }
      Result first;
      Rows rows;
      std::string error;
      ok = ok && client.query(3, "SELECT sum(i), count(*) FROM " + table, &first, &rows, &error) &&
           rows.size() == 1 && rows[0][0].as_int() == 190 && rows[0][1].as_int() == 20;
      ok = ok && client.query(4, numbers(30000), &first, &rows, &error) && rows.size() == 30000;
      if (!ok) ++failures;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  server.reset();
  std::filesystem::remove_all(dir);
}

TEST(Concurrency, LongQueryDoesNotDelayAnotherLogon) {
  auto server = start_server();
  ASSERT_TRUE(server);
  auto busy = logged_on(*server);
  // A statement that runs for seconds before its first row.
  std::thread slow([&] { busy->execute(1, numbers(30000000, "count(*)")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto started = std::chrono::steady_clock::now();
  Client other;
  ASSERT_TRUE(other.connect(server->port()));
  EXPECT_EQ(other.logon().letter(), 'K');
  EXPECT_EQ(other.execute(1, "SELECT 1").letter(), 'K');
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
  // Shutting down interrupts the running statement: the server still exits cleanly.
  EXPECT_EQ(server->stop(), 0);
  slow.join();
}

TEST(Authentication, OnlyListedUsersWithTheirPasswordLogOn) {
  char path[] = "/tmp/q4lite-users-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "# users\nalice:wonder:land\n\nbob:\n";
  const struct {
    const char *user, *password;
    bool accepted;
  } cases[] = {{"alice", "wonder:land", true},
               {"alice", "wonder", false},
               {"bob", "", true},
               {"bob", "x", false},
               {"carol", "", false},
               {"ALICE", "wonder:land", false}};
  auto server = start_server({"--users", path});
  auto open_server = start_server();  // without --users every user is accepted
  ASSERT_TRUE(server && open_server);
  for (const auto& c : cases) {
    Client client, open_client;
    ASSERT_TRUE(client.connect(server->port()) && open_client.connect(open_server->port()));
    const Reply reply = client.logon(c.user, c.password);
    EXPECT_EQ(reply.letter(), c.accepted ? 'K' : 'E') << c.user << " / " << c.password;
    if (!c.accepted) {
      EXPECT_EQ(reply.status.rfind("ELogon failed", 0), 0u);
      EXPECT_TRUE(client.closed_by_peer(2000));
    }
    EXPECT_EQ(open_client.logon(c.user, c.password).letter(), 'K');
  }
  std::remove(path);
}

TEST(BadInput, DamagedFramesCloseOnlyTheirOwnConnection) {
  auto server = start_server({"--max-request", "50000"});
  ASSERT_TRUE(server);
  auto healthy = logged_on(*server);
  const std::vector<std::vector<uint8_t>> damaged = {
      {0x00, 0x01},                                            // frame length below the minimum
      {0xFF, 0xFF, 0x07},                                      // longer than any frame
      {0x00, 0x09, 0x07, 0x00, 0x00, 0x05, 0x00, 0x00, 0x41},  // chunk length 5, one byte sent
      {0x00, 0x08, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07},        // command string never ends
      {0x00, 0x08, 0x07, 0x00, 0x60, 0x00, 0x00, 0x00},        // chunk length above 20480
  };
  for (const auto& frame : damaged) {
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    ASSERT_TRUE(client.send_raw(frame));
    EXPECT_TRUE(client.closed_by_peer(3000)) << frame.size();
  }
  // Absurd but well-framed requests, and one above the request limit (read
  // whole and dropped), get an "E" and the stream goes on.
  auto client = logged_on(*server);
  EXPECT_EQ(client->call(kCmdExecute, {1, 2}).letter(), 'E');
  EXPECT_EQ(client->call(kCmdExecute, std::vector<uint8_t>(100, 0xFF)).letter(), 'E');
  EXPECT_EQ(client->call(kCmdGetData, std::vector<uint8_t>(8, 0)).letter(), 'E');
  EXPECT_EQ(client->execute(1, "SELECT '" + std::string(60000, 'a') + "'").letter(), 'E');
  EXPECT_EQ(client->execute(1, "SELECT 1").letter(), 'K');
  EXPECT_EQ(healthy->execute(1, "SELECT 2").letter(), 'K');
  EXPECT_EQ(server->stop(), 0);
}

TEST(Lifecycle, TooManyConnectionsAreRefusedAtLogon) {
  auto server = start_server({"--max-connections", "2"});
  ASSERT_TRUE(server);
  auto a = logged_on(*server);
  auto b = logged_on(*server);
  Client c, d;
  ASSERT_TRUE(c.connect(server->port()));
  EXPECT_EQ(c.logon().status, "ELogon failed: too many connections");
  b.reset();  // a place becomes free
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(d.connect(server->port()));
  EXPECT_EQ(d.logon().letter(), 'K');
}

}  // namespace
}  // namespace q4::test
