// SQLDescribeParam against the scripted peer when the catalog cannot say:
// the unknown description, never a failed call unless the link fails. (Markers
// described by the columns they meet: the e2e PHP and Node parameter scripts.)
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "result_fixture.h"

namespace q4::wire {
namespace {

class DescribeParam : public StatementTest {
 protected:
  void prepare(const std::string& text) {
    ASSERT_EQ(SQLPrepare(stmt, sql_text(text.c_str()), SQL_NTS), SQL_SUCCESS) << diag();
  }
  // "type size digits nullable", or the outcome and diagnostic.
  std::string describe(SQLUSMALLINT number) {
    SQLSMALLINT type = -99, digits = -99, nullable = -99;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeParam(stmt, number, &type, &size, &digits, &nullable);
    if (rc != SQL_SUCCESS) return "rc " + std::to_string(rc) + " " + diag();
    if (stmt->sqlstate[0] != '\0') return "posted " + diag();
    return std::to_string(type) + " " + std::to_string(size) + " " + std::to_string(digits) + " " +
           std::to_string(nullable);
  }
  const std::string unknown = "12 255 9 " + std::to_string(SQL_NULLABLE_UNKNOWN);
};

// What the catalog cannot say leaves the unknown description and no
// diagnostic: a refusal, a damaged block. The id is released each time.
TEST_F(DescribeParam, FallsBackSilentlyWhenTheCatalogCannotSay) {
  struct Case {
    const char* status;
    Bytes reply;
  } cases[] = {
      {"E42 no such table", {}},
      {"K", execute_payload(12, 1, Bytes{0x00, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    prepare("UPDATE ab SET x = ?");
    peer.expect_request(kCmdColumns)
        .reply(c.status, c.reply)
        .expect_request(kCmdRelease)
        .reply("K");
    EXPECT_EQ(describe(1), unknown);
    peer.call([] {});
  }
  EXPECT_EQ(peer.finish(), "");
  EXPECT_EQ(peer.requests().size(), 2 * (sizeof cases / sizeof cases[0]));
}

// A link that breaks during the lookup fails the call as every exchange
// does; nothing is kept, so the next call would ask again.
TEST_F(DescribeParam, ABrokenLinkFailsTheCall) {
  prepare("DELETE FROM t WHERE a = ?");
  peer.expect_request(kCmdColumns).close();
  EXPECT_EQ(describe(1), "rc -1 08S01 " + kPrefix + "Communications_ERROR");
  EXPECT_EQ(stmt->param_descriptions, nullptr);
}

}  // namespace
}  // namespace q4::wire
