#include "server/translation/scalar_functions.h"

#include <sqlext.h>

#include <cctype>

namespace q4::lite {

namespace {

struct ScalarFunction {
  const char* name;  // upper case
  int min_args;
  int max_args;
  // SQLite text; $1..$4 stand for the arguments, each inserted in parentheses.
  const char* expansion;
  uint16_t info_type;  // SQL_NUMERIC_FUNCTIONS ... whose mask lists it
  uint32_t bit;
};

// Day and month names for DAYNAME and MONTHNAME.
#define Q4_DAYNAME                                                                       \
  "CASE strftime('%w',$1) WHEN '0' THEN 'Sunday' WHEN '1' THEN 'Monday' WHEN '2' THEN "  \
  "'Tuesday' WHEN '3' THEN 'Wednesday' WHEN '4' THEN 'Thursday' WHEN '5' THEN 'Friday' " \
  "WHEN '6' THEN 'Saturday' END"
#define Q4_MONTHNAME                                                                     \
  "CASE strftime('%m',$1) WHEN '01' THEN 'January' WHEN '02' THEN 'February' WHEN '03' " \
  "THEN 'March' WHEN '04' THEN 'April' WHEN '05' THEN 'May' WHEN '06' THEN 'June' WHEN " \
  "'07' THEN 'July' WHEN '08' THEN 'August' WHEN '09' THEN 'September' WHEN '10' THEN "  \
  "'October' WHEN '11' THEN 'November' WHEN '12' THEN 'December' END"

const ScalarFunction kFunctions[] = {
    // Numeric functions.
    {"ABS", 1, 1, "abs($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ABS},
    {"ACOS", 1, 1, "acos($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ACOS},
    {"ASIN", 1, 1, "asin($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ASIN},
    {"ATAN", 1, 1, "atan($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ATAN},
    {"ATAN2", 2, 2, "atan2($1,$2)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ATAN2},
    {"CEILING", 1, 1, "ceiling($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_CEILING},
    {"COS", 1, 1, "cos($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_COS},
    {"COT", 1, 1, "(1.0/tan($1))", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_COT},
    {"DEGREES", 1, 1, "degrees($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_DEGREES},
    {"EXP", 1, 1, "exp($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_EXP},
    {"FLOOR", 1, 1, "floor($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_FLOOR},
    {"LOG", 1, 1, "ln($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_LOG},
    {"LOG10", 1, 1, "log10($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_LOG10},
    {"MOD", 2, 2, "($1 % $2)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_MOD},
    {"PI", 0, 0, "pi()", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_PI},
    {"POWER", 2, 2, "power($1,$2)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_POWER},
    {"RADIANS", 1, 1, "radians($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_RADIANS},
    // The seed argument is accepted and ignored: SQLite's generator has none.
    {"RAND", 0, 1, "((random() % 1000000000 + 1000000000) / 2000000000.0)", SQL_NUMERIC_FUNCTIONS,
     SQL_FN_NUM_RAND},
    {"ROUND", 2, 2, "round($1,$2)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ROUND},
    {"SIGN", 1, 1, "sign($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_SIGN},
    {"SIN", 1, 1, "sin($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_SIN},
    {"SQRT", 1, 1, "sqrt($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_SQRT},
    {"TAN", 1, 1, "tan($1)", SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_TAN},
    {"TRUNCATE", 2, 2, "(trunc($1 * power(10,$2)) / power(10,$2))", SQL_NUMERIC_FUNCTIONS,
     SQL_FN_NUM_TRUNCATE},
    // String functions.
    {"ASCII", 1, 1, "unicode($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_ASCII},
    {"CHAR", 1, 1, "char($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_CHAR},
    {"CONCAT", 2, 2, "($1 || $2)", SQL_STRING_FUNCTIONS, SQL_FN_STR_CONCAT},
    {"INSERT", 4, 4, "(substr($1,1,$2-1) || $4 || substr($1,$2+$3))", SQL_STRING_FUNCTIONS,
     SQL_FN_STR_INSERT},
    {"LCASE", 1, 1, "lower($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_LCASE},
    {"LEFT", 2, 2, "substr($1,1,$2)", SQL_STRING_FUNCTIONS, SQL_FN_STR_LEFT},
    // ODBC's LENGTH leaves trailing blanks out.
    {"LENGTH", 1, 1, "length(rtrim($1))", SQL_STRING_FUNCTIONS, SQL_FN_STR_LENGTH},
    {"LOCATE", 2, 2, "instr($2,$1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_LOCATE},
    {"LOCATE", 3, 3,
     "(CASE WHEN instr(substr($2,$3),$1) > 0 THEN instr(substr($2,$3),$1) + $3 - 1 ELSE 0 END)",
     SQL_STRING_FUNCTIONS, SQL_FN_STR_LOCATE_2},
    {"LTRIM", 1, 1, "ltrim($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_LTRIM},
    {"REPEAT", 2, 2, "replace(hex(zeroblob($2)),'00',$1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_REPEAT},
    {"REPLACE", 3, 3, "replace($1,$2,$3)", SQL_STRING_FUNCTIONS, SQL_FN_STR_REPLACE},
    {"RIGHT", 2, 2, "(CASE WHEN $2 > 0 THEN substr($1,-$2) ELSE '' END)", SQL_STRING_FUNCTIONS,
     SQL_FN_STR_RIGHT},
    {"RTRIM", 1, 1, "rtrim($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_RTRIM},
    {"SOUNDEX", 1, 1, "soundex($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_SOUNDEX},
    {"SPACE", 1, 1, "replace(hex(zeroblob($1)),'00',' ')", SQL_STRING_FUNCTIONS, SQL_FN_STR_SPACE},
    {"SUBSTRING", 2, 2, "substr($1,$2)", SQL_STRING_FUNCTIONS, SQL_FN_STR_SUBSTRING},
    {"SUBSTRING", 3, 3, "substr($1,$2,$3)", SQL_STRING_FUNCTIONS, SQL_FN_STR_SUBSTRING},
    {"UCASE", 1, 1, "upper($1)", SQL_STRING_FUNCTIONS, SQL_FN_STR_UCASE},
    // System functions.
    {"DATABASE", 0, 0, "q4_database()", SQL_SYSTEM_FUNCTIONS, SQL_FN_SYS_DBNAME},
    {"IFNULL", 2, 2, "ifnull($1,$2)", SQL_SYSTEM_FUNCTIONS, SQL_FN_SYS_IFNULL},
    {"USER", 0, 0, "q4_user()", SQL_SYSTEM_FUNCTIONS, SQL_FN_SYS_USERNAME},
    // Date and time functions; "now" is the server's local time.
    {"CURDATE", 0, 0, "date('now','localtime')", SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_CURDATE},
    {"CURTIME", 0, 0, "time('now','localtime')", SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_CURTIME},
    {"NOW", 0, 0, "datetime('now','localtime')", SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_NOW},
    {"DAYNAME", 1, 1, Q4_DAYNAME, SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_DAYNAME},
    {"DAYOFMONTH", 1, 1, "CAST(strftime('%d',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_DAYOFMONTH},
    {"DAYOFWEEK", 1, 1, "(CAST(strftime('%w',$1) AS INTEGER) + 1)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_DAYOFWEEK},
    {"DAYOFYEAR", 1, 1, "CAST(strftime('%j',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_DAYOFYEAR},
    {"HOUR", 1, 1, "CAST(strftime('%H',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_HOUR},
    {"MINUTE", 1, 1, "CAST(strftime('%M',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_MINUTE},
    {"MONTH", 1, 1, "CAST(strftime('%m',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_MONTH},
    {"MONTHNAME", 1, 1, Q4_MONTHNAME, SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_MONTHNAME},
    {"QUARTER", 1, 1, "((CAST(strftime('%m',$1) AS INTEGER) + 2) / 3)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_QUARTER},
    {"SECOND", 1, 1, "CAST(strftime('%S',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_SECOND},
    {"WEEK", 1, 1, "(CAST(strftime('%W',$1) AS INTEGER) + 1)", SQL_TIMEDATE_FUNCTIONS,
     SQL_FN_TD_WEEK},
    {"YEAR", 1, 1, "CAST(strftime('%Y',$1) AS INTEGER)", SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_YEAR},
};

#undef Q4_DAYNAME
#undef Q4_MONTHNAME

// CONVERT(value, SQL_xxx): the target names and the SQLite expression.
struct ConvertTarget {
  const char* name;
  const char* expansion;
  uint32_t cvt_bit;
};

const ConvertTarget kConvertTargets[] = {
    {"SQL_BIGINT", "CAST($1 AS INTEGER)", SQL_CVT_BIGINT},
    {"SQL_BINARY", "CAST($1 AS BLOB)", SQL_CVT_BINARY},
    {"SQL_BIT", "(CASE WHEN $1 THEN 1 ELSE 0 END)", SQL_CVT_BIT},
    {"SQL_CHAR", "CAST($1 AS TEXT)", SQL_CVT_CHAR},
    {"SQL_DATE", "date($1)", SQL_CVT_DATE},
    {"SQL_DECIMAL", "CAST($1 AS NUMERIC)", SQL_CVT_DECIMAL},
    {"SQL_DOUBLE", "CAST($1 AS REAL)", SQL_CVT_DOUBLE},
    {"SQL_FLOAT", "CAST($1 AS REAL)", SQL_CVT_FLOAT},
    {"SQL_INTEGER", "CAST($1 AS INTEGER)", SQL_CVT_INTEGER},
    {"SQL_LONGVARBINARY", "CAST($1 AS BLOB)", SQL_CVT_LONGVARBINARY},
    {"SQL_LONGVARCHAR", "CAST($1 AS TEXT)", SQL_CVT_LONGVARCHAR},
    {"SQL_NUMERIC", "CAST($1 AS NUMERIC)", SQL_CVT_NUMERIC},
    {"SQL_REAL", "CAST($1 AS REAL)", SQL_CVT_REAL},
    {"SQL_SMALLINT", "CAST($1 AS INTEGER)", SQL_CVT_SMALLINT},
    {"SQL_TIME", "time($1)", SQL_CVT_TIME},
    {"SQL_TIMESTAMP", "datetime($1)", SQL_CVT_TIMESTAMP},
    {"SQL_TINYINT", "CAST($1 AS INTEGER)", SQL_CVT_TINYINT},
    {"SQL_VARBINARY", "CAST($1 AS BLOB)", SQL_CVT_VARBINARY},
    {"SQL_VARCHAR", "CAST($1 AS TEXT)", SQL_CVT_VARCHAR},
};

constexpr uint32_t kNumbers = SQL_CVT_NUMERIC | SQL_CVT_DECIMAL | SQL_CVT_INTEGER |
                              SQL_CVT_SMALLINT | SQL_CVT_FLOAT | SQL_CVT_REAL | SQL_CVT_DOUBLE |
                              SQL_CVT_BIT | SQL_CVT_TINYINT | SQL_CVT_BIGINT;
constexpr uint32_t kStrings = SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR;
constexpr uint32_t kBinaries = SQL_CVT_BINARY | SQL_CVT_VARBINARY | SQL_CVT_LONGVARBINARY;
constexpr uint32_t kDateTimes = SQL_CVT_DATE | SQL_CVT_TIME | SQL_CVT_TIMESTAMP;

// Per source type (SQL_CONVERT_*), what CONVERT can turn it into: numbers
// and strings into each other, strings and dates into dates, anything into
// binary through CAST AS BLOB.
struct ConvertSource {
  uint16_t info_type;
  uint32_t targets;
};

const ConvertSource kConvertSources[] = {
    {SQL_CONVERT_BIGINT, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_BINARY, kStrings | kBinaries},
    {SQL_CONVERT_BIT, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_CHAR, kNumbers | kStrings | kBinaries | kDateTimes},
    {SQL_CONVERT_DATE, kStrings | SQL_CVT_DATE | SQL_CVT_TIMESTAMP},
    {SQL_CONVERT_DECIMAL, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_DOUBLE, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_FLOAT, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_INTEGER, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_LONGVARCHAR, kNumbers | kStrings | kBinaries | kDateTimes},
    {SQL_CONVERT_NUMERIC, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_REAL, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_SMALLINT, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_TIME, kStrings | SQL_CVT_TIME},
    {SQL_CONVERT_TIMESTAMP, kStrings | kDateTimes},
    {SQL_CONVERT_TINYINT, kNumbers | kStrings | kBinaries},
    {SQL_CONVERT_VARBINARY, kStrings | kBinaries},
    {SQL_CONVERT_VARCHAR, kNumbers | kStrings | kBinaries | kDateTimes},
    {SQL_CONVERT_LONGVARBINARY, kStrings | kBinaries},
};

bool same_name(std::string_view a, const char* upper) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (upper[i] == '\0') return false;
    if (std::toupper(static_cast<unsigned char>(a[i])) != upper[i]) return false;
  }
  return upper[i] == '\0';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

void expand(const char* expansion, const std::vector<std::string>& args, std::string* out) {
  for (const char* p = expansion; *p != '\0'; ++p) {
    if (*p == '$' && p[1] >= '1' && p[1] <= '9') {
      const size_t index = static_cast<size_t>(p[1] - '1');
      out->push_back('(');
      if (index < args.size()) out->append(args[index]);
      out->push_back(')');
      ++p;
    } else {
      out->push_back(*p);
    }
  }
}

}  // namespace

bool expand_scalar_function(std::string_view name, const std::vector<std::string>& args,
                            std::string* out, std::string* error) {
  if (same_name(name, "CONVERT")) {
    if (args.size() != 2) {
      *error = "CONVERT takes a value and a type";
      return false;
    }
    const std::string_view target = trimmed(args[1]);
    for (const ConvertTarget& t : kConvertTargets) {
      if (same_name(target, t.name)) {
        expand(t.expansion, args, out);
        return true;
      }
    }
    *error = "CONVERT to an unsupported type: " + std::string(target);
    return false;
  }
  bool known = false;
  for (const ScalarFunction& f : kFunctions) {
    if (!same_name(name, f.name)) continue;
    known = true;
    const int count = static_cast<int>(args.size());
    if (count < f.min_args || count > f.max_args) continue;
    expand(f.expansion, args, out);
    return true;
  }
  *error = known ? "wrong number of arguments to scalar function " + std::string(name)
                 : "unsupported scalar function " + std::string(name);
  return false;
}

int32_t server_information(uint16_t first, uint16_t second) {
  if (first == SQL_CONVERT_FUNCTIONS) {
    for (const ConvertSource& s : kConvertSources) {
      if (s.info_type == second) return static_cast<int32_t>(s.targets);
    }
    return kNoInformation;
  }
  if (second != 0 || (first != SQL_NUMERIC_FUNCTIONS && first != SQL_STRING_FUNCTIONS &&
                      first != SQL_SYSTEM_FUNCTIONS && first != SQL_TIMEDATE_FUNCTIONS)) {
    return kNoInformation;
  }
  uint32_t mask = 0;
  for (const ScalarFunction& f : kFunctions) {
    if (f.info_type == first) mask |= f.bit;
  }
  return static_cast<int32_t>(mask);
}

}  // namespace q4::lite
