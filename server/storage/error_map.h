// SQLite errors as server errors: the "E" reply text begins with the number
// of the server error table's row that fits (the driver turns the number
// into an SQLSTATE), followed by a blank and SQLite's own message.
#pragma once

#include <string>
#include <string_view>

namespace q4::lite {

// Server error numbers q4lite uses; the names say what the rows mean.
enum ServerError : int {
  kErrColumnNotFound = 0,
  kErrAmbiguousColumn = 2,
  kErrTableNotFound = 3,
  kErrUnionColumns = 5,
  kErrTypeMismatch = 11,
  kErrSubqueryColumns = 12,
  kErrArgument = 19,
  kErrRuntime = 25,  // nothing more specific fits
  kErrSyntax = 26,
  kErrDifferentDimensions = 36,
  kErrIndexExists = 40,
  kErrIndexNotFound = 41,
  kErrTableExists = 51,
  kErrAccessViolation = 61,
  kErrDeadlock = 62,
  kErrColumnExists = 64,
  kErrHavingWithoutGroupBy = 68,
  kErrConstraint = 70,
  kErrViewReadOnly = 93,
  kErrDropWrongKind = 96,
  kErrNotSupported = 98,
  kErrOutOfMemory = 100,
  kErrCannotOpen = 101,
  kErrInterrupted = 116,
  // Text stored into a DATE, TIME or TIMESTAMP column that is none
  // (translation/datetime_checks.h). Past the numbers of the server error
  // table, and named after the SQLSTATE the driver posts for it.
  kErrDatetimeFormat = 22007,
};

// The server error number for an SQLite result code (extended codes are
// reduced to their primary code) and message.
int map_sqlite_error(int result_code, std::string_view message);

// The status text of an "E" reply: "E", the number, a blank, the message.
std::string error_status(int number, std::string_view message);

}  // namespace q4::lite
