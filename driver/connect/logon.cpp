#include "connect/logon.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "connect/settings.h"
#include "core/diagnostics.h"
#include "connect/connect_dialogs.h"
#include "connect/connection_log.h"
#include "link/exchange_log.h"
#include "link/link.h"
#include "platform/strings.h"
#include "protocol/wire.h"

namespace q4 {

static_assert(sizeof(Link) <= kLinkAreaSize && alignof(Link) <= 16,
              "a connection record's link_area holds its link");

namespace {

// What a failed transfer of the logon exchange posts, by link status.
struct LinkFailureText {
  LinkStatus link_status;
  DiagText diag;
};
constexpr LinkFailureText kLinkFailureTexts[] = {
    {LinkStatus::LINK_TIMEOUT, kDiagLogonTimeout},
    {LinkStatus::LINK_CLOSED, kDiagLogonClosed},
    {LinkStatus::LINK_NETWORK, kDiagLogonNetwork},
};
// LINK_FAILED and anything else.

// A server that refuses a logon may close the link right after the status of
// its reply; the frame then breaks off, and what did arrive starts with this.
constexpr char kRefusalStart[] = "ELogon failed";

// Data bytes of the reply: the first four announce a release of level 710 or
// later, the fifth is the capability byte.
constexpr int kLevelBytes = 4;
constexpr int kFlagsByte = 4;

template <size_t N>
void empty_placeholder(char (&field)[N]) {
  if (field[0] == '?') field[0] = '\0';
}

// Appends to the logon text without overrunning exchange_buffer.
class LogonText {
 public:
  explicit LogonText(char* buffer) : buffer_(buffer) { buffer_[0] = '\0'; }
  void add(const char* text) {
    size_t length = strnlen(text, kExchangeBufferSize - 1 - length_);
    memcpy(buffer_ + length_, text, length);
    length_ += length;
    buffer_[length_] = '\0';
  }
  int length() const { return static_cast<int>(length_); }

 private:
  char* buffer_;
  size_t length_ = 0;
};

}  // namespace

int build_logon_text(Connection* conn) {
  empty_placeholder(conn->server);
  empty_placeholder(conn->virtual_machine);
  empty_placeholder(conn->user);
  empty_placeholder(conn->password);
  empty_placeholder(conn->account);
  empty_placeholder(conn->ac_password);
  empty_placeholder(conn->currency_sign);
  empty_placeholder(conn->thousand_mark);
  empty_placeholder(conn->decimal_mark);

  LogonText text(conn->exchange_buffer);
  for (const char* field : {conn->server, conn->virtual_machine, conn->user, conn->password,
                            conn->account, conn->ac_password}) {
    text.add(field);
    text.add(conn->field_separator);
  }
  if (conn->server_version >= kServerLevel754 && !switch_on(conn->server_format_opt)) {
    char marks[32];
    snprintf(marks, sizeof marks, "\"%s/%s/%s\"", conn->currency_sign, conn->thousand_mark,
             conn->decimal_mark);
    text.add(marks);
    text.add(conn->field_separator);
  }
  return text.length();
}

SQLRETURN post_missing_user(Connection* conn) {
  return post_connection_error(conn, kDiagNoUser);
}

SQLRETURN post_logon_refused(Connection* conn) {
  // The logon text was built from the record: an empty field is what was sent.
  if (conn->password[0] != '\0') return post_connection_error(conn, kDiagLogonRefused);
  char text[kMaxPostedText + 1];
  snprintf(text, sizeof text, kDiagLogonRefusedEmptyPassword.text, conn->user);
  return post_connection_error(conn, text, kDiagLogonRefusedEmptyPassword.sqlstate);
}

SQLRETURN post_logon_link_failure(Connection* conn, LinkStatus link_status) {
  for (const LinkFailureText& entry : kLinkFailureTexts) {
    if (entry.link_status == link_status) return post_connection_error(conn, entry.diag);
  }
  return post_connection_error(conn, kDiagLogonOther);
}

namespace {

// A server that answers no TLS hello in this long is not a TLS server, when
// the connection sets no login timeout of its own: without a limit a TLS
// connection to a plain server that waits for a frame would wait for ever.
constexpr uint32_t kDefaultHandshakeSeconds = 30;

// Encrypts the link just opened as conn->ssl_mode says. False with the
// diagnostic posted (and the link dropped) when it cannot.
bool secure_link(Connection* conn, TlsMode mode) {
  if (mode == TlsMode::kDisable) return true;
  uint32_t seconds = conn->login_timeout != 0 ? conn->login_timeout : kDefaultHandshakeSeconds;
  TlsStart start = start_tls(conn->link, TlsRequest{mode, conn->server, conn->ssl_root_cert},
                             static_cast<int>(seconds) * 1000);
  // Room for the longest reason: the posted text is cut where it must be.
  char text[sizeof start.reason + 64];
  if (start.session == nullptr) {
    const DiagText& diag = start.library_missing ? kDiagTlsLibrary
                           : start.setup_failed  ? kDiagTlsSetup
                                                 : kDiagTlsHandshake;
    snprintf(text, sizeof text, diag.text, start.reason);
    post_connection_error(conn, text, diag.sqlstate);
    snprintf(text, sizeof text, "tls failed: %s", start.reason);
    log_event(conn->exchange_log, text);
    return false;
  }
  // What was agreed goes to the log: the version and cipher a connection
  // used are the first question when encryption is audited.
  snprintf(text, sizeof text, "tls %s %s sslmode=%s", start.protocol, start.cipher,
           tls_mode_name(mode));
  log_event(conn->exchange_log, text);
  return true;
}

}  // namespace

LogonResult logon(Window* window, Connection* conn) {
  // Each session starts its own log; its first line names where it goes.
  open_connection_log(conn);
  // An SSLMode the driver does not know fails before anything is sent: taken
  // for "disable" it would send the password in clear to whoever listens.
  TlsMode mode = TlsMode::kDisable;
  if (!tls_mode_from_text(conn->ssl_mode, &mode)) {
    char text[kMaxPostedText + 1];
    snprintf(text, sizeof text, kDiagBadSslMode.text, conn->ssl_mode);
    post_connection_error(conn, text, kDiagBadSslMode.sqlstate);
    log_event(conn->exchange_log, "unknown SSLMode");
    return kLogonLinkFailed;
  }
  show_status_line(window, "Resolving hostname...");
  OpenFailure failure = OpenFailure::kNone;
  int error = 0;
  conn->link = open_link(conn->server, conn->port, conn->login_timeout, conn->exchange_log,
                         &failure, &error, conn->link_area);
  if (conn->link == nullptr) {
    if (failure == OpenFailure::kMemory) {
      post_connection_error(conn, kDiagMemory);
      return kLogonLinkFailed;
    }
    if (failure == OpenFailure::kSocket) {
      char text[48];
      snprintf(text, sizeof text, "socket() failed: errno %d", error);
      show_status_line(window, text);
    }
    log_event(conn->exchange_log, "no connection to the server");
    return kLogonNoSocket;
  }
  if (!secure_link(conn, mode)) return kLogonLinkFailed;
  load_string(kStrLogonCommand, conn->logon_command, sizeof conn->logon_command);

  // The logon text holds the passwords: the log gets its length only.
  int32_t length = static_cast<int32_t>(strlen(conn->exchange_buffer));
  uint8_t data[kLogonReplySize];
  Exchanged result = exchange(
      conn->link, conn->logon_command, reinterpret_cast<const uint8_t*>(conn->exchange_buffer),
      length, ReplyArea{conn->exchange_buffer, sizeof conn->exchange_buffer, data, kLogonReplySize},
      effective_wait_seconds(conn->login_timeout));
  if (!result.ok()) {
    // A refusal whose frame broke off is known by what arrived of it. The
    // frame area holds the reply's body from its start once its length
    // arrived; before that it still holds the request frame, whose length
    // bytes (below 0x0500) can never read as the refusal.
    if (result.sent &&
        memcmp(conn->link->frame_buffer, kRefusalStart, sizeof kRefusalStart - 1) == 0) {
      log_event(conn->exchange_log, "logon refused");
      return kLogonRefused;
    }
    post_logon_link_failure(conn, result.link_status);
    return kLogonLinkFailed;
  }
  // The logon runs on a non-blocking socket so that every wait is bounded;
  // the session's later exchanges use plain blocking transfers (TLS keeps
  // its socket non-blocking: link/tls_session.h).
  use_session_transfers(conn->link);

  int32_t received = result.received;  // 0: a reply without data bytes
  switch (conn->exchange_buffer[0]) {
    case kStatusOk:
      conn->server_flags = 0;
      if (received >= kLevelBytes && conn->server_version < kServerLevel710) {
        conn->server_version = kServerLevel710;
      }
      if (received > kFlagsByte) {
        conn->server_flags =
            static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(data[kFlagsByte])));
      }
      return kLogonAccepted;
    case kStatusWarning:
      conn->server_flags = 0;
      return kLogonAccepted;
    default:
      // The server's own words reach the user only through a window.
      show_status_line(window, "Logon Error:");
      show_status_line(window, conn->exchange_buffer[0] != '\0' ? conn->exchange_buffer + 1 : "");
      return kLogonRefused;
  }
}

SQLRETURN connect_and_logon(Connection* conn) {
  conn->sqlstate[0] = '\0';
  if (!parse_port(conn->port_text, &conn->port)) {
    char text[kMaxPostedText + 1];
    snprintf(text, sizeof text, kDiagBadPort.text, conn->port_text);
    return post_connection_error(conn, text, kDiagBadPort.sqlstate);
  }
  LogonResult result = logon(nullptr, conn);
  if (result == kLogonAccepted) {
    conn->message[0] = '\0';
    return SQL_SUCCESS;
  }
  if (result == kLogonNoSocket) post_connection_error(conn, kDiagNoHost);
  if (result == kLogonRefused) post_logon_refused(conn);
  close_link(conn->link);
  conn->link = nullptr;
  close_connection_log(conn);
  return SQL_ERROR;
}

}  // namespace q4
