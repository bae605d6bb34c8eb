// Streaming with bounded memory, many clients at once, authentication, and
// input that must never bring the server down.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "protocol/codec.h"
#include "test_support.h"

namespace q4::test {
namespace {

// A million rows of three columns, generated without any table.
const char* const kMillionRows =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
    "SELECT i, 'row number ' || i, i * 0.25 FROM n";

TEST(Streaming, MillionRowSelectStreamsWithFlatServerMemory) {
  auto server = start_server();
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const Result first = result_of(client->execute(1, kMillionRows));
  ASSERT_EQ(first.trailer, 'M');
  uint64_t rows = first.rows.size();
  int64_t expected_next = static_cast<int64_t>(rows) + 1;
  long rss_early = -1;
  long rss_peak = 0;
  uint64_t blocks = 0;
  std::vector<std::vector<Value>> block;
  for (;;) {
    const Reply reply = client->fetch(1);
    if (reply.letter() == 'W') break;
    ASSERT_EQ(reply.letter(), 'K') << reply.status;
    block.clear();
    char trailer = 0;
    ASSERT_TRUE(parse_block(reply.payload.data(), reply.payload.size(), 3, &block, &trailer));
    ASSERT_EQ(block.front()[0].as_int(), expected_next);  // nothing lost, nothing repeated
    expected_next += static_cast<int64_t>(block.size());
    rows += block.size();
    ++blocks;
    if (blocks == 300) rss_early = server->rss_kib();
    if (blocks % 500 == 0) rss_peak = std::max(rss_peak, server->rss_kib());
    if (trailer == 'W') break;
    ASSERT_EQ(trailer, 'M');
  }
  EXPECT_EQ(rows, 1000000u);
  ASSERT_GT(rss_early, 0);
  // A materialised result would take tens of megabytes; streaming keeps the
  // server where it was after the first few hundred blocks.
  EXPECT_LT(rss_peak - rss_early, 8 * 1024)
      << "RSS grew from " << rss_early << " KiB to " << rss_peak << " KiB";
}

TEST(Concurrency, EightClientsAtOnceEachSeeTheirOwnWork) {
  char dir[] = "/tmp/q4lite-load-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string db = std::string(dir) + "/shared.db";
  auto server = start_server({"--db", db});
  ASSERT_TRUE(server);
  constexpr int kClients = 8;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      Client client;
      if (!client.connect(server->port()) || client.logon().letter() != 'K') {
        ++failures;
        return;
      }
      const std::string table = "t" + std::to_string(c);
      if (client.execute(1, "CREATE TABLE " + table + " (i INTEGER)").letter() != 'K') ++failures;
      for (int round = 0; round < 20; ++round) {
        if (client.execute(2, "INSERT INTO " + table + " VALUES (" + std::to_string(round) + ")")
                .letter() != 'K') {
          ++failures;
        }
      }
      Result first;
      std::vector<std::vector<Value>> rows;
      std::string error;
      if (!client.query(3, "SELECT sum(i), count(*) FROM " + table, &first, &rows, &error) ||
          rows.size() != 1 || rows[0][0].as_int() != 190 || rows[0][1].as_int() != 20) {
        ++failures;
      }
      if (!client.query(4,
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE "
                        "i < 30000) SELECT i FROM n",
                        &first, &rows, &error) ||
          rows.size() != 30000) {
        ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  server.reset();
  std::remove(db.c_str());
  std::remove((db + "-wal").c_str());
  std::remove((db + "-shm").c_str());
  rmdir(dir);
}

TEST(Concurrency, LongQueryDoesNotDelayAnotherLogon) {
  auto server = start_server();
  ASSERT_TRUE(server);
  auto busy = logged_on(*server);
  // A statement that runs for seconds before its first row.
  std::thread slow([&] {
    busy->execute(1,
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < "
                  "30000000) SELECT count(*) FROM n");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto started = std::chrono::steady_clock::now();
  Client other;
  ASSERT_TRUE(other.connect(server->port()));
  EXPECT_EQ(other.logon().letter(), 'K');
  EXPECT_EQ(other.execute(1, "SELECT 1").letter(), 'K');
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::milliseconds(1000));
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
  struct Case {
    const char* user;
    const char* password;
    bool accepted;
  };
  const Case with_users[] = {
      {"alice", "wonder:land", true},
      {"alice", "wonder", false},
      {"bob", "", true},
      {"bob", "x", false},
      {"carol", "", false},
      {"ALICE", "wonder:land", false},
  };
  auto server = start_server({"--users", path});
  ASSERT_TRUE(server);
  for (const Case& c : with_users) {
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    const Reply reply = client.logon(c.user, c.password);
    EXPECT_EQ(reply.letter(), c.accepted ? 'K' : 'E') << c.user << " / " << c.password;
    if (!c.accepted) {
      EXPECT_EQ(reply.status.rfind("ELogon failed", 0), 0u);
      EXPECT_TRUE(client.closed_by_peer(2000));
    }
  }
  // Without --users every user is accepted.
  auto open_server = start_server();
  ASSERT_TRUE(open_server);
  for (const Case& c : with_users) {
    Client client;
    ASSERT_TRUE(client.connect(open_server->port()));
    EXPECT_EQ(client.logon(c.user, c.password).letter(), 'K');
  }
  std::remove(path);
}

TEST(BadInput, DamagedFramesCloseOnlyTheirOwnConnection) {
  auto server = start_server();
  ASSERT_TRUE(server);
  auto healthy = logged_on(*server);
  const std::vector<std::vector<uint8_t>> damaged = {
      {0x00, 0x01},                                            // frame length below the minimum
      {0xFF, 0xFF, 0x07},                                      // longer than any frame
      {0x00, 0x09, 0x07, 0x00, 0x00, 0x05, 0x00, 0x00, 0x41},  // chunk length 5, one byte sent
      {0x00, 0x08, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07},        // command string never ends
      {0x00, 0x08, 0x07, 0x00, 0x60, 0x00, 0x00, 0x00},        // chunk length above 20480
  };
  for (const auto& bytes : damaged) {
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    ASSERT_TRUE(client.send_raw(bytes));
    EXPECT_TRUE(client.closed_by_peer(3000)) << bytes.size();
  }
  // Absurd but well-framed requests get an "E" and the stream goes on.
  auto client = logged_on(*server);
  EXPECT_EQ(client->call(kCmdExecute, {1, 2}).letter(), 'E');
  EXPECT_EQ(client->call(kCmdExecute, std::vector<uint8_t>(100, 0xFF)).letter(), 'E');
  EXPECT_EQ(client->call(kCmdGetData, std::vector<uint8_t>(8, 0)).letter(), 'E');
  EXPECT_EQ(client->execute(1, "SELECT 1").letter(), 'K');
  EXPECT_EQ(healthy->execute(1, "SELECT 2").letter(), 'K');
  EXPECT_EQ(server->stop(), 0);
}

TEST(BadInput, RequestAboveTheLimitIsReadAndRefused) {
  auto server = start_server({"--max-request", "50000"});
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const std::string text = "SELECT '" + std::string(60000, 'a') + "'";
  const Reply reply = client->execute(1, text);
  EXPECT_EQ(reply.letter(), 'E');
  EXPECT_EQ(client->execute(1, "SELECT 1").letter(), 'K');  // still in step
}

TEST(Lifecycle, TooManyConnectionsAreRefusedAtLogon) {
  auto server = start_server({"--max-connections", "2"});
  ASSERT_TRUE(server);
  auto a = logged_on(*server);
  auto b = logged_on(*server);
  Client c;
  ASSERT_TRUE(c.connect(server->port()));
  const Reply refused = c.logon();
  EXPECT_EQ(refused.status, "ELogon failed: too many connections");
  b.reset();  // a place becomes free
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Client d;
  ASSERT_TRUE(d.connect(server->port()));
  EXPECT_EQ(d.logon().letter(), 'K');
}

}  // namespace
}  // namespace q4::test
