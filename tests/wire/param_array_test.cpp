// Parameter arrays against the scripted peer: one execute request per row, in
// order, and where an execution stops.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <thread>

#include "result_fixture.h"

namespace q4::wire {
namespace {

class ParamArray : public StatementTest {
 protected:
  static constexpr const char* kInsert = "INSERT INTO T VALUES (?, ?)";

  void SetUp() override {
    StatementTest::SetUp();
    ASSERT_EQ(
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, ids, 0, id_ind),
        SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, names,
                               sizeof names[0], name_ind),
              SQL_SUCCESS);
  }
  // The request of one row: "INSERT INTO T VALUES (<id>, <name>)".
  Bytes row_request(const std::string& id, const std::string& name) {
    std::string text = "INSERT INTO T VALUES (" + id + ", " + name + ")";
    return join({this->id(stmt), bytes_of(text), {0, 0}});
  }
  SQLRETURN insert() {
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kInsert)), SQL_NTS);
  }
  SQLLEN rows_counted() {
    SQLLEN count = -99;
    EXPECT_EQ(SQLRowCount(stmt, &count), SQL_SUCCESS);
    return count;
  }

  int32_t ids[4] = {10, 20, 30, 40};
  SQLLEN id_ind[4] = {0, 0, 0, 0};
  char names[4][8] = {"ann", "bob's", "cy", "dee"};
  SQLLEN name_ind[4] = {SQL_NTS, SQL_NULL_DATA, 2, SQL_NTS};
  SQLULEN done = 0;
};

// An array of 1 is a single execution; larger ones send their rows in turn,
// and SQLRowCount adds up what the rows changed.
TEST_F(ParamArray, RowsRunInTurnAndTheirCountsAddUp) {
  ASSERT_EQ(SQLParamOptions(stmt, 1, &done), SQL_SUCCESS);
  peer.expect_request(kCmdExecute, row_request("10", "'ann'")).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(), SQL_SUCCESS) << diag();
  EXPECT_EQ(done, 1u);

  ASSERT_EQ(SQLParamOptions(stmt, 3, &done), SQL_SUCCESS);
  peer.expect_request(kCmdExecute, row_request("10", "'ann'")).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute, row_request("20", "NULL")).reply("K", execute_payload(0, 2));
  peer.expect_request(kCmdExecute, row_request("30", "'cy'")).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(), SQL_SUCCESS) << diag();
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(rows_counted(), 4);

  // A warning row is reported and adds nothing; a count the server does not
  // know makes the total unknown.
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("Wtruncated");
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(), SQL_SUCCESS_WITH_INFO) << diag();
  EXPECT_EQ(diag(), "00000 " + kPrefix + "truncated");
  EXPECT_EQ(rows_counted(), 2);
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 0xFFFFFFFF));
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(), SQL_SUCCESS) << diag();
  EXPECT_EQ(rows_counted(), -1);
}

// The failing row's reply is the execution's diagnostic; the rows before it
// stay executed and counted, nothing after it is sent, and the row counter
// names it. A conversion that fails in a later row stops the same way.
TEST_F(ParamArray, AFailingRowStopsTheExecution) {
  ASSERT_EQ(SQLParamOptions(stmt, 4, &done), SQL_SUCCESS);
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute, row_request("30", "'cy'"))
      .reply("E70 UNIQUE constraint failed: T.ID");
  EXPECT_EQ(insert(), SQL_ERROR);
  EXPECT_EQ(diag(), "23000 " + kPrefix + "Constraint failure");
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(rows_counted(), 2);

  name_ind[1] = -7;  // not a length: row 2 cannot be written
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  EXPECT_EQ(insert(), SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1090");
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(rows_counted(), 1);
  EXPECT_EQ(peer.requests().size(), 4u);
}

// SQLCancel from another thread while a row waits for its reply: that row
// completes (the server did its work), the array stops after it as cancelled.
TEST_F(ParamArray, ACancelStopsTheArrayAfterTheRowUnderWay) {
  ASSERT_EQ(SQLParamOptions(stmt, 4, &done), SQL_SUCCESS);
  peer.expect_request(kCmdExecute).reply("K", execute_payload(0, 1));
  peer.expect_request(kCmdExecute);
  SQLRETURN rc = SQL_SUCCESS;
  std::thread caller([&] { rc = insert(); });
  for (int i = 0; i < 500 && peer.requests().size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
  peer.reply("K", execute_payload(0, 1));
  caller.join();
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_EQ(sqlstate(), "S1008");
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(peer.requests().size(), 2u);
}

// Without markers there are no rows of values: the statement runs once.
TEST_F(ParamArray, ATextWithoutMarkersRunsOnce) {
  ASSERT_EQ(SQLParamOptions(stmt, 4, &done), SQL_SUCCESS);
  peer.expect_request(kCmdExecute, join({id(stmt), bytes_of("DELETE FROM T"), {0, 0}}))
      .reply("K", execute_payload(0, 5));
  EXPECT_EQ(
      SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("DELETE FROM T")), SQL_NTS),
      SQL_SUCCESS);
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(rows_counted(), 5);
}

}  // namespace
}  // namespace q4::wire
