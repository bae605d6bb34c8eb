#include "metadata/server_info.h"

#include "core/diagnostics.h"
#include "link/link.h"
#include "protocol/codec.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

// The reply carries one u32; the destination leaves room for a little more.
constexpr int32_t kReplyCapacity = 10;
constexpr size_t kReplyStatusArea = 16;

}  // namespace

bool server_answers_info(const Connection* conn) {
  return conn->server_version >= kInfoRequestLevel && (conn->server_flags & kFlagInfoRequest) != 0;
}

SQLRETURN server_info(uint16_t first, uint16_t second, Connection* conn, int32_t* value) {
  uint8_t payload[kMaxFixedRequest];
  int32_t length = encode_server_info(payload, first, second);
  char status[kReplyStatusArea] = {};
  uint8_t reply[kReplyCapacity];
  Exchanged result = exchange(conn->link, kCmdServerInfo, payload, length,
                              ReplyArea{status, sizeof status, reply, kReplyCapacity}, 0);
  if (!result.ok()) return report_comm_failure(conn, kStateCommLink);
  int32_t received = result.received;

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
