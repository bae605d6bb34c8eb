#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "core/diagnostics.h"
#include "metadata/driver_info.h"

namespace q4 {
namespace {

const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";
constexpr unsigned char kGuard = 0xA5;

// One expected answer: 'h' 16-bit, 'w' 32-bit, 's' string.
struct Expected {
  unsigned type;
  char kind;
  uint32_t number;
  const char* text;
};

// The answers of a connection set up by InfoTest (server level 700, so the
// server bit masks are 0 without asking). Numbers are written out rather than
// taken from sqlext.h so that a wrong constant in the driver shows.
const Expected kAnswers[] = {
    {0, 'h', 0, nullptr},
    {1, 'h', 32767, nullptr},
    {2, 's', 0, "Orders"},
    {6, 's', 0, "Q4ODBC32.DLL"},
    {7, 's', 0, "2.0.37"},
    {8, 'w', 191, nullptr},
    {9, 'h', 2, nullptr},
    {11, 's', 0, "N"},
    {12, 'h', 0, nullptr},
    {13, 's', 0, "q4host.local"},
    {14, 's', 0, "\\"},
    {15, 'h', 1, nullptr},
    {16, 's', 0, "SALESDB"},
    {17, 's', 0, "Q4"},
    {18, 's', 0, "7.1.0"},
    {19, 's', 0, "Y"},
    {20, 's', 0, "N"},
    {21, 's', 0, "N"},
    {22, 'h', 1, nullptr},
    {23, 'h', 0, nullptr},
    {24, 'h', 0, nullptr},
    {25, 's', 0, "N"},
    {26, 'w', 2, nullptr},
    {27, 's', 0, "Y"},
    {28, 'h', 4, nullptr},
    {29, 's', 0, " "},
    {30, 'h', 50, nullptr},
    {31, 'h', 18, nullptr},
    {32, 'h', 0, nullptr},
    {33, 'h', 0, nullptr},
    {34, 'h', 0, nullptr},
    {35, 'h', 0, nullptr},
    {36, 's', 0, "N"},
    {37, 's', 0, "Y"},
    {38, 's', 0, "N"},
    {39, 's', 0, "account"},
    {40, 's', 0, "procedure"},
    {41, 's', 0, ""},
    {42, 's', 0, ""},
    {43, 'w', 3, nullptr},
    {44, 'w', 17, nullptr},
    {45, 's', 0, "file"},
    {46, 'h', 3, nullptr},
    {47, 's', 0, "SALES"},
    {48, 'w', 1, nullptr},
    {49, 'w', 0, nullptr},
    {50, 'w', 0, nullptr},
    {51, 'w', 0, nullptr},
    {52, 'w', 0, nullptr},
    {53, 'w', 0, nullptr},
    {54, 'w', 0, nullptr},
    {55, 'w', 0, nullptr},
    {56, 'w', 0, nullptr},
    {57, 'w', 0, nullptr},
    {58, 'w', 0, nullptr},
    {59, 'w', 0, nullptr},
    {60, 'w', 0, nullptr},
    {61, 'w', 0, nullptr},
    {62, 'w', 0, nullptr},
    {63, 'w', 0, nullptr},
    {64, 'w', 0, nullptr},
    {65, 'w', 0, nullptr},
    {66, 'w', 0, nullptr},
    {67, 'w', 0, nullptr},
    {68, 'w', 0, nullptr},
    {69, 'w', 0, nullptr},
    {70, 'w', 0, nullptr},
    {71, 'w', 0, nullptr},
    {72, 'w', 15, nullptr},
    {73, 's', 0, "N"},
    {74, 'h', 2, nullptr},
    {75, 'h', 1, nullptr},
    {77, 's', 0, "02.50"},
    {78, 'w', 0, nullptr},
    {79, 'w', 0, nullptr},
    {80, 'w', 0, nullptr},
    {81, 'w', 11, nullptr},
    {82, 'w', 80, nullptr},
    {83, 'w', 0, nullptr},
    {84, 'h', 0, nullptr},
    {85, 'h', 1, nullptr},
    {86, 'w', 3, nullptr},
    {87, 's', 0, "Y"},
    {88, 'h', 2, nullptr},
    {89, 's', 0,
     "ACTION, CURRENT_USER, DEFAULT, INT, LEADING, NATURAL, NO, READ, REAL, REFERENCES, "
     "RELATIVE, SESSION_USER, SYSTEM_USER, TRIM, WRITE, ZONE"},
    {90, 's', 0, "N"},
    {91, 'w', 13, nullptr},
    {92, 'w', 0, nullptr},
    {93, 'h', 4, nullptr},
    {94, 's', 0, ""},
    {95, 'w', 7, nullptr},
    {96, 'w', 1, nullptr},
    {97, 'h', 0, nullptr},
    {98, 'h', 0, nullptr},
    {99, 'h', 0, nullptr},
    {100, 'h', 0, nullptr},
    {101, 'h', 0, nullptr},
    {102, 'w', 0, nullptr},
    {103, 's', 0, "N"},
    {104, 'w', 0, nullptr},
    {105, 'w', 0, nullptr},
    {106, 'h', 0, nullptr},
    {107, 'h', 128, nullptr},
    {108, 'w', 0, nullptr},
    {109, 'w', 0, nullptr},
    {110, 'w', 0, nullptr},
    {111, 's', 0, "N"},
    {112, 'w', 0, nullptr},
    {113, 's', 0, "Y"},
    {114, 'h', 0, nullptr},
};

// Types below 115 that are refused.
const unsigned kRefusedTypes[] = {3, 4, 5, 10, 76};

class InfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = std::make_unique<Connection>();
    conn_->socket = kInvalidSocket;
    strcpy(conn_->dsn, "Orders");
    strcpy(conn_->server, "q4host.local");
    strcpy(conn_->current_qualifier, "SALESDB");
    strcpy(conn_->account, "SALES");
    strcpy(conn_->not_null_constraint, "Yes");
    conn_->server_version = 700;
    conn_->server_flags = 2;
    memset(buffer_, kGuard, sizeof buffer_);
  }

  SQLRETURN info(unsigned type, SQLSMALLINT max = 200) {
    length_ = -7;
    return get_info(conn_.get(), static_cast<SQLUSMALLINT>(type), buffer_, max, &length_);
  }

  // Reads and empties the connection's slot: "" when nothing is pending.
  std::string take_state() {
    std::string state = conn_->sqlstate;
    if (!state.empty()) last_message_ = conn_->message;
    clear_diagnostic(conn_->sqlstate, conn_->message);
    return state;
  }

  bool untouched_from(size_t offset) const {
    for (size_t i = offset; i < sizeof buffer_; ++i)
      if (buffer_[i] != kGuard) return false;
    return true;
  }

  std::unique_ptr<Connection> conn_;
  unsigned char buffer_[256];
  SQLSMALLINT length_;
  std::string last_message_;
};

TEST_F(InfoTest, EveryTypeIsEitherAnsweredOrRefused) {
  std::set<unsigned> covered;
  for (const Expected& e : kAnswers) covered.insert(e.type);
  for (unsigned t : kRefusedTypes) covered.insert(t);
  EXPECT_EQ(covered.size(), 115u);
  EXPECT_EQ(*covered.rbegin(), 114u);
}

// Each answer has its kind's length, and writes exactly its bytes: 2 for a
// 16-bit answer, 4 for a 32-bit one, the text and a NUL for a string.
TEST_F(InfoTest, AnswersHaveTheirKindValueAndLength) {
  for (const Expected& e : kAnswers) {
    SCOPED_TRACE("type " + std::to_string(e.type));
    memset(buffer_, kGuard, sizeof buffer_);
    ASSERT_EQ(info(e.type), SQL_SUCCESS);
    EXPECT_EQ(take_state(), "");
    switch (e.kind) {
      case 'h': {
        SQLUSMALLINT v;
        memcpy(&v, buffer_, sizeof v);
        EXPECT_EQ(length_, 2);
        EXPECT_EQ(v, e.number);
        EXPECT_TRUE(untouched_from(2));
        break;
      }
      case 'w': {
        SQLUINTEGER v;
        memcpy(&v, buffer_, sizeof v);
        EXPECT_EQ(length_, 4);
        EXPECT_EQ(v, e.number);
        EXPECT_TRUE(untouched_from(4));
        break;
      }
      default: {
        size_t n = strlen(e.text);
        EXPECT_EQ(length_, static_cast<SQLSMALLINT>(n));
        if (n == 0) {
          EXPECT_TRUE(untouched_from(0)) << "an empty answer writes nothing";
        } else {
          EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_)), e.text);
          EXPECT_TRUE(untouched_from(n + 1));
        }
      }
    }
  }
}

TEST_F(InfoTest, RefusedTypesFailWithInvalidArgumentOrNotCapable) {
  struct Case {
    unsigned type;
    const char* state;
    const char* text;
  };
  const Case cases[] = {
      {3, "HY096", "Invalid argument value"},   {4, "HY096", "Invalid argument value"},
      {5, "HY096", "Invalid argument value"},   {10, "HY096", "Invalid argument value"},
      {76, "HY096", "Invalid argument value"},  {115, "HY096", "Invalid argument value"},
      {999, "HY096", "Invalid argument value"}, {1000, "S1C00", "Driver not capable"},
      {1001, "S1C00", "Driver not capable"},    {65535, "S1C00", "Driver not capable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    EXPECT_EQ(info(c.type), SQL_ERROR);
    EXPECT_EQ(take_state(), c.state);
    EXPECT_EQ(last_message_, kPrefix + c.text);
    EXPECT_EQ(length_, -7) << "a refused type reports no length";
    EXPECT_TRUE(untouched_from(0));
  }
}

// A null buffer with a non-zero length is refused before the type is looked at.
TEST_F(InfoTest, NullBufferWithNonZeroLengthIsGeneralError) {
  for (unsigned type : {17u, 8u, 10u}) {
    SCOPED_TRACE("type " + std::to_string(type));
    EXPECT_EQ(get_info(conn_.get(), static_cast<SQLUSMALLINT>(type), nullptr, 5, &length_),
              SQL_ERROR);
    EXPECT_EQ(take_state(), "S1000");
    EXPECT_EQ(last_message_, kPrefix + "General Error");
  }
}

// A null buffer with length 0 asks for the length: non-empty answers report
// their length with "01004"; empty ones succeed quietly.
TEST_F(InfoTest, NullBufferWithZeroLengthReportsTheLength) {
  struct Case {
    unsigned type;
    SQLSMALLINT length;
    SQLRETURN rc;
  };
  const Case cases[] = {
      {SQL_DBMS_NAME, 2, SQL_SUCCESS_WITH_INFO},
      {SQL_DRIVER_NAME, 12, SQL_SUCCESS_WITH_INFO},
      {SQL_ACTIVE_STATEMENTS, 2, SQL_SUCCESS_WITH_INFO},
      {SQL_FETCH_DIRECTION, 4, SQL_SUCCESS_WITH_INFO},
      {SQL_QUALIFIER_TERM, 0, SQL_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    length_ = -7;
    EXPECT_EQ(get_info(conn_.get(), static_cast<SQLUSMALLINT>(c.type), nullptr, 0, &length_), c.rc);
    EXPECT_EQ(length_, c.length);
    EXPECT_EQ(take_state(), c.rc == SQL_SUCCESS ? "" : "01004");
  }
}

// Buffer sizes from -2 to past the answer: at most max-1 characters and a NUL,
// nothing outside the buffer, the full length every time, and "01004" exactly
// when the text did not fit (a size of 0 or less writes nothing at all).
TEST_F(InfoTest, TruncationSweepOverBufferSizes) {
  const std::string name = "Q4ODBC32.DLL";
  for (int max = -2; max <= static_cast<int>(name.size()) + 2; ++max) {
    SCOPED_TRACE("max " + std::to_string(max));
    memset(buffer_, kGuard, sizeof buffer_);
    SQLRETURN rc = info(SQL_DRIVER_NAME, static_cast<SQLSMALLINT>(max));
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(name.size()));
    bool fits = max > static_cast<int>(name.size());
    EXPECT_EQ(rc, fits ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(take_state(), fits ? "" : "01004");
    if (max < 1) {
      EXPECT_TRUE(untouched_from(0));
      continue;
    }
    size_t copied = std::min(name.size(), static_cast<size_t>(max - 1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_)), name.substr(0, copied));
    EXPECT_TRUE(untouched_from(copied + 1));
  }
}

TEST_F(InfoTest, DriverNameInSixBytesIsFiveCharactersAndDataTruncated) {
  EXPECT_EQ(info(SQL_DRIVER_NAME, 6), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_)), "Q4ODB");
  EXPECT_EQ(length_, 12);
  EXPECT_EQ(take_state(), "01004");
  EXPECT_EQ(last_message_, kPrefix + "Data truncated");
}

// Numeric answers ignore the buffer length: 2 or 4 bytes are written even
// when the application passes a smaller length for them.
TEST_F(InfoTest, NumericAnswersIgnoreTheBufferLength) {
  EXPECT_EQ(info(SQL_MAX_USER_NAME_LEN, 1), SQL_SUCCESS);
  SQLUSMALLINT v;
  memcpy(&v, buffer_, sizeof v);
  EXPECT_EQ(v, 128);
  EXPECT_EQ(take_state(), "");
}

// Settings that are empty give the empty answer: success, length 0, the
// buffer untouched.
TEST_F(InfoTest, EmptySettingsLeaveTheBufferUntouched) {
  conn_->dsn[0] = conn_->server[0] = conn_->current_qualifier[0] = conn_->account[0] = '\0';
  for (unsigned type : {SQL_DATA_SOURCE_NAME, SQL_SERVER_NAME, SQL_DATABASE_NAME, SQL_USER_NAME}) {
    SCOPED_TRACE("type " + std::to_string(type));
    EXPECT_EQ(info(type, 1), SQL_SUCCESS);
    EXPECT_EQ(length_, 0);
    EXPECT_TRUE(untouched_from(0));
    EXPECT_EQ(take_state(), "");
  }
}

// A setting that fills its whole field without a NUL must not be read past.
TEST_F(InfoTest, FullSettingFieldIsNotReadPastItsEnd) {
  memset(conn_->account, 'A', sizeof conn_->account);
  EXPECT_EQ(info(SQL_USER_NAME, 250), SQL_SUCCESS);
  EXPECT_EQ(length_, static_cast<SQLSMALLINT>(sizeof conn_->account));
  EXPECT_EQ(strlen(reinterpret_cast<char*>(buffer_)), sizeof conn_->account);
}

TEST_F(InfoTest, NonNullableColumnsFollowsTheNotNullConstraintSwitch) {
  struct Case {
    const char* setting;
    SQLUSMALLINT answer;
  };
  const Case cases[] = {{"Yes", SQL_NNC_NON_NULL},
                        {"Y", SQL_NNC_NON_NULL},
                        {"No", SQL_NNC_NULL},
                        {"", SQL_NNC_NULL},
                        {"1", SQL_NNC_NULL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("setting '") + c.setting + "'");
    strcpy(conn_->not_null_constraint, c.setting);
    ASSERT_EQ(info(SQL_NON_NULLABLE_COLUMNS), SQL_SUCCESS);
    SQLUSMALLINT v;
    memcpy(&v, buffer_, sizeof v);
    EXPECT_EQ(v, c.answer);
  }
}

// Servers below level 710, or without the information capability, are not
// asked: the connection has no socket here, so a request would fail with
// "08S01" instead of answering 0.
TEST_F(InfoTest, ServerMasksAreZeroWithoutAskingOldOrIncapableServers) {
  struct Case {
    uint32_t version;
    uint32_t flags;
  };
  const Case cases[] = {{700, 2}, {0, 2}, {710, 0}, {754, 1}, {720, 0xFD}};
  const unsigned types[] = {SQL_NUMERIC_FUNCTIONS, SQL_STRING_FUNCTIONS, SQL_TIMEDATE_FUNCTIONS,
                            SQL_CONVERT_BIGINT, SQL_CONVERT_LONGVARBINARY};
  for (const Case& c : cases) {
    conn_->server_version = c.version;
    conn_->server_flags = c.flags;
    for (unsigned type : types) {
      SCOPED_TRACE("version " + std::to_string(c.version) + " flags " + std::to_string(c.flags) +
                   " type " + std::to_string(type));
      memset(buffer_, kGuard, sizeof buffer_);
      ASSERT_EQ(info(type), SQL_SUCCESS);
      SQLUINTEGER v;
      memcpy(&v, buffer_, sizeof v);
      EXPECT_EQ(v, 0u);
      EXPECT_EQ(length_, 4);
      EXPECT_EQ(take_state(), "");
    }
  }
}

TEST_F(InfoTest, SuccessfulAnswerKeepsAPendingDiagnostic) {
  post_connection_error(conn_.get(), "earlier", "01S02");
  ASSERT_EQ(info(SQL_DBMS_NAME), SQL_SUCCESS);
  EXPECT_EQ(take_state(), "01S02");
}

TEST_F(InfoTest, NullLengthPointerIsAllowed) {
  EXPECT_EQ(get_info(conn_.get(), SQL_DBMS_NAME, buffer_, 10, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer_), "Q4");
}

TEST(InfoExports, NullConnectionHandleIsInvalidHandle) {
  SQLUSMALLINT exists = 7;
  char buffer[10];
  EXPECT_EQ(SQLGetInfo(SQL_NULL_HDBC, SQL_DBMS_NAME, buffer, sizeof buffer, nullptr),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetFunctions(SQL_NULL_HDBC, SQL_API_SQLFETCH, &exists), SQL_INVALID_HANDLE);
  EXPECT_EQ(exists, 7);
}

}  // namespace
}  // namespace q4
