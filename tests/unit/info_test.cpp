// SQLGetInfo and SQLGetFunctions without a server: answers with a rule, buffers.
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
  InfoTest() {
    memset(conn_.account, 'A', sizeof conn_.account);  // no NUL: not read past the field
    strcpy(conn_.not_null_constraint, "Y");
    conn_.server_version = 700;  // the server bit masks are 0 without asking
  }
  // Calls with a guarded buffer; the state is read and cleared into state_.
  SQLRETURN info(unsigned type, SQLSMALLINT max = 200, bool null_buffer = false) {
    memset(buffer_, kGuard, sizeof buffer_);
    length_ = -7;
    SQLRETURN rc = get_info(&conn_, static_cast<SQLUSMALLINT>(type),
                            null_buffer ? nullptr : buffer_, max, &length_);
    state_ = conn_.sqlstate + std::string(" ") + conn_.message;
    clear_diagnostic(conn_.sqlstate, conn_.message);
    return rc;
  }
  bool untouched_from(size_t offset) const {
    return std::all_of(buffer_ + offset, std::end(buffer_), [](auto b) { return b == kGuard; });
  }
  std::string text() const { return reinterpret_cast<const char*>(buffer_); }

  Connection conn_{};
  unsigned char buffer_[256];
  SQLSMALLINT length_;
  std::string state_;
};

// Numbers are written whole whatever the length; texts with a NUL, empty ones not.
TEST_F(InfoTest, AnswersOfEachKind) {
  // clang-format off
  const std::tuple<unsigned, size_t, uint32_t> numbers[] = {{SQL_ACTIVE_STATEMENTS, 2, 32767},
      {SQL_NUMERIC_FUNCTIONS, 4, 0},  // masks: 0 below level 710
      {SQL_QUALIFIER_LOCATION, 2, 0},  // the last type (114)
      {SQL_NON_NULLABLE_COLUMNS, 2, SQL_NNC_NON_NULL}};  // follows NotNullConstraint
  const std::pair<unsigned, std::string> texts[] = {{SQL_DBMS_VER, "7.1.0"},
      {SQL_QUALIFIER_NAME_SEPARATOR, ""}, {SQL_USER_NAME, std::string(sizeof conn_.account, 'A')}};
  // clang-format on
  for (const auto& [type, size, value] : numbers) {
    ASSERT_EQ(info(type, 1), SQL_SUCCESS) << type;
    uint32_t number = 0;
    memcpy(&number, buffer_, size);  // little-endian
    EXPECT_EQ(number, value) << type;
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(size));
    EXPECT_TRUE(untouched_from(size));
  }
  for (const auto& [type, answer] : texts) {
    ASSERT_EQ(info(type, 250), SQL_SUCCESS) << type;
    EXPECT_EQ(state_, " ");
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(answer.size()));
    if (!answer.empty()) {
      EXPECT_EQ(text(), answer);
    }
    EXPECT_TRUE(untouched_from(answer.empty() ? 0 : answer.size() + 1)) << type;
  }
}

// Refused: nothing written; a null buffer of length 0 asks the length; short: cut.
TEST_F(InfoTest, RefusedTypesLengthsAndTruncation) {
  // clang-format off
  const std::tuple<unsigned, bool, std::string> refused[] = {
      {76, false, "HY096 " + kPrefix + "Invalid argument value"},
      {115, false, "HY096 " + kPrefix + "Invalid argument value"},
      {1000, false, "S1C00 " + kPrefix + "Driver not capable"},
      {17, true, "S1000 " + kPrefix + "General Error"}};
  // clang-format on
  for (const auto& [type, null_buffer, state] : refused) {
    EXPECT_EQ(info(type, 5, null_buffer), SQL_ERROR) << type;
    EXPECT_EQ(state_, state);
    EXPECT_EQ(length_, -7);
    EXPECT_TRUE(untouched_from(0));
  }
  EXPECT_EQ(info(SQL_DRIVER_NAME, 0, true), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length_, 12);
  EXPECT_EQ(state_.substr(0, 5), "01004");
  EXPECT_EQ(info(SQL_QUALIFIER_TERM, 0, true), SQL_SUCCESS);
  EXPECT_EQ(length_, 0);
  EXPECT_EQ(info(SQL_DRIVER_NAME, 5), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length_, 12);
  EXPECT_EQ(state_, "01004 " + kPrefix + "Data truncated");
  EXPECT_EQ(text(), "Q4OD");
  EXPECT_TRUE(untouched_from(5));
}

// Rows: function, answer at level 709, at 710.
TEST(GetFunctions, AnswersAtEachLevel) {
  // clang-format off
  const int cases[][3] = {{SQL_API_SQLGETCURSORNAME, 0, 1}, {SQL_API_SQLBINDPARAMETER, 1, 1},
      {SQL_API_SQLDESCRIBEPARAM, 1, 1}, {SQL_API_SQLPARAMOPTIONS, 1, 1},
      {SQL_API_SQLSETPOS, 0, 0}, {65535, 0, 0}};
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
  // The all-functions form gives the same answers.
  Connection conn{};
  conn.server_version = 710;
  SQLUSMALLINT all[kFunctionTableSize] = {};
  EXPECT_EQ(get_functions(&conn, SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
  EXPECT_EQ(all[SQL_API_SQLDESCRIBEPARAM] + all[SQL_API_SQLPARAMOPTIONS], 2);
  EXPECT_EQ(all[SQL_API_SQLSETPOS], 0);
}

}  // namespace
}  // namespace q4
