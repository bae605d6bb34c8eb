// Each command of the protocol against a running q4lite.
#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/codec.h"
#include "test_support.h"

namespace q4::test {
namespace {

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = start_server({"--db", ":memory:"});
    ASSERT_TRUE(server_);
    client_ = logged_on(*server_);
  }
  Reply run(const std::string& sql, uint32_t id = 1) { return client_->execute(id, sql); }

  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<Client> client_;
};

TEST(Logon, ReplyCarriesVersionBytesAndTheCapabilityByte) {
  struct Case {
    std::vector<std::string> args;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {{}, {7, 1, 0, 0, 3}},
      {{"--flags", "1"}, {7, 1, 0, 0, 1}},
      {{"--flags", "0", "--logon-bytes", "5"}, {7, 1, 0, 0, 0}},
      {{"--logon-bytes", "4"}, {7, 1, 0, 0}},
      {{"--logon-bytes", "3"}, {7, 1, 0}},
      {{"--logon-bytes", "0"}, {}},
  };
  for (const Case& c : cases) {
    auto server = start_server(c.args);
    ASSERT_TRUE(server);
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    const Reply reply = client.logon();
    EXPECT_EQ(reply.status, "K");
    EXPECT_EQ(reply.payload, c.expected) << c.args.size();
  }
}

TEST(Logon, AcceptsTheNumericMarksItemContainingTheSeparator) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port()));
  const std::string text = "host,vm,user,pw,acct,acpw,\"$/,/.\",";
  EXPECT_EQ(client.call(kCmdLogon, std::vector<uint8_t>(text.begin(), text.end())).letter(), 'K');
}

TEST(Logon, MalformedTextIsRefusedAndTheConnectionClosed) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port()));
  const std::string text = "only,three,fields,";
  const Reply reply = client.call(kCmdLogon, std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_EQ(reply.status.rfind("ELogon failed", 0), 0u) << reply.status;
  EXPECT_TRUE(client.closed_by_peer(2000));
}

TEST(Logon, RequestsBeforeLogonAreRefusedInStep) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port()));
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'E');
  EXPECT_EQ(client.logon().letter(), 'K');
  EXPECT_EQ(client.execute(1, "SELECT 1").letter(), 'K');
}

TEST_F(Commands, DmlReportsChangedRowsAndDdlReportsNone) {
  struct Step {
    const char* sql;
    uint32_t rows;
  };
  const Step steps[] = {
      {"CREATE TABLE t (a INTEGER, b VARCHAR(10))", 0},
      {"INSERT INTO t VALUES (1,'x'),(2,'y'),(3,'z')", 3},
      {"UPDATE t SET b = 'w' WHERE a >= 2", 2},
      {"UPDATE t SET b = 'v' WHERE a > 100", 0},
      {"CREATE INDEX t_a ON t(a)", 0},
      {"DELETE FROM t WHERE a = 1", 1},
      {"DELETE FROM t", 2},
  };
  for (const Step& s : steps) {
    const Result r = result_of(run(s.sql));
    EXPECT_EQ(r.column_count, 0u) << s.sql;
    EXPECT_EQ(r.row_count, s.rows) << s.sql;
  }
}

TEST_F(Commands, SeveralStatementsInOneTextRunInOrder) {
  const Result r = result_of(run("CREATE TABLE m(a); INSERT INTO m VALUES (5); SELECT a FROM m;"));
  ASSERT_EQ(r.column_count, 1u);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].as_int(), 5);
}

TEST_F(Commands, ExecuteReplyCarriesDescriptionsAndTheWholeSmallResult) {
  run("CREATE TABLE p (id INTEGER NOT NULL, name VARCHAR(20), price NUMERIC(8,2))");
  run("INSERT INTO p VALUES (1,'bolt',1.5),(2,'nut',NULL)");
  const Result r = result_of(run("SELECT id, name, price FROM p ORDER BY id"));
  ASSERT_EQ(r.column_count, 3u);
  EXPECT_EQ(r.row_count, 2u);  // exact: everything fitted
  ASSERT_TRUE(r.has_descriptions);
  ASSERT_EQ(r.descriptions.size(), 3u);
  EXPECT_EQ(r.descriptions[0].name, "id");
  EXPECT_EQ(r.descriptions[0].type, kSqlInteger);
  EXPECT_EQ(r.descriptions[0].nullable, 0);
  EXPECT_EQ(r.descriptions[1].type, kSqlVarchar);
  EXPECT_EQ(r.descriptions[1].precision, 20u);
  EXPECT_EQ(r.descriptions[1].nullable, 1);
  EXPECT_EQ(r.descriptions[2].type, kSqlNumeric);
  EXPECT_EQ(r.descriptions[2].precision, 8u);
  EXPECT_EQ(r.descriptions[2].scale, 2);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.trailer, 'W');
  EXPECT_EQ(r.rows[0][2].data, "1.50");
  EXPECT_TRUE(r.rows[1][2].is_null());
}

TEST_F(Commands, RowCountOfALargeResultIsALowerBoundOfRowsSentPlusOne) {
  const Result r =
      result_of(run("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 5000) "
                    "SELECT i, 'row number ' || i FROM n"));
  ASSERT_FALSE(r.rows.empty());
  EXPECT_EQ(r.trailer, 'M');
  EXPECT_EQ(r.row_count, r.rows.size() + 1);
}

TEST_F(Commands, FetchStreamsEveryRowOnceInOrderAndThenAnswersW) {
  Result first;
  std::vector<std::vector<Value>> rows;
  std::string error;
  ASSERT_TRUE(client_->query(1,
                             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                             "WHERE i < 20000) SELECT i FROM n",
                             &first, &rows, &error))
      << error;
  ASSERT_EQ(rows.size(), 20000u);
  for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i][0].as_int(), static_cast<int>(i + 1));
  EXPECT_EQ(client_->fetch(1).status, "W");  // again after the end
}

TEST_F(Commands, BlockRowsOptionCapsEveryBlock) {
  auto server = start_server({"--block-rows", "7"});
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const Result r = result_of(client->execute(1,
                                             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT "
                                             "i+1 FROM n WHERE i < 20) SELECT i FROM n"));
  EXPECT_EQ(r.rows.size(), 7u);
  EXPECT_EQ(r.row_count, 8u);
  const Reply next = client->fetch(1);
  std::vector<std::vector<Value>> rows;
  char trailer = 0;
  ASSERT_TRUE(parse_block(next.payload.data(), next.payload.size(), 1, &rows, &trailer));
  EXPECT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0][0].as_int(), 8);
  EXPECT_EQ(trailer, 'M');
}

TEST_F(Commands, AbsoluteFetchStartsAtTheRowForwardAndBackward) {
  run("CREATE TABLE n (i INTEGER)");
  run("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i < 3000) "
      "INSERT INTO n SELECT i FROM c");
  result_of(run("SELECT i FROM n ORDER BY i"));
  for (uint32_t row : {2500u, 10u, 10u, 1u, 2999u, 3000u}) {
    const Reply reply = client_->fetch_absolute(1, row);
    std::vector<std::vector<Value>> rows;
    char trailer = 0;
    ASSERT_TRUE(parse_block(reply.payload.data(), reply.payload.size(), 1, &rows, &trailer))
        << reply.status;
    EXPECT_EQ(rows[0][0].as_int(), static_cast<int>(row));
  }
  EXPECT_EQ(client_->fetch_absolute(1, 3001).status, "W");
  EXPECT_EQ(client_->fetch_absolute(1, 0).payload.empty(), false);  // row 0 is row 1
}

TEST_F(Commands, AbsoluteFetchIntoTheBlockBuiltAheadSkipsNoRow) {
  // The server builds the next block while the client reads the first one;
  // an absolute fetch landing inside it must start exactly at its row, and
  // the stream must go on after it without a gap.
  const Result first =
      result_of(run("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 9000) "
                    "SELECT i FROM n"));
  const uint32_t target = static_cast<uint32_t>(first.rows.size()) + 5;
  Reply reply = client_->fetch_absolute(1, target);
  std::vector<std::vector<Value>> rows;
  char trailer = 0;
  ASSERT_TRUE(parse_block(reply.payload.data(), reply.payload.size(), 1, &rows, &trailer));
  EXPECT_EQ(rows.front()[0].as_int(), static_cast<int>(target));
  const int after = rows.back()[0].as_int();
  rows.clear();
  reply = client_->fetch(1);
  ASSERT_TRUE(parse_block(reply.payload.data(), reply.payload.size(), 1, &rows, &trailer));
  EXPECT_EQ(rows.front()[0].as_int(), after + 1);
}

TEST_F(Commands, PrepareDescribesWithoutRunning) {
  run("CREATE TABLE w (a INTEGER, b DATE)");
  const Result r = result_of(client_->prepare(2, "SELECT a, b FROM w"));
  EXPECT_EQ(r.column_count, 2u);
  EXPECT_EQ(r.row_count, 0u);
  EXPECT_TRUE(r.rows.empty());
  ASSERT_EQ(r.descriptions.size(), 2u);
  EXPECT_EQ(r.descriptions[1].type, kSqlDate);
  // A prepared INSERT changes nothing.
  EXPECT_EQ(client_->prepare(3, "INSERT INTO w VALUES (1, '2024-01-01')").letter(), 'K');
  EXPECT_EQ(result_of(run("SELECT a FROM w")).rows.size(), 0u);
  // Unbound markers compile; a syntax error is reported with its number.
  EXPECT_EQ(client_->prepare(4, "SELECT a FROM w WHERE a = ?").letter(), 'K');
  EXPECT_EQ(error_number(client_->prepare(5, "SELEC a FROM w")), 26);
}

TEST_F(Commands, UnboundMarkerAtExecuteIsAnError) {
  EXPECT_EQ(error_number(run("SELECT ? + 1")), 19);
}

TEST_F(Commands, DescribeAnswersEachColumnWhenDescriptionsAreOff) {
  auto server = start_server({"--no-descriptions"});
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const Result r = result_of(client->execute(1, "SELECT 1 AS one, 'two' AS two"));
  EXPECT_FALSE(r.has_descriptions);
  ASSERT_EQ(r.rows.size(), 1u);
  const Reply one = client->describe(1, 1);
  Description d;
  ASSERT_TRUE(parse_description(one.payload.data(), one.payload.size(), &d)) << one.status;
  EXPECT_EQ(d.name, "one");
  EXPECT_EQ(d.type, kSqlInteger);
  const Reply two = client->describe(1, 2);
  ASSERT_TRUE(parse_description(two.payload.data(), two.payload.size(), &d));
  EXPECT_EQ(d.type, kSqlVarchar);
  EXPECT_EQ(client->describe(1, 3).letter(), 'E');
  EXPECT_EQ(client->describe(1, 0).letter(), 'E');
  EXPECT_EQ(client->describe(99, 1).letter(), 'E');
}

TEST_F(Commands, LazyRowsAreServedByGetData) {
  auto server = start_server({"--lazy-rows"});
  ASSERT_TRUE(server);
  auto client = logged_on(*server);
  const Result r =
      result_of(client->execute(1, "SELECT 7, 'seven', NULL UNION ALL SELECT 8, 'eight', x'00ff'"));
  EXPECT_TRUE(r.rows.empty());
  EXPECT_EQ(r.row_count, 1u);
  Reply row = client->fetch(1);
  EXPECT_EQ(row.status, "K");
  EXPECT_TRUE(row.payload.empty());
  Reply v = client->get_data(1, 2);
  ASSERT_EQ(v.letter(), 'K');
  EXPECT_EQ(std::string(v.payload.begin() + 6, v.payload.end()), "seven");
  v = client->get_data(1, 3);
  EXPECT_EQ(load_u16(v.payload.data()), kNullValueType);
  EXPECT_EQ(client->fetch(1).status, "K");
  v = client->get_data(1, 1);
  EXPECT_EQ(load_u16(v.payload.data()), kSqlInteger);
  EXPECT_EQ(load_u32(v.payload.data() + 6), 8u);
  EXPECT_EQ(client->fetch(1).status, "W");
  EXPECT_EQ(client->get_data(1, 1).letter(), 'E');  // no current row after the end
}

TEST_F(Commands, RowLargerThanABlockIsAnnouncedEmptyAndReadInFrames) {
  const Result r = result_of(run("SELECT 1, zeroblob(50000) UNION ALL SELECT 2, x'01'"));
  EXPECT_TRUE(r.rows.empty());  // the first row does not fit the reply
  EXPECT_EQ(r.row_count, 1u);
  const Reply announce = client_->fetch(1);
  EXPECT_EQ(announce.status, "K");
  EXPECT_TRUE(announce.payload.empty());
  const Reply big = client_->get_data(1, 2);
  ASSERT_EQ(big.letter(), 'K');
  EXPECT_EQ(big.frames, 3);
  ASSERT_EQ(big.payload.size(), 6u + 50000u);
  EXPECT_EQ(load_u16(big.payload.data()), static_cast<uint16_t>(kSqlLongVarbinary));
  EXPECT_EQ(load_u32(big.payload.data() + 2), 50000u);
  const Reply next = client_->fetch(1);
  std::vector<std::vector<Value>> rows;
  char trailer = 0;
  ASSERT_TRUE(parse_block(next.payload.data(), next.payload.size(), 2, &rows, &trailer));
  EXPECT_EQ(rows[0][0].as_int(), 2);
  EXPECT_EQ(trailer, 'W');
}

TEST_F(Commands, LongRequestsArriveInFramesAndBinaryBlocksBindAsBlobs) {
  run("CREATE TABLE b (k INTEGER, v BLOB, w BLOB)");
  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const std::string small("\x00\x01'\x02", 4);
  const Result ins =
      result_of(client_->execute(1, "INSERT INTO b VALUES (1, 0x0, 0x1)", {big, small}));
  EXPECT_EQ(ins.row_count, 1u);
  const Result sel = result_of(run("SELECT length(v), hex(w) FROM b"));
  ASSERT_EQ(sel.rows.size(), 1u);
  EXPECT_EQ(sel.rows[0][0].as_int(), 70000);
  EXPECT_EQ(sel.rows[0][1].data, "00012702");
}

TEST_F(Commands, CursorNameTrailerIsAccepted) {
  EXPECT_EQ(client_->execute(1, "SELECT 1", {}, "C1").letter(), 'K');
  EXPECT_EQ(client_->execute(2, "SELECT 1", {}, "1").letter(), 'K');  // looks like a block count
}

TEST_F(Commands, ReleaseFreesTheStatementAndAllocateIsAccepted) {
  std::vector<uint8_t> allocate = u32_payload(5);
  allocate.insert(allocate.end(), {0, 1});
  EXPECT_EQ(client_->call(kCmdAllocate, allocate).status, "K");
  result_of(client_->execute(5, "SELECT 1 UNION ALL SELECT 2"));
  EXPECT_EQ(client_->release(5).status, "K");
  EXPECT_EQ(client_->fetch(5).letter(), 'E');
  EXPECT_EQ(client_->release(12345).status, "K");  // never seen: still fine
}

TEST_F(Commands, TransactionsFollowAutocommitAndCommitOrRollback) {
  run("CREATE TABLE tx (a INTEGER)");
  auto settings = [&](const char* digits) {
    return client_->call(kCmdConnectOptions, std::vector<uint8_t>(digits, digits + 3));
  };
  auto count = [&] { return result_of(run("SELECT count(*) FROM tx", 9)).rows[0][0].as_int(); };
  ASSERT_EQ(settings("102").status, "K");  // autocommit off
  run("INSERT INTO tx VALUES (1)");
  EXPECT_EQ(client_->call(kCmdTransact, {'R'}).status, "K");
  EXPECT_EQ(count(), 0);
  run("INSERT INTO tx VALUES (2)");
  EXPECT_EQ(client_->call(kCmdTransact, {'C'}).status, "K");
  EXPECT_EQ(count(), 1);
  run("INSERT INTO tx VALUES (3)");
  ASSERT_EQ(settings("114").status, "K");  // autocommit on commits the open work
  EXPECT_EQ(client_->call(kCmdTransact, {'R'}).status, "K");
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(settings("19x").letter(), 'E');
  EXPECT_EQ(client_->call(kCmdTransact, {'X'}).letter(), 'E');
}

TEST_F(Commands, ReadOnlyAccessRefusesChanges) {
  run("CREATE TABLE ro (a INTEGER)");
  ASSERT_EQ(client_->call(kCmdConnectOptions, {'0', '1', '2'}).status, "K");
  EXPECT_EQ(error_number(run("INSERT INTO ro VALUES (1)")), 61);
  ASSERT_EQ(client_->call(kCmdConnectOptions, {'1', '1', '2'}).status, "K");
  EXPECT_EQ(run("INSERT INTO ro VALUES (1)").letter(), 'K');
}

TEST_F(Commands, InformationRequestAnswersMasksAndNoInformation) {
  auto info = [&](uint16_t first, uint16_t second) {
    std::vector<uint8_t> p(4);
    put_u16(p.data(), first);
    put_u16(p.data() + 2, second);
    const Reply r = client_->call(kCmdServerInfo, p);
    EXPECT_EQ(r.status, "K");
    return r.payload.size() == 4 ? static_cast<int32_t>(load_u32(r.payload.data())) : 0;
  };
  EXPECT_NE(info(49, 0) & 0x4000, 0);  // SQRT
  EXPECT_NE(info(50, 0) & 0x1000, 0);  // UCASE
  EXPECT_NE(info(52, 0) & 0x100, 0);   // YEAR
  EXPECT_NE(info(48, 70) & 0x8, 0);    // VARCHAR -> INTEGER
  EXPECT_EQ(info(48, 57) & 0x8, 0);    // DATE -> INTEGER is not offered
  EXPECT_EQ(info(48, 99), -9999);
  EXPECT_EQ(info(77, 0), -9999);
  const Reply bad = client_->call(kCmdServerInfo, {1, 2, 3});
  EXPECT_EQ(bad.letter(), 'E');
  EXPECT_LT(bad.status.size(), 16u);  // the driver's status area for this reply
}

TEST_F(Commands, UnknownCommandsAndStatementsGetAnErrorInStep) {
  EXPECT_EQ(error_number(client_->call(0x09, {})), 98);
  EXPECT_EQ(error_number(client_->call(0x7F, {1, 2, 3})), 98);
  EXPECT_EQ(client_->fetch(424242).letter(), 'E');
  EXPECT_EQ(client_->get_data(424242, 1).letter(), 'E');
  EXPECT_EQ(client_->call(kCmdFetch, {0, 0}).letter(), 'E');  // too short
  EXPECT_EQ(run("SELECT 1").letter(), 'K');                   // still in step
}

TEST_F(Commands, DisconnectAnswersAndCloses) {
  EXPECT_EQ(client_->call(kCmdDisconnect, {}).status, "K");
  EXPECT_TRUE(client_->closed_by_peer(2000));
}

TEST(Accounts, DataDirMapsAccountsToFilesAndAccountSetSwitches) {
  char dir[] = "/tmp/q4lite-accounts-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  auto abs_server = start_server({"--data-dir", std::string(dir) + "/data"});
  ASSERT_TRUE(abs_server);
  auto client = logged_on(*abs_server, "sales");
  EXPECT_EQ(client->execute(1, "CREATE TABLE s (a)").letter(), 'K');
  const std::string set = "stock,pw";
  EXPECT_EQ(client->call(kCmdAccount, std::vector<uint8_t>(set.begin(), set.end())).status, "K");
  EXPECT_EQ(error_number(client->execute(1, "SELECT * FROM s")), 3);  // another database
  const std::string back = "sales,";
  EXPECT_EQ(client->call(kCmdAccount, std::vector<uint8_t>(back.begin(), back.end())).status, "K");
  EXPECT_EQ(client->execute(1, "SELECT * FROM s").letter(), 'K');
  for (const char* bad : {"../x", "a/b", ".hidden", "", "-x"}) {
    const std::string text = std::string(bad) + ",";
    EXPECT_EQ(client->call(kCmdAccount, std::vector<uint8_t>(text.begin(), text.end())).letter(),
              'E')
        << bad;
  }
  Client other;
  ASSERT_TRUE(other.connect(abs_server->port()));
  EXPECT_EQ(other.logon("u", "p", "../etc").letter(), 'E');
  abs_server.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace q4::test
