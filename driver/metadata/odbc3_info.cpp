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

// What an application that declared ODBC 3 or 3.80 is told besides: the
// ODBC version the driver speaks, and the ODBC 3 information types, each as
// the driver does it. (An ODBC 2 application keeps the 2.x answers: the
// version "02.50" and a refusal of these types.)
constexpr InfoRow kOdbc3ApplicationRows[] = {
    {SQL_DRIVER_ODBC_VER, InfoKind::kString, InfoSource::kConstant, 0, "03.80"},
    // Cursors: forward-only and static ones, read-only; no keyset-driven or
    // dynamic cursors.
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, InfoKind::kU32, InfoSource::kConstant, SQL_CA1_NEXT,
     nullptr},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, InfoKind::kU32, InfoSource::kConstant,
     SQL_CA2_READ_ONLY_CONCURRENCY, nullptr},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, InfoKind::kU32, InfoSource::kConstant,
     SQL_CA2_READ_ONLY_CONCURRENCY, nullptr},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_CURSOR_SENSITIVITY, InfoKind::kU32, InfoSource::kConstant, SQL_UNSPECIFIED, nullptr},
    // Conformance: the core interface level, SQL-92 entry level statements.
    {SQL_ODBC_INTERFACE_CONFORMANCE, InfoKind::kU32, InfoSource::kConstant, SQL_OIC_CORE, nullptr},
    {SQL_SQL_CONFORMANCE, InfoKind::kU32, InfoSource::kConstant, SQL_SC_SQL92_ENTRY, nullptr},
    {SQL_STANDARD_CLI_CONFORMANCE, InfoKind::kU32, InfoSource::kConstant,
     SQL_SCC_XOPEN_CLI_VERSION1, nullptr},
    // No asynchronous execution, batches or driver-aware pooling.
    {SQL_ASYNC_MODE, InfoKind::kU32, InfoSource::kConstant, SQL_AM_NONE, nullptr},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_BATCH_SUPPORT, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_BATCH_ROW_COUNT, InfoKind::kU32, InfoSource::kConstant, 0, nullptr},
    {SQL_DESCRIBE_PARAMETER, InfoKind::kString, InfoSource::kConstant, 0, "Y"},
    {SQL_DATETIME_LITERALS, InfoKind::kU32, InfoSource::kConstant,
     SQL_DL_SQL92_DATE | SQL_DL_SQL92_TIME | SQL_DL_SQL92_TIMESTAMP, nullptr},
};

}  // namespace

const InfoRow* find_odbc3_info_row(const Connection* conn, unsigned type) {
  if (odbc3_application(conn)) {
    for (const InfoRow& row : kOdbc3ApplicationRows) {
      if (row.type == type) return &row;
    }
  }
  if (!odbc3_caller(conn)) return nullptr;
  for (const InfoRow& row : kOdbc3InfoRows) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

}  // namespace q4
