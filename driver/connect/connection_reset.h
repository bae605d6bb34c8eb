// The reset a Driver Manager asks for (SQL_ATTR_RESET_CONNECTION) as it puts
// a connection back into its pool, so that the connection's next user finds
// it as a new one: no open transaction, every attribute at its default.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// Resets `conn` at once (nothing is left for the next user's first call):
// - drops every statement of the connection, as SQLDisconnect does: the
//   Driver Manager has already forgotten their handles, and kept they would
//   pile up on the server for as long as the pooled connection lives;
// - rolls back whatever the server holds open (always asked: a transaction
//   can also have been begun by a statement text, with autocommit on);
// - restores every connection attribute and statement default
//   (core/connection_defaults.h) and, when access mode, autocommit or
//   isolation had been changed, tells the server the defaults. The roll back
//   comes first: switching autocommit on would commit the open work.
// A connection whose link is gone (or never opened) only has its attributes
// restored; a pool that asks SQL_ATTR_CONNECTION_DEAD before reusing it
// closes it. A failed or refused exchange is posted as the roll back or the
// settings request posts it, and the link is dropped: the connection is then
// dead rather than handed on in a state nobody knows.
SQLRETURN reset_connection(Connection* conn);

}  // namespace q4
