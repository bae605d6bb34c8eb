// The names of the SQL types that travel in descriptions, as SQLGetTypeInfo
// lists them (TYPE_NAME). A column's description carries only the type code,
// so the driver names a column's type by its code with this table, and q4lite
// lists the same names for the same codes.
#pragma once

#include <cstdint>

#include "protocol/wire.h"

namespace q4 {

// The type name of `code`; "" for a code this family of servers does not
// send.
constexpr const char* sql_type_name(int16_t code) {
  switch (code) {
    case kSqlChar:
      return "CHAR";
    case kSqlNumeric:
      return "NUMERIC";
    case kSqlDecimal:
      return "DECIMAL";
    case kSqlInteger:
      return "INTEGER";
    case kSqlSmallint:
      return "SMALLINT";
    case kSqlFloat:
      return "FLOAT";
    case kSqlReal:
      return "REAL";
    case kSqlDouble:
      return "DOUBLE";
    case kSqlVarchar:
      return "VARCHAR";
    case kSqlDate:
      return "DATE";
    case kSqlTime:
      return "TIME";
    case kSqlTimestamp:
      return "TIMESTAMP";
    case kSqlLongVarchar:
      return "LONGVARCHAR";
    case kSqlBinary:
      return "BINARY";
    case kSqlVarbinary:
      return "VARBINARY";
    case kSqlLongVarbinary:
      return "LONGVARBINARY";
    case kSqlBigint:
      return "BIGINT";
    case kSqlTinyint:
      return "TINYINT";
    case kSqlBit:
      return "BIT";
    default:
      return "";
  }
}

}  // namespace q4
