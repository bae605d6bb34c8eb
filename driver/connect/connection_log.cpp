#include "connect/connection_log.h"

#include "link/exchange_log.h"

namespace q4 {

void open_connection_log(Connection* conn) {
  close_connection_log(conn);
  conn->exchange_log = open_exchange_log(
      LogOpening{conn->log_file, conn->dsn, conn->server, conn->port, conn->user, conn->account});
}

void close_connection_log(Connection* conn) {
  close_exchange_log(conn->exchange_log);
  conn->exchange_log = nullptr;
}

}  // namespace q4
