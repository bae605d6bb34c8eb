// The columns of one table, asked of the server's catalog on behalf of a
// statement, without touching the statement's own result: SQLDescribeParam
// describes markers by the columns they meet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/records.h"

namespace q4 {

// One column as the catalog describes it (ODBC 2.x SQLColumns: DATA_TYPE,
// PRECISION, SCALE, NULLABLE). A field the catalog left NULL reads 0 and
// has its `has_` flag clear.
struct CatalogColumn {
  const char* name;  // not NUL-terminated; owned by the TableColumns
  size_t name_length;
  int16_t sql_type;
  bool has_size;
  uint32_t size;
  int16_t decimal_digits;
  int16_t nullable;  // 0 no nulls, 1 nullable, 2 unknown
};

enum class LookupOutcome : uint8_t {
  kFound,     // the table's columns, in table order
  kNoAnswer,  // no such table, several tables of that name in different
              // letter case, a refusal or a reply that could not be read:
              // nothing is known, nothing was posted
  kFailed,    // the exchange failed (broken link, time limit, cancel) with
              // its diagnostic posted on the statement
  kNoMemory,  // memory for the rows ran out: nothing is known, nothing was
              // posted, and a later lookup may well succeed
};

class TableColumns {
 public:
  TableColumns() = default;
  ~TableColumns();
  TableColumns(const TableColumns&) = delete;
  TableColumns& operator=(const TableColumns&) = delete;

  // Asks for the columns of the table named `table` (`length` bytes, quotes
  // removed). One catalog columns request (0x06) under `lookup_id`, an id no
  // statement of the connection uses (an odd one); further blocks with fetches (0x02)
  // while the server holds more rows; then the id is released (0x0C), so
  // the server keeps nothing of it. The request and replies pass through
  // io_buffer; reply_status changes; nothing else of the statement does.
  //
  // The catalog matches the name as a pattern and without regard to case;
  // only rows whose TABLE_NAME is the name are kept: the exact spelling when
  // the catalog has it, else the one spelling that differs from it in case
  // alone.
  LookupOutcome fetch(Statement* stmt, uint32_t lookup_id, const char* table, size_t length);

  uint32_t count() const { return count_; }
  const CatalogColumn& operator[](uint32_t k) const { return columns_[k]; }

 private:
  CatalogColumn* columns_ = nullptr;
  uint32_t count_ = 0;
  char* names_ = nullptr;  // the block the names point into

  friend class CatalogRows;
};

}  // namespace q4
