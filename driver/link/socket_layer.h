// Start-up and clean-up of the socket layer, and the end of a connection's
// link.
//
// POSIX sockets need no start-up; the count is kept so that each opened link
// is balanced by exactly one clean-up, which tests check and which keeps a
// failed link from being "cleaned up" twice.
#pragma once

#include "core/records.h"

namespace q4 {

// Begins one use of the socket layer; false when it is not available.
bool socket_layer_startup();
// Ends one use begun by socket_layer_startup.
void socket_layer_cleanup();
// Uses begun and not yet ended in this process.
int socket_layer_users();

// After a link failure: closes the connection's descriptor and ends its use of
// the socket layer, once. `socket` keeps its value (the connection still
// counts as connected) and `link_lost` is set, so later exchanges fail at once
// and SQLDisconnect closes nothing twice.
void drop_link(Connection* conn);

// At disconnect: closes the descriptor and ends the socket-layer use unless a
// link failure already did, then marks the connection unconnected.
void close_link(Connection* conn);

}  // namespace q4
