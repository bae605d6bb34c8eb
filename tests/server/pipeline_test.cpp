// q4lite with requests sent ahead of their replies, as the driver sends the
// rows of a parameter array: every request is answered, in order, a failing
// one with its own reply; replies held back while more requests wait reach
// the client before the server waits for it, and before it closes.
#include <gtest/gtest.h>

#include "protocol_client.h"

namespace q4::test {
namespace {

// The row count of an execute reply without a result.
uint32_t changed(const Reply& reply) {
  return reply.payload.size() >= 8 ? load_u32(reply.payload.data() + 4) : 0xFFFFFFFF;
}

TEST(Pipelining, RequestsSentAheadAreAnsweredInOrderFailuresIncluded) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port(), true));
  ASSERT_EQ(client.execute(1, "CREATE TABLE p (k INTEGER PRIMARY KEY, t VARCHAR(20))").status, "K");
  constexpr int kRequests = 600;
  auto text = [](int i) {  // every 100th row repeats key 1
    int key = i % 100 == 50 ? 1 : i + 1;
    return "INSERT INTO p VALUES (" + std::to_string(key) + ", 'Zoë " + std::to_string(i) + "')";
  };
  for (int i = 0; i < kRequests; ++i) {
    ASSERT_TRUE(client.send(kCmdExecute, Client::execute_payload(2, text(i)))) << i;
  }
  int failed = 0;
  for (int i = 0; i < kRequests; ++i) {
    const Reply reply = client.receive();
    if (i % 100 == 50) {
      EXPECT_EQ(error_number(reply), 70) << i << " " << reply.status;
      ++failed;
    } else {
      EXPECT_EQ(reply.status, "K") << i;
      EXPECT_EQ(changed(reply), 1u) << i;
    }
  }
  const Rows count = rows_of(client.execute(3, "SELECT COUNT(*), SUM(k) FROM p"));
  ASSERT_EQ(count.size(), 1u);
  EXPECT_EQ(count[0][0], kRequests - failed);
}

TEST(Pipelining, ResultsInOrderAndTheLastReplyBeforeTheClose) {
  auto server = start_server();
  ASSERT_TRUE(server);
  Client client;
  ASSERT_TRUE(client.connect(server->port(), true));
  constexpr int kQueries = 300;
  for (int i = 1; i <= kQueries; ++i) {
    ASSERT_TRUE(
        client.send(kCmdExecute, Client::execute_payload(7, "SELECT " + std::to_string(i))));
  }
  ASSERT_TRUE(client.send(kCmdDisconnect, {}));
  for (int i = 1; i <= kQueries; ++i) {
    const Rows rows = rows_of(client.receive());
    ASSERT_EQ(rows.size(), 1u) << i;
    EXPECT_EQ(rows[0][0], i);
  }
  EXPECT_EQ(client.receive().status, "K");  // the disconnect's
  EXPECT_TRUE(client.closed_by_peer(5000));
}

}  // namespace
}  // namespace q4::test
