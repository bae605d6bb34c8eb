#include "statement/exchange.h"

#include "core/diagnostics.h"
#include "link/exchange_log.h"
#include "link/framing.h"
#include "link/transport.h"

namespace q4 {

int32_t exchange_into(Statement* stmt, uint8_t command, const uint8_t* payload, int32_t length,
                      uint8_t* destination, int32_t capacity, uint8_t** growable, int32_t* grown) {
  Connection* conn = stmt->connection;
  const char command_text[2] = {static_cast<char>(command), '\0'};
  int socket = link_socket(conn);
  LoggedExchange logged(conn->exchange_log, command, length);
  uint32_t status = send_request(command_text, length, payload, socket, stmt->frame_buffer, true,
                                 stmt->query_timeout);
  if (status != LINK_OK) {
    logged.done(0, nullptr, status);
    report_comm_failure(conn, kStateCommLink);
    return 0;
  }
  int32_t received =
      receive_reply(grown, stmt->reply_status, sizeof stmt->reply_status, capacity, destination,
                    socket, stmt->frame_buffer, growable, true, &status, stmt->query_timeout);
  logged.done(received, received != 0 ? stmt->reply_status : nullptr, status);
  if (received == 0) report_comm_failure(conn, kStateCommLink);
  return received;
}

}  // namespace q4
