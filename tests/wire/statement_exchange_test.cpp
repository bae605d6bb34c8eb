// What a statement's exchange tells the reading of a value: a whole reply, a
// payload dropped for want of memory, or damage. Out of memory is said as
// "S1001" and keeps the link in step; a value missing from a "K" is damage.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "platform/heap.h"
#include "result_fixture.h"
#include "results/fetch.h"

namespace q4::wire {
namespace {

class StatementExchange : public StatementTest {
 protected:
  // A result of one column whose first row the server holds.
  void fetch_a_row() {
    ASSERT_EQ(execute(execute_payload(1, 1)), SQL_SUCCESS);
    peer.expect_request(kCmdFetch, next_block_request(stmt)).reply("K");
    ASSERT_EQ(fetch_row(stmt), SQL_SUCCESS);
  }
  // SQLGetData of column 1 as SQL_C_CHAR: "rc text length".
  std::string text_at_1() {
    char buffer[64] = "untouched";
    SQLLEN length = 99;
    SQLRETURN rc = deliver_value(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length);
    return std::to_string(rc) + " " + buffer + " " + std::to_string(length);
  }
};

// A value longer than io_buffer whose block cannot be allocated: the reply is
// read to its end and dropped, the call fails with "S1001", and the next
// request finds the link in step.
TEST_F(StatementExchange, ValueNoBlockCanHoldIsOutOfMemoryAndKeepsTheLink) {
  fetch_a_row();
  const std::string note = "Zoë " + std::string(30000, 'x');
  peer.expect_request(kCmdGetData).reply("K", text_value(note));
  heap_fail_after(0);
  EXPECT_EQ(text_at_1(), "-1 untouched 99");
  heap_fail_after(-1);
  EXPECT_EQ(diag(), "S1001 " + kPrefix + "Memory allocation failure");
  EXPECT_STREQ(conn->sqlstate, "") << "running out of memory is no link failure";
  EXPECT_EQ(conn->link->lost, 0);

  peer.expect_request(kCmdGetData).reply("K", text_value("Ærø\nline two"));
  EXPECT_EQ(text_at_1(), "0 Ærø\nline two 14");
}

// A "K" without the value is damage like a value shorter than its header, not
// memory that ran out.
TEST_F(StatementExchange, ValueMissingFromItsReplyIsDamage) {
  fetch_a_row();
  peer.expect_request(kCmdGetData).reply("K");
  EXPECT_EQ(text_at_1(), "-1 untouched 99");
  EXPECT_EQ(sqlstate(), "08S01");
}

}  // namespace
}  // namespace q4::wire
