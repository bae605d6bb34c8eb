// Character parameter values checked against the SQL type they are bound
// as, before anything is sent: a value that cannot be a number of a numeric
// type, or a date, time or timestamp of a datetime type, fails the execution
// with a diagnostic that names the parameter, instead of reaching the server
// as text that a column then holds and a later read cannot convert.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Checks `count` bytes of character text (a SQL_C_CHAR value, or a
// SQL_C_WCHAR value already in UTF-8), the value of `binding`, against the
// binding's SQL type. Returns SQL_SUCCESS, or SQL_ERROR with one of these
// posted, naming binding.number:
//   "22018" a numeric type and text that is not a number (an empty text
//           included);
//   "22003" a number beyond the type's range (300 as SQL_TINYINT, 1e400 as
//           SQL_DOUBLE, -1 or 2 as SQL_BIT);
//   "22001" an integer type and a number with a fraction (12.5 as
//           SQL_INTEGER), or a bit between 0 and 2 other than 1;
//   "22007" a date, time or timestamp type and text that is none;
//   "22008" one whose fields are out of range (2023-02-29, 24:00:00), or a
//           date with a time of day other than midnight.
// Other SQL types are not checked (and cost a switch: text is the common
// case). Nothing is allocated.
SQLRETURN check_typed_character_value(Statement* stmt, const ParamBinding& binding,
                                      const char* text, uint64_t count);

inline SQLRETURN check_character_value(Statement* stmt, const ParamBinding& binding,
                                       const char* text, uint64_t count) {
  switch (binding.sql_type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
      return check_typed_character_value(stmt, binding, text, count);
    default:
      return SQL_SUCCESS;
  }
}

}  // namespace q4
