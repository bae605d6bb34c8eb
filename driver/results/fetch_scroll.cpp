#include "results/fetch_scroll.h"

#include "results/extended_fetch.h"

namespace q4 {

namespace {

SQLULEN* rows_fetched(Statement* stmt) {
  return reinterpret_cast<SQLULEN*>(stmt->rows_fetched);
}

}  // namespace

SQLRETURN fetch_scroll(Statement* stmt, SQLSMALLINT orientation, SQLLEN offset) {
  int32_t row = static_cast<int32_t>(offset);
  if (orientation == SQL_FETCH_BOOKMARK) {
    row = stmt->fetch_bookmark != nullptr ? *stmt->fetch_bookmark : 0;
  }
  return extended_fetch(stmt, static_cast<SQLUSMALLINT>(orientation), row, rows_fetched(stmt),
                        stmt->row_statuses);
}

SQLRETURN fetch_next_rowset(Statement* stmt) {
  return extended_fetch(stmt, SQL_FETCH_NEXT, 0, rows_fetched(stmt), stmt->row_statuses);
}

}  // namespace q4
