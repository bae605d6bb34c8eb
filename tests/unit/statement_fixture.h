// Unit-test statements: a bare record (StatementRecord) and a linked one (StatementTest).
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/memory.h"
#include "link/link.h"
#include "protocol/wire.h"
#include "statement/binary_blocks.h"
#include "results/result_set.h"
#include "statement/lifecycle.h"
#include "statement/literal.h"
#include "statement/request.h"

namespace q4 {

inline SQLCHAR* sql(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// "SQLSTATE message-without-prefix" of a handle's slot, "" when it is empty.
template <typename Handle>
std::string diag(const Handle* h) {
  if (h->sqlstate[0] == '\0') return "";
  const char* text = h->message;
  if (strncmp(text, kMessagePrefix, strlen(kMessagePrefix)) == 0) text += strlen(kMessagePrefix);
  return std::string(h->sqlstate) + " " + text;
}

// A return code and the diagnostic it left, e.g. "ERROR S1009 Invalid argument value" or "OK".
template <typename Handle>
std::string outcome(SQLRETURN rc, const Handle* h) {
  // clang-format off
  const char* name = rc == SQL_SUCCESS ? "OK" : rc == SQL_SUCCESS_WITH_INFO ? "INFO"
                     : rc == SQL_ERROR ? "ERROR" : rc == SQL_NEED_DATA ? "NEED_DATA" : "?";
  // clang-format on
  std::string d = diag(h);
  return d.empty() ? name : std::string(name) + " " + d;
}

// outcome(), the diagnostic then cleared as by an application that read it.
template <typename Handle>
std::string taken(SQLRETURN rc, Handle* h) {
  std::string text = outcome(rc, h);
  clear_diagnostic(h->sqlstate, h->message);
  return text;
}

// A zero-filled connection and statement without a link; frees what tests hang on it.
struct StatementRecord {
  StatementRecord() {
    conn = static_cast<Connection*>(drv_alloc(nullptr, nullptr, sizeof(Connection)));
    stmt = static_cast<Statement*>(drv_alloc(nullptr, nullptr, sizeof(Statement)));
    conn->server_version = 754;
    stmt->connection = conn;
    stmt->getdata_column = -1;
  }
  ~StatementRecord() {
    close_result(stmt);
    while (ParamBinding* b = app_param_desc(stmt).records) {
      app_param_desc(stmt).records = b->next;
      drv_free(b->buffer);
      drv_free(b);
    }
    release_binary_tables(stmt);
    drv_free(stmt->request_buffer);
    drv_free(stmt->statement_text);
    drv_free(stmt->param_descriptions);
    drv_free(stmt);
    drv_free(conn);
  }
  // Appends a binding as SQLBindParameter would (callers bind in ascending number).
  ParamBinding* bind(uint16_t number, int64_t* indicator = nullptr, SQLSMALLINT c_type = 0,
                     SQLSMALLINT sql_type = 0, const void* value = nullptr, SQLSMALLINT scale = 0) {
    auto* b = static_cast<ParamBinding*>(drv_alloc(nullptr, nullptr, sizeof(ParamBinding)));
    b->number = number;
    b->indicator = indicator;
    b->c_type = c_type;
    b->sql_type = sql_type;
    b->value = const_cast<void*>(value);
    b->scale = scale;
    ParamBinding** tail = &app_param_desc(stmt).records;
    while (*tail != nullptr) tail = &(*tail)->next;
    return *tail = b;
  }

  Connection* conn;
  Statement* stmt;
};

// The connection's statements in list order, checking every back link.
inline std::vector<Statement*> statements_of(const Connection* conn) {
  std::vector<Statement*> order;
  for (Statement* s = conn->statements; s != nullptr; s = s->next) {
    EXPECT_EQ(s->prev, order.empty() ? nullptr : order.back()) << "back link broken";
    order.push_back(s);
  }
  return order;
}

// A driver-allocated environment and connection on a socket pair whose far end answers releases
// with "K"; close_handles() drops the connection's statements and frees them all.
class LinkedHandles {
 public:
  void open_handles() {
    ASSERT_EQ(alloc_environment(&env_), SQL_SUCCESS);
    ASSERT_EQ(alloc_connection(env_, &conn_), SQL_SUCCESS);
    conn_->server_version = 754;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    conn_->link = link_on_socket(fds[0], nullptr);
    far_end_ = fds[1];
  }
  void close_handles() {
    for (Statement* s : statements_of(conn_)) drop(s);
    close_link(conn_->link);
    ::close(far_end_);
    free_connection(conn_);
    EXPECT_EQ(free_environment(env_), SQL_SUCCESS);
  }
  Statement* new_statement() {
    Statement* stmt = nullptr;
    EXPECT_EQ(alloc_statement(conn_, &stmt), SQL_SUCCESS) << diag(conn_);
    return stmt;
  }
  // Queues the release's "K" reply, then drops.
  SQLRETURN drop(Statement* stmt) {
    static const uint8_t kOk[] = {0x00, 0x08, 'K', 0x00, 0x00, 0x00, 0x00, 0x00};
    ssize_t sent = conn_->link != nullptr ? write(far_end_, kOk, sizeof kOk) : 8;
    EXPECT_EQ(sent, 8);
    return free_statement(stmt, SQL_DROP);
  }

 protected:
  Environment* env_ = nullptr;
  Connection* conn_ = nullptr;
  int far_end_ = -1;
};

class StatementTest : public ::testing::Test, protected LinkedHandles {
 protected:
  void SetUp() override { open_handles(); }
  void TearDown() override { close_handles(); }
};

}  // namespace q4
