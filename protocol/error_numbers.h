// Server error numbers, shared by the driver and q4lite. An "E" reply's status
// text begins with one ("E3 no such table: t"); the driver posts the row of its
// server error table (driver/core/server_errors.cpp) for it, never the
// server's words. After each number: the SQLSTATE and text the driver shows.
// These are the numbers q4lite sends; the table has rows for more.
#pragma once

namespace q4 {

enum ServerError : int {
  kErrColumnNotFound = 0,         // S0022 Column not found
  kErrAmbiguousColumn = 2,        // S1000 Column name is ambiguous
  kErrTableNotFound = 3,          // S0002 Base table not found
  kErrUnionColumns = 5,           // S1000 ERR_NUMBER_UNION_COLUMNS
  kErrTypeMismatch = 11,          // S1000 TYPE_MISMATCH
  kErrSubqueryColumns = 12,       // S1000 NON_SINGLE_COLUMN_IN_SUBQUERY
  kErrArgument = 19,              // S1000 ARGUMENT_ERROR
  kErrRuntime = 25,               // S1000 RUNTIME_ERROR; also a text without a number
  kErrSyntax = 26,                // 37000 Syntax error
  kErrDifferentDimensions = 36,   // 21S01 Different dimensions
  kErrIndexExists = 40,           // S0011 Index already exists
  kErrIndexNotFound = 41,         // S0012 Index not found
  kErrTableExists = 51,           // S0001 Base table already exists
  kErrAccessViolation = 61,       // 42000 Access violation
  kErrDeadlock = 62,              // S1000 Probable deadlock detected
  kErrColumnExists = 64,          // S0021 Column already exists
  kErrHavingWithoutGroupBy = 68,  // S1000 HAVING_WITHOUT_GROUP_BY
  kErrConstraint = 70,            // 23000 Constraint failure
  kErrViewReadOnly = 93,          // S1000 Views are read-only
  kErrDropWrongKind = 96,         // S1000 Unable to drop table/view with this statement.
  kErrNotSupported = 98,          // S1000 Function is not supported
  kErrOutOfMemory = 100,          // S1000 Query aborted - out of memory
  kErrCannotOpen = 101,           // S1000 Query aborted - can't open file
  kErrInterrupted = 116,          // S1000 Quit signal
  // Text stored into a DATE, TIME or TIMESTAMP column that is no such value
  // (q4lite's guard of those columns). Far past the table, where no Q4
  // server's numbers reach, and named after the SQLSTATE an application
  // expects for it: 22007 Invalid datetime format.
  kErrDatetimeFormat = 22007,
};

}  // namespace q4
