// Parameter arrays through the unixODBC Driver Manager: an ODBC 3 application
// inserts 100,000 rows 1,000 at a time through the statement attributes, with
// a status array, and a row that breaks a constraint stops its execution.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

constexpr SQLULEN kArray = 1000;
constexpr int kExecutions = 100;

class ParamArrays : public Q4liteApp {
 protected:
  void exec(const std::string& text) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, as_sql(text), SQL_NTS))) << text << diag();
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }
  // The first column of the first row of `query`, as text.
  std::string scalar(const std::string& query) {
    char value[64] = {0};
    SQLLEN length = 0;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, as_sql(query), SQL_NTS))) << query << diag();
    EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << query;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_CHAR, value, sizeof value, &length)));
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return length == SQL_NULL_DATA ? "NULL" : value;
  }
};

// unixODBC passes the array attributes to the driver (it refused them with
// HY092 while it took the driver for a 2.x one); SQLParamOptions sets the
// same size and counter.
TEST_F(ParamArrays, TheAttributesAndSQLParamOptionsReachTheDriver) {
  SQLULEN processed = 0, other = 0;
  SQLUSMALLINT statuses[4];
  const std::pair<SQLINTEGER, SQLPOINTER> attributes[] = {
      {SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kArray)},
      {SQL_ATTR_PARAMS_PROCESSED_PTR, &processed},
      {SQL_ATTR_PARAM_STATUS_PTR, statuses},
      {SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN)}};
  for (const auto& [attribute, value] : attributes) {
    EXPECT_EQ(SQLSetStmtAttr(stmt_, attribute, value, 0), SQL_SUCCESS) << attribute << diag();
  }
  SQLULEN size = 0;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(size, kArray);
  EXPECT_EQ(SQLParamOptions(stmt_, 3, &other), SQL_SUCCESS) << diag();
  SQLULEN* counter = nullptr;
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &counter, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(counter, &other);
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "HY107");
}

TEST_F(ParamArrays, HundredThousandRowsAThousandPerExecution) {
  exec("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20), amount DECIMAL(12,2))");
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_SUCCESS);
  SQLULEN processed = 0;
  static SQLUSMALLINT statuses[kArray];
  set_attr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kArray));
  set_attr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed);
  set_attr(SQL_ATTR_PARAM_STATUS_PTR, statuses);
  static SQLINTEGER ids[kArray];
  static char names[kArray][21];
  static SQLLEN name_ind[kArray];
  static double amounts[kArray];
  static SQLLEN amount_ind[kArray];
  ASSERT_EQ(
      SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids, 0, nullptr),
      SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, names,
                             sizeof names[0], name_ind),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DECIMAL, 12, 2, amounts,
                             0, amount_ind),
            SQL_SUCCESS);
  ASSERT_EQ(SQLPrepare(stmt_, as_sql("INSERT INTO items VALUES (?, ?, ?)"), SQL_NTS), SQL_SUCCESS)
      << diag();
  int nulls = 0;
  for (int e = 0; e < kExecutions; ++e) {
    for (SQLULEN i = 0; i < kArray; ++i) {
      const int id = e * static_cast<int>(kArray) + static_cast<int>(i) + 1;
      ids[i] = id;
      snprintf(names[i], sizeof names[i], "item %d", id);
      name_ind[i] = id % 7 == 0 ? SQL_NULL_DATA : SQL_NTS;
      nulls += id % 7 == 0;
      amounts[i] = id * 0.25;
      amount_ind[i] = 0;
    }
    for (SQLUSMALLINT& status : statuses) status = 99;
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << "execution " << e << ": " << diag();
    ASSERT_EQ(processed, kArray);
    ASSERT_EQ(static_cast<SQLULEN>(std::count(statuses, statuses + kArray, SQL_PARAM_SUCCESS)),
              kArray);
    SQLLEN count = 0;
    ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
    ASSERT_EQ(count, static_cast<SQLLEN>(kArray));
  }
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);
  set_attr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1));
  set_attr(SQL_ATTR_PARAM_STATUS_PTR, nullptr);
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM items"), "100000");
  EXPECT_EQ(scalar("SELECT COUNT(name) FROM items"), std::to_string(100000 - nulls));
  EXPECT_EQ(scalar("SELECT SUM(id) FROM items"), "5000050000");
  EXPECT_EQ(scalar("SELECT name || ' ' || amount FROM items WHERE id = 54321"),
            "item 54321 13580.25");
  EXPECT_EQ(scalar("SELECT name FROM items WHERE id = 99995"), "NULL");
}

// The seventh row repeats a key: the six before it are in, the three after it
// were never sent, and the row counter and the status array name the row that
// failed (the array set with SQLParamOptions, the statuses as an attribute).
TEST_F(ParamArrays, ARowBreakingAConstraintStopsItsExecution) {
  exec("CREATE TABLE keys (id INTEGER PRIMARY KEY)");
  SQLINTEGER ids[10] = {1, 2, 3, 4, 5, 6, 3, 8, 9, 10};
  SQLULEN processed = 0;
  SQLUSMALLINT statuses[10];
  ASSERT_EQ(SQLParamOptions(stmt_, 10, &processed), SQL_SUCCESS);
  set_attr(SQL_ATTR_PARAM_STATUS_PTR, statuses);
  ASSERT_EQ(
      SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids, 0, nullptr),
      SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt_, as_sql("INSERT INTO keys VALUES (?)"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "23000");
  EXPECT_EQ(processed, 7u);
  const std::vector<SQLUSMALLINT> want = {
      0, 0, 0, 0, 0, 0, SQL_PARAM_ERROR, SQL_PARAM_UNUSED, SQL_PARAM_UNUSED, SQL_PARAM_UNUSED};
  EXPECT_EQ(std::vector<SQLUSMALLINT>(statuses, statuses + 10), want);
  ASSERT_EQ(SQLParamOptions(stmt_, 1, nullptr), SQL_SUCCESS);
  EXPECT_EQ(scalar("SELECT COUNT(*) || ' ' || MAX(id) FROM keys"), "6 6");
}

}  // namespace
}  // namespace q4e2e
