// Writing bound parameter values into a statement text as SQL literals.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Writes `text` (its first `length` bytes) into `request_buffer` from offset
// 4, each marker found by the last scan_markers replaced by the literal of its
// binding (a binary value by the token "0x<i>"), then a NUL, then each binary
// block followed by a NUL. The block grows through reserve_request when the
// literals need more room than the text had. On SQL_SUCCESS `request_length`
// is the offset just past the last byte written; on SQL_ERROR a diagnostic is
// posted on the statement and the request must not be sent.
//
// build_request calls it only for a text with at least one marker, after the
// scan paired every marker with a binding that holds its value.
SQLRETURN substitute_parameters(Statement* stmt, const char* text, int64_t length);

}  // namespace q4
