// The type names q4lite gives in SQLColumns and SQLSpecialColumns (the SQL
// function q4_type over a declared type) are the names SQLGetTypeInfo lists
// for the same type code, which the driver also shows for result columns.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_functions.h"

namespace q4::test {
namespace {

std::string text_of(const lite::ValueView& v) {
  return std::string(reinterpret_cast<const char*>(v.data), v.length);
}

int32_t integer_of(const lite::ValueView& v) {
  int32_t n = 0;
  for (uint32_t i = 0; i < v.length; ++i) n = n << 8 | v.data[i];
  return v.length == 2 ? int16_t(n) : n;
}

TEST(TypeNames, ColumnsNameTheirTypeAsTypeInfoListsIt) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  lite::SessionNames names{"test", "main"};
  ASSERT_EQ(lite::register_sql_functions(db, &names), SQLITE_OK);

  // SQLGetTypeInfo's rows: type code -> TYPE_NAME.
  lite::CatalogRequest request{};
  request.kind = lite::CatalogKind::kTypeInfo;
  std::string failure;
  std::unique_ptr<lite::Cursor> rows = lite::open_catalog(db, request, &failure);
  ASSERT_TRUE(rows) << failure;
  std::map<int32_t, std::string> listed;
  uint8_t scratch[lite::kValueScratch];
  while (rows->announce() == lite::Cursor::kMore) {
    listed[integer_of(rows->value(1, scratch))] = text_of(rows->value(0, scratch));
  }
  rows.reset();

  const struct {
    const char* declared;  // null: a column without a declared type
    int type;
    const char* name;
  } cases[] = {
      {"INTEGER", kSqlInteger, "INTEGER"},
      {"int", kSqlInteger, "INTEGER"},
      {"SMALLINT", kSqlSmallint, "SMALLINT"},
      {"BOOLEAN", kSqlSmallint, "SMALLINT"},
      {"BIGINT", kSqlBigint, "BIGINT"},
      {"NUMERIC(10,2)", kSqlNumeric, "NUMERIC"},
      {"NUMERIC TEXT(30,10)", kSqlNumeric, "NUMERIC"},
      {"widget", kSqlNumeric, "NUMERIC"},  // SQLite's affinity rules
      {"REAL", kSqlDouble, "DOUBLE"},
      {"DOUBLE PRECISION", kSqlDouble, "DOUBLE"},
      {"CHAR(3)", kSqlChar, "CHAR"},
      {"VARCHAR(40)", kSqlVarchar, "VARCHAR"},
      {"TEXT", kSqlVarchar, "VARCHAR"},
      {"NVARCHAR2(8)", kSqlVarchar, "VARCHAR"},
      {nullptr, kSqlVarchar, "VARCHAR"},
      {"DATE", kSqlDate, "DATE"},
      {"TIME", kSqlTime, "TIME"},
      {"DATETIME", kSqlTimestamp, "TIMESTAMP"},
      {"VARBINARY(16)", kSqlVarbinary, "VARBINARY"},
      {"BLOB", kSqlLongVarbinary, "LONGVARBINARY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.declared != nullptr ? c.declared : "(none)");
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT q4_type(?1, 'type'), q4_type(?1, 'name')", -1, &stmt,
                                 nullptr),
              SQLITE_OK);
    if (c.declared != nullptr) sqlite3_bind_text(stmt, 1, c.declared, -1, SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    const int type = sqlite3_column_int(stmt, 0);
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
    sqlite3_finalize(stmt);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(listed[type], name) << "SQLGetTypeInfo names type " << type << " otherwise";
  }
  sqlite3_close(db);
}

}  // namespace
}  // namespace q4::test
