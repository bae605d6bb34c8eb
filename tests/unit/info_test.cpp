// SQLGetInfo and SQLGetFunctions without a server: the answers that carry a
// rule, buffer and length rules, and the level-dependent function table.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "core/diagnostics.h"
#include "metadata/driver_info.h"

namespace q4 {
namespace {

const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";
constexpr unsigned char kGuard = 0xA5;

class InfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_.socket = kInvalidSocket;
    strcpy(conn_.dsn, "Orders");
    strcpy(conn_.server, "q4host.local");
    strcpy(conn_.current_qualifier, "SALESDB");
    strcpy(conn_.account, "SALES");
    strcpy(conn_.not_null_constraint, "Yes");
    conn_.server_version = 700;  // the server bit masks are 0 without asking
    conn_.server_flags = 2;
  }
  SQLRETURN info(unsigned type, SQLSMALLINT max = 200, bool null_buffer = false) {
    memset(buffer_, kGuard, sizeof buffer_);
    length_ = -7;
    return get_info(&conn_, static_cast<SQLUSMALLINT>(type), null_buffer ? nullptr : buffer_, max,
                    &length_);
  }
  // Reads and empties the connection's slot: "" when nothing is pending.
  std::string take_state() {
    std::string state = conn_.sqlstate;
    if (!state.empty()) message_ = conn_.message;
    clear_diagnostic(conn_.sqlstate, conn_.message);
    return state;
  }
  bool untouched_from(size_t offset) const {
    for (size_t i = offset; i < sizeof buffer_; ++i) {
      if (buffer_[i] != kGuard) return false;
    }
    return true;
  }
  uint32_t number(char kind) const {
    SQLUSMALLINT h;
    SQLUINTEGER w;
    memcpy(&h, buffer_, sizeof h);
    memcpy(&w, buffer_, sizeof w);
    return kind == 'h' ? h : w;
  }
  std::string text() const { return reinterpret_cast<const char*>(buffer_); }

  Connection conn_{};
  unsigned char buffer_[256];
  SQLSMALLINT length_;
  std::string message_;
};

// Numbers are written whole (2 or 4 bytes) whatever the buffer length; a
// text with its NUL, an empty text not at all. 'h' 16-bit, 'w' 32-bit, 's' text.
TEST_F(InfoTest, AnswersOfEachKind) {
  struct Case {
    unsigned type;
    char kind;
    uint32_t number;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {SQL_ACTIVE_CONNECTIONS, 'h', 0, nullptr}, {SQL_ACTIVE_STATEMENTS, 'h', 32767, nullptr},
      {SQL_FETCH_DIRECTION, 'w', 191, nullptr},
      {SQL_NUMERIC_FUNCTIONS, 'w', 0, nullptr},      // server masks: 0 below level 710
      {SQL_CONVERT_LONGVARBINARY, 'w', 0, nullptr},  // the last of them
      {SQL_MAX_USER_NAME_LEN, 'h', 128, nullptr},
      {SQL_QUALIFIER_LOCATION, 'h', 0, nullptr},  // the last type (114)
      {SQL_DATA_SOURCE_NAME, 's', 0, "Orders"}, {SQL_SERVER_NAME, 's', 0, "q4host.local"},
      {SQL_DATABASE_NAME, 's', 0, "SALESDB"}, {SQL_USER_NAME, 's', 0, "SALES"},
      {SQL_DRIVER_NAME, 's', 0, "Q4ODBC32.DLL"}, {SQL_DBMS_VER, 's', 0, "7.1.0"},
      {SQL_DRIVER_ODBC_VER, 's', 0, "02.50"}, {SQL_IDENTIFIER_QUOTE_CHAR, 's', 0, " "},
      {SQL_QUALIFIER_NAME_SEPARATOR, 's', 0, ""}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    bool is_text = c.kind == 's';
    ASSERT_EQ(info(c.type, is_text ? 200 : 1), SQL_SUCCESS);
    EXPECT_EQ(take_state(), "");
    size_t size = is_text ? strlen(c.text) : c.kind == 'h' ? 2 : 4;
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(size));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_), is_text ? size : 0),
              is_text ? c.text : "");
    EXPECT_EQ(is_text ? 0 : number(c.kind), c.number);
    EXPECT_TRUE(untouched_from(size == 0 ? 0 : is_text ? size + 1 : size));
  }
}

TEST_F(InfoTest, RefusedTypesAndNullBuffers) {
  struct Case {
    unsigned type;
    SQLSMALLINT max;
    bool null_buffer;
    const char* state;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {3, 200, false, "HY096", "Invalid argument value"},
      {76, 200, false, "HY096", "Invalid argument value"},
      {115, 200, false, "HY096", "Invalid argument value"},
      {999, 200, false, "HY096", "Invalid argument value"},
      {1000, 200, false, "S1C00", "Driver not capable"},
      // A null buffer with a length is refused before the type is looked at.
      {17, 5, true, "S1000", "General Error"}, {10, 5, true, "S1000", "General Error"}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    EXPECT_EQ(info(c.type, c.max, c.null_buffer), SQL_ERROR);
    EXPECT_EQ(take_state(), c.state);
    EXPECT_EQ(message_, kPrefix + c.text);
    EXPECT_EQ(length_, -7) << "a refused type reports no length";
    EXPECT_TRUE(untouched_from(0));
  }
}

// A null buffer of length 0 asks for the length: "01004" when there is
// something to answer. A short buffer gets max-1 characters and a NUL.
TEST_F(InfoTest, LengthOnlyAndTruncation) {
  // clang-format off
  const std::pair<unsigned, SQLSMALLINT> cases[] = {{SQL_DRIVER_NAME, 12},
      {SQL_FETCH_DIRECTION, 4}, {SQL_QUALIFIER_TERM, 0}};
  // clang-format on
  for (const auto& [type, length] : cases) {
    EXPECT_EQ(info(type, 0, true), length > 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS) << type;
    EXPECT_EQ(length_, length);
    EXPECT_EQ(take_state(), length > 0 ? "01004" : "");
  }
  EXPECT_EQ(info(SQL_DRIVER_NAME, 5), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length_, 12);
  EXPECT_EQ(take_state(), "01004");
  EXPECT_EQ(message_, kPrefix + "Data truncated");
  EXPECT_EQ(text(), "Q4OD");
  EXPECT_TRUE(untouched_from(5));
}

TEST_F(InfoTest, SettingsOfTheConnection) {
  // Empty settings give the empty answer: the buffer untouched.
  conn_.dsn[0] = conn_.server[0] = conn_.current_qualifier[0] = conn_.account[0] = '\0';
  for (unsigned type : {SQL_DATA_SOURCE_NAME, SQL_SERVER_NAME, SQL_DATABASE_NAME, SQL_USER_NAME}) {
    EXPECT_EQ(info(type, 1), SQL_SUCCESS);
    EXPECT_EQ(length_, 0);
    EXPECT_TRUE(untouched_from(0)) << type;
  }
  // A setting filling its whole field without a NUL is not read past.
  memset(conn_.account, 'A', sizeof conn_.account);
  EXPECT_EQ(info(SQL_USER_NAME, 250), SQL_SUCCESS);
  EXPECT_EQ(length_, static_cast<SQLSMALLINT>(sizeof conn_.account));
  EXPECT_EQ(text(), std::string(sizeof conn_.account, 'A'));
  // SQL_NON_NULLABLE_COLUMNS follows the NotNullConstraint switch.
  for (const auto& [setting, answer] :
       {std::pair{"Y", SQL_NNC_NON_NULL}, {"No", SQL_NNC_NULL}, {"", SQL_NNC_NULL}}) {
    strcpy(conn_.not_null_constraint, setting);
    ASSERT_EQ(info(SQL_NON_NULLABLE_COLUMNS), SQL_SUCCESS);
    EXPECT_EQ(number('h'), static_cast<uint32_t>(answer)) << setting;
  }
}

TEST_F(InfoTest, PendingDiagnosticStaysAndLengthPointerMayBeNull) {
  post_connection_error(&conn_, "earlier", "01S02");
  EXPECT_EQ(get_info(&conn_, SQL_DBMS_NAME, buffer_, 10, nullptr), SQL_SUCCESS);
  EXPECT_EQ(text(), "Q4");
  EXPECT_EQ(take_state(), "01S02");
}

SQLUSMALLINT function_exists(uint32_t version, int function) {
  Connection conn{};
  conn.server_version = version;
  SQLUSMALLINT out[2] = {77, 77};
  EXPECT_EQ(get_functions(&conn, static_cast<SQLUSMALLINT>(function), out), SQL_SUCCESS);
  EXPECT_EQ(out[1], 77) << "only one value may be written";
  return out[0];
}

// Cursor names, SQLNativeSql and SQLPrimaryKeys need level 710; the rest of
// the table does not depend on the level.
TEST(GetFunctions, AnswersAtEachLevel) {
  struct Case {
    int function;
    SQLUSMALLINT at_709, at_710;
  };
  // clang-format off
  const Case cases[] = {
      {SQL_API_SQLGETCURSORNAME, SQL_FALSE, SQL_TRUE}, {SQL_API_SQLSETCURSORNAME, SQL_FALSE, SQL_TRUE},
      {SQL_API_SQLNATIVESQL, SQL_FALSE, SQL_TRUE}, {SQL_API_SQLPRIMARYKEYS, SQL_FALSE, SQL_TRUE},
      {SQL_API_SQLALLOCCONNECT, SQL_TRUE, SQL_TRUE}, {SQL_API_SQLBINDPARAMETER, SQL_TRUE, SQL_TRUE},
      {SQL_API_SQLSETPARAM, SQL_FALSE, SQL_FALSE}, {SQL_API_SQLSETPOS, SQL_FALSE, SQL_FALSE},
      {73, SQL_FALSE, SQL_FALSE}, {99, SQL_FALSE, SQL_FALSE},
      {100, SQL_FALSE, SQL_FALSE}, {SQL_API_ODBC3_ALL_FUNCTIONS, SQL_FALSE, SQL_FALSE},
      {65535, SQL_FALSE, SQL_FALSE}};
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(function_exists(709, c.function), c.at_709) << c.function;
    EXPECT_EQ(function_exists(710, c.function), c.at_710) << c.function;
  }
}

}  // namespace
}  // namespace q4
