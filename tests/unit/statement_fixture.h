// Shared set-up of the statement tests: an environment with one connection
// whose "server" is the far end of a socket pair holding ready-made "K"
// replies, so that statements can be released without a server.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/memory.h"
#include "statement/lifecycle.h"

namespace q4::test {

inline const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

// "SQLSTATE message-without-prefix" of a slot, "" when it is empty; makes a
// failed expectation show both parts.
inline std::string diag_of(const char* sqlstate, const char* message) {
  if (sqlstate[0] == '\0') return "";
  std::string text = message;
  if (text.rfind(kPrefix, 0) == 0) text.erase(0, kPrefix.size());
  return std::string(sqlstate) + " " + text;
}
inline std::string diag(const Statement* s) {
  return diag_of(s->sqlstate, s->message);
}
inline std::string diag(const Connection* c) {
  return diag_of(c->sqlstate, c->message);
}

// The connection's statements in list order, checking every back link.
inline std::vector<Statement*> statements_of(const Connection* conn) {
  std::vector<Statement*> order;
  const Statement* prev = nullptr;
  for (Statement* s = conn->statements; s != nullptr; s = s->next) {
    EXPECT_EQ(s->prev, prev) << "back link broken";
    order.push_back(s);
    prev = s;
  }
  return order;
}

class ConnectionHolder {
 public:
  explicit ConnectionHolder(Environment* env) {
    EXPECT_EQ(alloc_connection(env, &conn_), SQL_SUCCESS);
    conn_->server_version = 754;
  }
  ~ConnectionHolder() {
    // Whatever a test left allocated is dropped here; the far end has a reply
    // ready for each release.
    for (Statement* s : statements_of(conn_)) {
      if (conn_->socket != kInvalidSocket) answer_ok(1);
      free_statement(s, SQL_DROP);
    }
    if (conn_->socket != kInvalidSocket && !conn_->link_lost) close(conn_->socket);
    if (far_end_ >= 0) close(far_end_);
    free_connection(conn_);
  }
  ConnectionHolder(const ConnectionHolder&) = delete;
  ConnectionHolder& operator=(const ConnectionHolder&) = delete;

  Connection* get() const { return conn_; }

  // Gives the connection a socket whose far end the test controls.
  void open_link() {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    conn_->socket = fds[0];
    far_end_ = fds[1];
  }

  // Queues `count` replies "K" without payload for the driver to read.
  void answer_ok(int count) {
    static const uint8_t kOkFrame[] = {0x00, 0x08, 'K', 0x00, 0x00, 0x00, 0x00, 0x00};
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(write(far_end_, kOkFrame, sizeof kOkFrame), static_cast<ssize_t>(sizeof kOkFrame));
    }
  }

  Statement* new_statement() {
    Statement* stmt = nullptr;
    EXPECT_EQ(alloc_statement(conn_, &stmt), SQL_SUCCESS) << diag(conn_);
    return stmt;
  }

  // Drops a statement, queueing the reply its release needs.
  SQLRETURN drop(Statement* stmt) {
    answer_ok(1);
    return free_statement(stmt, SQL_DROP);
  }

 private:
  Connection* conn_ = nullptr;
  int far_end_ = -1;
};

// One environment, one connection with an open link.
class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(alloc_environment(&env_), SQL_SUCCESS);
    holder_ = std::make_unique<ConnectionHolder>(env_);
    holder_->open_link();
    conn_ = holder_->get();
  }
  void TearDown() override {
    holder_.reset();
    EXPECT_EQ(free_environment(env_), SQL_SUCCESS);
  }

  Statement* new_statement() { return holder_->new_statement(); }
  SQLRETURN drop(Statement* stmt) { return holder_->drop(stmt); }

  Environment* env_ = nullptr;
  std::unique_ptr<ConnectionHolder> holder_;
  Connection* conn_ = nullptr;
};

}  // namespace q4::test
