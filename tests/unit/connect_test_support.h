// A fresh environment and connection record for a connect test, freed at the
// end of the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/handles.h"
#include "core/records.h"

namespace q4 {

class ConnectionRecord {
 public:
  ConnectionRecord() {
    EXPECT_EQ(alloc_environment(&env_), SQL_SUCCESS);
    EXPECT_EQ(alloc_connection(env_, &conn_), SQL_SUCCESS);
  }
  ~ConnectionRecord() {
    free_connection(conn_);
    free_environment(env_);
  }
  ConnectionRecord(const ConnectionRecord&) = delete;
  ConnectionRecord& operator=(const ConnectionRecord&) = delete;

  Connection* get() const { return conn_; }
  Connection* operator->() const { return conn_; }
  std::string sqlstate() const { return conn_->sqlstate; }
  // The pending message without the driver's prefix.
  std::string message() const {
    std::string text = conn_->message;
    const std::string prefix = "[Halvex Software][ODBC Q4 Driver]";
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
  }

 private:
  Environment* env_ = nullptr;
  Connection* conn_ = nullptr;
};

inline SQLCHAR* sql_text(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

}  // namespace q4
