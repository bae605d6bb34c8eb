// Writing bound parameter values into a statement text as SQL literals.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"
#include "statement/marker_scan.h"
#include "statement/request_writer.h"

namespace q4 {

// Appends `text` (its first `length` bytes) to `out`, the marker at each of
// `markers`' offsets replaced by the literal of its binding's value (a binary
// value by the token "0x<i>", its bytes left pending for the writer's
// append_binary_blocks). The k-th offset takes the k-th binding of the list,
// read at the row of a parameter array being built (param_row). False with a
// diagnostic posted on the statement; the payload must not be sent then.
//
// build_request calls it only for a text with at least one marker, after the
// scan paired every marker with a binding that holds its value.
bool substitute_parameters(Statement* stmt, const MarkerPositions& markers, const char* text,
                           uint64_t length, RequestWriter* out);

}  // namespace q4
