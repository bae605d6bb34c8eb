// A statement record for the parameter tests: StatementRecord, plus release
// of what parameter work allocates (accumulation buffers, binary blocks and
// their tables), and a helper that runs make_literal alone.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "statement/binary_blocks.h"
#include "statement/literal.h"
#include "statement/request.h"
#include "exec_fixture.h"

namespace q4 {

class ParamRecord : public StatementRecord {
 public:
  ~ParamRecord() {
    for (ParamBinding* b = stmt->parameters; b != nullptr; b = b->next) drv_free(b->buffer);
    discard_binary_blocks(stmt);
    drv_free(stmt->binary_blocks);
    drv_free(stmt->binary_lengths);
  }

  // A binding described as SQLBindParameter would leave it.
  ParamBinding* bind_value(uint16_t number, SQLSMALLINT c_type, SQLSMALLINT sql_type,
                           const void* value, int64_t* indicator, SQLSMALLINT scale = 0) {
    ParamBinding* b = bind(number, indicator);
    b->c_type = c_type;
    b->sql_type = sql_type;
    b->value = const_cast<void*>(value);
    b->scale = scale;
    return b;
  }

  // make_literal of `b` alone: the text it appends, or "!" followed by the
  // SQLSTATE and message (without prefix) when it fails.
  std::string literal(const ParamBinding& b) {
    clear_diagnostic(stmt->sqlstate, stmt->message);
    if (!reserve_request(stmt, 0, 16)) return "!no request buffer";
    uint64_t at = 4;
    if (make_literal(stmt, b, &at) != SQL_SUCCESS) {
      std::string text = stmt->message;
      if (text.rfind(kPrefix, 0) == 0) text.erase(0, kPrefix.size());
      return "!" + std::string(stmt->sqlstate) + " " + text;
    }
    return std::string(reinterpret_cast<const char*>(stmt->request_buffer) + 4, at - 4);
  }
};

}  // namespace q4
