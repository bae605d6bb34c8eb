// The logon exchange that turns an open socket into a session, and its
// failures as diagnostics.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"
#include "link/transport.h"
#include "platform/dialog_ops.h"

namespace q4 {

// What `logon` ended with.
enum LogonResult : char {
  kLogonNoSocket = 'C',  // the socket could not be opened; nothing posted
  kLogonRefused = 'E',   // the server refused the logon; nothing posted
  kLogonAccepted = 'K',
  kLogonLinkFailed = 'N',  // the exchange failed in transport; posted already
};

// Data bytes of the logon reply that are kept; more are not expected.
constexpr int kLogonReplySize = 49;

// Empties each of server, virtual_machine, user, password, account,
// ac_password and the three marks whose text begins with "?" (the record
// keeps the change), then writes the logon text into exchange_buffer,
// NUL-terminated (the NUL is not sent): the six fields each followed by the
// field separator and, at level 754 and above unless ServerFormatOpt is on,
// the marks as "currency/thousand/decimal" in double quotes and a separator.
// Returns the text's length.
int build_logon_text(Connection* conn);

// Opens the socket (progress lines go to `window`, which may be null) and
// runs the logon exchange with the logon text already in exchange_buffer.
// Every wait is bounded by login_timeout. On kLogonAccepted the socket is
// blocking and server_flags / server_version reflect the reply. The socket is
// left open whatever happened; closing it is the caller's.
LogonResult logon(Window* window, Connection* conn);

// `logon` without a window, for SQLConnect and SQLDriverConnect, to the
// port that port_text names: a text that is no port (parse_port) is refused
// with "08001" naming it, before anything is opened. Posts the
// failure ("08001" no socket, "28000" refused (post_logon_refused), or the
// link-status diagnostic)
// and closes the socket on failure. SQL_SUCCESS or SQL_ERROR.
SQLRETURN connect_and_logon(Connection* conn);

// A connect that cannot ask (no dialog shown) and lacks a user name must say
// so rather than fail in silence or send a logon the server can only refuse
// with its general "28000": posts "28000" naming the setting, returns
// SQL_ERROR. An empty user is still sent when given as "?" (build_logon_text
// empties it). A password is not required: whether an empty one will do is
// the server's to decide, and a refusal of it says that it was empty.
SQLRETURN post_missing_user(Connection* conn);

// Posts the server's refusal of the logon: "28000", with a hint naming the
// user when the password sent was empty. Returns SQL_ERROR.
SQLRETURN post_logon_refused(Connection* conn);

// Posts the diagnostic of a logon transfer that failed with `link_status`;
// returns SQL_ERROR.
SQLRETURN post_logon_link_failure(Connection* conn, LinkStatus link_status);

}  // namespace q4
