// SQLDescribeParam: what the driver can say about a parameter marker.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// The description of a marker nothing is bound to yet: text, long enough for
// the longest statement the driver sends. Every value the driver writes as a
// literal (numbers, dates, quoted text) fits it, so an application that binds
// by this description as character data loses nothing.
constexpr SQLSMALLINT kUnboundParameterType = SQL_VARCHAR;
constexpr SQLULEN kUnboundParameterSize = 1073741823;  // the longest statement text
// Decimal digits: the nine fraction digits of a timestamp, the most any value
// written as a literal carries there. An application that binds a timestamp
// by this description keeps its fraction (pyodbc's fast_executemany cuts a
// datetime's microseconds to the described digits before binding it).
constexpr SQLSMALLINT kUnboundParameterDigits = 9;

// SQLDescribeParam's work (the caller holds the statement's claim and ran
// enter_statement): describes parameter `number` of the prepared text
// (statement_text, also the text SQLExecDirect keeps while it waits for data
// at execution).
// - The numbers are those SQLNumParams counts (every "?" of the text, quoted
//   ones included), so each number SQLNumParams announces can be described;
//   0 or a number above that count is "S1093" "Invalid parameter number".
// - A number bound with SQLBindParameter is described by its binding: the SQL
//   type, cbColDef and ibScale given there.
// - An unbound number is kUnboundParameterType of kUnboundParameterSize with
//   kUnboundParameterDigits decimal digits: the server tells nothing about
//   parameters, and text takes any value.
// Nullability is always SQL_NULLABLE_UNKNOWN. Null output pointers are
// skipped. Without a prepared text: "S1010" "Function sequence error".
SQLRETURN describe_parameter(Statement* stmt, SQLUSMALLINT number, SQLSMALLINT* sql_type,
                             SQLULEN* size, SQLSMALLINT* decimal_digits, SQLSMALLINT* nullable);

}  // namespace q4
