// Pieces shared by the fetch and positioning code (fetch.cpp, position.cpp).
#pragma once

#include "core/records.h"
#include "results/fetch.h"

namespace q4 {

// Posts the damaged-block diagnostic ("08S01" "Communications_ERROR") on the
// statement; returns a failed step.
Step report_broken_block(Statement* stmt);

// The absolute fetch form for servers without it: runs the statement again
// when `target` lies behind the cursor, then steps forward until row `target`
// is current. kRow when it is, kEnd when the result ended first, kFailed
// (diagnostic posted) otherwise.
Step emulate_absolute_request(Statement* stmt, int32_t target);

}  // namespace q4
