// SQLGetInfo without a server: answers with a rule, buffers, and by generation (SQLGetFunctions:
// the ODBC 3 tests).
#include <algorithm>

#include "metadata/driver_info.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

template <typename T>
std::string le(T value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// Numbers are written whole whatever the length; texts with a NUL, empty ones not; refusals
// write nothing; a null buffer of length 0 asks the length; a short buffer cuts the text.
TEST(GetInfo, AnswersOfEachKindIntoGuardedBuffers) {
  Connection conn{};
  memset(conn.account, 'A', sizeof conn.account);  // no NUL: not read past the field
  strcpy(conn.not_null_constraint, "Y");
  conn.server_version = 700;  // the server bit masks are 0 without asking
  const std::string kCut = "INFO 01004 Data truncated",
                    kBadType = "ERROR HY096 Invalid argument value";
  // clang-format off
  struct Case { unsigned type; SQLSMALLINT max; bool null_buffer; std::string outcome; SQLSMALLINT length; std::string written; } cases[] = {
      {SQL_ACTIVE_STATEMENTS, 1, false, "OK", 2, le<uint16_t>(32767)},
      {SQL_QUALIFIER_LOCATION, 1, false, "OK", 2, le<uint16_t>(0)},  // the last type (114)
      {SQL_DBMS_VER, 250, false, "OK", 5, std::string("7.1.0", 6)},
      {SQL_QUALIFIER_NAME_SEPARATOR, 250, false, "OK", 0, ""},
      {SQL_USER_NAME, 250, false, "OK", sizeof conn.account, std::string(sizeof conn.account, 'A') + '\0'},
      {115, 5, false, kBadType, -7, ""}, {1000, 5, false, "ERROR S1C00 Driver not capable", -7, ""},
      {17, 5, true, "ERROR S1000 General Error", -7, ""},
      {SQL_DRIVER_NAME, 0, true, kCut, 12, ""}, {SQL_QUALIFIER_TERM, 0, true, "OK", 0, ""},
      {SQL_DRIVER_NAME, 5, false, kCut, 12, std::string("Q4OD", 5)},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    unsigned char buffer[256];
    memset(buffer, 0xA5, sizeof buffer);
    SQLSMALLINT length = -7;
    SQLRETURN rc = get_info(&conn, static_cast<SQLUSMALLINT>(c.type),
                            c.null_buffer ? nullptr : buffer, c.max, &length);
    EXPECT_TRUE(conn.sqlstate[0] == '\0' ||
                strncmp(conn.message, kMessagePrefix, strlen(kMessagePrefix)) == 0);
    EXPECT_EQ(outcome(rc, &conn), c.outcome);
    clear_diagnostic(conn.sqlstate, conn.message);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), c.written.size()), c.written);
    EXPECT_TRUE(std::all_of(buffer + c.written.size(), std::end(buffer), [](unsigned char b) {
      return b == 0xA5;
    })) << "written past the answer";
  }
}

// What each generation is told: the ODBC 3 information types to a 3.x application only, and those
// unixODBC asks of an ODBC 3 driver (the static cursor attributes decide on its cursor library;
// parameter arrays give one row count for all rows and no result per row) to a caller that
// allocated through SQLAllocHandle only.
TEST(GetInfo, EachGenerationItsAnswers) {
  struct Case {
    OdbcVersion version;
    bool odbc3_caller;
    SQLUSMALLINT type;
    std::string want;  // a text, a number, or the refusal
  };
  const std::string kRefused = "HY096 Invalid argument value";
  const auto kOdbc2 = OdbcVersion::kOdbc2, kOdbc380 = OdbcVersion::kOdbc380;
  // clang-format off
  const Case cases[] = {
      {kOdbc2, false, SQL_ODBC_INTERFACE_CONFORMANCE, kRefused}, {kOdbc380, false, SQL_ODBC_INTERFACE_CONFORMANCE, "1"},
      {kOdbc2, true, SQL_STATIC_CURSOR_ATTRIBUTES1,
       std::to_string(SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK)},
      {kOdbc2, false, SQL_STATIC_CURSOR_ATTRIBUTES1, kRefused},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.type << " version " << static_cast<int>(c.version)
                                      << (c.odbc3_caller ? " from SQLAllocHandle" : ""));
    Environment env{};
    env.odbc_version = c.version;
    env.odbc3_caller = c.odbc3_caller;
    StatementRecord record;
    record.conn->environment = &env;
    char text[32] = {};
    SQLUINTEGER number = 77;
    bool is_text = c.type == SQL_DESCRIBE_PARAMETER;
    SQLRETURN rc = SQLGetInfo(record.conn, c.type, is_text ? static_cast<void*>(text) : &number,
                              sizeof text, nullptr);
    EXPECT_EQ(rc == SQL_SUCCESS ? (is_text ? std::string(text) : std::to_string(number))
                                : diag(record.conn),
              c.want);
  }
}

}  // namespace
}  // namespace q4
