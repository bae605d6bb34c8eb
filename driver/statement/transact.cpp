#include "statement/transact.h"

#include "core/diagnostics.h"
#include "link/framing.h"
#include "link/transport.h"
#include "protocol/wire.h"
#include "statement/cursor.h"

namespace q4 {

namespace {

constexpr DiagText kDiagInvalidTransactionCode{"S1012", "Invalid Transaction Code"};
constexpr DiagText kDiagTransactionFailed{"08007", "Transaction Failed"};

const char kTransactCommand[] = {static_cast<char>(kCmdTransact), '\0'};

}  // namespace

SQLRETURN transact_connection(Connection* conn, SQLUSMALLINT type) {
  char* payload = conn->exchange_buffer;
  switch (type) {
    case SQL_COMMIT:
      payload[0] = 'C';
      break;
    case SQL_ROLLBACK:
      payload[0] = 'R';
      break;
    default:
      return post_connection_error(conn, kDiagInvalidTransactionCode);
  }
  if (exchange_status(kTransactCommand, 1, reinterpret_cast<uint8_t*>(payload), link_socket(conn),
                      conn->frame_buffer, conn->exchange_buffer, sizeof conn->exchange_buffer,
                      /*plain=*/true, conn->default_query_timeout, conn->exchange_log) != LINK_OK) {
    // The outcome is unknown and the stream cannot be trusted any more: the
    // link is dropped as for any broken exchange, and the application is
    // told that its transaction failed.
    report_comm_failure(conn, kStateCommSettings);
    return post_connection_error(conn, kDiagTransactionFailed);
  }
  if (conn->exchange_buffer[0] == kStatusOk) return SQL_SUCCESS;
  return post_connection_error(conn, kDiagTransactionFailed);
}

SQLRETURN transact_environment(Environment* env, SQLUSMALLINT type) {
  // The walk does not take the environment's lock: connections are not
  // allocated or freed while the application waits for this call.
  for (Connection* conn = env->connections; conn != nullptr; conn = conn->next) {
    SQLRETURN rc = transact_connection(conn, type);
    if (rc != SQL_SUCCESS) return rc;
  }
  return SQL_SUCCESS;
}

SQLRETURN cancel_statement(Statement* stmt) {
  stmt->cancel_requested = 1;
  // A running call keeps its buffers; it (or the next call to enter) sees
  // the request through enter_statement.
  if (!stmt->in_call) close_result(stmt);
  stmt->cancel_requested = 0;
  return SQL_SUCCESS;
}

}  // namespace q4
