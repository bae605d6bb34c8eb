// The DATA_TYPE of catalog rows in the generation the application declared:
// 91, 92, 93 for an ODBC 3 application, the server's 9, 10, 11 for an ODBC 2
// one, through SQLBindCol and SQLGetData in every C type, in the reply's
// first block, in a fetched block and in a value the server sends alone. (An
// ordinary result after a catalog one: the odbc3 versions program.)
#include <functional>

#include "result_fixture.h"
#include "statement/execute.h"

namespace q4::wire {
namespace {

class CatalogTypeCodes : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    conn->environment = &environment;
  }
  // A row of `columns` SMALLINT values, each `code` (another column holding
  // the same number must keep it), and a name in column 1.
  static Bytes row(int32_t columns, int16_t code) {
    std::vector<Bytes> values{text_value("N")};
    for (int32_t c = 2; c <= columns; ++c) values.push_back(small_value(code));
    return join(values);
  }
  // Column `column` read with SQLGetData as `c_type`, as text.
  std::string get(uint16_t column, SQLSMALLINT c_type) {
    union {
      SQLSMALLINT small;
      SQLINTEGER integer;
      double real;
      char text[32];
      char16_t wide[16];
    } v{};
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, c_type, &v, sizeof v, &indicator);
    if (rc != SQL_SUCCESS) return "rc " + std::to_string(rc) + " " + diag();
    if (c_type == SQL_C_SHORT || c_type == SQL_C_DEFAULT) return std::to_string(v.small);
    if (c_type == SQL_C_LONG) return std::to_string(v.integer);
    if (c_type == SQL_C_DOUBLE) return std::to_string(static_cast<int>(v.real));
    if (c_type == SQL_C_CHAR) return v.text;
    return std::string(v.wide, v.wide + std::char_traits<char16_t>::length(v.wide));
  }

  Environment environment{};
};

struct CatalogCase {
  const char* name;
  uint8_t command;
  int32_t columns;
  uint16_t data_type_column;
  std::function<SQLRETURN(SQLHSTMT)> call;
};

const CatalogCase kCatalogCases[] = {
    {"SQLColumns", kCmdColumns, 12, 5,
     [](SQLHSTMT s) { return SQLColumns(s, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }},
    {"SQLSpecialColumns", kCmdSpecialColumns, 8, 3,
     [](SQLHSTMT s) {
       return SQLSpecialColumns(s, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, sql_text("T"), SQL_NTS,
                                SQL_SCOPE_SESSION, SQL_NULLABLE);
     }},
    {"SQLGetTypeInfo", kCmdTypeInfo, 15, 2,
     [](SQLHSTMT s) { return SQLGetTypeInfo(s, SQL_TYPE_TIMESTAMP); }},
};

// Rows 9, 10, 11, 12 (VARCHAR stays), -5 (BIGINT stays) in the first block;
// every C type sees the same code.
TEST_F(CatalogTypeCodes, DataTypeFollowsTheDeclaredVersionInEveryCType) {
  const int16_t codes[] = {9, 10, 11, 12, -5};
  for (const CatalogCase& c : kCatalogCases) {
    for (OdbcVersion version : {OdbcVersion::kOdbc2, OdbcVersion::kOdbc3, OdbcVersion::kOdbc380}) {
      SCOPED_TRACE(std::string(c.name) + " version " + std::to_string(int(version)));
      environment.odbc_version = version;
      std::vector<Bytes> rows;
      for (int16_t code : codes) rows.push_back(row(c.columns, code));
      peer.expect_request(c.command).reply(
          "K", execute_payload(uint32_t(c.columns), 5, block_of(rows, 'W')));
      ASSERT_EQ(c.call(stmt), SQL_SUCCESS) << diag();
      for (int16_t code : codes) {
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diag();
        const std::string want =
            std::to_string(version == OdbcVersion::kOdbc2 ? code : odbc3_datetime_code(code));
        // A neighbour holding the same number is no type code; reading it
        // between two reads of DATA_TYPE also starts each read afresh.
        const uint16_t other = c.data_type_column == 2 ? 3 : c.data_type_column - 1;
        for (SQLSMALLINT c_type :
             {SQL_C_SHORT, SQL_C_LONG, SQL_C_CHAR, SQL_C_WCHAR, SQL_C_DOUBLE, SQL_C_DEFAULT}) {
          EXPECT_EQ(get(c.data_type_column, c_type), want) << "C type " << c_type;
          EXPECT_EQ(get(other, SQL_C_SHORT), std::to_string(code));
        }
      }
      EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA_FOUND);
      ASSERT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
    }
  }
}

// A bound column: a fetched second block is rewritten as it arrives, and a
// row the server holds (a status-only fetch reply) is rewritten as its value
// comes; a NULL stays NULL.
TEST_F(CatalogTypeCodes, BoundFetchAcrossBlocksAndValuesAskedFor) {
  environment.odbc_version = OdbcVersion::kOdbc380;
  const int32_t columns = 12;
  peer.expect_request(kCmdColumns)
      .reply("K", execute_payload(columns, 1, block_of({row(columns, 9)}, 'M')));
  ASSERT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, sql_text("T"), SQL_NTS, nullptr, 0),
            SQL_SUCCESS);
  SQLSMALLINT type = 0;
  SQLLEN indicator = 0;
  char text[8] = {};
  SQLLEN text_length = 0;
  ASSERT_EQ(SQLBindCol(stmt, 5, SQL_C_SSHORT, &type, 0, &indicator), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt, 9, SQL_C_CHAR, text, sizeof text, &text_length), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_TYPE_DATE);
  EXPECT_STREQ(text, "9");

  std::vector<Bytes> values{text_value("N")};
  for (int32_t c = 2; c <= columns; ++c) {
    values.push_back(c == 5 ? null_value() : small_value(10));
  }
  peer.expect_request(kCmdFetch).reply("K", block_of({row(columns, 10), join(values)}, 'M'));
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_TYPE_TIME);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_EQ(indicator, SQL_NULL_DATA);

  // The server holds the next row: each bound value is asked for alone.
  peer.expect_request(kCmdFetch).reply("K");
  peer.expect_request(kCmdGetData).reply("K", small_value(11));
  peer.expect_request(kCmdGetData).reply("K", small_value(11));
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diag();
  EXPECT_EQ(type, SQL_TYPE_TIMESTAMP);
  EXPECT_STREQ(text, "11");
  ASSERT_EQ(SQLFreeStmt(stmt, SQL_UNBIND), SQL_SUCCESS);
}

}  // namespace
}  // namespace q4::wire
