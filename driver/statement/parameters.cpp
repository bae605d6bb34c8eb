#include "statement/parameters.h"

#include "statement/literal.h"
#include "statement/param_rows.h"

namespace q4 {

// Only the bindings the scan paired with markers are used: any binding beyond
// them has no marker in this text and is neither converted nor allowed to fail
// the statement.
bool substitute_parameters(Statement* stmt, const MarkerPositions& markers, const char* text,
                           uint64_t length, RequestWriter* out) {
  uint64_t copied = 0;  // text characters written so far: up to the last marker
  const ParamBinding* binding = app_param_desc(stmt).records;
  for (uint32_t k = 0; k < markers.count() && binding != nullptr; ++k, binding = binding->next) {
    uint64_t marker = markers[k];
    if (!out->append(text + copied, marker - copied)) return false;
    // The row of a parameter array being built (row 0 otherwise).
    ParamBinding row = binding_for_row(stmt, *binding, stmt->param_row);
    if (make_literal(stmt, row, out) != SQL_SUCCESS) return false;
    copied = marker + 1;
  }
  return out->append(text + copied, length - copied);
}

}  // namespace q4
