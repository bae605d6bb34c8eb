// SQLDescribeParam against the scripted peer: markers described by the
// columns they meet, asked of the catalog once per text under an id of the
// lookup's own (released afterwards), blocks fetched on, and every way the
// catalog can fail to say: the unknown description, never a failed call
// unless the link fails.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "result_fixture.h"

namespace q4::wire {
namespace {

class DescribeParam : public StatementTest {
 protected:
  static Bytes columns_reply(const std::vector<Bytes>& rows, char trailer = 'W') {
    return execute_payload(12, uint32_t(rows.size()), block_of(rows, trailer));
  }
  // The columns request of the lookup for `table`, under `id`.
  static Bytes columns_request(const Bytes& id, const std::string& table) {
    return join(
        {id, bytes_of(std::string("%\0%\0", 4)), cstr(table), bytes_of(std::string("%\0\x01", 3))});
  }

  void prepare(const std::string& text) {
    ASSERT_EQ(SQLPrepare(stmt, sql_text(text.c_str()), SQL_NTS), SQL_SUCCESS) << diag();
  }
  // "type size digits nullable", or the outcome and diagnostic.
  std::string describe(SQLUSMALLINT number) {
    SQLSMALLINT type = -99, digits = -99, nullable = -99;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeParam(stmt, number, &type, &size, &digits, &nullable);
    if (rc != SQL_SUCCESS) return "rc " + std::to_string(rc) + " " + diag();
    if (stmt->sqlstate[0] != '\0') return "posted " + diag();
    return std::to_string(type) + " " + std::to_string(size) + " " + std::to_string(digits) + " " +
           std::to_string(nullable);
  }
  // The id the lookup used: the first request's, never the statement's (an odd one, where
  // statement ids are even record addresses).
  Bytes lookup_id() {
    std::vector<ReceivedRequest> sent = peer.requests();
    EXPECT_FALSE(sent.empty());
    if (sent.empty() || sent[0].payload.size() < 4) return {};
    Bytes id(sent[0].payload.begin(), sent[0].payload.begin() + 4);
    EXPECT_EQ(id, be32(statement_id(stmt) | 1u)) << "the statement's own server state must stay";
    return id;
  }

  const std::string unknown = "12 255 9 " + std::to_string(SQL_NULLABLE_UNKNOWN);
};

// Columns by name in any order, the exact spelling of the table before one
// that differs in case, NOT NULL, NUMERIC's scale; one request and its
// release for the whole text, none for the second round or SQLNumParams.
TEST_F(DescribeParam, DescribesByColumnNameOncePerText) {
  prepare("\n  INSERT INTO Orders (amount, id, due, note, other)\n  VALUES (?, ?, ?, ?, ?)");
  peer.expect_request(kCmdColumns)
      .reply("K", columns_reply({column_row("ORDERS", "id", SQL_VARCHAR, 5, -1, 1),
                                 column_row("Orders", "id", SQL_INTEGER, 10, 0, 0),
                                 column_row("Orders", "note", SQL_VARCHAR, 40, -1, 1),
                                 column_row("Orders", "Amount", SQL_NUMERIC, 12, 2, 1),
                                 column_row("Orders", "due", SQL_DATE, 10, -1, 2)}))
      .expect_request(kCmdRelease)
      .reply("K");
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(describe(1), "2 12 2 1");  // "amount" meets "Amount"
    EXPECT_EQ(describe(2), "4 10 0 0");
    EXPECT_EQ(describe(3), "9 10 0 2");
    EXPECT_EQ(describe(4), "12 40 0 1");
    EXPECT_EQ(describe(5), unknown);  // no such column
  }
  SQLSMALLINT count = 0;
  EXPECT_EQ(SQLNumParams(stmt, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(peer.finish(), "");
  Bytes id = lookup_id();
  ASSERT_EQ(peer.requests().size(), 2u);
  EXPECT_EQ(peer.requests()[0].payload, columns_request(id, "Orders"));
  EXPECT_EQ(peer.requests()[1].payload, join({id, be16(1)}));
}

// Without a column list the k-th value meets the k-th column; rows arrive
// in two blocks, the second fetched under the lookup's id. A bound marker
// keeps its binding's description. A new text asks again.
TEST_F(DescribeParam, FetchesFurtherBlocksAndAsksAgainForANewText) {
  prepare("INSERT INTO t VALUES (?, ?, 7, ?)");
  SQLLEN zero = 0;
  double amount = 0;
  ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 3, &amount, 0,
                             &zero),
            SQL_SUCCESS);
  peer.expect_request(kCmdColumns)
      .reply("K", columns_reply({column_row("t", "a", SQL_SMALLINT, 5, 0, 1),
                                 column_row("t", "b", SQL_VARCHAR, 10, -1, 1)},
                                'M'))
      .expect_request(kCmdFetch)
      .reply("K", block_of({column_row("t", "c", SQL_CHAR, 3, -1, 1),
                            column_row("t", "d", SQL_TIMESTAMP, 23, 3, 1)},
                           'W'))
      .expect_request(kCmdRelease)
      .reply("K");
  EXPECT_EQ(describe(3), "11 23 3 1");
  EXPECT_EQ(describe(2), "8 15 3 " + std::to_string(SQL_NULLABLE_UNKNOWN));
  EXPECT_EQ(describe(1), "5 5 0 1");
  peer.call([] {});  // a step between, so that the script's order is checked
  Bytes id = lookup_id();
  EXPECT_EQ(peer.requests()[1].payload, join({id, {'X'}}));

  ASSERT_EQ(SQLFreeStmt(stmt, SQL_RESET_PARAMS), SQL_SUCCESS);
  prepare("SELECT * FROM u WHERE k = ?");
  peer.expect_request(kCmdColumns)
      .reply("K", columns_reply({column_row("u", "k", SQL_BIGINT, 19, 0, 1)}))
      .expect_request(kCmdRelease)
      .reply("K");
  EXPECT_EQ(describe(1), std::to_string(SQL_BIGINT) + " 19 0 1");
}

// What the catalog cannot say leaves the unknown description and no
// diagnostic: a refusal, no such table, two spellings of the name none of
// which is exact, a type the driver cannot take as SQL_C_DEFAULT, a column
// without a size, a damaged block. The id is released each time.
TEST_F(DescribeParam, FallsBackSilentlyWhenTheCatalogCannotSay) {
  struct Case {
    const char* status;
    Bytes reply;
  } cases[] = {
      {"E42 no such table", {}},
      {"K", columns_reply({})},
      {"K", columns_reply({column_row("AB", "x", SQL_INTEGER, 10, 0, 1),
                           column_row("Ab", "x", SQL_INTEGER, 10, 0, 1)})},
      {"K", columns_reply({column_row("ab", "x", SQL_FLOAT, 15, 0, 1)})},
      {"K", columns_reply({column_row("ab", "x", SQL_VARCHAR, -1, 0, 1)})},
      {"K", execute_payload(12, 1, Bytes{0x00, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    prepare("UPDATE ab SET x = ?");
    peer.expect_request(kCmdColumns)
        .reply(c.status, c.reply)
        .expect_request(kCmdRelease)
        .reply("K");
    EXPECT_EQ(describe(1), unknown);
    peer.call([] {});
  }
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(peer.requests().size(), 2 * (sizeof cases / sizeof cases[0]));
}

// Texts that name no single table, and bound markers, ask nothing.
TEST_F(DescribeParam, AsksNothingWhenNoMarkerMeetsAColumn) {
  for (const char* text : {"SELECT a FROM t, u WHERE a = ?", "SELECT upper(?) FROM t",
                           "{call p(?)}", "INSERT INTO t SELECT ?"}) {
    prepare(text);
    EXPECT_EQ(describe(1), unknown) << text;
  }
  prepare("SELECT a FROM t WHERE a = ?");
  SQLLEN zero = 0;
  int32_t v = 0;
  ASSERT_EQ(
      SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &v, 0, &zero),
      SQL_SUCCESS);
  EXPECT_EQ(describe(1), "4 10 0 " + std::to_string(SQL_NULLABLE_UNKNOWN));
  EXPECT_EQ(peer.finish(), "");
  EXPECT_TRUE(peer.requests().empty());
}

// A link that breaks during the lookup fails the call as every exchange
// does; nothing is kept, so the next call would ask again. (A cancel of the
// lookup's wait: cancel_test.cpp.)
TEST_F(DescribeParam, ABrokenLinkFailsTheCall) {
  prepare("DELETE FROM t WHERE a = ?");
  peer.expect_request(kCmdColumns).close();
  EXPECT_EQ(describe(1), "rc -1 08S01 " + kPrefix + "Communications_ERROR");
  EXPECT_EQ(stmt->param_descriptions, nullptr);
}

}  // namespace
}  // namespace q4::wire
