#include "metadata/server_info.h"

#include "core/diagnostics.h"
#include "link/exchange_log.h"
#include "link/framing.h"
#include "link/transport.h"
#include "protocol/codec.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

constexpr DiagText kDiagNoServerInfo{"S1000", "Unable to retrieve requested info"};

// The reply carries one u32; the destination leaves room for a little more.
constexpr int32_t kReplyCapacity = 10;
constexpr size_t kReplyStatusArea = 16;

}  // namespace

bool server_answers_info(const Connection* conn) {
  return conn->server_version >= kInfoRequestLevel && (conn->server_flags & kFlagInfoRequest) != 0;
}

SQLRETURN server_info(uint16_t first, uint16_t second, Connection* conn, int32_t* value) {
  uint8_t payload[4];
  put_u16(put_u16(payload, first), second);
  const char command[] = {static_cast<char>(kCmdServerInfo), '\0'};
  const int socket = link_socket(conn);
  const uint32_t wait = conn->default_query_timeout;  // unused by plain transfers

  LoggedExchange logged(conn->exchange_log, kCmdServerInfo, sizeof payload);
  uint32_t link_status = send_request(command, sizeof payload, payload, socket, conn->frame_buffer,
                                      /*plain=*/true, wait);
  if (link_status != LINK_OK) {
    logged.done(0, nullptr, link_status);
    return report_comm_failure(conn, kStateCommLink);
  }

  char status[kReplyStatusArea] = {};
  uint8_t reply[kReplyCapacity];
  int32_t grown = 0;
  int32_t received =
      receive_reply(&grown, status, sizeof status, kReplyCapacity, reply, socket,
                    conn->frame_buffer, /*growable=*/nullptr, /*plain=*/true, &link_status, wait);
  logged.done(received, received != 0 ? status : nullptr, link_status);
  if (received == 0) return report_comm_failure(conn, kStateCommLink);

  if (status[0] == kStatusError) {
    *value = 0;
    return SQL_SUCCESS;
  }
  if (status[0] == kStatusOk && received >= 4) {
    *value = static_cast<int32_t>(load_u32(reply));
    return SQL_SUCCESS;
  }
  // Any other status, or a "K" without its value: the exchange itself worked
  // and the link stays usable, so the answer is 0 with the diagnostic left on
  // the connection for the application to find.
  post_connection_error(conn, kDiagNoServerInfo);
  *value = 0;
  return SQL_SUCCESS;
}

}  // namespace q4
