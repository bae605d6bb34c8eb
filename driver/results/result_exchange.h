// The exchanges of the result functions whose replies do not land in
// io_buffer: row blocks go straight into row_buffer, values fetched on demand
// into a block that grows with them.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Sends `command` with `length` bytes of `payload` over the statement's
// connection (plain transfers, query_timeout along as the limit) and receives
// the reply: its status string into reply_status, up to `capacity` payload
// bytes into `destination`. With `growable` given, a payload larger than
// `capacity` moves into a drv_alloc block at *growable (which the caller
// frees) instead of breaking the exchange; *grown then becomes 1.
// Returns the payload byte count (> 0), -1 for a reply without payload (or
// whose growth could not be allocated), or 0 when a transfer failed: the link
// is then reported broken ("08S01" "Communications_ERROR" on the connection,
// socket closed).
int32_t exchange_into(Statement* stmt, uint8_t command, const uint8_t* payload, int32_t length,
                      uint8_t* destination, int32_t capacity, uint8_t** growable, int32_t* grown);

}  // namespace q4
