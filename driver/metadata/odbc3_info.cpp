#include "metadata/odbc3_info.h"

#include "core/odbc_version.h"

namespace q4 {

namespace {

constexpr InfoRow kOdbc3InfoRows[] = {
    {SQL_STATIC_CURSOR_ATTRIBUTES1, InfoKind::kU32, InfoSource::kConstant,
     SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK, nullptr},
    // A parameter array's SQLRowCount is the sum over its rows
    // (statement/run_rows.h), not a count per row.
    {SQL_PARAM_ARRAY_ROW_COUNTS, InfoKind::kU32, InfoSource::kConstant, SQL_PARC_NO_BATCH, nullptr},
    // A query run with an array leaves only the last row's result: neither a
    // result per row nor one for the whole array, so applications are told
    // not to run queries with arrays.
    {SQL_PARAM_ARRAY_SELECTS, InfoKind::kU32, InfoSource::kConstant, SQL_PAS_NO_SELECT, nullptr},
};

}  // namespace

const InfoRow* find_odbc3_info_row(const Connection* conn, unsigned type) {
  if (!odbc3_caller(conn)) return nullptr;
  for (const InfoRow& row : kOdbc3InfoRows) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

}  // namespace q4
