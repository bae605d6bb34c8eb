// q4lite as a process: flat memory while streaming, many clients at once,
// refused logons, the connection limit, and damaged input that must close
// only its own connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "protocol/codec.h"
#include "protocol_client.h"

namespace q4::test {
namespace {

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
  // A materialised result would take tens of megabytes.
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
      Rows rows;
      ok = ok && client.query(3, "SELECT sum(i), count(*) FROM " + table, &rows) &&
           rows.size() == 1 && rows[0][0].as_int() == 190 && rows[0][1].as_int() == 20;
      ok = ok && client.query(4, numbers(30000), &rows) && rows.size() == 30000;
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

// The server builds the next block while the client reads the first one; an
// absolute fetch landing inside it must start at its row, and the stream go on
// after it without a gap.
TEST(Concurrency, AbsoluteFetchIntoTheBlockBuiltAheadSkipsNoRow) {
  auto server = start_server();
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const Result first = result_of(client->execute(1, numbers(9000)));
  const uint32_t target = static_cast<uint32_t>(first.rows.size()) + 5;
  Rows rows;
  char trailer = 0;
  ASSERT_TRUE(parse_block(client->fetch_absolute(1, target).payload, 1, &rows, &trailer));
  EXPECT_EQ(rows.front()[0].as_int(), static_cast<int>(target));
  const int last = rows.back()[0].as_int();
  rows.clear();
  ASSERT_TRUE(parse_block(client->fetch(1).payload, 1, &rows, &trailer));
  EXPECT_EQ(rows.front()[0].as_int(), last + 1);
  rows.clear();
  ASSERT_TRUE(parse_block(client->fetch_absolute(1, 0).payload, 1, &rows, &trailer));
  EXPECT_EQ(rows.front()[0].as_int(), 1);  // row 0 is row 1
}

TEST(Authentication, RefusedLogonsAreAnsweredAndClosed) {
  char dir[] = "/tmp/q4lite-auth-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string users = std::string(dir) + "/users";
  std::ofstream(users) << "tester:secret\n";
  auto server = start_server({"--users", users, "--data-dir", std::string(dir) + "/data"});
  ASSERT_TRUE(server);
  const struct {
    std::string text;  // the logon request
    const char* why;
  } refused[] = {
      {"localhost,vm,tester,wrong,main,acpw,", "wrong password"},
      {"localhost,vm,tester,secret,../etc,acpw,", "account outside the data folder"},
      {"only,three,fields,", "malformed logon"},
  };
  for (const auto& c : refused) {
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    const Reply reply = client.call(kCmdLogon, bytes(c.text));
    EXPECT_EQ(reply.status.rfind("ELogon failed", 0), 0u) << c.why << ": " << reply.status;
    EXPECT_TRUE(client.closed_by_peer(2000)) << c.why;
  }
  // Before a logon nothing runs; after it the account may not leave the folder either.
  Client client;
  ASSERT_TRUE(client.connect(server->port()));
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'E');
  EXPECT_EQ(client.logon("tester", "secret", "main").letter(), 'K');
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'K');
  EXPECT_EQ(client.call(kCmdAccount, bytes("../x,")).letter(), 'E');
  server.reset();
  std::filesystem::remove_all(dir);
}

TEST(BadInput, DamagedFramesCloseOnlyTheirOwnConnection) {
  auto server = start_server({"--max-request", "50000"});
  ASSERT_TRUE(server);
  auto healthy = logged_on(*server);
  const std::vector<std::vector<uint8_t>> damaged = {
      {0x00, 0x01},                                            // frame length below the minimum
      {0xFF, 0xFF, 0x07},                                      // longer than any frame
      {0x00, 0x09, 0x07, 0x00, 0x00, 0x05, 0x00, 0x00, 0x41},  // chunk length 5, one byte sent
      {0x00, 0x08, 0x07, 0x00, 0x60, 0x00, 0x00, 0x00},        // chunk length above 20480
  };
  for (const auto& frame : damaged) {
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    ASSERT_TRUE(client.send_raw(frame));
    EXPECT_TRUE(client.closed_by_peer(3000)) << frame.size();
  }
  // Well-framed but absurd requests, and one above the request limit (read
  // whole and dropped), get an "E" and the stream goes on.
  auto client = logged_on(*server);
  const std::pair<uint8_t, std::vector<uint8_t>> absurd[] = {
      {0x09, {}},                                      // no such command
      {kCmdExecute, {1, 2}},                           // shorter than a statement id
      {kCmdExecute, std::vector<uint8_t>(100, 0xFF)},  // text never ends
      {kCmdGetData, std::vector<uint8_t>(8, 0)},       // no such statement
      {kCmdFetch, {0, 0}},
      {kCmdFetch, {0, 0, 0, 1, 'B'}},              // no such fetch form
      {kCmdConnectOptions, bytes("105")},          // no such isolation level
      {kCmdTables, {0, 0, 0, 7, '%', 0, '%', 0}},  // catalog strings missing
  };
  for (const auto& [command, payload] : absurd) {
    EXPECT_EQ(client->call(command, payload).letter(), 'E') << int(command);
  }
  const Reply info = client->call(kCmdServerInfo, {1, 2, 3});
  EXPECT_EQ(info.letter(), 'E');
  EXPECT_LT(info.status.size(), 16u);  // the driver's status area for this reply
  EXPECT_EQ(error_number(client->call(0x7F, {1, 2, 3})), 98);
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
