// SQL in, values and "E" replies out through a running q4lite: the wire type a
// stored value travels in, what the escape functions compute, and SQLite's
// real messages mapped to server error numbers (one row per rule).
#include <gtest/gtest.h>

#include "protocol/codec.h"
#include "protocol_client.h"

namespace q4::test {
namespace {

class Wire : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = start_server().release();
    ASSERT_NE(server_, nullptr);
    client_ = logged_on(*server_).release();
  }
  static void TearDownTestSuite() {
    delete client_;
    delete server_;
  }
  static void run(const std::string& sql) {
    const Reply r = client_->execute(1, sql);
    ASSERT_EQ(r.letter(), 'K') << sql << ": " << r.status;
  }
  // The single value `expression` selects, and its column's description.
  static Value select(const std::string& expression, Description* description = nullptr) {
    const Result r = result_of(client_->execute(2, "SELECT " + expression));
    if (r.rows.size() != 1 || r.rows[0].size() != 1 || r.descriptions.size() != 1) {
      ADD_FAILURE() << expression << ": no single value";
      return Value{};
    }
    if (description != nullptr) *description = r.descriptions[0];
    return r.rows[0][0];
  }
  static ServerProcess* server_;
  static Client* client_;
};

ServerProcess* Wire::server_ = nullptr;
Client* Wire::client_ = nullptr;

std::string be(int32_t v, size_t size) {
  uint8_t b[4];
  if (size == 4) put_u32(b, static_cast<uint32_t>(v));
  if (size == 2) put_u16(b, static_cast<uint16_t>(v));
  return std::string(reinterpret_cast<char*>(b), size);
}

TEST_F(Wire, StoredValuesTravelInTheirColumnsWireType) {
  run("CREATE TABLE every_type (i INTEGER, s SMALLINT, v VARCHAR(30), n NUMERIC(9,3), r REAL, "
      "bi BIGINT, d DATE, ts TIMESTAMP, vb VARBINARY(8), untyped)");
  // clang-format off
  const struct {
    const char *column, *literal;  // stored into the column
    int16_t description_type, value_type;
    std::string data;
  } cases[] = {
      {"i", "-2147483648", kSqlInteger, kSqlInteger, be(INT32_MIN, 4)},
      {"i", "4294967296", kSqlInteger, kSqlNumeric, "4294967296"},  // too wide: decimal text
      {"s", "40000", kSqlSmallint, kSqlInteger, be(40000, 4)},
      {"v", "12", kSqlVarchar, kSqlVarchar, "12"},  // text affinity stores text
      {"n", "-12.3456", kSqlNumeric, kSqlNumeric, "-12.346"},  // the column's scale
      {"r", "0.1", kSqlNumeric, kSqlNumeric, "0.1"},
      {"bi", "9007199254740993", kSqlNumeric, kSqlNumeric, "9007199254740993"},  // not via double
      {"d", "'2024-02-29 13:14:15'", kSqlDate, kSqlDate, "2024-02-29"},
      {"d", "'yesterday'", kSqlDate, kSqlVarchar, "yesterday"},
      {"ts", "'2024-01-02'", kSqlTimestamp, kSqlTimestamp, "2024-01-02 00:00:00"},
      {"vb", "x'00ff10'", kSqlVarbinary, kSqlVarbinary, std::string("\x00\xff\x10", 3)},
      {"untyped", "5", kSqlInteger, kSqlInteger, be(5, 4)},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " = " + c.literal);
    run("DELETE FROM every_type");
    run(std::string("INSERT INTO every_type (") + c.column + ") VALUES (" + c.literal + ")");
    Description d;
    const Value v = select(std::string(c.column) + " FROM every_type", &d);
    EXPECT_EQ(d.type, c.description_type);
    EXPECT_EQ(v.type, static_cast<uint16_t>(c.value_type));
    EXPECT_EQ(v.data, c.data);
  }
  const Value null = select("CAST(NULL AS INTEGER)");
  EXPECT_TRUE(null.is_null());
  EXPECT_TRUE(null.data.empty());
}

TEST_F(Wire, DeclarationsAndFirstValuesGiveTheDescription) {
  run("CREATE TABLE decl (a VARCHAR(17) NOT NULL, b NUMERIC(12,4))");
  const Result r = result_of(client_->execute(1, "SELECT a, b FROM decl"));
  ASSERT_EQ(r.descriptions.size(), 2u);
  EXPECT_EQ(r.descriptions[0].precision, 17u);
  EXPECT_EQ(r.descriptions[0].nullable, 0);
  EXPECT_EQ(r.descriptions[1].scale, 4);
  EXPECT_EQ(r.descriptions[1].nullable, 1);
  // Expressions take their type from the first value.
  const std::pair<const char*, int16_t> expressions[] = {
      {"1 + 1", kSqlInteger},      {"3000000000 * 2", kSqlNumeric}, {"1.5 * 2", kSqlNumeric},
      {"'a' || 'b'", kSqlVarchar}, {"x'0102'", kSqlLongVarbinary},  {"NULL", kSqlVarchar}};
  for (const auto& [expression, type] : expressions) {
    Description d;
    select(expression, &d);
    EXPECT_EQ(d.type, type) << expression;
  }
}

TEST_F(Wire, EscapeFunctionsComputeTheOdbcResult) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {  // the value as text
      {"{d '2024-03-05'}", "2024-03-05"}, {"{fn UCASE('abc')}", "ABC"},
      {"{fn RIGHT('abcdef', 2)}", "ef"}, {"{fn RIGHT('abc', 0)}", ""},
      {"{fn LENGTH('abc  ')}", "3"},  // trailing blanks do not count
      {"{fn LOCATE('c', 'abcabc')}", "3"}, {"{fn LOCATE('c', 'abcabc', 4)}", "6"},
      {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"}, {"{fn REPEAT('ab', 3)}", "ababab"},
      {"{fn SUBSTRING('abcdef', 4)}", "def"}, {"{fn MOD(17, 5)}", "2"},
      {"{fn DAYOFWEEK({d '2024-03-05'})}", "3"},  // a Tuesday, Sunday being 1
      {"{fn QUARTER({d '2024-08-01'})}", "3"}, {"{fn MONTHNAME({d '2024-03-05'})}", "March"},
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
}

TEST_F(Wire, SqliteMessagesCarryTheFittingServerErrorNumber) {
  run("CREATE TABLE e (k INTEGER PRIMARY KEY, u VARCHAR(5) UNIQUE NOT NULL); "
      "CREATE TABLE e2 (k INTEGER); CREATE INDEX e_u ON e(u); CREATE VIEW ev AS SELECT k FROM e");
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"SELECT * FROM missing_table", 3}, {"SELECT nocolumn FROM e", 0},
      {"SELECT k FROM e, e2", 2}, {"SELEKT 1", 26}, {"SELECT (1", 26},
      {"CREATE TABLE e (a)", 51}, {"CREATE INDEX e_u ON e(u)", 40},
      {"DROP INDEX no_such_index", 41}, {"INSERT INTO e VALUES (2, NULL)", 70},
      {"ALTER TABLE e ADD COLUMN u INTEGER", 64}, {"INSERT INTO e2 VALUES (1, 2)", 36},
      {"SELECT 1 UNION SELECT 1, 2", 5}, {"DROP TABLE ev", 96}, {"SELECT {fn NOSUCH(1)}", 98},
      {"SELECT {call proc}", 98}, {"SELECT no_such_function(1)", 98}, {"SELECT {xyz 1}", 26},
      {"SELECT {fn UCASE('a')", 26}, {"SELECT abs(1, 2)", 19}, {"SELECT ? + 1", 19},
  };
  // clang-format on
  for (const auto& [sql, number] : cases) {
    const Reply reply = client_->execute(4, sql);
    EXPECT_EQ(error_number(reply), number) << sql << " -> " << reply.status;
  }
  EXPECT_EQ(client_->execute(4, "SELECT * FROM missing_table").status,
            "E3 no such table: missing_table");  // SQLite's own message after the number
}

// An error from a row after the first surfaces as the trailing status of a
// block, or as the "E" of a later fetch.
TEST_F(Wire, ErrorWhileStreamingEndsTheBlockWithE) {
  Reply reply = client_->execute(
      5, numbers(5000,
                 "CASE WHEN i < 4000 THEN i ELSE abs((-9223372036854775807 - 1) * (i / i)) END"));
  char trailer = result_of(reply).trailer;
  while (trailer == 'M') {
    reply = client_->fetch(5);
    if (reply.letter() != 'K') break;
    Rows rows;
    ASSERT_TRUE(parse_block(reply.payload, 1, &rows, &trailer));
  }
  EXPECT_TRUE(trailer == 'E' || reply.letter() == 'E') << reply.status;
}

}  // namespace
}  // namespace q4::test
