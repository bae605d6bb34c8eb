// A connection and statement record for tests that drive statement code
// without a server: zero-filled like the driver's own records, with the
// bindings and buffers the code under test allocates freed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/records.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "statement/cursor.h"

namespace q4 {

class StatementRecord {
 public:
  StatementRecord() {
    conn = static_cast<Connection*>(drv_alloc(nullptr, nullptr, sizeof(Connection)));
    stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
    conn->socket = kInvalidSocket;
    conn->server_version = 754;
    stmt->connection = conn;
    stmt->getdata_column = -1;
  }
  ~StatementRecord() {
    close_result(stmt);
    for (ParamBinding* b = stmt->parameters; b != nullptr;) {
      ParamBinding* next = b->next;
      drv_free(b);
      b = next;
    }
    drv_free(stmt->request_buffer);
    drv_free(stmt->statement_text);
    drv_free(stmt);
    drv_free(conn);
  }
  StatementRecord(const StatementRecord&) = delete;
  StatementRecord& operator=(const StatementRecord&) = delete;

  // Appends a binding (callers bind in ascending number, as the list keeps).
  ParamBinding* bind(uint16_t number, int64_t* indicator = nullptr) {
    auto* b = static_cast<ParamBinding*>(drv_alloc(nullptr, nullptr, sizeof(ParamBinding)));
    b->number = number;
    b->indicator = indicator;
    ParamBinding** tail = &stmt->parameters;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = b;
    return b;
  }

  void set_status(const std::string& status) {
    ASSERT_LT(status.size(), sizeof stmt->reply_status);
    memcpy(stmt->reply_status, status.c_str(), status.size() + 1);
  }

  std::string message() const { return stmt->message; }
  std::string sqlstate() const { return stmt->sqlstate; }

  Connection* conn;
  Statement* stmt;
};

inline const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

// Builders for server payloads.
struct Bytes {
  std::vector<uint8_t> data;

  Bytes& u8(uint8_t v) {
    data.push_back(v);
    return *this;
  }
  Bytes& u16(uint16_t v) {
    uint8_t b[2];
    put_u16(b, v);
    data.insert(data.end(), b, b + 2);
    return *this;
  }
  Bytes& u32(uint32_t v) {
    uint8_t b[4];
    put_u32(b, v);
    data.insert(data.end(), b, b + 4);
    return *this;
  }
  Bytes& text(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& cstring(const std::string& s) { return text(s).u8(0); }
  Bytes& bytes(const Bytes& other) {
    data.insert(data.end(), other.data.begin(), other.data.end());
    return *this;
  }
  int32_t size() const { return static_cast<int32_t>(data.size()); }
  const uint8_t* ptr() const { return data.data(); }
};

// One column description record.
inline Bytes description_record(const std::string& name, uint16_t type, uint32_t precision,
                                uint16_t scale, uint16_t nullable) {
  Bytes b;
  b.cstring(name).u16(type).u32(precision).u16(scale).u16(nullable);
  return b;
}

// A cache entry: its length (counting itself) and the record.
inline Bytes description_entry(const Bytes& record) {
  Bytes b;
  b.u32(static_cast<uint32_t>(record.data.size() + 4)).bytes(record);
  return b;
}

// "X", the section length (counting itself) and the entries.
inline Bytes description_section(const std::vector<Bytes>& records) {
  Bytes entries;
  for (const Bytes& r : records) entries.bytes(description_entry(r));
  Bytes b;
  b.u8('X').u32(static_cast<uint32_t>(entries.data.size() + 4)).bytes(entries);
  return b;
}

// One row value.
inline Bytes row_value(uint16_t type, const std::string& data) {
  Bytes b;
  b.u16(type).u32(static_cast<uint32_t>(data.size())).text(data);
  return b;
}

}  // namespace q4

// Shared set-up of the statement tests: an environment with one connection
// whose "server" is the far end of a socket pair holding ready-made "K"
// replies, so that statements can be released without a server.

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
