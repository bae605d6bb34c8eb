#include "results/extended_fetch.h"

#include <cstdint>

#include "core/diagnostics.h"
#include "results/fetch.h"
#include "results/result_set.h"

namespace q4 {

namespace {

// SQL_FETCH_NEXT .. SQL_FETCH_BOOKMARK; 0 and anything above are refused.
// Resuming an earlier rowset (ODBC 2's fetch type 7, which the Driver
// Manager's headers no longer name) is not supported either.
constexpr SQLUSMALLINT kFetchResume = 7;
constexpr SQLUSMALLINT kLastFetchType = SQL_FETCH_BOOKMARK;

// A backward move that would start the rowset before row 1 is clamped to
// row 1 when it overlaps the first rowset (the cursor was not already at the
// start and the overshoot is less than a rowset); a larger overshoot lands
// before the first row and yields no data.
int64_t clamp_backward(int64_t start, int64_t current, int64_t rowset) {
  if (start < 1 && current > 1 && -start <= rowset) return 1;
  return start;
}

int32_t to_row(int64_t row) {
  if (row > INT32_MAX) return INT32_MAX;
  if (row < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(row);
}

}  // namespace

int32_t rowset_start(Statement* stmt, SQLUSMALLINT fetch_type, int32_t irow) {
  const ResultSet& rs = result_set(stmt);
  const int64_t r = app_row_desc(stmt).array_size;
  const int64_t n = stmt->row_number;
  switch (fetch_type) {
    case SQL_FETCH_FIRST:
      return 1;
    case SQL_FETCH_LAST: {
      int64_t start = static_cast<int64_t>(count_rows(stmt)) + 1 - r;
      return to_row(start < 1 ? 1 : start);
    }
    case SQL_FETCH_PRIOR:
      if (rs.at_end && stmt->row_count < r) return 1;
      if (n > 1 && n <= r) return 1;
      return to_row(n - r);
    case SQL_FETCH_ABSOLUTE:
    case SQL_FETCH_BOOKMARK:
      if (irow >= 0) return irow;
      return to_row(clamp_backward(static_cast<int64_t>(count_rows(stmt)) + 1 + irow, n, r));
    case SQL_FETCH_RELATIVE:
      return to_row(clamp_backward(n + irow, n, r));
    default:
      return 0;
  }
}

SQLRETURN fill_rowset(Statement* stmt, SQLULEN* row_count_out, SQLUSMALLINT* statuses) {
  const ResultSet& rs = result_set(stmt);
  stmt->row_number =
      static_cast<uint32_t>(rs.cursor_row) + ((rs.positioned || rs.at_end) ? 0u : 1u);
  SQLRETURN result = SQL_SUCCESS;
  const uint32_t size = app_row_desc(stmt).array_size;
  for (uint32_t i = 0; i < size; ++i) {
    SQLRETURN rc = fetch_next_row(stmt, static_cast<int32_t>(i));
    switch (rc) {
      case SQL_SUCCESS:
        if (statuses != nullptr) statuses[i] = SQL_ROW_SUCCESS;
        break;
      case SQL_ERROR:
      case SQL_SUCCESS_WITH_INFO:
        // One bad row does not end the rowset: its status says so and the
        // rows after it are still delivered.
        if (statuses != nullptr) statuses[i] = SQL_ROW_ERROR;
        post_error(stmt, kDiagErrorInRow);
        result = SQL_SUCCESS_WITH_INFO;
        break;
      case SQL_NO_DATA_FOUND:
        if (i == 0) return SQL_NO_DATA_FOUND;
        if (statuses != nullptr) {
          for (uint32_t j = i; j < size; ++j) statuses[j] = SQL_ROW_NOROW;
        }
        if (row_count_out != nullptr) *row_count_out = i;
        return result;
      default:
        break;
    }
  }
  if (row_count_out != nullptr) *row_count_out = size;
  return result;
}

SQLRETURN extended_fetch(Statement* stmt, SQLUSMALLINT fetch_type, int32_t irow,
                         SQLULEN* row_count_out, SQLUSMALLINT* statuses) {
  if (stmt->ext_fetch_disabled && fetch_type != SQL_FETCH_NEXT) {
    return post_error(stmt, kDiagExtFetchDisabled);
  }
  if (result_discarded(stmt)) return post_error(stmt, kDiagSequence);
  end_piecewise_read(stmt);
  if (stmt->column_count < 1 || stmt->row_count < 1) return SQL_NO_DATA_FOUND;
  if (fetch_type == 0 || fetch_type > kLastFetchType || fetch_type == kFetchResume) {
    return post_error(stmt, kDiagNotCapable);
  }
  if (fetch_type != SQL_FETCH_NEXT) {
    SQLRETURN rc = position_cursor(stmt, rowset_start(stmt, fetch_type, irow));
    if (rc != SQL_SUCCESS) return rc;
  }
  return fill_rowset(stmt, row_count_out, statuses);
}

SQLRETURN set_position(Statement* stmt) {
  return post_error(stmt, kDiagNotCapable);
}

}  // namespace q4
