// The shape of a result: SQLNumResultCols, SQLDescribeCol, SQLColAttributes,
// SQLRowCount and SQLMoreResults. Nothing here moves the cursor or touches
// the row block.
//
// The statement-level functions here expect their caller to hold the statement's claim (not
// for row_count) and to have run enter_statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"
#include "results/description_cache.h"

namespace q4 {

enum class DescribeOutcome {
  kDescribed,   // *out is filled
  kRefused,     // the server answered with a status other than "K";
                // reply_status holds its letter and text
  kDamaged,     // a "K" reply whose payload is not a whole record
  kLinkFailed,  // the exchange failed, its diagnostic posted (results/statement_exchange.h)
};

// The description of column `icol` (1-based): from the description cache when
// it holds one, else asked of the server with a describe-column request
// (0x01), which lands in io_buffer. *out points into the cache or io_buffer.
DescribeOutcome get_column_description(Statement* stmt, uint16_t icol, ColumnDescription* out);

SQLRETURN num_result_cols(Statement* stmt, SQLSMALLINT* count);

SQLRETURN describe_column(Statement* stmt, SQLUSMALLINT icol, SQLCHAR* name, SQLSMALLINT name_max,
                          SQLSMALLINT* name_length, SQLSMALLINT* sql_type, SQLULEN* precision,
                          SQLSMALLINT* scale, SQLSMALLINT* nullable);

SQLRETURN column_attributes(Statement* stmt, SQLUSMALLINT icol, SQLUSMALLINT desc_type,
                            SQLPOINTER text, SQLSMALLINT text_max, SQLSMALLINT* text_length,
                            SQLLEN* numeric);

// How a string answer is written into the application's buffer.
enum class TextForm : uint8_t {
  kNarrow,  // UTF-8 bytes and a NUL; lengths in bytes
  kWide,    // UTF-16 units and a 0 unit; lengths in bytes (2 a unit)
};

// SQLColAttribute: `field` (column_field's identifiers) of column `icol`.
// SQL_DESC_COUNT is the result's and answers for any column number. Numbers go
// to *numeric, text to `text` (room `text_max` bytes) in `form` with its whole
// length in bytes in *text_length; a cut text is "01004" and
// SQL_SUCCESS_WITH_INFO. Column 0 answers its type (SQL_INTEGER) only;
// beyond the last column "S1002", an identifier no column has "S1091", a
// negative room for a text "S1090".
SQLRETURN column_attribute(Statement* stmt, SQLUSMALLINT icol, SQLUSMALLINT field, SQLPOINTER text,
                           SQLSMALLINT text_max, SQLSMALLINT* text_length, SQLLEN* numeric,
                           TextForm form);

// SQLRowCount: stores the count when `count` is given; SQL_SUCCESS.
// - A statement without result columns: the rows it changed (a parameter
//   array's: the rows all its executions changed); -1 when the server did
//   not say.
// - A result set (an execute's or a catalog function's): -1 until its end
//   has been read, by fetching or by positioning past it, then the exact
//   number of rows; -1 for good when the cursor was rewound before the end
//   (SQLFreeStmt(SQL_CLOSE), a cancel taken at entry).
SQLRETURN row_count(const Statement* stmt, SQLLEN* count);

}  // namespace q4
