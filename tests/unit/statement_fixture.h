// Statement records for unit tests: a bare record without a server
// (StatementRecord), a real connection whose "server" is a socket pair holding
// ready-made "K" replies (StatementTest), and builders for server payloads.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/memory.h"
#include "protocol/wire.h"
#include "statement/binary_blocks.h"
#include "statement/cursor.h"
#include "statement/lifecycle.h"
#include "statement/literal.h"
#include "statement/request.h"

namespace q4 {

inline const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";

inline SQLCHAR* sql(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// "SQLSTATE message-without-prefix" of a handle's slot, "" when it is empty.
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

// A call's return code and the diagnostic it left, e.g. "ERROR S1009 Invalid
// argument value", "INFO 01004 Data truncated" or "OK".
template <typename Handle>
std::string outcome(SQLRETURN rc, const Handle* h) {
  const char* name = rc == SQL_SUCCESS             ? "OK"
                     : rc == SQL_SUCCESS_WITH_INFO ? "INFO"
                     : rc == SQL_ERROR             ? "ERROR"
                     : rc == SQL_NEED_DATA         ? "NEED_DATA"
                     : rc == SQL_NO_DATA_FOUND     ? "NO_DATA"
                                                   : "?";
  std::string d = diag(h);
  return d.empty() ? name : std::string(name) + " " + d;
}

// A zero-filled connection and statement, as the driver allocates them, with
// no link; frees what the code under test hangs on the statement.
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
    while (ParamBinding* b = stmt->parameters) {
      stmt->parameters = b->next;
      drv_free(b->buffer);
      drv_free(b);
    }
    discard_binary_blocks(stmt);
    drv_free(stmt->binary_blocks);
    drv_free(stmt->binary_lengths);
    drv_free(stmt->request_buffer);
    drv_free(stmt->statement_text);
    drv_free(stmt);
    drv_free(conn);
  }
  StatementRecord(const StatementRecord&) = delete;
  StatementRecord& operator=(const StatementRecord&) = delete;

  // Appends a binding as SQLBindParameter would leave it (callers bind in
  // ascending number, as the list keeps).
  ParamBinding* bind(uint16_t number, int64_t* indicator = nullptr, SQLSMALLINT c_type = 0,
                     SQLSMALLINT sql_type = 0, const void* value = nullptr, SQLSMALLINT scale = 0) {
    auto* b = static_cast<ParamBinding*>(drv_alloc(nullptr, nullptr, sizeof(ParamBinding)));
    b->number = number;
    b->indicator = indicator;
    b->c_type = c_type;
    b->sql_type = sql_type;
    b->value = const_cast<void*>(value);
    b->scale = scale;
    ParamBinding** tail = &stmt->parameters;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = b;
    return b;
  }

  // make_literal of `b` alone: the text it appends, or "!" and diag() on failure.
  std::string literal(const ParamBinding& b) {
    clear_diagnostic(stmt->sqlstate, stmt->message);
    if (!reserve_request(stmt, 0, 16)) return "!no request buffer";
    uint64_t at = 4;
    if (make_literal(stmt, b, &at) != SQL_SUCCESS) return "!" + q4::diag(stmt);
    return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4, at - 4);
  }

  void set_status(const std::string& status) { strcpy(stmt->reply_status, status.c_str()); }
  std::string diag() const { return q4::diag(stmt); }

  Connection* conn;
  Statement* stmt;
};

// Builder of server payloads (big-endian fields).
struct Bytes {
  std::vector<uint8_t> data;

  Bytes& u8(uint8_t v) { return data.push_back(v), *this; }
  Bytes& u16(uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
  Bytes& u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Bytes& text(const std::string& s) { return data.insert(data.end(), s.begin(), s.end()), *this; }
  Bytes& cstring(const std::string& s) { return text(s).u8(0); }
  Bytes& bytes(const Bytes& b) {
    return data.insert(data.end(), b.data.begin(), b.data.end()), *this;
  }
  int32_t size() const { return static_cast<int32_t>(data.size()); }
  const uint8_t* ptr() const { return data.data(); }
};

// One column description record.
inline Bytes description_record(const std::string& name, uint16_t type, uint32_t precision,
                                uint16_t scale, uint16_t nullable) {
  return Bytes().cstring(name).u16(type).u32(precision).u16(scale).u16(nullable);
}

// "X", the section length (counting itself) and entries of length (counting
// itself) and record.
inline Bytes description_section(const std::vector<Bytes>& records) {
  Bytes entries;
  for (const Bytes& r : records) entries.u32(static_cast<uint32_t>(r.size() + 4)).bytes(r);
  return Bytes().u8('X').u32(static_cast<uint32_t>(entries.size() + 4)).bytes(entries);
}

inline Bytes row_value(uint16_t type, const std::string& data) {
  return Bytes().u16(type).u32(static_cast<uint32_t>(data.size())).text(data);
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

// A connection allocated through the driver; open_link() gives it a socket
// whose far end answers each release from queued "K" replies.
class ConnectionHolder {
 public:
  explicit ConnectionHolder(Environment* env) {
    EXPECT_EQ(alloc_connection(env, &conn_), SQL_SUCCESS);
    conn_->server_version = 754;
  }
  ~ConnectionHolder() {
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

  void open_link() {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    conn_->socket = fds[0];
    far_end_ = fds[1];
  }

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

  SQLRETURN drop(Statement* stmt) {
    answer_ok(1);
    return free_statement(stmt, SQL_DROP);
  }

 private:
  Connection* conn_ = nullptr;
  int far_end_ = -1;
};

// One environment and one connection with an open link.
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
  // Replaces the connection with one that has no link.
  void unlink() {
    holder_ = std::make_unique<ConnectionHolder>(env_);
    conn_ = holder_->get();
  }

  Statement* new_statement() { return holder_->new_statement(); }
  SQLRETURN drop(Statement* stmt) { return holder_->drop(stmt); }

  Environment* env_ = nullptr;
  std::unique_ptr<ConnectionHolder> holder_;
  Connection* conn_ = nullptr;
};

}  // namespace q4
