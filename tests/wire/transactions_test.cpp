// Ending transactions through the ODBC 3 entry points and the connection
// timeout, against the scripted peer.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>

#include "connect/connection_attributes.h"
#include "core/handles.h"
#include "link/link.h"
#include "result_fixture.h"

namespace q4::wire {
namespace {

class Transactions : public ::testing::Test, public Wire {
 protected:
  void SetUp() override {
    link_loopback(conn.get(), peer.port());
    conn->server_version = 754;
  }
  void TearDown() override {
    EXPECT_EQ(peer.finish(), "");
    close_link(conn->link);
    conn->link = nullptr;
  }
  std::string diag() const {
    return conn.sqlstate().empty() ? "" : conn.sqlstate() + " " + conn.message();
  }
  SQLRETURN set(SQLINTEGER attribute, uintptr_t value) {
    return set_connect_attr(conn.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0,
                            AttributeText::kNarrow);
  }
  ScriptedPeer peer;
  ConnectionRecord conn;
};

// The connection timeout limits a commit's wait: "HYT01", the link given up.
TEST_F(Transactions, ConnectionTimeoutEndsAWaitForACommit) {
  ASSERT_EQ(set(SQL_ATTR_CONNECTION_TIMEOUT, 1), SQL_SUCCESS);
  peer.expect_request(kCmdTransact, bytes_of("C"));  // and no answer
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_COMMIT), SQL_ERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(diag(), "HYT01 Connection timeout expired");
  EXPECT_EQ(conn->link->lost, 1);
}

// SQLEndTran is SQLTransact: the same letters, the same refusals; handles
// other than an environment or a connection end nothing.
TEST_F(Transactions, EndTranSendsWhatTransactSends) {
  peer.expect_request(kCmdTransact, bytes_of("C")).reply("K");
  peer.expect_request(kCmdTransact, bytes_of("R")).reply("Erefused");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(diag(), "08007 Transaction Failed");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.get(), 2), SQL_ERROR);
  EXPECT_EQ(diag(), "S1012 Invalid Transaction Code");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, conn.get(), SQL_COMMIT), SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, SQL_NULL_HANDLE, SQL_COMMIT), SQL_INVALID_HANDLE);
  peer.expect_request(kCmdTransact, bytes_of("C")).reply("K");
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, conn->environment, SQL_COMMIT), SQL_SUCCESS);
}

}  // namespace
}  // namespace q4::wire
