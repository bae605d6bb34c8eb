// q4lite as a process: flat memory while streaming, many clients at once,
// refused logons, the connection limit, damaged input that must close only its
// own connection; and SQL in, values and "E" replies out: the wire type a
// stored value travels in, what the escape functions compute, and SQLite's
// real messages mapped to server error numbers (one row per rule).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/codec.h"
#include "protocol_client.h"
#include "server/escape_translator.h"

namespace q4::test {
namespace {

// One server and logged-on client, started on first use, for tests that leave it running.
struct Shared {
  std::unique_ptr<ServerProcess> server = start_server();
  std::unique_ptr<Client> client = server ? logged_on(*server) : std::make_unique<Client>();
};
Shared& shared() {
  static Shared s;
  return s;
}

TEST(Streaming, MillionRowSelectStreamsWithFlatServerMemory) {
  auto& [server, client] = shared();
  ASSERT_TRUE(server);
  char trailer = 0;
  const auto sql = numbers(1000000, "i, 'row number ' || i, i * 0.25");
  int rows = static_cast<int>(rows_of(client->execute(10, sql), 0, &trailer).size());
  long rss_early = -1, rss_peak = 0;
  for (int blocks = 1; trailer == 'M'; ++blocks) {
    const Rows block = rows_of(client->fetch(10), 3, &trailer);
    if (block.empty()) break;
    ASSERT_EQ(block.front()[0].as_int(), rows + 1);  // nothing lost, nothing repeated
    rows += static_cast<int>(block.size());
    if (blocks == 300) rss_early = server->rss_kib();
    if (blocks % 500 == 0) rss_peak = std::max(rss_peak, server->rss_kib());
  }
  EXPECT_EQ(rows, 1000000);
  EXPECT_EQ(trailer, 'W');
  ASSERT_GT(rss_early, 0);
  // A materialised result would take tens of megabytes.
  EXPECT_LT(rss_peak - rss_early, 8 * 1024) << "RSS " << rss_early << " -> " << rss_peak << " KiB";
}

TEST(Concurrency, EightClientsAtOnceEachSeeTheirOwnWork) {
  auto server = start_server({"--db", "shared.db"});
  ASSERT_TRUE(server);
  std::vector<std::thread> threads;
  for (int c = 0; c < 8; ++c) {
    threads.emplace_back([&, c] {
      Client client;
      const std::string t = "t" + std::to_string(c);
      EXPECT_TRUE(client.connect(server->port()) && client.logon().letter() == 'K');
      EXPECT_EQ(client.execute(1, "CREATE TABLE " + t + " (i INTEGER)").letter(), 'K');
      for (int round = 0; round < 20; ++round) {
        const std::string insert = "INSERT INTO " + t + " VALUES (" + std::to_string(round) + ")";
        EXPECT_EQ(client.execute(2, insert).letter(), 'K');
      }
      const Rows rows = rows_of(client.execute(3, "SELECT sum(i), count(*) FROM " + t));
      EXPECT_TRUE(rows.size() == 1 && rows[0][0].as_int() == 190 && rows[0][1].as_int() == 20);
    });
  }
  for (auto& t : threads) t.join();
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
  Client& client = *shared().client;
  const auto target = static_cast<uint32_t>(rows_of(client.execute(11, numbers(9000))).size() + 5);
  const Rows rows = rows_of(client.fetch(11, target), 1);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front()[0].as_int(), static_cast<int>(target));
  const Rows next = rows_of(client.fetch(11), 1);
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next.front()[0].as_int(), rows.back()[0].as_int() + 1);
  const Rows again = rows_of(client.fetch(11, 0), 1);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front()[0].as_int(), 1);  // row 0 is row 1
}

// The password is everything after the user's first colon.
TEST(Authentication, RefusedLogonsAreAnsweredAndClosed) {
  auto server = start_server({"--data-dir", "."}, "# users\n\ntester:se:cret\n");
  ASSERT_TRUE(server);
  const std::pair<const char*, const char*> refused[] = {
      // the logon request, why refused
      {"localhost,vm,tester,se,main,acpw,", "wrong password"},
      {"localhost,vm,TESTER,se:cret,main,acpw,", "user names keep their case"},
      {"localhost,vm,tester,se:cret,../etc,acpw,", "account outside the data folder"},
      {"only,three,fields,", "malformed logon"},
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
  EXPECT_EQ(client.logon("tester", "se:cret", "main").letter(), 'K');
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'K');
  EXPECT_EQ(client.call(kCmdAccount, bytes("../x,")).letter(), 'E');
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
      {0x00, 0x0A, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x41, 0x42},  // a byte after the chunk
      {0x00, 0x08, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07},              // the command never ends
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
      {kCmdExecute, {0, 0, 0, 1, 'S', 0}},             // no trailer after the text
      {kCmdExecute,
       {0, 0, 0, 1, 'X', 0, '5', 0, 'a', 0, 0}},  // binary block shorter than its count
      {kCmdGetData, std::vector<uint8_t>(8, 0)},  // no such statement
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

void run(const std::string& sql) {
  const Reply r = shared().client->execute(1, sql);
  ASSERT_EQ(r.letter(), 'K') << sql << ": " << r.status;
}
// The single value `expression` selects.
Value select(const std::string& expression) {
  const Rows r = rows_of(shared().client->execute(2, "SELECT " + expression));
  if (r.size() == 1 && r[0].size() == 1) return r[0][0];
  ADD_FAILURE() << expression << ": no single value";
  return Value{};
}

TEST(Statements, StoredValuesTravelInTheirColumnsWireType) {
  run("CREATE TABLE every_type (i INTEGER, s SMALLINT, v VARCHAR(30), n NUMERIC(9,3), "
      "bi BIGINT, d DATE, untyped)");
  // clang-format off
  const struct { const char *column, *literal; int16_t type; const char* text; } cases[] = {
      {"i", "-2147483648", kSqlInteger, "-2147483648"},
      {"i", "4294967296", kSqlNumeric, "4294967296"},  // too wide: decimal text
      {"s", "40000", kSqlInteger, "40000"},
      {"v", "12", kSqlVarchar, "12"},  // text affinity stores text
      {"n", "-12.3456", kSqlNumeric, "-12.346"},  // the column's scale
      {"bi", "9007199254740993", kSqlNumeric, "9007199254740993"},  // not via double
      {"d", "'2024-02-29 13:14:15'", kSqlDate, "2024-02-29"},
      {"d", "'yesterday'", kSqlVarchar, "yesterday"},
      {"untyped", "5", kSqlInteger, "5"},
      {"untyped", "NULL", static_cast<int16_t>(kNullValueType), ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " = " + c.literal);
    run("DELETE FROM every_type");
    run(std::string("INSERT INTO every_type (") + c.column + ") VALUES (" + c.literal + ")");
    const Value v = select(std::string(c.column) + " FROM every_type");
    EXPECT_EQ(v.type, static_cast<uint16_t>(c.type));
    EXPECT_EQ(v.type == kSqlInteger ? std::to_string(v.as_int()) : v.data, c.text);
  }
}

TEST(Statements, EscapeFunctionsComputeTheOdbcResult) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {  // the value as text
      {"{d '2024-03-05'}", "2024-03-05"}, {"{fn RIGHT('abc', 0)}", ""},
      {"{fn LENGTH('abc  ')}", "3"},  // trailing blanks do not count
      {"{fn LOCATE('c', 'abcabc', 4)}", "6"}, {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"},
      {"{fn DAYOFWEEK({d '2024-03-05'})}", "3"},  // a Tuesday, Sunday being 1
      {"{fn DAYNAME({d '2024-03-05'})}", "Tuesday"}, {"{fn USER()}", "tester"},
      {"{fn CONVERT('42', SQL_INTEGER)}", "42"}, {"{fn UCASE({fn LEFT('nested', 3)})}", "NES"},
  };
  // clang-format on
  for (const auto& [expression, text] : cases) {
    const Value v = select(expression);
    const bool integer = v.type == kSqlInteger || v.type == kSqlSmallint;
    EXPECT_EQ(integer ? std::to_string(v.as_int()) : v.data, text) << expression;
  }
  run("CREATE TABLE l (k INTEGER, v VARCHAR(9)); CREATE TABLE r (k INTEGER); "
      "INSERT INTO l VALUES (1,'a_b'),(2,'axb'); INSERT INTO r VALUES (1)");
  EXPECT_EQ(
      select("count(*) FROM {oj l LEFT OUTER JOIN r ON l.k = r.k} WHERE r.k IS NULL").as_int(), 1);
  EXPECT_EQ(select("count(*) FROM l WHERE v LIKE 'a\\_b' {escape '\\'}").as_int(), 1);
  EXPECT_EQ(select("'{fn x}' -- {oj\n").data, "{fn x}");  // literals and comments stay as they are
  // Binary blocks replace the first bare 0xN markers, as many as were sent.
  std::string out, error;
  EXPECT_TRUE(
      lite::translate_escapes("VALUES (0x0, '0x1', a0x1, 0x1F, 0x1, 0x2)", 2, &out, &error));
  EXPECT_EQ(out, "VALUES (:q4b0, '0x1', a0x1, 0x1F, :q4b1, 0x2)");
}

TEST(Statements, SqliteMessagesCarryTheFittingServerErrorNumber) {
  run("CREATE TABLE e (k INTEGER PRIMARY KEY, u VARCHAR(5) UNIQUE NOT NULL); "
      "CREATE TABLE e2 (k INTEGER); CREATE INDEX e_u ON e(u); CREATE VIEW ev AS SELECT k FROM e");
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"SELECT * FROM missing_table", 3}, {"SELECT nocolumn FROM e", 0},
      {"SELECT k FROM e, e2", 2}, {"SELEKT 1", 26},
      {"CREATE TABLE e (a)", 51}, {"CREATE INDEX e_u ON e(u)", 40},
      {"DROP INDEX no_such_index", 41}, {"INSERT INTO e VALUES (2, NULL)", 70},
      {"INSERT INTO e VALUES (3, 'a'), (4, 'a')", 70},
      {"ALTER TABLE e ADD COLUMN u INTEGER", 64}, {"INSERT INTO e2 VALUES (1, 2)", 36},
      {"SELECT 1 UNION SELECT 1, 2", 5}, {"DROP TABLE ev", 96}, {"SELECT {fn NOSUCH(1)}", 98},
      {"SELECT no_such_function(1)", 98}, {"SELECT {xyz 1}", 26},
      {"SELECT {fn UCASE('a')", 26}, {"SELECT abs(1, 2)", 19}, {"SELECT ? + 1", 19},
  };
  // clang-format on
  for (const auto& [sql, number] : cases) {
    const Reply reply = shared().client->execute(4, sql);
    EXPECT_EQ(error_number(reply), number) << sql << " -> " << reply.status;
  }
  EXPECT_EQ(shared().client->execute(4, "SELECT * FROM missing_table").status,
            "E3 no such table: missing_table");  // SQLite's own message after the number
  std::string deep = "SELECT ";
  for (int i = 0; i < 10000; ++i) deep += "{oj ";
  EXPECT_EQ(error_number(shared().client->execute(4, deep)), 26);  // refused, not recursed into
}

// An error from a row after the first surfaces as the trailing status of a
// block, or as the "E" of a later fetch.
TEST(Statements, ErrorWhileStreamingEndsTheBlockWithE) {
  Client& client = *shared().client;
  Reply reply = client.execute(
      5, numbers(5000,
                 "CASE WHEN i < 4000 THEN i ELSE abs((-9223372036854775807 - 1) * (i / i)) END"));
  char trailer = 0;
  rows_of(reply, 0, &trailer);
  while (trailer == 'M' && (reply = client.fetch(5)).letter() == 'K') rows_of(reply, 1, &trailer);
  EXPECT_TRUE(trailer == 'E' || reply.letter() == 'E') << reply.status;
}

}  // namespace
}  // namespace q4::test
