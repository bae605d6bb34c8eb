// The guard of date and time columns: text stored into a DATE, TIME or
// TIMESTAMP column must be one, so that every value reads back as its
// column's type.
//
// SQLite stores whatever it is given; a DATE column would keep "1-01-01" or
// "tomorrow", and the client would find out only when reading it back fails.
// q4lite therefore gives each such column, when a CREATE TABLE or an ALTER
// TABLE ... ADD COLUMN defines it, two column CHECK constraints of plain
// SQLite SQL (the database stays usable by any SQLite tool; the constraints
// go with the column when it is renamed or dropped):
//
//   "q4lite:22007:<column>"  the value is NULL or text of a date/time form:
//       DATE, TIMESTAMP  YYYY-MM-DD, optionally followed by " " or "T" and a time
//       TIME             a time, or a date and a time (its time is the value)
//       a time           HH:MM, HH:MM:SS or HH:MM:SS.f (one or more digits)
//   "q4lite:22008:<column>"  its fields are in range: a calendar date of the
//       years 0001 to 9999, hour 00-23, minutes and seconds 00-59, at most
//       nine fraction digits (the nanoseconds ODBC carries)
//
// The first that fails names the refusal; error_map turns the names into the
// server errors 22007 and 22008.
#pragma once

#include <string>
#include <string_view>

namespace q4::lite {

// Adds the constraints to every date and time column that the CREATE TABLE
// and ALTER TABLE ... ADD COLUMN statements of *sql define (generated
// columns excepted: no client stores their values). Everything else stays as
// it is; a text without the word TABLE is not even taken apart.
void add_datetime_checks(std::string* sql);

// The constraint name prefixes, as SQLite's "CHECK constraint failed: "
// message shows them.
constexpr std::string_view kDatetimeFormatCheck = "q4lite:22007:";
constexpr std::string_view kDatetimeValueCheck = "q4lite:22008:";

}  // namespace q4::lite
