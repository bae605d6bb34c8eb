// Wire types of result columns: from a declared SQLite column type, or from
// a value when the column has no declared type.
#pragma once

#include <cstdint>
#include <string>

namespace q4::lite {

// Timestamps keep nine fraction digits, the nanoseconds of ODBC's timestamp
// structure: every value an application can bind reads back exactly (the
// microseconds of Python, PostgreSQL and most clients are six of them, Java's
// and .NET's finer steps fit as well), and a stored text holds only the
// digits its value needs. A TIMESTAMP column is described with them: column
// size 19 + 1 + 9, decimal digits 9 (pyodbc sends as many fraction digits as
// the column size of SQLGetTypeInfo's TIMESTAMP row allows).
constexpr uint16_t kTimestampFractionDigits = 9;
constexpr uint32_t kTimestampColumnSize = 20 + kTimestampFractionDigits;

// The description of one result column as it travels (name, type,
// precision, scale, nullable), plus how its values are formatted.
struct ColumnInfo {
  std::string name;
  int16_t type = 0;        // SQL type code sent in the description
  uint32_t precision = 0;  // digits, characters or bytes
  uint16_t scale = 0;      // decimals of SQL_NUMERIC, fraction digits of SQL_TIMESTAMP; else 0
  uint16_t nullable = 1;
  // Floating-point column (REAL, DOUBLE, FLOAT): described as SQL_DOUBLE; its
  // values travel as SQL_NUMERIC text in their shortest exact form, without
  // exponent, rather than with `scale` decimals.
  bool floating = false;
  // The type came from a declaration; otherwise from the first value, or a
  // placeholder when no value was seen yet.
  bool declared = false;
};

// Maps a declared type ("VARCHAR(40)", "NUMERIC(10,2)", "BIGINT", ...) to
// the wire type, precision and scale. Names that SQLite itself does not know
// follow SQLite's affinity rules (a name containing "INT" is an integer, and
// so on). `declared` may be null: the result is then SQL_VARCHAR(255) with
// `declared` false, for the caller to refine from a value.
ColumnInfo map_declared_type(const char* declared);

// The column type of an undeclared column whose first value has the given
// SQLite storage class (SQLITE_INTEGER ...); `text_length` is the length of a
// text or blob value. Integers wider than 32 bits make an SQL_BIGINT column.
ColumnInfo type_from_value(int storage_class, int64_t integer, int text_length);

// Octet length of a column of this type, as SQLColumns reports it.
int32_t wire_type_length(const ColumnInfo& column);

}  // namespace q4::lite
