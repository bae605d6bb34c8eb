#include "statement/param_array.h"

#include <cstring>

#include "core/diagnostics.h"
#include "statement/exec_marks.h"
#include "results/execute_reply.h"
#include "statement/execute.h"
#include "statement/literal.h"
#include "statement/param_rows.h"
#include "statement/request.h"
#include "statement/run_rows.h"

namespace q4 {

namespace {

static_assert(sizeof(SQLULEN) == sizeof(uint64_t), "the row counter is kept as 64 bits");

struct ElementSize {
  SQLSMALLINT c_type;
  int64_t size;
};

// The fixed-size C types a parameter array can hold, with the size of one
// value. Character and binary data step by cbValueMax instead (below). A C
// type missing here cannot be stepped through: its rows would all read row
// 0's value, so an array of it is refused rather than sent wrong.
constexpr ElementSize kFixedSizes[] = {
    {SQL_C_LONG, 4},
    {SQL_C_SLONG, 4},
    {SQL_C_ULONG, 4},
    {SQL_C_SHORT, 2},
    {SQL_C_SSHORT, 2},
    {SQL_C_USHORT, 2},
    {SQL_C_BIT, 1},
    {SQL_C_TINYINT, 1},
    {SQL_C_STINYINT, 1},
    {SQL_C_UTINYINT, 1},
    {SQL_C_SBIGINT, 8},
    {SQL_C_UBIGINT, 8},
    {SQL_C_FLOAT, sizeof(SQLREAL)},
    {SQL_C_DOUBLE, sizeof(SQLDOUBLE)},
    {SQL_C_NUMERIC, sizeof(SQL_NUMERIC_STRUCT)},
    {SQL_C_DATE, sizeof(DATE_STRUCT)},
    {SQL_C_TIME, sizeof(TIME_STRUCT)},
    {SQL_C_TIMESTAMP, sizeof(TIMESTAMP_STRUCT)},
    {SQL_C_TYPE_DATE, sizeof(DATE_STRUCT)},
    {SQL_C_TYPE_TIME, sizeof(TIME_STRUCT)},
    {SQL_C_TYPE_TIMESTAMP, sizeof(TIMESTAMP_STRUCT)},
};

bool steps_by_buffer_length(SQLSMALLINT c_type) {
  return c_type == SQL_C_CHAR || c_type == SQL_C_BINARY || c_type == SQL_C_WCHAR;
}

bool is_data_at_exec(int64_t indicator) {
  return indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

// Writes the number of the row under way into the application's counter.
void note_row(const Statement* stmt, uint64_t number) {
  if (stmt->rows_processed != nullptr) *stmt->rows_processed = number;
}

// Checks, before the first row is sent, what would otherwise stop the
// execution halfway for a reason that no row's data caused: the bindings of
// the text's markers (the first marker_count of the list) must step through
// their rows (row-wise rows step by the row size instead), and no row may
// wait for data at execution (row 0 was checked by the marker scan).
SQLRETURN check_rows(Statement* stmt, uint64_t rows) {
  const ParamBinding* b = app_param_desc(stmt).records;
  for (uint32_t k = 0; k < stmt->marker_count && b != nullptr; ++k, b = b->next) {
    if (app_param_desc(stmt).bind_type == 0 && b->value != nullptr && element_size(*b) <= 0) {
      return post_error(stmt, steps_by_buffer_length(effective_c_type(b->c_type, b->sql_type))
                                  ? kDiagInvalidLength
                                  : kDiagGeneral);
    }
    if (b->indicator == nullptr) continue;
    for (uint64_t row = 1; row < rows; ++row) {
      if (is_data_at_exec(*binding_for_row(stmt, *b, row).indicator)) {
        return post_error(stmt, kDiagNotCapable);
      }
    }
  }
  return SQL_SUCCESS;
}

// Ends an execution that stopped at `row` with `rc`: that row failed, the
// rows after it were not run.
SQLRETURN stop_at_row(Statement* stmt, uint64_t row, uint64_t rows, SQLRETURN rc) {
  note_row_outcome(stmt, row, SQL_ERROR);
  note_rows_unused(stmt, row + 1, rows);
  return rc;
}

// One set of values: a single execution. Data at execution needs the
// bindings' own addresses, which a bind offset moves.
SQLRETURN execute_single(Statement* stmt, const char* text, int64_t length) {
  SQLRETURN rc = execute_text(stmt, text, length);
  if (rc == SQL_NEED_DATA && !bindings_hold_first_row(stmt)) {
    stmt->pending_parameter = 0;
    rc = post_error(stmt, kDiagNotCapable);
  }
  // Cancelled after the server ran it: the row is done all the same.
  note_row_outcome(stmt, 0, stmt->cancelled_in_call == kCancelledAfterReply ? SQL_SUCCESS : rc);
  return rc;
}

// Puts the row back to 0 however the execution ends, so that a later single
// build (SQLPrepare, SQLParamData) reads the bindings themselves.
class RowCursor {
 public:
  explicit RowCursor(Statement* stmt) : stmt_(stmt) {}
  ~RowCursor() { stmt_->param_row = 0; }
  RowCursor(const RowCursor&) = delete;
  RowCursor& operator=(const RowCursor&) = delete;

 private:
  Statement* stmt_;
};

}  // namespace

SQLRETURN set_param_options(Statement* stmt, SQLULEN rows, SQLULEN* rows_processed) {
  if (rows == 0) return post_error(stmt, kDiagRowValue);
  app_param_desc(stmt).array_size = rows;
  stmt->rows_processed = reinterpret_cast<uint64_t*>(rows_processed);
  return SQL_SUCCESS;
}

int64_t element_size(const ParamBinding& binding) {
  SQLSMALLINT c_type = effective_c_type(binding.c_type, binding.sql_type);
  if (steps_by_buffer_length(c_type)) return binding.buffer_length;
  for (const ElementSize& entry : kFixedSizes) {
    if (entry.c_type == c_type) return entry.size;
  }
  return 0;
}

ParamBinding binding_at_row(const ParamBinding& binding, uint64_t row) {
  ParamBinding view = binding;
  if (row == 0) return view;
  if (view.value != nullptr) {
    view.value =
        static_cast<uint8_t*>(view.value) + row * static_cast<uint64_t>(element_size(view));
  }
  if (view.indicator != nullptr) view.indicator += row;
  return view;
}

SQLRETURN execute_rows(Statement* stmt, const char* text, int64_t length) {
  note_row(stmt, 1);
  const uint64_t rows = app_param_desc(stmt).array_size;
  if (rows <= 1) return execute_single(stmt, text, length);

  hand_over_pieces(stmt);
  if (text != nullptr && length == SQL_NTS) length = static_cast<int64_t>(strlen(text));
  RowCursor reset(stmt);
  SQLRETURN built = build_request(stmt, text, length);
  if (built == SQL_NEED_DATA) {
    // Nothing waits for SQLParamData: the execution is refused as a whole.
    stmt->pending_parameter = 0;
    return stop_at_row(stmt, 0, rows, post_error(stmt, kDiagNotCapable));
  }
  if (built != SQL_SUCCESS) return stop_at_row(stmt, 0, rows, built);
  // Without markers there are no rows of values, only the statement.
  if (stmt->marker_count == 0) {
    SQLRETURN result = send_execute(stmt);
    note_row_outcome(stmt, 0, result);
    note_rows_unused(stmt, 1, rows);
    return result;
  }
  SQLRETURN checked = check_rows(stmt, rows);
  if (checked != SQL_SUCCESS) return stop_at_row(stmt, 0, rows, checked);
  return run_rows(stmt, text, length, rows);
}

}  // namespace q4
