// The catalog requests: ODBC 2.x result shapes, patterns and malformed requests.
#include <gtest/gtest.h>

#include "protocol_client.h"

namespace q4::test {
namespace {

using Names = std::vector<std::string>;
// Trailing argument bytes of each request: statistics (unique, accuracy),
// special columns (identifier type, scope, nullable), type info (type).
const std::vector<uint8_t> kAllIndexes = {1, 0, 0}, kBestRowid = {0, 2, 0, 1, 0, 1, 0};

class Catalog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = start_server().release();
    ASSERT_NE(server_, nullptr);
    client_ = logged_on(*server_).release();
    const Reply r = client_->execute(
        1,
        "CREATE TABLE customer (id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL, "
        "  credit NUMERIC(10,2));"
        "CREATE TABLE cust_x (code CHAR(3) NOT NULL, seq SMALLINT NOT NULL, note TEXT,"
        "  PRIMARY KEY (code, seq));"
        "CREATE TABLE custAx (a);"
        "CREATE UNIQUE INDEX customer_name ON customer(name);"
        "CREATE INDEX customer_credit ON customer(credit DESC);"
        "CREATE VIEW rich AS SELECT name FROM customer WHERE credit > 1000;");
    ASSERT_EQ(r.letter(), 'K') << r.status;
  }
  static void TearDownTestSuite() {
    delete client_;
    delete server_;
  }
  // Statement id, the NUL-terminated strings, the tail, the end mark.
  static std::vector<uint8_t> payload(const Names& strings, const std::vector<uint8_t>& tail) {
    std::vector<uint8_t> p = u32_payload(7);
    for (const std::string& s : strings) p.insert(p.end(), s.c_str(), s.c_str() + s.size() + 1);
    p.insert(p.end(), tail.begin(), tail.end());
    p.push_back(0x01);
    return p;
  }
  static Result catalog(uint8_t command, const Names& strings,
                        const std::vector<uint8_t>& tail = {}) {
    return result_of(client_->call(command, payload(strings, tail)));
  }
  static Names column(const Result& r, size_t index) {
    Names out;
    for (const auto& row : r.rows) out.push_back(row[index].data);
    return out;
  }
  static ServerProcess* server_;
  static Client* client_;
};

ServerProcess* Catalog::server_ = nullptr;
Client* Catalog::client_ = nullptr;

TEST_F(Catalog, ResultColumnsAreNamedAndOrderedAsOdbc2Defines) {
  const Names q = {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME"};
  auto with = [&q](Names more) {
    more.insert(more.begin(), q.begin(), q.end());
    return more;
  };
  const struct {
    uint8_t command;
    Names strings;
    std::vector<uint8_t> tail;
    Names columns;
  } cases[] = {
      {kCmdTables, {"%", "%", "%", "%"}, {}, with({"TABLE_TYPE", "REMARKS"})},
      {kCmdColumns,
       {"%", "%", "%", "%"},
       {},
       with({"COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "PRECISION", "LENGTH", "SCALE", "RADIX",
             "NULLABLE", "REMARKS"})},
      {kCmdStatistics,
       {"%", "%", "customer"},
       kAllIndexes,
       with({"NON_UNIQUE", "INDEX_QUALIFIER", "INDEX_NAME", "TYPE", "SEQ_IN_INDEX", "COLUMN_NAME",
             "COLLATION", "CARDINALITY", "PAGES", "FILTER_CONDITION"})},
      {kCmdPrimaryKeys, {"%", "%", "customer"}, {}, with({"COLUMN_NAME", "KEY_SEQ", "PK_NAME"})},
      {kCmdSpecialColumns,
       {"%", "%", "customer"},
       kBestRowid,
       {"SCOPE", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "PRECISION", "LENGTH", "SCALE",
        "PSEUDO_COLUMN"}},
      {kCmdTypeInfo,
       {},
       {0, 0, 0},
       {"TYPE_NAME", "DATA_TYPE", "PRECISION", "LITERAL_PREFIX", "LITERAL_SUFFIX", "CREATE_PARAMS",
        "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE", "UNSIGNED_ATTRIBUTE", "MONEY", "AUTO_INCREMENT",
        "LOCAL_TYPE_NAME", "MINIMUM_SCALE", "MAXIMUM_SCALE"}},
  };
  for (const auto& c : cases) {
    const Result r = catalog(c.command, c.strings, c.tail);
    Names names;
    for (const Description& d : r.descriptions) names.push_back(d.name);
    EXPECT_EQ(names, c.columns) << int(c.command);
    EXPECT_EQ(r.column_count, c.columns.size());
  }
}

TEST_F(Catalog, TablesHonourPatternsEscapesAndTypes) {
  const struct {
    std::string table, types;
    Names expected;
  } cases[] = {
      {"%", "%", {"custAx", "cust_x", "customer", "rich"}},
      {"cust%", "TABLE", {"custAx", "cust_x", "customer"}},
      {"cust_x", "%", {"custAx", "cust_x"}},  // "_" is any one character
      {"cust\\_x", "%", {"cust_x"}},          // "\" makes it literal
      {"CUSTOMER", "%", {"customer"}},        // letter case does not matter
      {"%", "'VIEW'", {"rich"}},
      {"%", "TABLE, VIEW", {"custAx", "cust_x", "customer", "rich"}},
      {"nothing%", "%", {}},
      {"", "%", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(column(catalog(kCmdTables, {"%", "%", c.table, c.types}), 2), c.expected)
        << c.table << " / " << c.types;
  }
  EXPECT_EQ(column(catalog(kCmdTables, {"", "", "", "%"}), 3),
            (Names{"SYSTEM TABLE", "TABLE", "VIEW"}));
}

TEST_F(Catalog, ColumnsDescribeTypesInOrdinalOrder) {
  const Result r = catalog(kCmdColumns, {"%", "%", "customer", "%"});
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(column(r, 3), (Names{"id", "name", "credit"}));
  EXPECT_EQ(r.rows[0][4].as_int(), kSqlInteger);
  EXPECT_EQ(r.rows[1][4].as_int(), kSqlVarchar);
  EXPECT_EQ(r.rows[1][6].as_int(), 40);
  EXPECT_TRUE(r.rows[1][8].is_null());   // no scale for a string
  EXPECT_EQ(r.rows[1][10].as_int(), 0);  // NOT NULL
  EXPECT_EQ(r.rows[2][4].as_int(), kSqlNumeric);
  EXPECT_EQ(r.rows[2][8].as_int(), 2);   // scale
  EXPECT_EQ(r.rows[2][9].as_int(), 10);  // radix
  EXPECT_EQ(r.rows[2][10].as_int(), 1);
  EXPECT_EQ(r.rows[1][5].data, "VARCHAR");
  EXPECT_EQ(column(catalog(kCmdColumns, {"%", "%", "cust%", "s_q"}), 3), (Names{"seq"}));
}

TEST_F(Catalog, PrimaryKeysStatisticsAndSpecialColumns) {
  const Result pk = catalog(kCmdPrimaryKeys, {"%", "%", "cust\\_x"});
  EXPECT_EQ(column(pk, 3), (Names{"code", "seq"}));
  EXPECT_EQ(pk.rows[1][4].as_int(), 2);

  // SQL_INDEX_ALL: the table statistics row first, then every index column.
  const Result all = catalog(kCmdStatistics, {"%", "%", "customer"}, kAllIndexes);
  ASSERT_EQ(all.rows.size(), 3u);
  EXPECT_EQ(all.rows[0][6].as_int(), 0);  // SQL_TABLE_STAT
  EXPECT_EQ(column(all, 5), (Names{"", "customer_name", "customer_credit"}));
  EXPECT_EQ(all.rows[1][3].as_int(), 0);  // unique
  EXPECT_EQ(all.rows[2][9].data, "D");
  // SQL_INDEX_UNIQUE leaves the non-unique index out.
  EXPECT_EQ(catalog(kCmdStatistics, {"%", "%", "customer"}, {0, 0, 0}).rows.size(), 2u);
  // The older request form without arguments.
  std::vector<uint8_t> old = u32_payload(7);
  old.insert(old.end(), {0, 1});
  EXPECT_EQ(client_->call(kCmdStatistics, old).letter(), 'K');

  // SQL_BEST_ROWID: the key, or the rowid pseudo column without a key.
  EXPECT_EQ(column(catalog(kCmdSpecialColumns, {"%", "%", "customer"}, kBestRowid), 1),
            (Names{"id"}));
  const Result rowid = catalog(kCmdSpecialColumns, {"%", "%", "custAx"}, kBestRowid);
  ASSERT_EQ(column(rowid, 1), (Names{"rowid"}));
  EXPECT_EQ(rowid.rows[0][7].as_int(), 2);  // SQL_PC_PSEUDO
  EXPECT_TRUE(
      catalog(kCmdSpecialColumns, {"%", "%", "customer"}, {0, 2, 0, 1, 0, 2, 0}).rows.empty());
}

TEST_F(Catalog, TypeInfoListsEveryWireTypeOrFiltersOne) {
  std::vector<int> types;
  for (const auto& row : catalog(kCmdTypeInfo, {}, {0, 0, 0}).rows)
    types.push_back(row[1].as_int());
  EXPECT_EQ(types, (std::vector<int>{-4, -3, 1, 2, 4, 5, 9, 10, 11, 12}));
  EXPECT_EQ(column(catalog(kCmdTypeInfo, {}, {0, 9, 0}), 0), (Names{"DATE"}));
  EXPECT_EQ(column(catalog(kCmdTypeInfo, {}, {0xFF, 0xFD, 0}), 0), (Names{"VARBINARY"}));  // -3
}

TEST_F(Catalog, MalformedRequestsAreRefusedInStep) {
  std::vector<uint8_t> no_end_mark = payload({"%", "%", "%", "%"}, {});
  no_end_mark.pop_back();
  EXPECT_EQ(client_->call(kCmdTables, no_end_mark).letter(), 'E');
  EXPECT_EQ(client_->call(kCmdColumns, payload({"%", "%"}, {})).letter(), 'E');
  EXPECT_EQ(catalog(kCmdTables, {"%", "%", "%", "%"}).column_count, 5u);
}

}  // namespace
}  // namespace q4::test
