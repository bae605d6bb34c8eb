// The guard of date and time columns: text stored into a DATE, TIME or
// TIMESTAMP column must be one, so that every value reads back as its
// column's type.
//
// SQLite stores whatever it is given; a DATE column would keep "1-01-01" or
// "tomorrow", and the client would find out only when reading it back fails.
// q4lite therefore gives each such column, when a CREATE TABLE or an ALTER
// TABLE ... ADD COLUMN defines it, a column CHECK constraint of plain SQLite
// SQL (the database stays usable by any SQLite tool; the constraint goes with
// the column when it is renamed or dropped), named "q4lite:22007:<column>":
//
//   DATE, TIMESTAMP  NULL, or a calendar date YYYY-MM-DD of the years 0001 to
//                    9999, optionally followed by a time as SQLite reads one
//                    ("2024-02-29 10:11:12.5", "2024-02-29T10:11")
//   TIME             NULL, or HH:MM, HH:MM:SS or HH:MM:SS.f, hours 00-23
//
// SQLite's own date and time parser decides on the value up to its seconds;
// what follows them other than a fraction (blanks, a time zone suffix) is
// not checked and is left out when the value is read. A refusal is the
// server error 22007 (storage/error_map), which the driver posts as "22007"
// "Invalid datetime format": the SQLSTATE ODBC gives text that is no date or
// time literal.
#pragma once

#include <string>
#include <string_view>

namespace q4::lite {

// Adds the constraint to every date and time column that the CREATE TABLE
// and ALTER TABLE ... ADD COLUMN statements of *sql define (generated
// columns excepted: no client stores their values). Everything else stays as
// it is; a text without the word TABLE is not even taken apart.
void add_datetime_checks(std::string* sql);

// The constraint name's prefix, as SQLite's "CHECK constraint failed: "
// message shows it.
constexpr std::string_view kDatetimeCheck = "q4lite:22007:";

}  // namespace q4::lite
