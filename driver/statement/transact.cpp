#include "statement/transact.h"

#include "core/diagnostics.h"
#include "link/link.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "statement/cancel.h"

namespace q4 {

SQLRETURN transact_connection(Connection* conn, SQLUSMALLINT type) {
  if (type != SQL_COMMIT && type != SQL_ROLLBACK) {
    return post_connection_error(conn, kDiagInvalidTransactionCode);
  }
  uint8_t payload[kMaxFixedRequest];
  int32_t length = encode_transact(payload, type == SQL_COMMIT);
  Exchanged result = exchange(conn->link, kCmdTransact, payload, length,
                              ReplyArea{conn->exchange_buffer, sizeof conn->exchange_buffer},
                              conn->connection_timeout);
  // A wait past the connection timeout drops the link like any broken
  // exchange; the application is told which limit ended it.
  if (result.link_status == LinkStatus::LINK_TIMEOUT) {
    return post_connection_error(conn, kDiagConnectionTimeout);
  }
  // A request that cannot be sent never reached the server: the link is
  // gone, and that alone is what the application is told.
  if (!result.sent) return report_comm_failure(conn, kStateCommSettings);
  if (!result.ok()) {
    // The request went out but no answer came: the outcome is unknown and
    // the stream cannot be trusted any more (the link is dropped as for any
    // broken exchange), and the application is told that its transaction
    // failed.
    return post_connection_error(conn, kDiagTransactionFailed);
  }
  if (conn->exchange_buffer[0] == kStatusOk) return SQL_SUCCESS;
  return post_connection_error(conn, kDiagTransactionFailed);
}

SQLRETURN transact_environment(Environment* env, SQLUSMALLINT type) {
  // Other threads may allocate or free connections meanwhile: the list is
  // walked under the environment's lock, and each connection is asked under
  // its own call lock (always taken after the environment's).
  LockGuard list_guard(&env->lock);
  for (Connection* conn = env->connections; conn != nullptr; conn = conn->next) {
    CallLock call_guard(conn);
    SQLRETURN rc = transact_connection(conn, type);
    if (rc != SQL_SUCCESS) return rc;
  }
  return SQL_SUCCESS;
}

}  // namespace q4
