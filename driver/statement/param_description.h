// SQLDescribeParam: what the driver can say about a parameter marker.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

struct ParamDescription {
  SQLSMALLINT sql_type;
  SQLULEN size;
  SQLSMALLINT decimal_digits;
  SQLSMALLINT nullable;
};

// The description of a marker that neither a binding nor the catalog
// describes: text of up to 255 characters, with the nine decimal digits of a
// timestamp's fraction, which may be null. Applications size buffers by it:
// pyodbc's fast_executemany reserves the size (twice over, as UTF-16) for
// every row of the array at once, so a size meant to fit any text (the driver
// sends up to 1,073,741,823 characters) makes it fail with MemoryError; 255
// is the size pyodbc itself assumes when a driver cannot describe a marker.
// It limits no one else: the driver writes every value whole, whatever the
// described size, and pyodbc's other paths and Node.js, PHP and Perl bind
// text by its own length. The digits are the most any literal carries after
// a timestamp's seconds: pyodbc cuts a datetime's fraction to them before it
// binds it.
constexpr ParamDescription kUnknownParameter{SQL_VARCHAR, 255, 9, SQL_NULLABLE_UNKNOWN};

// SQLDescribeParam's work (the caller holds the statement's claim and ran
// enter_statement): describes parameter `number` of the prepared text
// (statement_text, also the text SQLExecDirect keeps while it waits for data
// at execution).
// - The numbers are those SQLNumParams counts (the markers the execution
//   replaces), so each number SQLNumParams announces can be described; 0 or
//   a number above that count is "S1093" "Invalid parameter number".
// - A number bound with SQLBindParameter is described by its binding: the
//   SQL type, cbColDef and ibScale given there, nullability unknown.
// - An unbound marker that meets a column of one table (marker_columns.h)
//   is described as that column by the server's catalog: its SQL type,
//   column size, decimal digits and nullability. The catalog is asked once
//   per text, for all markers at once, the first time an unbound marker is
//   described; the descriptions stay with the statement until its text
//   changes. A column whose type the driver could not take back as
//   SQL_C_DEFAULT, or that has no size, is not used.
// - Every other marker, and every marker when the catalog has no such table
//   or answers nothing readable, is kUnknownParameter: the lookup failing
//   never fails the call. Only a failed exchange does (a broken link, the
//   query time limit, a cancel), with its diagnostic.
// Null output pointers are skipped. Without a prepared text: "S1010"
// "Function sequence error".
SQLRETURN describe_parameter(Statement* stmt, SQLUSMALLINT number, SQLSMALLINT* sql_type,
                             SQLULEN* size, SQLSMALLINT* decimal_digits, SQLSMALLINT* nullable);

// Drops the descriptions made for the statement's text: its text changes,
// or the statement goes.
void forget_param_descriptions(Statement* stmt);

}  // namespace q4
