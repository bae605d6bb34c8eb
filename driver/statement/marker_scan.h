// Finding the parameter markers of a statement text and pairing them with the
// statement's parameter bindings.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Result of scan_markers when a marker finds no binding left ("07001" is then
// in the statement's slot, written without the driver prefix).
constexpr int32_t kMarkersUnbound = -1;

// Scans the first `length` characters of `text` (fewer when a NUL comes
// first) for "?" markers outside single- and double-quoted strings.
//
// - A text whose first character after leading spaces is ">", "[" or "]" is a
//   pass-through text: `pass_through` is set and nothing is scanned.
// - A text that starts with anything else but an ASCII letter is not scanned
//   either (`pass_through` clear): every "?" in it is sent unchanged.
// - Otherwise the k-th marker takes the k-th binding of `parameters` (list
//   order, whatever its number), whose `position` receives the marker's
//   1-based character position; `marker_count` counts the markers taken.
//
// Returns 0 when the text can be sent (every marker has a binding with a
// value), kMarkersUnbound when a marker has no binding left, or k > 0 when the
// k-th marker's binding waits for data at execution (indicator
// SQL_DATA_AT_EXEC, or SQL_LEN_DATA_AT_EXEC(n) while not yet `complete`).
// Touches nothing but the fields named here and, for kMarkersUnbound, the
// diagnostic slot.
int32_t scan_markers(Statement* stmt, const char* text, int64_t length);

// SQLNumParams' count: every "?" of a NUL-terminated text, quoted or not and
// whatever the text begins with; 0 for a null text.
uint32_t count_question_marks(const char* text);

}  // namespace q4
