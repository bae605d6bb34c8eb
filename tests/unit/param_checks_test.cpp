// Character parameters checked against the SQL type they are bound as: each text as SQL_C_CHAR
// and as SQL_C_WCHAR, bound as parameter 2, becomes its literal or fails the request before
// anything is written, naming the parameter.
#include "statement_fixture.h"

namespace q4 {
namespace {

struct Case {
  SQLSMALLINT sql_type;
  const char* text;
  const char* state;  // "" when the value goes through
};

// clang-format off
const Case kCases[] = {
    // One row per range boundary and form; each refusal's state read by a client:
    // e2e/pyodbc_numbers_test.py (22001, 22003, 22018), e2e/datetime_test.cpp (22007, 22008).
    {SQL_INTEGER, " -42 ", ""}, {SQL_INTEGER, "1e3", ""}, {SQL_INTEGER, "-2147483648", ""},
    {SQL_INTEGER, "2147483648", "22003"}, {SQL_INTEGER, "12.5", "22001"}, {SQL_INTEGER, "", "22018"},
    {SQL_BIGINT, "9223372036854775808", "22003"}, {SQL_REAL, "3.4e38", ""}, {SQL_REAL, "1e39", "22003"},
    {SQL_DATE, "{d '2024-01-05'}", ""}, {SQL_DATE, "2024-1-5", "22007"},
    {SQL_TIMESTAMP, "2024-01-05 10:20:30.123456789", ""},
    {SQL_TIMESTAMP, "2024-01-05 10:20:30.1234567891", "22008"},
    // Types that take any text are not checked.
    {SQL_WVARCHAR, "2024-99-99", ""},
};
// clang-format on

std::u16string widened(const std::string& s) {
  return std::u16string(s.begin(), s.end());  // the cases are ASCII
}

// "'...'" or the value's escape as the literal, or "!SQLSTATE message" for a refusal.
std::string literal_of(SQLSMALLINT c_type, SQLSMALLINT sql_type, const std::string& text) {
  StatementRecord r;
  int32_t first = 1;
  std::u16string wide = widened(text);
  int64_t length = c_type == SQL_C_CHAR ? int64_t(text.size()) : int64_t(2 * wide.size());
  r.bind(1, nullptr, SQL_C_LONG, SQL_INTEGER, &first);
  r.bind(2, &length, c_type, sql_type,
         c_type == SQL_C_CHAR ? static_cast<const void*>(text.data()) : wide.data());
  if (build_request(r.stmt, "SELECT ?, ?", 11) != SQL_SUCCESS) return "!" + diag(r.stmt);
  std::string sent = reinterpret_cast<const char*>(r.stmt->request_buffer) + 4;
  return sent.substr(strlen("SELECT 1, "));
}

TEST(ParamChecks, EachTextAgainstEachSqlType) {
  for (const Case& c : kCases) {
    for (SQLSMALLINT c_type : {SQL_C_CHAR, SQL_C_WCHAR}) {
      SCOPED_TRACE(std::to_string(c.sql_type) + " '" + c.text + "' as " + std::to_string(c_type));
      std::string got = literal_of(c_type, c.sql_type, c.text);
      if (c.state[0] == '\0') {
        EXPECT_NE(got[0], '!') << got;
        continue;
      }
      ASSERT_EQ(got.substr(0, 6), "!" + std::string(c.state)) << got;
      EXPECT_NE(got.find(" parameter 2 "), std::string::npos) << got;
    }
  }
}

// The texts of the five refusals, each naming the parameter.
TEST(ParamChecks, TheDiagnosticsNameTheParameter) {
  // clang-format off
  const std::pair<Case, const char*> cases[] = {
      {{SQL_DOUBLE, "abc", ""}, "22018 Invalid character value for a number: parameter 2 is not a number"},
      {{SQL_TINYINT, "300", ""}, "22003 Numeric value out of range: parameter 2 does not fit its SQL type"},
      {{SQL_INTEGER, "12.5", ""}, "22001 String data, right truncated: parameter 2 has a fraction its SQL type cannot hold"},
      {{SQL_DATE, "tomorrow", ""}, "22007 Invalid datetime format: parameter 2 is not a date, time or timestamp of its type"},
      {{SQL_DATE, "2024-02-30", ""}, "22008 Datetime field overflow: parameter 2 has a date or time field out of range"},
  };
  // clang-format on
  for (const auto& [c, text] : cases) {
    EXPECT_EQ(literal_of(SQL_C_CHAR, c.sql_type, c.text), "!" + std::string(text));
  }
  // Values that pass keep their text, blanks and all; NULL is never checked.
  EXPECT_EQ(literal_of(SQL_C_CHAR, SQL_INTEGER, " 42 "), "' 42 '");
  StatementRecord r;
  int64_t null_data = SQL_NULL_DATA;
  r.bind(1, &null_data, SQL_C_CHAR, SQL_INTEGER, "abc");
  ASSERT_EQ(build_request(r.stmt, "SELECT ?", 8), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.stmt->request_buffer) + 4, "SELECT NULL");
}

}  // namespace
}  // namespace q4
