// Parameter arrays through the unixODBC Driver Manager: an ODBC 3 application
// runs one prepared INSERT again and again through the statement attributes,
// with a status array and a row counter. The attributes must pass the Driver
// Manager (it refused them with HY092 while it took the driver for a 2.x one)
// and the answers reach the application in their ODBC 3 form. (100,000 rows
// in arrays are pyodbc_text_test.py's, through fast_executemany.)
#include <algorithm>
#include <cstdio>
#include <string>

#include "q4lite_app.h"

namespace q4e2e {
namespace {

using ParamArrays = Q4liteApp;

// One prepared INSERT run again and again on one statement handle, the way an
// application reuses it: arrays that fail in the middle or carry NULLs, single
// executions between arrays, a cancel, a commit, the bindings reset. Each step
// checks what it returns and the statuses; the table is checked at the end. (A
// value sent at execution after a row-wise array is pyodbc_arrays_test.py's.)
class ReusedStatement : public Q4liteApp {
 protected:
  static constexpr SQLULEN kRows = 5;
  void SetUp() override {
    Q4liteApp::SetUp();
    exec("DROP TABLE IF EXISTS reuse");
    exec("CREATE TABLE reuse (id INTEGER PRIMARY KEY, name VARCHAR(20))");
    ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_SUCCESS);
    set_attr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_);
    set_attr(SQL_ATTR_PARAM_STATUS_PTR, statuses_);
    bind();
    ASSERT_EQ(SQLPrepare(stmt_, as_sql("INSERT INTO reuse VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS);
  }
  void bind() {
    ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids_, 0,
                               nullptr),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, names_,
                               sizeof names_[0], name_ind_),
              SQL_SUCCESS);
  }
  // Fills the rows from `first_id` on (a NULL name where `null_row` says) and
  // runs `rows` of them.
  SQLRETURN run(int first_id, SQLULEN rows, SQLULEN null_row = kRows) {
    for (SQLULEN i = 0; i < kRows; ++i) {
      ids_[i] = first_id + static_cast<int>(i);
      snprintf(names_[i], sizeof names_[i], "Zoë %d", ids_[i]);
      name_ind_[i] = i == null_row ? SQL_NULL_DATA : SQL_NTS;
      statuses_[i] = 99;
    }
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
    return SQLExecute(stmt_);
  }
  std::string statuses(SQLULEN rows) {
    std::string out;
    for (SQLULEN i = 0; i < rows; ++i) {
      out += statuses_[i] == SQL_PARAM_SUCCESS            ? 'S'
             : statuses_[i] == SQL_PARAM_ERROR            ? 'E'
             : statuses_[i] == SQL_PARAM_UNUSED           ? 'U'
             : statuses_[i] == SQL_PARAM_DIAG_UNAVAILABLE ? 'D'
                                                          : '?';
    }
    return out;
  }
  std::string table() {
    return text_of(dbc_,
                   "SELECT group_concat(id || ':' || IFNULL(name, 'NULL'), ' ') "
                   "FROM (SELECT * FROM reuse ORDER BY id)");
  }

  SQLINTEGER ids_[kRows];
  char names_[kRows][21];
  SQLLEN name_ind_[kRows];
  SQLUSMALLINT statuses_[kRows];
  SQLULEN processed_ = 0;
};

TEST_F(ReusedStatement, KeepsWorkingAfterEachKindOfArrayEnding) {
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "HY107");  // the driver's S1107 as ODBC 3 has it
  // An array whose third row meets an existing key fails there; the rows
  // before it stay, and so do the rows already sent after it (the fourth
  // meets a key too).
  ASSERT_EQ(run(1, 1), SQL_SUCCESS) << diag();  // id 1
  ASSERT_EQ(run(2, 1), SQL_SUCCESS) << diag();  // id 2
  ASSERT_EQ(run(-1, kRows), SQL_ERROR);         // ids -1, 0, 1 (taken), 2 (taken), 3
  EXPECT_EQ(diag().substr(0, 5), "23000");
  EXPECT_EQ(processed_, 3u);
  EXPECT_EQ(statuses(kRows), "SSEES");
  // The same statement runs the next array whole, one with a NULL row.
  ASSERT_EQ(run(10, kRows, 2), SQL_SUCCESS) << diag();
  EXPECT_EQ(statuses(kRows), "SSSSS");
  EXPECT_EQ(processed_, kRows);
  SQLLEN count = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 5);
  // A single execution between arrays, then an array again.
  ASSERT_EQ(run(20, 1), SQL_SUCCESS) << diag();
  EXPECT_EQ(processed_, 1u);
  ASSERT_EQ(run(30, kRows), SQL_SUCCESS) << diag();
  // A cancel of the idle statement, then the next array.
  ASSERT_EQ(SQLCancel(stmt_), SQL_SUCCESS);
  ASSERT_EQ(run(40, kRows), SQL_SUCCESS) << diag();
  // A commit keeps the prepared statement (what pyodbc relies on when it
  // reuses a cursor after connection.commit()).
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);
  ASSERT_EQ(run(50, kRows), SQL_SUCCESS) << diag();
  // So does a rollback (which takes the rows of 50 back).
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  ASSERT_EQ(run(60, 2), SQL_SUCCESS) << diag();
  // Bindings reset: the markers have no values; bound again, it runs.
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(run(70, 1), SQL_ERROR);
  EXPECT_EQ(diag().substr(0, 5), "07001");
  bind();
  ASSERT_EQ(run(70, 1), SQL_SUCCESS) << diag();
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(
      table(),
      "-1:Zoë -1 0:Zoë 0 1:Zoë 1 2:Zoë 2 3:Zoë 3 10:Zoë 10 11:Zoë 11 12:NULL 13:Zoë 13 14:Zoë 14 "
      "20:Zoë 20 30:Zoë 30 31:Zoë 31 32:Zoë 32 33:Zoë 33 34:Zoë 34 40:Zoë 40 41:Zoë 41 "
      "42:Zoë 42 43:Zoë 43 44:Zoë 44 60:Zoë 60 61:Zoë 61 70:Zoë 70");
}

// 1,000 rows, the 400th meeting a key taken by the 10th, on a connection
// that sends rows ahead of their replies and on one that does not
// (DisableArrayPipeline=Yes): the status array, the counter, SQLRowCount and
// the table agree, and the driver answers the parameter array questions.
TEST_F(ParamArrays, AFailingRowInTheMiddleWithAndWithoutThePipeline) {
  constexpr SQLULEN kRows = 1000;
  static SQLINTEGER ids[kRows];
  static SQLUSMALLINT statuses[kRows];
  SQLULEN processed = 0;
  for (const char* pipeline : {"No", "Yes"}) {
    SCOPED_TRACE(pipeline);
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    ASSERT_EQ(SQLAllocConnect(env_, &dbc), SQL_SUCCESS);
    const std::string dsn = std::string("DSN=") + getenv("Q4_DSN") +
                            ";UID=test;PWD=secret;DisableArrayPipeline=" + pipeline;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, as_sql(dsn), SQL_NTS, nullptr, 0,
                                               nullptr, SQL_DRIVER_NOPROMPT)));
    SQLUINTEGER counts = 0, selects = 0;
    ASSERT_EQ(SQLGetInfo(dbc, SQL_PARAM_ARRAY_ROW_COUNTS, &counts, sizeof counts, nullptr),
              SQL_SUCCESS);
    ASSERT_EQ(SQLGetInfo(dbc, SQL_PARAM_ARRAY_SELECTS, &selects, sizeof selects, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(counts, static_cast<SQLUINTEGER>(SQL_PARC_NO_BATCH));
    EXPECT_EQ(selects, static_cast<SQLUINTEGER>(SQL_PAS_NO_SELECT));
    ASSERT_EQ(SQLAllocStmt(dbc, &stmt), SQL_SUCCESS);
    SQLExecDirect(stmt, as_sql("DROP TABLE IF EXISTS middle"), SQL_NTS);
    ASSERT_EQ(SQLExecDirect(stmt, as_sql("CREATE TABLE middle (id INTEGER PRIMARY KEY)"), SQL_NTS),
              SQL_SUCCESS);
    for (SQLULEN i = 0; i < kRows; ++i) ids[i] = static_cast<SQLINTEGER>(i == 399 ? 10 : i + 1);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses, 0);
    ASSERT_EQ(
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids, 0, nullptr),
        SQL_SUCCESS);
    EXPECT_EQ(SQLExecDirect(stmt, as_sql("INSERT INTO middle VALUES (?)"), SQL_NTS), SQL_ERROR);
    SQLCHAR state[6] = {0}, text[256] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLError(env_, dbc, stmt, state, &native, text, sizeof text, &length);
    EXPECT_STREQ(reinterpret_cast<char*>(state), "23000");
    EXPECT_EQ(processed, 400u);
    SQLLEN changed = 0;
    ASSERT_EQ(SQLRowCount(stmt, &changed), SQL_SUCCESS);
    // The rows with a success status are the rows in the table, and only they.
    std::string inserted;
    for (SQLULEN i = 0; i < kRows; ++i) {
      if (statuses[i] == SQL_PARAM_SUCCESS) inserted += std::to_string(ids[i]) + " ";
    }
    EXPECT_EQ(statuses[399], SQL_PARAM_ERROR);
    const auto ran = static_cast<size_t>(std::count(statuses, statuses + kRows, SQL_PARAM_SUCCESS));
    EXPECT_EQ(static_cast<size_t>(changed), ran);
    EXPECT_EQ(static_cast<size_t>(std::count(statuses, statuses + kRows, SQL_PARAM_UNUSED)),
              kRows - ran - 1);
    if (pipeline[0] == 'Y') {
      EXPECT_EQ(ran, 399u) << "one row at a time: nothing after the failing row";
    } else {
      EXPECT_GT(ran, 399u) << "rows sent ahead run";
    }
    EXPECT_EQ(text_of(dbc,
                      "SELECT group_concat(id, ' ') || ' ' FROM "
                      "(SELECT id FROM middle ORDER BY id)"),
              inserted);
    SQLFreeStmt(stmt, SQL_DROP);
    SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
  }
}

}  // namespace
}  // namespace q4e2e
