#include "statement/param_rows.h"

#include "statement/param_array.h"

namespace q4 {

namespace {

// The bind offset added to every address, and the step from row to row of
// the indicators, in the non-plain layouts.
uint64_t bind_offset(const Statement* stmt) {
  return app_param_desc(stmt).bind_offset != nullptr
             ? static_cast<uint64_t>(*app_param_desc(stmt).bind_offset)
             : 0;
}
uint64_t indicator_step(const Statement* stmt) {
  return app_param_desc(stmt).bind_type != 0 ? app_param_desc(stmt).bind_type : sizeof(int64_t);
}

}  // namespace

const int64_t* indicator_for_row(const Statement* stmt, const ParamBinding& binding, uint64_t row) {
  if (binding.indicator == nullptr) return nullptr;
  if (plain_param_layout(stmt)) return binding.indicator + row;
  // Unsigned arithmetic: a negative offset wraps to the address below.
  return reinterpret_cast<const int64_t*>(reinterpret_cast<const uint8_t*>(binding.indicator) +
                                          bind_offset(stmt) + row * indicator_step(stmt));
}

ParamBinding binding_for_row(const Statement* stmt, const ParamBinding& binding, uint64_t row) {
  if (plain_param_layout(stmt)) return binding_at_row(binding, row);
  const uint64_t value_step = app_param_desc(stmt).bind_type != 0
                                  ? app_param_desc(stmt).bind_type
                                  : static_cast<uint64_t>(element_size(binding));
  ParamBinding view = binding;
  // Unsigned arithmetic: a negative offset wraps to the address below.
  if (view.value != nullptr) {
    view.value = static_cast<uint8_t*>(view.value) + bind_offset(stmt) + row * value_step;
  }
  view.indicator = const_cast<int64_t*>(indicator_for_row(stmt, binding, row));
  return view;
}

void note_row_outcome(Statement* stmt, uint64_t row, SQLRETURN rc) {
  if (stmt->param_statuses == nullptr) return;
  switch (rc) {
    case SQL_SUCCESS:
      stmt->param_statuses[row] = SQL_PARAM_SUCCESS;
      break;
    case SQL_SUCCESS_WITH_INFO:
      stmt->param_statuses[row] = SQL_PARAM_SUCCESS_WITH_INFO;
      break;
    case SQL_NEED_DATA:
      break;
    default:
      stmt->param_statuses[row] = SQL_PARAM_ERROR;
      break;
  }
}

void note_rows_unused(Statement* stmt, uint64_t row, uint64_t rows) {
  if (stmt->param_statuses == nullptr) return;
  for (; row < rows; ++row) stmt->param_statuses[row] = SQL_PARAM_UNUSED;
}

}  // namespace q4
