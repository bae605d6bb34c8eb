// A connection's driver log (link/exchange_log.h): opened from its settings
// as a session begins, closed as it ends.
#pragma once

#include "core/records.h"

namespace q4 {

// Opens the log the connection's LogFile (else Q4ODBC_LOG) names, first
// closing one an earlier connect left open; exchange_log stays null when
// logging is off.
void open_connection_log(Connection* conn);

// Closes the connection's log; nothing when none is open.
void close_connection_log(Connection* conn);

}  // namespace q4
