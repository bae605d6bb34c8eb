// SQLConnect and SQLDisconnect: opening a session from a data source name,
// and ending it.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// SQLConnect's work. Reads the data source's settings, lets the arguments
// override user and password, shows the small connect dialog when the data
// source asks for it (AConnectDialog) and logs on.
// - SQL_ERROR with "S1000" "No DSN was specified" for a null or empty name.
// - A non-empty `auth` is the password. Without one, the profile's PASSWORD is
//   used only when `uid` is empty or equals the profile's USER exactly; a
//   password stored for one user must not be sent for another.
// - A dialog's non-zero result is returned as it is (100: the user cancelled).
// - Without a dialog, a missing user is posted ("28000") before anything is
//   sent; an empty password is sent as it is, for the server to judge.
SQLRETURN connect_with_dsn(Connection* conn, const SQLCHAR* dsn, SQLSMALLINT dsn_length,
                           const SQLCHAR* uid, SQLSMALLINT uid_length, const SQLCHAR* auth,
                           SQLSMALLINT auth_length);

// Drops every statement of the connection, released on the server where the
// link still reaches it, and frees the records whose release failed before.
// Their handles are invalid afterwards.
void drop_statements(Connection* conn);

// SQLDisconnect's work: drops every statement of the connection, tells the
// server (errors ignored), closes the socket. Always SQL_SUCCESS; a
// connection that is not connected is left alone.
SQLRETURN disconnect(Connection* conn);

// SQLFreeConnect's work (and SQLFreeHandle's for a connection): frees the
// record, and a log left open by a connect that never reached SQLDisconnect
// with it.
SQLRETURN release_connection(Connection* conn);

}  // namespace q4
