#include "server/translation/scalar_functions.h"

#include <sqlext.h>

#include <cctype>
#include <iterator>

namespace q4::lite {

namespace {

// One function of one number of arguments (LOCATE and SUBSTRING have two
// rows, as does RAND, whose seed is accepted and ignored: SQLite's generator
// has none).
struct ScalarFunction {
  const char* name;  // upper case
  int args;
  // SQLite text; $1..$4 stand for the arguments, each inserted in parentheses.
  const char* expansion;
  uint32_t bit;  // its bit in the mask of its family
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
// A number from 0 to 1.
#define Q4_RAND "((random() % 1000000000 + 1000000000) / 2000000000.0)"
// A field of a date or time as an integer: strftime's FORMAT of the argument.
#define Q4_DATE_PART(FORMAT) "CAST(strftime('" FORMAT "',$1) AS INTEGER)"

const ScalarFunction kNumericFunctions[] = {
    {"ABS", 1, "abs($1)", SQL_FN_NUM_ABS},
    {"ACOS", 1, "acos($1)", SQL_FN_NUM_ACOS},
    {"ASIN", 1, "asin($1)", SQL_FN_NUM_ASIN},
    {"ATAN", 1, "atan($1)", SQL_FN_NUM_ATAN},
    {"ATAN2", 2, "atan2($1,$2)", SQL_FN_NUM_ATAN2},
    {"CEILING", 1, "ceiling($1)", SQL_FN_NUM_CEILING},
    {"COS", 1, "cos($1)", SQL_FN_NUM_COS},
    {"COT", 1, "(1.0/tan($1))", SQL_FN_NUM_COT},
    {"DEGREES", 1, "degrees($1)", SQL_FN_NUM_DEGREES},
    {"EXP", 1, "exp($1)", SQL_FN_NUM_EXP},
    {"FLOOR", 1, "floor($1)", SQL_FN_NUM_FLOOR},
    {"LOG", 1, "ln($1)", SQL_FN_NUM_LOG},
    {"LOG10", 1, "log10($1)", SQL_FN_NUM_LOG10},
    {"MOD", 2, "($1 % $2)", SQL_FN_NUM_MOD},
    {"PI", 0, "pi()", SQL_FN_NUM_PI},
    {"POWER", 2, "power($1,$2)", SQL_FN_NUM_POWER},
    {"RADIANS", 1, "radians($1)", SQL_FN_NUM_RADIANS},
    {"RAND", 0, Q4_RAND, SQL_FN_NUM_RAND},
    {"RAND", 1, Q4_RAND, SQL_FN_NUM_RAND},
    {"ROUND", 2, "round($1,$2)", SQL_FN_NUM_ROUND},
    {"SIGN", 1, "sign($1)", SQL_FN_NUM_SIGN},
    {"SIN", 1, "sin($1)", SQL_FN_NUM_SIN},
    {"SQRT", 1, "sqrt($1)", SQL_FN_NUM_SQRT},
    {"TAN", 1, "tan($1)", SQL_FN_NUM_TAN},
    {"TRUNCATE", 2, "(trunc($1 * power(10,$2)) / power(10,$2))", SQL_FN_NUM_TRUNCATE},
};

const ScalarFunction kStringFunctions[] = {
    {"ASCII", 1, "unicode($1)", SQL_FN_STR_ASCII},
    {"CHAR", 1, "char($1)", SQL_FN_STR_CHAR},
    {"CONCAT", 2, "($1 || $2)", SQL_FN_STR_CONCAT},
    {"INSERT", 4, "(substr($1,1,$2-1) || $4 || substr($1,$2+$3))", SQL_FN_STR_INSERT},
    {"LCASE", 1, "lower($1)", SQL_FN_STR_LCASE},
    {"LEFT", 2, "substr($1,1,$2)", SQL_FN_STR_LEFT},
    // ODBC's LENGTH leaves trailing blanks out.
    {"LENGTH", 1, "length(rtrim($1))", SQL_FN_STR_LENGTH},
    {"LOCATE", 2, "instr($2,$1)", SQL_FN_STR_LOCATE},
    {"LOCATE", 3,
     "(CASE WHEN instr(substr($2,$3),$1) > 0 THEN instr(substr($2,$3),$1) + $3 - 1 ELSE 0 END)",
     SQL_FN_STR_LOCATE_2},
    {"LTRIM", 1, "ltrim($1)", SQL_FN_STR_LTRIM},
    {"REPEAT", 2, "replace(hex(zeroblob($2)),'00',$1)", SQL_FN_STR_REPEAT},
    {"REPLACE", 3, "replace($1,$2,$3)", SQL_FN_STR_REPLACE},
    {"RIGHT", 2, "(CASE WHEN $2 > 0 THEN substr($1,-$2) ELSE '' END)", SQL_FN_STR_RIGHT},
    {"RTRIM", 1, "rtrim($1)", SQL_FN_STR_RTRIM},
    {"SOUNDEX", 1, "soundex($1)", SQL_FN_STR_SOUNDEX},
    {"SPACE", 1, "replace(hex(zeroblob($1)),'00',' ')", SQL_FN_STR_SPACE},
    {"SUBSTRING", 2, "substr($1,$2)", SQL_FN_STR_SUBSTRING},
    {"SUBSTRING", 3, "substr($1,$2,$3)", SQL_FN_STR_SUBSTRING},
    {"UCASE", 1, "upper($1)", SQL_FN_STR_UCASE},
};

const ScalarFunction kSystemFunctions[] = {
    {"DATABASE", 0, "q4_database()", SQL_FN_SYS_DBNAME},
    {"IFNULL", 2, "ifnull($1,$2)", SQL_FN_SYS_IFNULL},
    {"USER", 0, "q4_user()", SQL_FN_SYS_USERNAME},
};

// "now" is the server's local time.
const ScalarFunction kTimeDateFunctions[] = {
    {"CURDATE", 0, "date('now','localtime')", SQL_FN_TD_CURDATE},
    {"CURTIME", 0, "time('now','localtime')", SQL_FN_TD_CURTIME},
    {"NOW", 0, "datetime('now','localtime')", SQL_FN_TD_NOW},
    {"DAYNAME", 1, Q4_DAYNAME, SQL_FN_TD_DAYNAME},
    {"DAYOFMONTH", 1, Q4_DATE_PART("%d"), SQL_FN_TD_DAYOFMONTH},
    {"DAYOFWEEK", 1, "(" Q4_DATE_PART("%w") " + 1)", SQL_FN_TD_DAYOFWEEK},
    {"DAYOFYEAR", 1, Q4_DATE_PART("%j"), SQL_FN_TD_DAYOFYEAR},
    {"HOUR", 1, Q4_DATE_PART("%H"), SQL_FN_TD_HOUR},
    {"MINUTE", 1, Q4_DATE_PART("%M"), SQL_FN_TD_MINUTE},
    {"MONTH", 1, Q4_DATE_PART("%m"), SQL_FN_TD_MONTH},
    {"MONTHNAME", 1, Q4_MONTHNAME, SQL_FN_TD_MONTHNAME},
    {"QUARTER", 1, "((" Q4_DATE_PART("%m") " + 2) / 3)", SQL_FN_TD_QUARTER},
    {"SECOND", 1, Q4_DATE_PART("%S"), SQL_FN_TD_SECOND},
    {"WEEK", 1, "(" Q4_DATE_PART("%W") " + 1)", SQL_FN_TD_WEEK},
    {"YEAR", 1, Q4_DATE_PART("%Y"), SQL_FN_TD_YEAR},
};

#undef Q4_DAYNAME
#undef Q4_MONTHNAME
#undef Q4_RAND
#undef Q4_DATE_PART

// The functions of each information type whose mask lists them.
struct Family {
  uint16_t info_type;
  const ScalarFunction* functions;
  size_t count;
};

const Family kFamilies[] = {
    {SQL_NUMERIC_FUNCTIONS, kNumericFunctions, std::size(kNumericFunctions)},
    {SQL_STRING_FUNCTIONS, kStringFunctions, std::size(kStringFunctions)},
    {SQL_SYSTEM_FUNCTIONS, kSystemFunctions, std::size(kSystemFunctions)},
    {SQL_TIMEDATE_FUNCTIONS, kTimeDateFunctions, std::size(kTimeDateFunctions)},
};

constexpr uint32_t kNumbers = SQL_CVT_NUMERIC | SQL_CVT_DECIMAL | SQL_CVT_INTEGER |
                              SQL_CVT_SMALLINT | SQL_CVT_FLOAT | SQL_CVT_REAL | SQL_CVT_DOUBLE |
                              SQL_CVT_BIT | SQL_CVT_TINYINT | SQL_CVT_BIGINT;
constexpr uint32_t kStrings = SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR;
constexpr uint32_t kBinaries = SQL_CVT_BINARY | SQL_CVT_VARBINARY | SQL_CVT_LONGVARBINARY;
constexpr uint32_t kDateTimes = SQL_CVT_DATE | SQL_CVT_TIME | SQL_CVT_TIMESTAMP;

// The types of CONVERT(value, SQL_xxx), one row each: what converting to the
// type is in SQLite, and what the type converts to (the SQL_CVT_* mask the
// information request answers for its SQL_CONVERT_xxx): numbers and strings
// into each other, strings and dates into dates, anything into binary
// through CAST AS BLOB.
struct ConvertType {
  const char* name;       // "SQL_BIGINT"
  const char* expansion;  // of CONVERT($1, name)
  uint32_t cvt_bit;       // SQL_CVT_BIGINT
  uint16_t info_type;     // SQL_CONVERT_BIGINT
  uint32_t targets;
};

#define Q4_CONVERT(TYPE, EXPANSION, TARGETS) \
  { "SQL_" #TYPE, EXPANSION, SQL_CVT_##TYPE, SQL_CONVERT_##TYPE, TARGETS }

const ConvertType kConvertTypes[] = {
    Q4_CONVERT(BIGINT, "CAST($1 AS INTEGER)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(BINARY, "CAST($1 AS BLOB)", kStrings | kBinaries),
    Q4_CONVERT(BIT, "(CASE WHEN $1 THEN 1 ELSE 0 END)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(CHAR, "CAST($1 AS TEXT)", kNumbers | kStrings | kBinaries | kDateTimes),
    Q4_CONVERT(DATE, "date($1)", kStrings | SQL_CVT_DATE | SQL_CVT_TIMESTAMP),
    Q4_CONVERT(DECIMAL, "CAST($1 AS NUMERIC)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(DOUBLE, "CAST($1 AS REAL)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(FLOAT, "CAST($1 AS REAL)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(INTEGER, "CAST($1 AS INTEGER)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(LONGVARBINARY, "CAST($1 AS BLOB)", kStrings | kBinaries),
    Q4_CONVERT(LONGVARCHAR, "CAST($1 AS TEXT)", kNumbers | kStrings | kBinaries | kDateTimes),
    Q4_CONVERT(NUMERIC, "CAST($1 AS NUMERIC)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(REAL, "CAST($1 AS REAL)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(SMALLINT, "CAST($1 AS INTEGER)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(TIME, "time($1)", kStrings | SQL_CVT_TIME),
    Q4_CONVERT(TIMESTAMP, "datetime($1)", kStrings | kDateTimes),
    Q4_CONVERT(TINYINT, "CAST($1 AS INTEGER)", kNumbers | kStrings | kBinaries),
    Q4_CONVERT(VARBINARY, "CAST($1 AS BLOB)", kStrings | kBinaries),
    Q4_CONVERT(VARCHAR, "CAST($1 AS TEXT)", kNumbers | kStrings | kBinaries | kDateTimes),
};

#undef Q4_CONVERT

// `a` is the upper-case name `upper`, ASCII letters compared without their
// case: what toupper does in the C locale q4lite runs in, without a library
// call per letter.
bool same_name(std::string_view a, const char* upper) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    const char c = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - ('a' - 'A')) : a[i];
    if (upper[i] == '\0' || c != upper[i]) return false;
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
    for (const ConvertType& t : kConvertTypes) {
      if (same_name(target, t.name)) {
        expand(t.expansion, args, out);
        return true;
      }
    }
    *error = "CONVERT to an unsupported type: " + std::string(target);
    return false;
  }
  bool known = false;
  for (const Family& family : kFamilies) {
    for (size_t i = 0; i < family.count; ++i) {
      const ScalarFunction& f = family.functions[i];
      if (!same_name(name, f.name)) continue;
      known = true;
      if (static_cast<size_t>(f.args) != args.size()) continue;
      expand(f.expansion, args, out);
      return true;
    }
  }
  *error = known ? "wrong number of arguments to scalar function " + std::string(name)
                 : "unsupported scalar function " + std::string(name);
  return false;
}

int32_t server_information(uint16_t first, uint16_t second) {
  if (first == SQL_CONVERT_FUNCTIONS) {
    for (const ConvertType& t : kConvertTypes) {
      if (t.info_type == second) return static_cast<int32_t>(t.targets);
    }
    return kNoInformation;
  }
  if (second != 0) return kNoInformation;
  for (const Family& family : kFamilies) {
    if (family.info_type != first) continue;
    uint32_t mask = 0;
    for (size_t i = 0; i < family.count; ++i) mask |= family.functions[i].bit;
    return static_cast<int32_t>(mask);
  }
  return kNoInformation;
}

}  // namespace q4::lite
