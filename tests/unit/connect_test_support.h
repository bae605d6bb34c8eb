// Helpers of the connect tests: a fresh connection record freed at the end of
// the test, field setters and the scrambled form of a password.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "connect/password_scramble.h"
#include "core/handles.h"
#include "core/records.h"
#include "connect/connection_log.h"

namespace q4 {

class ConnectionRecord {
 public:
  ConnectionRecord() {
    EXPECT_EQ(alloc_environment(&env_), SQL_SUCCESS);
    EXPECT_EQ(alloc_connection(env_, &conn_), SQL_SUCCESS);
  }
  ~ConnectionRecord() {
    close_connection_log(conn_);  // as SQLFreeConnect does
    free_connection(conn_);
    free_environment(env_);
  }
  Connection* get() const { return conn_; }
  Connection* operator->() const { return conn_; }
  std::string sqlstate() const { return conn_->sqlstate; }
  // The pending message without the driver's prefix.
  std::string message() const {
    std::string text = conn_->message;
    return text.substr(std::min(text.size(), text.find(']', text.find(']') + 1) + 1));
  }

 private:
  Environment* env_ = nullptr;
  Connection* conn_ = nullptr;
};

inline SQLCHAR* sql_text(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// Copies `text` into a record field, cut to the field.
template <size_t N>
void set(char (&field)[N], const std::string& text) {
  field[text.copy(field, N - 1)] = '\0';
}

// Texts joined by "|", to compare several fields of a record at once.
inline std::string fields(std::initializer_list<const char*> texts) {
  std::string joined;
  for (const char* text : texts) joined += std::string(text) + "|";
  return joined.substr(0, joined.size() - 1);
}

inline std::string scrambled(const std::string& plain, bool string_form = true) {
  char buffer[128];
  snprintf(buffer, sizeof buffer, "%s", plain.c_str());
  return scramble_password(buffer, string_form);
}

}  // namespace q4
