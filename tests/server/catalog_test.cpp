// The catalog requests: result shapes of ODBC 2.x and pattern matching.
#include <gtest/gtest.h>

#include "protocol/codec.h"
#include "test_support.h"

namespace q4::test {
namespace {

std::vector<uint8_t> catalog_payload(const std::vector<std::string>& strings,
                                     const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> p = u32_payload(7);
  for (const std::string& s : strings) {
    p.insert(p.end(), s.begin(), s.end());
    p.push_back(0);
  }
  p.insert(p.end(), tail.begin(), tail.end());
  p.push_back(0x01);
  return p;
}

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
  static Result catalog(uint8_t command, const std::vector<std::string>& strings,
                        const std::vector<uint8_t>& tail = {}) {
    return result_of(client_->call(command, catalog_payload(strings, tail)));
  }
  static std::vector<std::string> names(const Result& r) {
    std::vector<std::string> out;
    for (const Description& d : r.descriptions) out.push_back(d.name);
    return out;
  }
  static std::vector<std::string> column(const Result& r, size_t index) {
    std::vector<std::string> out;
    for (const auto& row : r.rows) out.push_back(row[index].data);
    return out;
  }
  static ServerProcess* server_;
  static Client* client_;
};

ServerProcess* Catalog::server_ = nullptr;
Client* Catalog::client_ = nullptr;

using Names = std::vector<std::string>;

TEST_F(Catalog, ResultColumnsAreNamedAndOrderedAsOdbc2Defines) {
  struct Case {
    uint8_t command;
    std::vector<std::string> strings;
    std::vector<uint8_t> tail;
    Names columns;
  };
  const Case cases[] = {
      {kCmdTables,
       {"%", "%", "%", "%"},
       {},
       {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"}},
      {kCmdColumns,
       {"%", "%", "%", "%"},
       {},
       {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME",
        "PRECISION", "LENGTH", "SCALE", "RADIX", "NULLABLE", "REMARKS"}},
      {kCmdStatistics,
       {"%", "%", "customer"},
       {1, 0, 0},
       {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "NON_UNIQUE", "INDEX_QUALIFIER",
        "INDEX_NAME", "TYPE", "SEQ_IN_INDEX", "COLUMN_NAME", "COLLATION", "CARDINALITY", "PAGES",
        "FILTER_CONDITION"}},
      {kCmdPrimaryKeys,
       {"%", "%", "customer"},
       {},
       {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ", "PK_NAME"}},
      {kCmdSpecialColumns,
       {"%", "%", "customer"},
       {0, 2, 0, 1, 0, 1, 0},
       {"SCOPE", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "PRECISION", "LENGTH", "SCALE",
        "PSEUDO_COLUMN"}},
      {kCmdTypeInfo,
       {},
       {0, 0, 0},
       {"TYPE_NAME", "DATA_TYPE", "PRECISION", "LITERAL_PREFIX", "LITERAL_SUFFIX", "CREATE_PARAMS",
        "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE", "UNSIGNED_ATTRIBUTE", "MONEY", "AUTO_INCREMENT",
        "LOCAL_TYPE_NAME", "MINIMUM_SCALE", "MAXIMUM_SCALE"}},
  };
  for (const Case& c : cases) {
    const Result r = catalog(c.command, c.strings, c.tail);
    EXPECT_EQ(names(r), c.columns) << int(c.command);
    EXPECT_EQ(r.column_count, c.columns.size());
  }
}

TEST_F(Catalog, TablesHonourPatternsEscapesAndTypes) {
  struct Case {
    std::string table;
    std::string types;
    Names expected;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    const Result r = catalog(kCmdTables, {"%", "%", c.table, c.types});
    EXPECT_EQ(column(r, 2), c.expected) << c.table << " / " << c.types;
  }
  const Result types = catalog(kCmdTables, {"", "", "", "%"});
  EXPECT_EQ(column(types, 3), (Names{"SYSTEM TABLE", "TABLE", "VIEW"}));
}

TEST_F(Catalog, ColumnsDescribeTypesInOrdinalOrder) {
  const Result r = catalog(kCmdColumns, {"%", "%", "customer", "%"});
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(column(r, 3), (Names{"id", "name", "credit"}));
  EXPECT_EQ(r.rows[0][4].as_int(), kSqlInteger);
  EXPECT_EQ(r.rows[1][4].as_int(), kSqlVarchar);
  EXPECT_EQ(r.rows[1][5].data, "VARCHAR");
  EXPECT_EQ(r.rows[1][6].as_int(), 40);
  EXPECT_EQ(r.rows[1][10].as_int(), 0);  // NOT NULL
  EXPECT_EQ(r.rows[2][4].as_int(), kSqlNumeric);
  EXPECT_EQ(r.rows[2][8].as_int(), 2);   // scale
  EXPECT_EQ(r.rows[2][9].as_int(), 10);  // radix
  EXPECT_EQ(r.rows[2][10].as_int(), 1);
  EXPECT_TRUE(r.rows[1][8].is_null());  // no scale for a string
  const Result one = catalog(kCmdColumns, {"%", "%", "cust%", "s_q"});
  EXPECT_EQ(column(one, 3), (Names{"seq"}));
}

TEST_F(Catalog, PrimaryKeysStatisticsAndSpecialColumns) {
  const Result pk = catalog(kCmdPrimaryKeys, {"%", "%", "cust\\_x"});
  EXPECT_EQ(column(pk, 3), (Names{"code", "seq"}));
  EXPECT_EQ(pk.rows[1][4].as_int(), 2);

  // SQL_INDEX_ALL: the table statistics row first, then every index column.
  const Result all = catalog(kCmdStatistics, {"%", "%", "customer"}, {1, 0, 0});
  ASSERT_EQ(all.rows.size(), 3u);
  EXPECT_EQ(all.rows[0][6].as_int(), 0);  // SQL_TABLE_STAT
  EXPECT_EQ(all.rows[1][5].data, "customer_name");
  EXPECT_EQ(all.rows[1][3].as_int(), 0);  // unique
  EXPECT_EQ(all.rows[2][5].data, "customer_credit");
  EXPECT_EQ(all.rows[2][9].data, "D");
  // SQL_INDEX_UNIQUE leaves the non-unique index out.
  const Result unique = catalog(kCmdStatistics, {"%", "%", "customer"}, {0, 0, 0});
  EXPECT_EQ(unique.rows.size(), 2u);
  // The older request form without arguments.
  std::vector<uint8_t> old = u32_payload(7);
  old.insert(old.end(), {0, 1});
  EXPECT_EQ(client_->call(kCmdStatistics, old).letter(), 'K');

  // SQL_BEST_ROWID: the key, or the rowid pseudo column without a key.
  const Result key = catalog(kCmdSpecialColumns, {"%", "%", "customer"}, {0, 2, 0, 1, 0, 1, 0});
  EXPECT_EQ(column(key, 1), (Names{"id"}));
  const Result rowid = catalog(kCmdSpecialColumns, {"%", "%", "custAx"}, {0, 2, 0, 1, 0, 1, 0});
  ASSERT_EQ(column(rowid, 1), (Names{"rowid"}));
  EXPECT_EQ(rowid.rows[0][7].as_int(), 2);  // SQL_PC_PSEUDO
  const Result rowver = catalog(kCmdSpecialColumns, {"%", "%", "customer"}, {0, 2, 0, 1, 0, 2, 0});
  EXPECT_TRUE(rowver.rows.empty());
}

TEST_F(Catalog, TypeInfoListsEveryWireTypeOrFiltersOne) {
  const Result all = catalog(kCmdTypeInfo, {}, {0, 0, 0});
  std::vector<int> types;
  for (const auto& row : all.rows) types.push_back(row[1].as_int());
  EXPECT_EQ(types, (std::vector<int>{-4, -3, 1, 2, 4, 5, 9, 10, 11, 12}));
  const Result date = catalog(kCmdTypeInfo, {}, {0, 9, 0});
  ASSERT_EQ(date.rows.size(), 1u);
  EXPECT_EQ(date.rows[0][0].data, "DATE");
  const Result varbinary = catalog(kCmdTypeInfo, {}, {0xFF, 0xFD, 0});  // -3
  ASSERT_EQ(varbinary.rows.size(), 1u);
  EXPECT_EQ(varbinary.rows[0][0].data, "VARBINARY");
}

TEST_F(Catalog, MalformedRequestsAreRefusedInStep) {
  std::vector<uint8_t> no_end_mark = catalog_payload({"%", "%", "%", "%"}, {});
  no_end_mark.pop_back();
  EXPECT_EQ(client_->call(kCmdTables, no_end_mark).letter(), 'E');
  EXPECT_EQ(client_->call(kCmdColumns, catalog_payload({"%", "%"}, {})).letter(), 'E');
  EXPECT_EQ(catalog(kCmdTables, {"%", "%", "%", "%"}).column_count, 5u);
}

}  // namespace
}  // namespace q4::test
