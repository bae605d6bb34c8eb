#include "connect/connection_reset.h"

#include "connect/session.h"
#include "core/connection_defaults.h"
#include "link/link.h"
#include "statement/options.h"
#include "statement/transact.h"

namespace q4 {

namespace {

bool link_alive(const Connection* conn) {
  return conn->link != nullptr && conn->link->lost == 0;
}

// Whether the server holds settings other than the defaults: only the three
// of the settings request live there.
bool server_settings_changed(const Connection* conn) {
  return conn->access_mode != SQL_MODE_READ_WRITE || conn->autocommit != SQL_AUTOCOMMIT_ON ||
         conn->txn_isolation != SQL_TXN_READ_COMMITTED;
}

}  // namespace

SQLRETURN reset_connection(Connection* conn) {
  drop_statements(conn);
  SQLRETURN rc = SQL_SUCCESS;
  if (link_alive(conn)) rc = transact_connection(conn, SQL_ROLLBACK);
  const bool tell_server = server_settings_changed(conn);
  set_attribute_defaults(conn);
  if (rc == SQL_SUCCESS && tell_server && link_alive(conn)) rc = send_connection_settings(conn);
  // A server that refused the roll back or the defaults still holds the
  // previous user's work or settings, which the driver can no longer vouch
  // for: the link is given up, so that SQL_ATTR_CONNECTION_DEAD tells the
  // pool to close the connection rather than hand it on.
  if (rc != SQL_SUCCESS && link_alive(conn)) drop_link(conn->link);
  return rc;
}

}  // namespace q4
