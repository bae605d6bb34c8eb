// SQLBindCol's work (get_data.h).
#include "core/memory.h"
#include "results/desc_records.h"
#include "results/get_data.h"

namespace q4 {

namespace {

struct FixedLength {
  SQLSMALLINT c_type;
  int64_t length;
};

// Numeric targets keep a fixed buffer length whatever the application says.
// The tinyint types take 2 bytes like the short types: a column-wise rowset
// of them is laid out in steps of 2.
constexpr FixedLength kFixedLengths[] = {
    {SQL_C_UTINYINT, 2}, {SQL_C_STINYINT, 2},
    {SQL_C_TINYINT, 2},  {SQL_C_USHORT, 2},
    {SQL_C_SSHORT, 2},   {SQL_C_SHORT, 2},
    {SQL_C_ULONG, 4},    {SQL_C_SLONG, 4},
    {SQL_C_LONG, 4},     {SQL_C_FLOAT, 4},
    {SQL_C_DOUBLE, 8},   {SQL_C_SBIGINT, 8},
    {SQL_C_UBIGINT, 8},  {SQL_C_NUMERIC, sizeof(SQL_NUMERIC_STRUCT)},
};

}  // namespace

int64_t bound_buffer_length(SQLSMALLINT c_type, SQLLEN value_max) {
  for (const FixedLength& entry : kFixedLengths) {
    if (entry.c_type == c_type) return entry.length;
  }
  return value_max;
}

SQLRETURN bind_column(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER value,
                      SQLLEN value_max, SQLLEN* indicator) {
  Descriptor& ard = app_row_desc(stmt);
  if (value == nullptr) {
    drop_record(ard, icol);  // a column that is not bound is no error
    return SQL_SUCCESS;
  }
  DescRecord* entry = find_or_add_record(ard, icol, stmt);
  if (entry == nullptr) return SQL_ERROR;
  entry->c_type = c_type;
  entry->value = value;
  entry->buffer_length = bound_buffer_length(c_type, value_max);
  entry->indicator = reinterpret_cast<int64_t*>(indicator);
  // A new binding of a numeric target takes the default precision and scale
  // until the application sets them in the descriptor.
  entry->numeric_precision = 0;
  entry->numeric_scale = 0;
  refresh_delivery(ard, *entry);
  return SQL_SUCCESS;
}

}  // namespace q4
