// The ODBC 3 calls against the scripted peer: parameter status arrays, and the
// rowsets SQLFetch and SQLFetchScroll deliver to an ODBC 3 caller.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "result_fixture.h"

namespace q4::wire {
namespace {

class ParamStatuses : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    ASSERT_EQ(
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids, 0, nullptr),
        SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
  }
  SQLRETURN insert(SQLULEN rows, const char* text = "INSERT INTO T VALUES (?)") {
    EXPECT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0),
              SQL_SUCCESS);
    for (SQLUSMALLINT& s : statuses) s = 99;
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)), SQL_NTS);
  }
  std::vector<SQLUSMALLINT> status_list() const { return {statuses, statuses + 4}; }

  int32_t ids[4] = {10, 20, 30, 40};
  SQLUSMALLINT statuses[4];
  SQLULEN processed = 0;
};

constexpr SQLUSMALLINT kOk = SQL_PARAM_SUCCESS, kInfo = SQL_PARAM_SUCCESS_WITH_INFO,
                       kFailed = SQL_PARAM_ERROR, kUnused = SQL_PARAM_UNUSED, kUntouched = 99;

// Each row run reports its own outcome; the row an execution stops at is the
// error the rows-processed counter names, and the rows after it were not run.
TEST_F(ParamStatuses, EachRowReportsItsOutcome) {
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("Wtruncated");
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(4), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(status_list(), (std::vector<SQLUSMALLINT>{kOk, kInfo, kOk, kOk}));
  EXPECT_EQ(processed, 4u);

  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("E70 UNIQUE constraint failed");
  EXPECT_EQ(insert(4), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "23000");
  EXPECT_EQ(status_list(), (std::vector<SQLUSMALLINT>{kOk, kOk, kFailed, kUnused}));
  EXPECT_EQ(processed, 3u);

  // One set of values: row 1's outcome, whatever else the array holds.
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(1), SQL_SUCCESS);
  EXPECT_EQ(status_list(), (std::vector<SQLUSMALLINT>{kOk, kUntouched, kUntouched, kUntouched}));
  peer.expect_request(kCmdExecute).reply("E70 UNIQUE constraint failed");
  EXPECT_EQ(insert(1), SQL_ERROR);
  EXPECT_EQ(statuses[0], kFailed);
}

// A row that cannot be written stops the execution before it is sent; a
// refusal before the first row stops at row 1.
TEST_F(ParamStatuses, RowsThatCannotBeSentAreErrorsOrUnused) {
  char names[4][4] = {"a", "b", "c", "d"};
  SQLLEN indicators[4] = {SQL_NTS, SQL_NTS, -7, SQL_NTS};  // row 3: not a length
  ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 3, 0, names,
                             sizeof names[0], indicators),
            SQL_SUCCESS);
  const char* text = "INSERT INTO T VALUES (?, ?)";
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(4, text), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1090");
  EXPECT_EQ(status_list(), (std::vector<SQLUSMALLINT>{kOk, kOk, kFailed, kUnused}));
  EXPECT_EQ(processed, 3u);

  indicators[2] = SQL_NTS;
  indicators[1] = SQL_DATA_AT_EXEC;
  EXPECT_EQ(insert(4, text), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1C00");
  EXPECT_EQ(status_list(), (std::vector<SQLUSMALLINT>{kFailed, kUnused, kUnused, kUnused}));
  EXPECT_EQ(processed, 1u);
}

// A statement of an environment from SQLAllocHandle, bound to an array of
// three rows.
class Odbc3Rowsets : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    environment.odbc3_caller = 1;
    conn->environment = &environment;
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(3), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    // Five rows, all in the execute reply.
    ASSERT_EQ(execute(execute_payload(1, 1, numbered_block(1, 5, 'W'))), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_LONG, values, sizeof values[0], nullptr), SQL_SUCCESS);
  }
  void TearDown() override {
    StatementTest::TearDown();
    conn->environment = nullptr;
  }
  // "rc: fetched values/statuses...", e.g. "0: 3 1/0 2/0 3/0".
  std::string rowset(SQLRETURN rc) {
    std::string text = std::to_string(rc) + ":";
    if (rc == SQL_ERROR) return text + " " + diag();
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return text;
    text += " " + std::to_string(fetched);
    for (int i = 0; i < 3; ++i) {
      text += " " + std::to_string(values[i]) + "/" + std::to_string(statuses[i]);
      values[i] = -1;
    }
    return text;
  }

  Environment environment{};
  int32_t values[3] = {-1, -1, -1};
  SQLUSMALLINT statuses[3];
  SQLULEN fetched = 0;
};

// SQLFetch steps rowset by rowset, as unixODBC's SQLExtendedFetch mapping did.
TEST_F(Odbc3Rowsets, SQLFetchDeliversTheNextRowset) {
  EXPECT_EQ(rowset(SQLFetch(stmt)), "0: 3 1/0 2/0 3/0");
  EXPECT_EQ(rowset(SQLFetch(stmt)), "0: 2 4/0 5/0 -1/3");
  // Past the end the server is asked again, as by SQLExtendedFetch.
  peer.expect_request(kCmdFetch).reply("W");
  EXPECT_EQ(rowset(SQLFetch(stmt)), "100:");
}

TEST_F(Odbc3Rowsets, SQLFetchScrollPositionsByOrientation) {
  SQLINTEGER bookmark = 2;
  ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_FETCH_BOOKMARK_PTR, &bookmark, 0), SQL_SUCCESS);
  EXPECT_EQ(rowset(SQLFetchScroll(stmt, SQL_FETCH_ABSOLUTE, 3)), "0: 3 3/0 4/0 5/0");
  EXPECT_EQ(rowset(SQLFetchScroll(stmt, SQL_FETCH_BOOKMARK, 99)), "0: 3 2/0 3/0 4/0")
      << "the offset does not move a bookmark";
  EXPECT_EQ(rowset(SQLFetchScroll(stmt, SQL_FETCH_FIRST, 0)), "0: 3 1/0 2/0 3/0");
  EXPECT_EQ(rowset(SQLFetchScroll(stmt, SQL_FETCH_RELATIVE, 4)), "0: 1 5/0 -1/3 -1/3");
  peer.expect_request(kCmdFetch).reply("W");
  EXPECT_EQ(rowset(SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0)), "100:");
}

// A 2.x caller's SQLFetch stays one row at a time, whatever the rowset size.
TEST_F(Odbc3Rowsets, SQLFetchOfA2xCallerReadsOneRow) {
  environment.odbc3_caller = 0;
  fetched = 77;
  EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], -1);
  EXPECT_EQ(fetched, 77u);
}

}  // namespace
}  // namespace q4::wire
