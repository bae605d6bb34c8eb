// SQLGetInfo and SQLGetFunctions without a server: the answers that carry a
// rule, buffer and length rules, and the level-dependent function table.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
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
    strcpy(conn_.account, "SALES");
    conn_.server_version = 700;  // the server bit masks are 0 without asking
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
    message_ = conn_.message;
    clear_diagnostic(conn_.sqlstate, conn_.message);
    return state;
  }
  bool untouched_from(size_t offset) const {
    return std::all_of(buffer_ + offset, std::end(buffer_), [](auto b) { return b == kGuard; });
  }
  std::string text() const { return reinterpret_cast<const char*>(buffer_); }

  Connection conn_{};
  unsigned char buffer_[256];
  SQLSMALLINT length_;
  std::string message_;
};

// Numbers are written whole (2 or 4 bytes) whatever the buffer length; a
// text with its NUL, an empty text not at all. Size 0: a text.
TEST_F(InfoTest, AnswersOfEachKind) {
  struct Case {
    unsigned type;
    size_t size;
    uint32_t number;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {SQL_ACTIVE_STATEMENTS, 2, 32767, nullptr}, {SQL_FETCH_DIRECTION, 4, 191, nullptr},
      {SQL_NUMERIC_FUNCTIONS, 4, 0, nullptr},  // server masks: 0 below level 710
      {SQL_QUALIFIER_LOCATION, 2, 0, nullptr},  // the last type (114)
      {SQL_DATA_SOURCE_NAME, 0, 0, "Orders"}, {SQL_DBMS_VER, 0, 0, "7.1.0"},
      {SQL_IDENTIFIER_QUOTE_CHAR, 0, 0, " "}, {SQL_QUALIFIER_NAME_SEPARATOR, 0, 0, ""}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    size_t size = c.text != nullptr ? strlen(c.text) : c.size;
    ASSERT_EQ(info(c.type, c.text != nullptr ? 200 : 1), SQL_SUCCESS);
    EXPECT_EQ(take_state(), "");
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(size));
    uint32_t number = 0;
    if (c.text == nullptr) memcpy(&number, buffer_, size);  // little-endian
    EXPECT_EQ(number, c.number);
    if (size > 0 && c.text != nullptr) EXPECT_EQ(text(), c.text);
    EXPECT_TRUE(untouched_from(size == 0 ? 0 : c.text != nullptr ? size + 1 : size));
  }
}

TEST_F(InfoTest, RefusedTypesAndNullBuffers) {
  struct Case {
    unsigned type;
    bool null_buffer;
    const char* state;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {76, false, "HY096", "Invalid argument value"}, {115, false, "HY096", "Invalid argument value"},
      {999, false, "HY096", "Invalid argument value"}, {1000, false, "S1C00", "Driver not capable"},
      // A null buffer with a length is refused before the type is looked at.
      {17, true, "S1000", "General Error"}};
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(info(c.type, 5, c.null_buffer), SQL_ERROR) << c.type;
    EXPECT_EQ(take_state(), c.state);
    EXPECT_EQ(message_, kPrefix + c.text);
    EXPECT_EQ(length_, -7) << "a refused type reports no length";
    EXPECT_TRUE(untouched_from(0));
  }
}

// A null buffer of length 0 asks for the length: "01004" when there is
// something to answer. A short buffer gets max-1 characters and a NUL.
TEST_F(InfoTest, LengthOnlyAndTruncation) {
  for (const auto& [type, length] : {std::pair{SQL_DRIVER_NAME, 12}, {SQL_QUALIFIER_TERM, 0}}) {
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
  // An empty setting gives the empty answer: the buffer untouched.
  conn_.dsn[0] = '\0';
  EXPECT_EQ(info(SQL_DATA_SOURCE_NAME, 1), SQL_SUCCESS);
  EXPECT_EQ(length_, 0);
  EXPECT_TRUE(untouched_from(0));
  // A setting filling its whole field without a NUL is not read past.
  memset(conn_.account, 'A', sizeof conn_.account);
  EXPECT_EQ(info(SQL_USER_NAME, 250), SQL_SUCCESS);
  EXPECT_EQ(text(), std::string(sizeof conn_.account, 'A'));
  // SQL_NON_NULLABLE_COLUMNS follows the NotNullConstraint switch.
  for (const auto& [setting, answer] : {std::pair{"Y", SQL_NNC_NON_NULL}, {"No", SQL_NNC_NULL}}) {
    strcpy(conn_.not_null_constraint, setting);
    ASSERT_EQ(info(SQL_NON_NULLABLE_COLUMNS), SQL_SUCCESS);
    EXPECT_EQ(buffer_[0] | buffer_[1] << 8, answer) << setting;
  }
  // A pending diagnostic stays; the length pointer may be null.
  post_connection_error(&conn_, "earlier", "01S02");
  EXPECT_EQ(get_info(&conn_, SQL_DBMS_NAME, buffer_, 10, nullptr), SQL_SUCCESS);
  EXPECT_EQ(text(), "Q4");
  EXPECT_EQ(take_state(), "01S02");
}

// Cursor names, SQLNativeSql and SQLPrimaryKeys need level 710; the rest of
// the table does not depend on the level.
TEST(GetFunctions, AnswersAtEachLevel) {
  // clang-format off
  const int cases[][3] = {{SQL_API_SQLGETCURSORNAME, 0, 1}, {SQL_API_SQLSETCURSORNAME, 0, 1},
      {SQL_API_SQLNATIVESQL, 0, 1}, {SQL_API_SQLPRIMARYKEYS, 0, 1}, {SQL_API_SQLALLOCCONNECT, 1, 1},
      {SQL_API_SQLBINDPARAMETER, 1, 1}, {SQL_API_SQLSETPOS, 0, 0}, {73, 0, 0}, {100, 0, 0},
      {65535, 0, 0}};
  // clang-format on
  for (const auto& c : cases) {
    for (int at_710 : {0, 1}) {
      Connection conn{};
      conn.server_version = at_710 ? 710 : 709;
      SQLUSMALLINT out[2] = {77, 77};
      EXPECT_EQ(get_functions(&conn, static_cast<SQLUSMALLINT>(c[0]), out), SQL_SUCCESS);
      EXPECT_EQ(out[0], c[1 + at_710]) << c[0] << " at 710: " << at_710;
      EXPECT_EQ(out[1], 77) << "only one value may be written";
    }
  }
}

}  // namespace
}  // namespace q4
