// Pieces shared by the fetch and positioning code (fetch.cpp, position.cpp).
#pragma once

#include "core/records.h"

namespace q4 {

// Stores `letter` as reply_status with an empty text; returns it.
char set_status_letter(Statement* stmt, char letter);

// Posts the damaged-block diagnostic ("08S01" "Communications_ERROR") on the
// statement; returns kStepFailed (also stored as the status letter).
char report_broken_block(Statement* stmt);

// The absolute fetch form for servers without it: runs the statement again
// when `target` lies behind the cursor, then steps forward until row `target`
// is current. Returns the status letter of the last step (as request_rows).
char emulate_absolute_request(Statement* stmt, int32_t target);

}  // namespace q4
