#include "statement/marker_scan.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "statement/param_rows.h"

namespace q4 {

namespace {

// Written into the slot as it stands: applications match this exact text.

bool is_ascii_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_pass_through_start(char c) {
  return c == '>' || c == '[' || c == ']';
}

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
  int64_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  if (i < length && is_pass_through_start(text[i])) {
    stmt->pass_through = 1;
    return 0;
  }
  stmt->pass_through = 0;
  if (i >= length || !is_ascii_letter(text[i])) return 0;

  bool in_single = false;
  bool in_double = false;
  ParamBinding* binding = stmt->parameters;
  for (; i < length && text[i] != '\0'; ++i) {
    char c = text[i];
    if (c == '\'') {
      if (!in_double) in_single = !in_single;
    } else if (c == '"') {
      if (!in_single) in_double = !in_double;
    } else if (c == '?' && !in_single && !in_double) {
      if (binding == nullptr) {
        post_error_unprefixed(stmt, kDiagWrongParameterCount.text,
                              kDiagWrongParameterCount.sqlstate);
        return kMarkersUnbound;
      }
      if (!positions->add(stmt, static_cast<uint32_t>(i))) return kMarkersNoMemory;
      ++stmt->marker_count;
      if (awaits_data(stmt, binding)) return static_cast<int32_t>(stmt->marker_count);
      binding = binding->next;
    }
  }
  return 0;
}

uint32_t count_question_marks(const char* text) {
  uint32_t count = 0;
  if (text == nullptr) return 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '?') ++count;
  }
  return count;
}

}  // namespace q4
