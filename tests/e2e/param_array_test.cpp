// Parameter arrays through the unixODBC Driver Manager: an ODBC 3 application
// inserts 100,000 rows 1,000 per execution through the statement attributes,
// with a status array and a row counter. How each row of an array fares is
// the wire tier's; here the attributes must pass the Driver Manager (it
// refused them with HY092 while it took the driver for a 2.x one) and the
// answers reach the application in their ODBC 3 form.
#include <algorithm>
#include <cstdio>
#include <string>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

constexpr SQLULEN kArray = 1000;
constexpr int kExecutions = 100;

using ParamArrays = Q4liteApp;

TEST_F(ParamArrays, HundredThousandRowsAThousandPerExecution) {
  exec("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20), amount DECIMAL(12,2))");
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_SUCCESS);
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "HY107");  // the driver's S1107 as ODBC 3 has it
  SQLULEN processed = 0;
  static SQLUSMALLINT statuses[kArray];
  set_attr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kArray));
  set_attr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed);
  set_attr(SQL_ATTR_PARAM_STATUS_PTR, statuses);
  static SQLINTEGER ids[kArray];
  static char names[kArray][21];
  static SQLLEN name_ind[kArray];
  static double amounts[kArray];
  ASSERT_EQ(
      SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids, 0, nullptr),
      SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, names,
                             sizeof names[0], name_ind),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DECIMAL, 12, 2, amounts,
                             0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLPrepare(stmt_, as_sql("INSERT INTO items VALUES (?, ?, ?)"), SQL_NTS), SQL_SUCCESS)
      << diag();
  for (int e = 0; e < kExecutions; ++e) {
    for (SQLULEN i = 0; i < kArray; ++i) {
      const int id = e * static_cast<int>(kArray) + static_cast<int>(i) + 1;
      ids[i] = id;
      snprintf(names[i], sizeof names[i], "item %d", id);
      name_ind[i] = id % 7 == 0 ? SQL_NULL_DATA : SQL_NTS;
      amounts[i] = id * 0.25;
    }
    std::fill(statuses, statuses + kArray, 99);
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << "execution " << e << ": " << diag();
    ASSERT_EQ(processed, kArray);
    ASSERT_EQ(static_cast<SQLULEN>(std::count(statuses, statuses + kArray, SQL_PARAM_SUCCESS)),
              kArray);
    SQLLEN count = 0;
    ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
    ASSERT_EQ(count, static_cast<SQLLEN>(kArray));
  }
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);

  // Every row, every seventh name NULL, and two rows' values.
  set_attr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1));
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  char got[128] = {0};
  exec(
      "SELECT COUNT(*) || ' ' || COUNT(name) || ' ' || SUM(id) || ' ' || "
      "(SELECT name || ' ' || amount FROM items WHERE id = 54321) || ' ' || "
      "(SELECT IFNULL(name, 'NULL') FROM items WHERE id = 99995) FROM items");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, got, sizeof got, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(got, "100000 85715 5000050000 item 54321 13580.25 NULL");
}

}  // namespace
}  // namespace q4e2e
