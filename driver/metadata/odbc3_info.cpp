#include "metadata/odbc3_info.h"

#include "core/odbc_version.h"

namespace q4 {

namespace {

constexpr InfoRow kOdbc3InfoRows[] = {
    {SQL_STATIC_CURSOR_ATTRIBUTES1, InfoKind::kU32, InfoSource::kConstant,
     SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK, nullptr},
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
