#include "server/translation/type_map.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/wire.h"

namespace q4::lite {

namespace {

// Floating-point columns are SQL_DOUBLE: SQLite keeps every REAL as an 8-byte
// double, so a 4-byte SQL_REAL would lose digits. 15 is the column size ODBC
// gives SQL_DOUBLE (decimal digits of its precision).
constexpr uint32_t kFloatPrecision = 15;
// Precision of character and binary columns declared without a length.
constexpr uint32_t kTextPrecision = 65535;
constexpr uint32_t kDefaultVarPrecision = 255;
// SQLite's largest string or blob.
constexpr uint32_t kBlobPrecision = 1000000000;

struct NamedType {
  const char* name;  // upper case, exact match of the declared name
  int16_t type;
  uint32_t precision;  // used when the declaration gives none
  uint16_t scale;
  bool floating;
};

// Declared names we recognise exactly. Lengths in parentheses override the
// precision; for NUMERIC/DECIMAL the second number is the scale.
const NamedType kNamedTypes[] = {
    {"INTEGER", kSqlInteger, 10, 0, false},
    {"INT", kSqlInteger, 10, 0, false},
    {"INT4", kSqlInteger, 10, 0, false},
    {"MEDIUMINT", kSqlInteger, 10, 0, false},
    {"SMALLINT", kSqlSmallint, 5, 0, false},
    {"INT2", kSqlSmallint, 5, 0, false},
    {"TINYINT", kSqlSmallint, 5, 0, false},
    {"BIT", kSqlSmallint, 5, 0, false},
    {"BOOLEAN", kSqlSmallint, 5, 0, false},
    {"BOOL", kSqlSmallint, 5, 0, false},
    // 64-bit integers are described as SQL_BIGINT, so that applications read
    // them as 64-bit integers; values beyond 32 bits travel as SQL_NUMERIC
    // text (the wire has no 64-bit binary form).
    {"BIGINT", kSqlBigint, 19, 0, false},
    {"INT8", kSqlBigint, 19, 0, false},
    {"UNSIGNED BIG INT", kSqlBigint, 20, 0, false},
    {"NUMERIC", kSqlNumeric, 18, 0, false},
    {"DECIMAL", kSqlNumeric, 18, 0, false},
    {"DEC", kSqlNumeric, 18, 0, false},
    // Exact decimal columns as q4lite declares them (decimal_columns.h):
    // their values are decimal text, described as the NUMERIC they were.
    {"NUMERIC TEXT", kSqlNumeric, 18, 0, false},
    {"DECIMAL TEXT", kSqlNumeric, 18, 0, false},
    {"DEC TEXT", kSqlNumeric, 18, 0, false},
    {"REAL", kSqlDouble, kFloatPrecision, 0, true},
    {"FLOAT", kSqlDouble, kFloatPrecision, 0, true},
    {"DOUBLE", kSqlDouble, kFloatPrecision, 0, true},
    {"DOUBLE PRECISION", kSqlDouble, kFloatPrecision, 0, true},
    {"CHAR", kSqlChar, 1, 0, false},
    {"CHARACTER", kSqlChar, 1, 0, false},
    {"NCHAR", kSqlChar, 1, 0, false},
    {"NATIVE CHARACTER", kSqlChar, 1, 0, false},
    {"VARCHAR", kSqlVarchar, kDefaultVarPrecision, 0, false},
    {"NVARCHAR", kSqlVarchar, kDefaultVarPrecision, 0, false},
    {"VARYING CHARACTER", kSqlVarchar, kDefaultVarPrecision, 0, false},
    {"CHARACTER VARYING", kSqlVarchar, kDefaultVarPrecision, 0, false},
    {"TEXT", kSqlVarchar, kTextPrecision, 0, false},
    {"CLOB", kSqlVarchar, kTextPrecision, 0, false},
    {"STRING", kSqlVarchar, kTextPrecision, 0, false},
    {"DATE", kSqlDate, 10, 0, false},
    {"TIME", kSqlTime, 8, 0, false},
    {"TIMESTAMP", kSqlTimestamp, kTimestampColumnSize, kTimestampFractionDigits, false},
    {"DATETIME", kSqlTimestamp, kTimestampColumnSize, kTimestampFractionDigits, false},
    {"BINARY", kSqlVarbinary, kDefaultVarPrecision, 0, false},
    {"VARBINARY", kSqlVarbinary, kDefaultVarPrecision, 0, false},
    {"BLOB", kSqlLongVarbinary, kBlobPrecision, 0, false},
    {"LONGVARBINARY", kSqlLongVarbinary, kBlobPrecision, 0, false},
    {"LONG VARBINARY", kSqlLongVarbinary, kBlobPrecision, 0, false},
};

// Upper-cases the type name (the text before "("), folding runs of blanks.
std::string normalise_name(const char* declared, const char** arguments) {
  std::string name;
  const char* p = declared;
  while (*p != '\0' && *p != '(') {
    const unsigned char c = static_cast<unsigned char>(*p++);
    if (std::isspace(c)) {
      if (!name.empty() && name.back() != ' ') name.push_back(' ');
    } else {
      name.push_back(static_cast<char>(std::toupper(c)));
    }
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  *arguments = *p == '(' ? p + 1 : nullptr;
  return name;
}

// Reads "p" or "p, s" after the "(" of a declaration; missing numbers stay -1.
void read_arguments(const char* p, long* first, long* second) {
  *first = -1;
  *second = -1;
  if (p == nullptr) return;
  char* end = nullptr;
  const long a = std::strtol(p, &end, 10);
  if (end == p || a < 0) return;
  *first = a;
  p = end;
  while (*p == ' ') ++p;
  if (*p != ',') return;
  ++p;
  const long b = std::strtol(p, &end, 10);
  if (end != p && b >= 0) *second = b;
}

ColumnInfo make(int16_t type, uint32_t precision, uint16_t scale, bool floating) {
  ColumnInfo c;
  c.type = type;
  c.precision = precision;
  c.scale = scale;
  c.floating = floating;
  c.declared = true;
  return c;
}

// SQLite's own affinity rules, for names that are not in the table.
ColumnInfo by_affinity(const std::string& name) {
  if (name.find("INT") != std::string::npos) return make(kSqlInteger, 10, 0, false);
  if (name.find("CHAR") != std::string::npos || name.find("CLOB") != std::string::npos ||
      name.find("TEXT") != std::string::npos) {
    return make(kSqlVarchar, kTextPrecision, 0, false);
  }
  if (name.find("BLOB") != std::string::npos) {
    return make(kSqlLongVarbinary, kBlobPrecision, 0, false);
  }
  if (name.find("REAL") != std::string::npos || name.find("FLOA") != std::string::npos ||
      name.find("DOUB") != std::string::npos) {
    return make(kSqlDouble, kFloatPrecision, 0, true);
  }
  return make(kSqlNumeric, 18, 0, false);
}

}  // namespace

ColumnInfo map_declared_type(const char* declared) {
  if (declared == nullptr || *declared == '\0') {
    ColumnInfo c;
    c.type = kSqlVarchar;
    c.precision = kDefaultVarPrecision;
    return c;
  }
  const char* arguments = nullptr;
  const std::string name = normalise_name(declared, &arguments);
  long first = -1;
  long second = -1;
  read_arguments(arguments, &first, &second);
  for (const NamedType& t : kNamedTypes) {
    if (name != t.name) continue;
    ColumnInfo c = make(t.type, t.precision, t.scale, t.floating);
    const bool sized = t.type == kSqlChar || t.type == kSqlVarchar || t.type == kSqlVarbinary ||
                       (t.type == kSqlNumeric && !t.floating && t.precision == 18);
    if (sized && first > 0)
      c.precision = static_cast<uint32_t>(first > kBlobPrecision ? kBlobPrecision : first);
    if (c.type == kSqlNumeric && !c.floating && t.precision == 18 && second >= 0) {
      c.scale =
          static_cast<uint16_t>(second > static_cast<long>(c.precision) ? c.precision : second);
    }
    return c;
  }
  return by_affinity(name);
}

ColumnInfo type_from_value(int storage_class, int64_t integer, int text_length) {
  ColumnInfo c;
  switch (storage_class) {
    case SQLITE_INTEGER:
      if (integer >= INT32_MIN && integer <= INT32_MAX) {
        c.type = kSqlInteger;
        c.precision = 10;
      } else {
        c.type = kSqlBigint;
        c.precision = 19;
      }
      break;
    case SQLITE_FLOAT:
      c.type = kSqlDouble;
      c.precision = kFloatPrecision;
      c.floating = true;
      break;
    case SQLITE_BLOB:
      c.type = kSqlLongVarbinary;
      c.precision = kBlobPrecision;
      break;
    default:  // text, or NULL: nothing better to say than a string column
      c.type = kSqlVarchar;
      c.precision = static_cast<uint32_t>(text_length) > kDefaultVarPrecision
                        ? static_cast<uint32_t>(text_length)
                        : kDefaultVarPrecision;
      break;
  }
  return c;
}

int32_t wire_type_length(const ColumnInfo& c) {
  switch (c.type) {
    case kSqlInteger:
      return 4;
    case kSqlDouble:
    case kSqlBigint:
      return 8;
    case kSqlSmallint:
      return 2;
    case kSqlNumeric:
      return static_cast<int32_t>(c.precision + 2);  // sign and point
    case kSqlDate:
    case kSqlTime:
      return 6;
    case kSqlTimestamp:
      return 16;
    default:
      return static_cast<int32_t>(c.precision);
  }
}

}  // namespace q4::lite
