#include "statement/marker_scan.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "statement/param_rows.h"
#include "statement/sql_scanner.h"

namespace q4 {

namespace {

// A binding whose value the application still has to deliver through
// SQLParamData/SQLPutData before the text can be built; its indicator is read
// where the parameter layout puts the row being built.
bool awaits_data(const Statement* stmt, const ParamBinding* binding) {
  const int64_t* at = indicator_for_row(stmt, *binding, stmt->param_row);
  if (at == nullptr) return false;
  int64_t indicator = *at;
  if (indicator == SQL_DATA_AT_EXEC) return true;
  return indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET && !binding->complete;
}

}  // namespace

MarkerPositions::~MarkerPositions() {
  if (at_ != inline_) drv_free(at_);
}

bool MarkerPositions::grow(Statement* stmt) {
  uint32_t capacity = 2 * capacity_;
  auto* block = drv_alloc_array<uint32_t>(nullptr, stmt, capacity);
  if (block == nullptr) return false;
  memcpy(block, at_, sizeof(uint32_t) * count_);
  if (at_ != inline_) drv_free(at_);
  at_ = block;
  capacity_ = capacity;
  return true;
}

int32_t scan_markers(Statement* stmt, const char* text, int64_t length,
                     MarkerPositions* positions) {
  stmt->marker_count = 0;
  positions->clear();
  SqlScanner scan(text, static_cast<uint64_t>(length));
  if (scan.pass_through()) {
    stmt->pass_through = 1;
    return 0;
  }
  stmt->pass_through = 0;
  ParamBinding* binding = app_param_desc(stmt).records;
  for (int64_t at; (at = scan.next_marker()) >= 0;) {
    if (binding == nullptr) {
      // Written into the slot as it stands: applications match this exact text.
      post_error_unprefixed(stmt, kDiagWrongParameterCount.text, kDiagWrongParameterCount.sqlstate);
      return kMarkersUnbound;
    }
    if (!positions->add(stmt, static_cast<uint32_t>(at))) return kMarkersNoMemory;
    ++stmt->marker_count;
    if (awaits_data(stmt, binding)) return static_cast<int32_t>(stmt->marker_count);
    binding = binding->next;
  }
  return 0;
}

}  // namespace q4
