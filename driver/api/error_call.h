// The frame of SQLError and SQLErrorW: which handle's diagnostic is read, and
// under which connection's call lock.
#pragma once

#include <sql.h>

#include "api/statement_call.h"
#include "core/records.h"

namespace q4 {

// Runs `body(env, conn, stmt)`: with a connection or statement handle, those
// two as the application gave them (env null), under the call lock of the
// connection the most specific one belongs to, which keeps a call that posts from writing the
// slot meanwhile; with neither, the environment alone, without a lock.
template <typename Body>
inline SQLRETURN error_call(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, Body&& body) {
  auto* conn = static_cast<Connection*>(hdbc);
  auto* stmt = static_cast<Statement*>(hstmt);
  Connection* owner = stmt != nullptr ? stmt->connection : conn;
  if (owner == nullptr) return body(static_cast<Environment*>(henv), nullptr, nullptr);
  ConnectionCall call(owner);
  return body(nullptr, conn, stmt);
}

}  // namespace q4
