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
