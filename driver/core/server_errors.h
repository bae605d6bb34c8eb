// Server error numbers to diagnostics. An "E" reply's text begins with the
// server's error number; the driver shows its own text for that number, never
// the server's words.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/diag_texts.h"
#include "core/records.h"
#include "protocol/error_numbers.h"

namespace q4 {

constexpr unsigned kServerErrorCount = 123;
constexpr unsigned kRuntimeErrorNumber = kErrRuntime;  // texts without a leading number
// q4lite's refusal of text stored into a DATE, TIME or TIMESTAMP column
// that is no such value (February 30, the hour 25, "1-01-01").
constexpr unsigned kDatetimeFormatErrorNumber = kErrDatetimeFormat;

// The error number a status text names: its leading decimal digits; a number
// past the table other than the one above becomes the table's last row (122);
// 25 when the text does not begin with a digit.
unsigned server_error_number(const char* text);

// The row of an error number (numbers past the table, but the one above, give
// the last row).
const DiagText& server_error_row(unsigned number);

// Posts the row for `text` (the status string after its letter) on the
// statement; returns SQL_ERROR.
SQLRETURN map_server_error(Statement* stmt, const char* text);

}  // namespace q4
