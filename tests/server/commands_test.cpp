// Each command of the protocol against a running q4lite, with its error replies.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "protocol/codec.h"
#include "protocol_client.h"

namespace q4::test {
namespace {

std::string numbers(int last, const char* extra = "") {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < " +
         std::to_string(last) + ") SELECT i" + extra + " FROM n";
}

// The rows of a fetch reply's block; fails the test when it is malformed.
Rows block_of(const Reply& reply, size_t columns, char* trailer) {
  Rows rows;
  EXPECT_TRUE(parse_block(reply.payload, columns, &rows, trailer)) << reply.status;
  if (rows.empty()) rows.emplace_back(columns);
  return rows;
}

class Commands : public ::testing::Test {
 protected:
  void SetUp() override { start({"--db", ":memory:"}); }
  void start(const std::vector<std::string>& args) {
    server_ = start_server(args);
    ASSERT_TRUE(server_);
    client_ = logged_on(*server_);
  }
  Reply run(const std::string& sql, uint32_t id = 1) { return client_->execute(id, sql); }

  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<Client> client_;
  char trailer_ = 0;
};

TEST(Logon, ReplyCarriesVersionBytesAndTheCapabilityByte) {
  const std::pair<std::vector<std::string>, std::vector<uint8_t>> cases[] = {
      {{}, {7, 1, 0, 0, 3}},
      {{"--flags", "1"}, {7, 1, 0, 0, 1}},
      {{"--flags", "0", "--logon-bytes", "5"}, {7, 1, 0, 0, 0}},
      {{"--logon-bytes", "4"}, {7, 1, 0, 0}},
      {{"--logon-bytes", "3"}, {7, 1, 0}},
      {{"--logon-bytes", "0"}, {}},
  };
  for (const auto& [args, expected] : cases) {
    auto server = start_server(args);
    ASSERT_TRUE(server);
    Client client;
    ASSERT_TRUE(client.connect(server->port()));
    const Reply reply = client.logon();
    EXPECT_EQ(reply.status, "K");
    EXPECT_EQ(reply.payload, expected) << args.size();
  }
}

TEST(Logon, TextIsCheckedAndRequestsBeforeItAreRefusedInStep) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client marks, early, malformed;
  ASSERT_TRUE(marks.connect(server->port()) && early.connect(server->port()) &&
              malformed.connect(server->port()));
  // The numeric-marks item holds the separator inside its quotes.
  EXPECT_EQ(marks.call(kCmdLogon, bytes("host,vm,user,pw,acct,acpw,\"$/,/.\",")).letter(), 'K');
  EXPECT_EQ(early.execute(1, "SELECT 1").letter(), 'E');
  EXPECT_EQ(early.logon().letter(), 'K');
  EXPECT_EQ(early.execute(1, "SELECT 1").letter(), 'K');
  const Reply reply = malformed.call(kCmdLogon, bytes("only,three,fields,"));
  EXPECT_EQ(reply.status.rfind("ELogon failed", 0), 0u) << reply.status;
  EXPECT_TRUE(malformed.closed_by_peer(2000));
}

TEST_F(Commands, DmlReportsChangedRowsAndDdlReportsNone) {
  const std::pair<const char*, uint32_t> steps[] = {
      {"CREATE TABLE t (a INTEGER, b VARCHAR(10))", 0},
      {"INSERT INTO t VALUES (1,'x'),(2,'y'),(3,'z')", 3},
      {"UPDATE t SET b = 'w' WHERE a >= 2", 2},
      {"UPDATE t SET b = 'v' WHERE a > 100", 0},
      {"CREATE INDEX t_a ON t(a)", 0},
      {"DELETE FROM t WHERE a = 1", 1},
      {"DELETE FROM t", 2},
  };
  for (const auto& [sql, rows] : steps) {
    const Result r = result_of(run(sql));
    EXPECT_EQ(r.column_count, 0u) << sql;
    EXPECT_EQ(r.row_count, rows) << sql;
  }
  // Several statements in one text run in order; the last one's result comes back.
  const Result r = result_of(run("CREATE TABLE m(a); INSERT INTO m VALUES (5); SELECT a FROM m;"));
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].as_int(), 5);
}

TEST_F(Commands, ExecuteReplyCarriesDescriptionsAndTheWholeSmallResult) {
  run("CREATE TABLE p (id INTEGER NOT NULL, name VARCHAR(20), price NUMERIC(8,2))");
  run("INSERT INTO p VALUES (1,'bolt',1.5),(2,'nut',NULL)");
  const Result r = result_of(run("SELECT id, name, price FROM p ORDER BY id"));
  EXPECT_EQ(r.column_count, 3u);
  EXPECT_EQ(r.row_count, 2u);  // exact: everything fitted
  using D = std::tuple<std::string, int16_t, uint32_t, uint16_t, uint16_t>;
  std::vector<D> got;
  for (const Description& d : r.descriptions) {
    got.emplace_back(d.name, d.type, d.precision, d.scale, d.nullable);
  }
  EXPECT_EQ(got, (std::vector<D>{D{"id", kSqlInteger, 10, 0, 0}, D{"name", kSqlVarchar, 20, 0, 1},
                                 D{"price", kSqlNumeric, 8, 2, 1}}));
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.trailer, 'W');
  EXPECT_EQ(r.rows[0][2].data, "1.50");
  EXPECT_TRUE(r.rows[1][2].is_null());
}

TEST_F(Commands, FetchStreamsEveryRowOnceInOrderAndThenAnswersW) {
  // A result larger than the reply: the row count is a lower bound, rows sent plus one.
  const Result large = result_of(run(numbers(5000, ", 'row number ' || i")));
  EXPECT_EQ(large.trailer, 'M');
  EXPECT_EQ(large.row_count, large.rows.size() + 1);
  Result first;
  Rows rows;
  std::string error;
  ASSERT_TRUE(client_->query(1, numbers(20000), &first, &rows, &error)) << error;
  ASSERT_EQ(rows.size(), 20000u);
  for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i][0].as_int(), static_cast<int>(i + 1));
  EXPECT_EQ(client_->fetch(1).status, "W");  // again after the end
}

TEST_F(Commands, BlockRowsOptionCapsEveryBlock) {
  start({"--block-rows", "7"});
  const Result r = result_of(run(numbers(20)));
  EXPECT_EQ(r.rows.size(), 7u);
  EXPECT_EQ(r.row_count, 8u);
  const Rows rows = block_of(client_->fetch(1), 1, &trailer_);
  EXPECT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0][0].as_int(), 8);
  EXPECT_EQ(trailer_, 'M');
}

TEST_F(Commands, AbsoluteFetchStartsAtTheRowForwardAndBackward) {
  run("CREATE TABLE n (i INTEGER)");
  run("INSERT INTO n " + numbers(3000));
  result_of(run("SELECT i FROM n ORDER BY i"));
  for (uint32_t row : {2500u, 10u, 10u, 1u, 2999u, 3000u}) {
    EXPECT_EQ(block_of(client_->fetch_absolute(1, row), 1, &trailer_)[0][0].as_int(),
              static_cast<int>(row));
  }
  EXPECT_EQ(client_->fetch_absolute(1, 3001).status, "W");
  EXPECT_EQ(block_of(client_->fetch_absolute(1, 0), 1, &trailer_)[0][0].as_int(), 1);
}

TEST_F(Commands, AbsoluteFetchIntoTheBlockBuiltAheadSkipsNoRow) {
  // The server builds the next block while the client reads the first one;
  // an absolute fetch landing inside it must start exactly at its row, and
  // the stream must go on after it without a gap.
  const Result first = result_of(run(numbers(9000)));
  const uint32_t target = static_cast<uint32_t>(first.rows.size()) + 5;
  const Rows rows = block_of(client_->fetch_absolute(1, target), 1, &trailer_);
  EXPECT_EQ(rows.front()[0].as_int(), static_cast<int>(target));
  EXPECT_EQ(block_of(client_->fetch(1), 1, &trailer_)[0][0].as_int(), rows.back()[0].as_int() + 1);
}

TEST_F(Commands, PrepareDescribesWithoutRunning) {
  run("CREATE TABLE w (a INTEGER, b DATE)");
  const Result r = result_of(client_->prepare(2, "SELECT a, b FROM w"));
  EXPECT_EQ(r.column_count, 2u);
  EXPECT_EQ(r.row_count, 0u);
  EXPECT_TRUE(r.rows.empty());
  ASSERT_EQ(r.descriptions.size(), 2u);
  EXPECT_EQ(r.descriptions[1].type, kSqlDate);
  EXPECT_EQ(client_->prepare(3, "INSERT INTO w VALUES (1, '2024-01-01')").letter(), 'K');
  EXPECT_EQ(result_of(run("SELECT a FROM w")).rows.size(), 0u);  // nothing inserted
  // Unbound markers compile, but not at execution.
  EXPECT_EQ(client_->prepare(4, "SELECT a FROM w WHERE a = ?").letter(), 'K');
  EXPECT_EQ(error_number(run("SELECT ? + 1")), 19);
  EXPECT_EQ(error_number(client_->prepare(5, "SELEC a FROM w")), 26);
}

TEST_F(Commands, DescribeAnswersEachColumnWhenDescriptionsAreOff) {
  start({"--no-descriptions"});
  const Result r = result_of(run("SELECT 1 AS one, 'two' AS two"));
  EXPECT_FALSE(r.has_descriptions);
  EXPECT_EQ(r.rows.size(), 1u);
  Description d;
  ASSERT_TRUE(parse_description(client_->describe(1, 1).payload, &d));
  EXPECT_EQ(d.name, "one");
  EXPECT_EQ(d.type, kSqlInteger);
  ASSERT_TRUE(parse_description(client_->describe(1, 2).payload, &d));
  EXPECT_EQ(d.type, kSqlVarchar);
  for (auto [id, column] :
       std::initializer_list<std::pair<uint32_t, uint16_t>>{{1, 3}, {1, 0}, {99, 1}}) {
    EXPECT_EQ(client_->describe(id, column).letter(), 'E') << id << "/" << column;
  }
}

TEST_F(Commands, LazyRowsAreServedByGetData) {
  start({"--lazy-rows"});
  const Result r = result_of(run("SELECT 7, 'seven', NULL UNION ALL SELECT 8, 'eight', x'00ff'"));
  EXPECT_TRUE(r.rows.empty());
  EXPECT_EQ(r.row_count, 1u);
  const Reply row = client_->fetch(1);
  EXPECT_EQ(row.status, "K");
  EXPECT_TRUE(row.payload.empty());
  Reply v = client_->get_data(1, 2);
  ASSERT_EQ(v.letter(), 'K');
  EXPECT_EQ(std::string(v.payload.begin() + 6, v.payload.end()), "seven");
  EXPECT_EQ(load_u16(client_->get_data(1, 3).payload.data()), kNullValueType);
  EXPECT_EQ(client_->fetch(1).status, "K");
  v = client_->get_data(1, 1);
  EXPECT_EQ(load_u16(v.payload.data()), kSqlInteger);
  EXPECT_EQ(load_u32(v.payload.data() + 6), 8u);
  EXPECT_EQ(client_->fetch(1).status, "W");
  EXPECT_EQ(client_->get_data(1, 1).letter(), 'E');  // no current row after the end
}

TEST_F(Commands, RowLargerThanABlockIsAnnouncedEmptyAndReadInFrames) {
  const Result r = result_of(run("SELECT 1, zeroblob(50000) UNION ALL SELECT 2, x'01'"));
  EXPECT_TRUE(r.rows.empty());  // the first row does not fit the reply
  EXPECT_EQ(r.row_count, 1u);
  const Reply announce = client_->fetch(1);
  EXPECT_EQ(announce.status, "K");
  EXPECT_TRUE(announce.payload.empty());
  const Reply big = client_->get_data(1, 2);
  EXPECT_EQ(big.frames, 3);
  ASSERT_EQ(big.payload.size(), 6u + 50000u);
  EXPECT_EQ(load_u16(big.payload.data()), static_cast<uint16_t>(kSqlLongVarbinary));
  EXPECT_EQ(load_u32(big.payload.data() + 2), 50000u);
  EXPECT_EQ(block_of(client_->fetch(1), 2, &trailer_)[0][0].as_int(), 2);
  EXPECT_EQ(trailer_, 'W');
}

TEST_F(Commands, LongRequestsArriveInFramesAndBinaryBlocksBindAsBlobs) {
  run("CREATE TABLE b (k INTEGER, v BLOB, w BLOB)");
  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const std::string small("\x00\x01'\x02", 4);
  EXPECT_EQ(
      result_of(client_->execute(1, "INSERT INTO b VALUES (1, 0x0, 0x1)", {big, small})).row_count,
      1u);
  const Result sel = result_of(run("SELECT length(v), hex(w) FROM b"));
  ASSERT_EQ(sel.rows.size(), 1u);
  EXPECT_EQ(sel.rows[0][0].as_int(), 70000);
  EXPECT_EQ(sel.rows[0][1].data, "00012702");
  // A cursor name trailer, also one that looks like a block count.
  EXPECT_EQ(client_->execute(1, "SELECT 1", {}, "C1").letter(), 'K');
  EXPECT_EQ(client_->execute(2, "SELECT 1", {}, "1").letter(), 'K');
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

TEST_F(Commands, TransactionsFollowAutocommitAndAccessMode) {
  run("CREATE TABLE tx (a INTEGER)");
  auto settings = [&](const char* digits) {
    return client_->call(kCmdConnectOptions, bytes(digits));
  };
  auto transact = [&](uint8_t how) { return client_->call(kCmdTransact, {how}); };
  auto count = [&] { return result_of(run("SELECT count(*) FROM tx", 9)).rows[0][0].as_int(); };
  ASSERT_EQ(settings("102").status, "K");  // autocommit off
  run("INSERT INTO tx VALUES (1)");
  EXPECT_EQ(transact('R').status, "K");
  EXPECT_EQ(count(), 0);
  run("INSERT INTO tx VALUES (2)");
  EXPECT_EQ(transact('C').status, "K");
  EXPECT_EQ(count(), 1);
  run("INSERT INTO tx VALUES (3)");
  ASSERT_EQ(settings("114").status, "K");  // autocommit on commits the open work
  EXPECT_EQ(transact('R').status, "K");
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(settings("19x").letter(), 'E');
  EXPECT_EQ(transact('X').letter(), 'E');
  ASSERT_EQ(settings("012").status, "K");  // read only
  EXPECT_EQ(error_number(run("INSERT INTO tx VALUES (4)")), 61);
  ASSERT_EQ(settings("112").status, "K");
  EXPECT_EQ(run("INSERT INTO tx VALUES (4)").letter(), 'K');
}

TEST_F(Commands, InformationRequestAnswersMasksAndNoInformation) {
  const struct {
    uint16_t first, second;
    int32_t mask;
    bool set;  // mask 0: the whole value must be -9999 (no information)
  } cases[] = {
      {49, 0, 0x4000, true},  // SQRT
      {50, 0, 0x1000, true},  // UCASE
      {52, 0, 0x100, true},   // YEAR
      {48, 70, 0x8, true},    // VARCHAR -> INTEGER
      {48, 57, 0x8, false},   // DATE -> INTEGER is not offered
      {48, 99, 0, false},    {77, 0, 0, false},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> p(4);
    put_u16(p.data(), c.first);
    put_u16(p.data() + 2, c.second);
    const Reply r = client_->call(kCmdServerInfo, p);
    ASSERT_EQ(r.status, "K");
    ASSERT_EQ(r.payload.size(), 4u);
    const auto value = static_cast<int32_t>(load_u32(r.payload.data()));
    if (c.mask == 0) {
      EXPECT_EQ(value, -9999) << c.first << "/" << c.second;
    } else {
      EXPECT_EQ((value & c.mask) != 0, c.set) << c.first << "/" << c.second;
    }
  }
  const Reply bad = client_->call(kCmdServerInfo, {1, 2, 3});
  EXPECT_EQ(bad.letter(), 'E');
  EXPECT_LT(bad.status.size(), 16u);  // the driver's status area for this reply
}

TEST_F(Commands, UnknownCommandsStatementsAndShortRequestsGetAnErrorInStep) {
  EXPECT_EQ(error_number(client_->call(0x09, {})), 98);
  EXPECT_EQ(error_number(client_->call(0x7F, {1, 2, 3})), 98);
  EXPECT_EQ(client_->fetch(424242).letter(), 'E');
  EXPECT_EQ(client_->get_data(424242, 1).letter(), 'E');
  EXPECT_EQ(client_->call(kCmdFetch, {0, 0}).letter(), 'E');
  EXPECT_EQ(run("SELECT 1").letter(), 'K');  // still in step
  EXPECT_EQ(client_->call(kCmdDisconnect, {}).status, "K");
  EXPECT_TRUE(client_->closed_by_peer(2000));
}

TEST(Accounts, DataDirMapsAccountsToFilesAndAccountSetSwitches) {
  char dir[] = "/tmp/q4lite-accounts-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  auto server = start_server({"--data-dir", std::string(dir) + "/data"});
  ASSERT_TRUE(server);
  auto client = logged_on(*server, "sales");
  EXPECT_EQ(client->execute(1, "CREATE TABLE s (a)").letter(), 'K');
  EXPECT_EQ(client->call(kCmdAccount, bytes("stock,pw")).status, "K");
  EXPECT_EQ(error_number(client->execute(1, "SELECT * FROM s")), 3);  // another database
  EXPECT_EQ(client->call(kCmdAccount, bytes("sales,")).status, "K");
  EXPECT_EQ(client->execute(1, "SELECT * FROM s").letter(), 'K');
  for (const char* bad : {"../x", "a/b", ".hidden", "", "-x"}) {
    EXPECT_EQ(client->call(kCmdAccount, bytes(std::string(bad) + ",")).letter(), 'E') << bad;
  }
  Client other;
  ASSERT_TRUE(other.connect(server->port()));
  EXPECT_EQ(other.logon("u", "p", "../etc").letter(), 'E');
  server.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace q4::test
