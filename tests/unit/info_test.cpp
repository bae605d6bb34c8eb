// SQLGetInfo and SQLGetFunctions without a server: every answer of the
// information table, buffer and length rules, the function table and its
// agreement with the library's exports.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "core/diagnostics.h"
#include "metadata/driver_info.h"

namespace q4 {
namespace {

const std::string kPrefix = "[Halvex Software][ODBC Q4 Driver]";
constexpr unsigned char kGuard = 0xA5;

// The answers of InfoTest's connection (level 700, so the server bit masks
// are 0 without asking), numbers written out so that a wrong constant in
// the driver shows. 'h' 16-bit, 'w' 32-bit.
struct Number {
  unsigned type;
  char kind;
  uint32_t value;
};
// clang-format off
const Number kNumbers[] = {
    {0, 'h', 0}, {1, 'h', 32767}, {8, 'w', 191}, {9, 'h', 2}, {12, 'h', 0}, {15, 'h', 1},
    {22, 'h', 1}, {23, 'h', 0}, {24, 'h', 0}, {26, 'w', 2}, {28, 'h', 4}, {30, 'h', 50},
    {31, 'h', 18}, {32, 'h', 0}, {33, 'h', 0}, {34, 'h', 0}, {35, 'h', 0}, {43, 'w', 3},
    {44, 'w', 17}, {46, 'h', 3}, {48, 'w', 1}, {72, 'w', 15}, {74, 'h', 2}, {75, 'h', 1},
    {78, 'w', 0}, {79, 'w', 0}, {80, 'w', 0}, {81, 'w', 11}, {82, 'w', 80}, {83, 'w', 0},
    {84, 'h', 0}, {85, 'h', 1}, {86, 'w', 3}, {88, 'h', 2}, {91, 'w', 13}, {92, 'w', 0},
    {93, 'h', 4}, {95, 'w', 7}, {96, 'w', 1}, {97, 'h', 0}, {98, 'h', 0}, {99, 'h', 0},
    {100, 'h', 0}, {101, 'h', 0}, {102, 'w', 0}, {104, 'w', 0}, {105, 'w', 0}, {106, 'h', 0},
    {107, 'h', 128}, {108, 'w', 0}, {109, 'w', 0}, {110, 'w', 0}, {112, 'w', 0}, {114, 'h', 0}};
const std::pair<unsigned, const char*> kTexts[] = {
    {2, "Orders"}, {6, "Q4ODBC32.DLL"}, {7, "2.0.37"}, {11, "N"}, {13, "q4host.local"},
    {14, "\\"}, {16, "SALESDB"}, {17, "Q4"}, {18, "7.1.0"}, {19, "Y"}, {20, "N"}, {21, "N"},
    {25, "N"}, {27, "Y"}, {29, " "}, {36, "N"}, {37, "Y"}, {38, "N"}, {39, "account"},
    {40, "procedure"}, {41, ""}, {42, ""}, {45, "file"}, {47, "SALES"}, {73, "N"}, {77, "02.50"},
    {87, "Y"}, {89, "ACTION, CURRENT_USER, DEFAULT, INT, LEADING, NATURAL, NO, READ, REAL, "
                "REFERENCES, RELATIVE, SESSION_USER, SYSTEM_USER, TRIM, WRITE, ZONE"},
    {90, "N"}, {94, ""}, {103, "N"}, {111, "N"}, {113, "Y"}};
// clang-format on
constexpr unsigned kFirstZeroMask = 49, kLastZeroMask = 71;  // 32-bit server masks: 0
const unsigned kRefusedTypes[] = {3, 4, 5, 10, 76};

class InfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_.socket = kInvalidSocket;
    strcpy(conn_.dsn, "Orders");
    strcpy(conn_.server, "q4host.local");
    strcpy(conn_.current_qualifier, "SALESDB");
    strcpy(conn_.account, "SALES");
    strcpy(conn_.not_null_constraint, "Yes");
    conn_.server_version = 700;
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

// Every type below 115 is answered or refused. A number is written whole
// (2 or 4 bytes) whatever the buffer length; a text with its NUL, an empty
// text not at all.
TEST_F(InfoTest, EveryAnswerHasItsValueAndLength) {
  std::vector<Number> numbers(std::begin(kNumbers), std::end(kNumbers));
  for (unsigned t = kFirstZeroMask; t <= kLastZeroMask; ++t) numbers.push_back({t, 'w', 0});
  std::set<unsigned> covered(std::begin(kRefusedTypes), std::end(kRefusedTypes));
  for (const Number& n : numbers) {
    SCOPED_TRACE("type " + std::to_string(n.type));
    covered.insert(n.type);
    ASSERT_EQ(info(n.type, 1), SQL_SUCCESS);
    EXPECT_EQ(take_state(), "");
    size_t size = n.kind == 'h' ? 2 : 4;
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(size));
    EXPECT_EQ(number(n.kind), n.value);
    EXPECT_TRUE(untouched_from(size));
  }
  for (const auto& [type, expected] : kTexts) {
    SCOPED_TRACE("type " + std::to_string(type));
    covered.insert(type);
    ASSERT_EQ(info(type), SQL_SUCCESS);
    EXPECT_EQ(take_state(), "");
    size_t size = strlen(expected);
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(size));
    if (size > 0) {
      EXPECT_EQ(text(), expected);
    }
    EXPECT_TRUE(untouched_from(size == 0 ? 0 : size + 1));
  }
  EXPECT_EQ(covered.size(), 115u);
  EXPECT_EQ(*covered.rbegin(), 114u);
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
      {4, 200, false, "HY096", "Invalid argument value"},
      {5, 200, false, "HY096", "Invalid argument value"},
      {10, 200, false, "HY096", "Invalid argument value"},
      {76, 200, false, "HY096", "Invalid argument value"},
      {115, 200, false, "HY096", "Invalid argument value"},
      {999, 200, false, "HY096", "Invalid argument value"},
      {1000, 200, false, "S1C00", "Driver not capable"},
      {65535, 200, false, "S1C00", "Driver not capable"},
      // A null buffer with a length is refused before the type is looked at.
      {17, 5, true, "S1000", "General Error"}, {8, 5, true, "S1000", "General Error"},
      {10, 5, true, "S1000", "General Error"}};
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
// something to answer.
TEST_F(InfoTest, NullBufferWithZeroLengthReportsTheLength) {
  // clang-format off
  const std::pair<unsigned, SQLSMALLINT> cases[] = {{SQL_DBMS_NAME, 2}, {SQL_DRIVER_NAME, 12},
      {SQL_ACTIVE_STATEMENTS, 2}, {SQL_FETCH_DIRECTION, 4}, {SQL_QUALIFIER_TERM, 0}};
  // clang-format on
  for (const auto& [type, length] : cases) {
    EXPECT_EQ(info(type, 0, true), length > 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS) << type;
    EXPECT_EQ(length_, length);
    EXPECT_EQ(take_state(), length > 0 ? "01004" : "");
  }
}

// Buffer sizes from -2 to past the answer: at most max-1 characters and a
// NUL, the full length every time, "01004" exactly when the text did not fit.
TEST_F(InfoTest, TruncationSweepOverBufferSizes) {
  const std::string name = "Q4ODBC32.DLL";
  for (int max = -2; max <= static_cast<int>(name.size()) + 2; ++max) {
    SCOPED_TRACE("max " + std::to_string(max));
    bool fits = max > static_cast<int>(name.size());
    EXPECT_EQ(info(SQL_DRIVER_NAME, static_cast<SQLSMALLINT>(max)),
              fits ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length_, static_cast<SQLSMALLINT>(name.size()));
    EXPECT_EQ(take_state(), fits ? "" : "01004");
    if (!fits) {
      EXPECT_EQ(message_, kPrefix + "Data truncated");
    }
    size_t copied = max < 1 ? 0 : std::min(name.size(), static_cast<size_t>(max - 1));
    if (max >= 1) {
      EXPECT_EQ(text(), name.substr(0, copied));
    }
    EXPECT_TRUE(untouched_from(max < 1 ? 0 : copied + 1));
  }
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
  for (const auto& [setting, answer] : {std::pair{"Yes", SQL_NNC_NON_NULL},
                                        {"Y", SQL_NNC_NON_NULL},
                                        {"No", SQL_NNC_NULL},
                                        {"", SQL_NNC_NULL},
                                        {"1", SQL_NNC_NULL}}) {
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

TEST(InfoExports, NullConnectionHandleIsInvalidHandle) {
  SQLUSMALLINT exists = 7;
  char buffer[10];
  EXPECT_EQ(SQLGetInfo(SQL_NULL_HDBC, SQL_DBMS_NAME, buffer, sizeof buffer, nullptr),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(SQLGetFunctions(SQL_NULL_HDBC, SQL_API_SQLFETCH, &exists), SQL_INVALID_HANDLE);
  EXPECT_EQ(exists, 7);
}

// Function numbers reported as not implemented, and those older servers
// (below level 710) cannot serve: cursor names, SQLNativeSql, SQLPrimaryKeys.
const std::set<int> kNotImplemented = {0,  22, 55, 56, 58, 60, 64, 66, 67, 68, 70, 73, 74,
                                       75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87,
                                       88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99};
const std::set<int> kNeedLevel710 = {17, 21, 62, 65};

SQLUSMALLINT function_exists(uint32_t version, int function) {
  Connection conn{};
  conn.server_version = version;
  SQLUSMALLINT out[2] = {77, 77};
  EXPECT_EQ(get_functions(&conn, static_cast<SQLUSMALLINT>(function), out), SQL_SUCCESS);
  EXPECT_EQ(out[1], 77) << "only one value may be written";
  return out[0];
}

TEST(GetFunctions, EachNumberAtEachLevel) {
  for (uint32_t version : {0u, 700u, 709u, 710u, 720u, 754u}) {
    for (int f = 1; f < 100; ++f) {
      bool expected = !kNotImplemented.count(f) && (version >= 710 || !kNeedLevel710.count(f));
      EXPECT_EQ(function_exists(version, f), expected ? SQL_TRUE : SQL_FALSE)
          << "version " << version << " function " << f;
    }
  }
  for (int f : {100, 199, SQL_API_ODBC3_ALL_FUNCTIONS, SQL_API_SQLALLOCHANDLE, 65535}) {
    EXPECT_EQ(function_exists(754, f), SQL_FALSE) << f;
  }
}

// The array form fills entries 1..99 with the single answers, leaves entry 0
// alone and writes nothing beyond the 100 entries.
TEST(GetFunctions, AllFunctionsArrayMatchesSingleAnswers) {
  for (uint32_t version : {700u, 710u}) {
    Connection conn{};
    conn.server_version = version;
    SQLUSMALLINT all[101];
    std::fill(std::begin(all), std::end(all), 77);
    EXPECT_EQ(get_functions(&conn, SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
    EXPECT_EQ(all[0], 77);
    EXPECT_EQ(all[100], 77);
    for (int f = 1; f < 100; ++f) EXPECT_EQ(all[f], function_exists(version, f)) << f;
  }
}

// The ODBC 2.x names (upper case) and numbers.
#define Q4_FUNCTION(name) \
  { #name, SQL_API_##name }
// clang-format off
const std::map<std::string, int> kFunctionNumbers = {
    Q4_FUNCTION(SQLALLOCCONNECT), Q4_FUNCTION(SQLALLOCENV), Q4_FUNCTION(SQLALLOCSTMT),
    Q4_FUNCTION(SQLBINDCOL), Q4_FUNCTION(SQLCANCEL), Q4_FUNCTION(SQLCOLATTRIBUTES),
    Q4_FUNCTION(SQLCONNECT), Q4_FUNCTION(SQLDESCRIBECOL), Q4_FUNCTION(SQLDISCONNECT),
    Q4_FUNCTION(SQLERROR), Q4_FUNCTION(SQLEXECDIRECT), Q4_FUNCTION(SQLEXECUTE),
    Q4_FUNCTION(SQLFETCH), Q4_FUNCTION(SQLFREECONNECT), Q4_FUNCTION(SQLFREEENV),
    Q4_FUNCTION(SQLFREESTMT), Q4_FUNCTION(SQLGETCURSORNAME), Q4_FUNCTION(SQLNUMRESULTCOLS),
    Q4_FUNCTION(SQLPREPARE), Q4_FUNCTION(SQLROWCOUNT), Q4_FUNCTION(SQLSETCURSORNAME),
    Q4_FUNCTION(SQLSETPARAM), Q4_FUNCTION(SQLTRANSACT), Q4_FUNCTION(SQLCOLUMNS),
    Q4_FUNCTION(SQLDRIVERCONNECT), Q4_FUNCTION(SQLGETCONNECTOPTION), Q4_FUNCTION(SQLGETDATA),
    Q4_FUNCTION(SQLGETFUNCTIONS), Q4_FUNCTION(SQLGETINFO), Q4_FUNCTION(SQLGETSTMTOPTION),
    Q4_FUNCTION(SQLGETTYPEINFO), Q4_FUNCTION(SQLPARAMDATA), Q4_FUNCTION(SQLPUTDATA),
    Q4_FUNCTION(SQLSETCONNECTOPTION), Q4_FUNCTION(SQLSETSTMTOPTION),
    Q4_FUNCTION(SQLSPECIALCOLUMNS), Q4_FUNCTION(SQLSTATISTICS), Q4_FUNCTION(SQLTABLES),
    Q4_FUNCTION(SQLBROWSECONNECT), Q4_FUNCTION(SQLCOLUMNPRIVILEGES), Q4_FUNCTION(SQLDATASOURCES),
    Q4_FUNCTION(SQLDESCRIBEPARAM), Q4_FUNCTION(SQLEXTENDEDFETCH), Q4_FUNCTION(SQLFOREIGNKEYS),
    Q4_FUNCTION(SQLMORERESULTS), Q4_FUNCTION(SQLNATIVESQL), Q4_FUNCTION(SQLNUMPARAMS),
    Q4_FUNCTION(SQLPARAMOPTIONS), Q4_FUNCTION(SQLPRIMARYKEYS), Q4_FUNCTION(SQLPROCEDURECOLUMNS),
    Q4_FUNCTION(SQLPROCEDURES), Q4_FUNCTION(SQLSETPOS), Q4_FUNCTION(SQLSETSCROLLOPTIONS),
    Q4_FUNCTION(SQLTABLEPRIVILEGES), Q4_FUNCTION(SQLDRIVERS), Q4_FUNCTION(SQLBINDPARAMETER)};
// clang-format on
#undef Q4_FUNCTION

// Every word of driver/exports.map that begins with "SQL", in upper case.
std::set<std::string> exported_odbc_functions() {
  const char* source_dir = std::getenv("Q4_SOURCE_DIR");
  std::string root = source_dir != nullptr ? source_dir : __FILE__;
  if (source_dir == nullptr) root = root.substr(0, root.rfind("/tests/unit/"));
  std::ifstream file(root + "/driver/exports.map");
  EXPECT_TRUE(file.good()) << "cannot read " << root << "/driver/exports.map";
  std::stringstream text;
  text << file.rdbuf();
  std::string content = text.str();
  std::set<std::string> names;
  for (size_t at = content.find("SQL"); at != std::string::npos; at = content.find("SQL", at)) {
    size_t end = at + 3;
    while (end < content.size() && isalpha(static_cast<unsigned char>(content[end]))) ++end;
    std::string word = content.substr(at, end - at);
    for (char& c : word) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if ((at == 0 || !isalnum(static_cast<unsigned char>(content[at - 1]))) && end > at + 3) {
      names.insert(word);
    }
    at = end;
  }
  return names;
}

// Every announced function is exported (but the two the Driver Manager
// answers itself), and the exported ones not announced are exactly those
// exported only so that applications find an entry point.
TEST(GetFunctions, AnnouncedAndExportedFunctionsAgree) {
  std::set<std::string> exported = exported_odbc_functions();
  ASSERT_FALSE(exported.empty());
  for (const auto& [name, number] : kFunctionNumbers) {
    bool announced = function_exists(754, number) == SQL_TRUE;
    if (announced && name != "SQLDATASOURCES" && name != "SQLDRIVERS") {
      EXPECT_TRUE(exported.count(name)) << name << " is announced but not exported";
    }
  }
  std::set<std::string> unannounced;
  for (const std::string& name : exported) {
    auto found = kFunctionNumbers.find(name);
    if (found == kFunctionNumbers.end()) {
      ADD_FAILURE() << name << " is exported but is no ODBC 2.x function";
    } else if (function_exists(754, found->second) != SQL_TRUE) {
      unannounced.insert(name);
    }
  }
  EXPECT_EQ(unannounced,
            (std::set<std::string>{"SQLSETPARAM", "SQLBROWSECONNECT", "SQLCOLUMNPRIVILEGES",
                                   "SQLDESCRIBEPARAM", "SQLFOREIGNKEYS", "SQLPARAMOPTIONS",
                                   "SQLPROCEDURECOLUMNS", "SQLPROCEDURES", "SQLSETPOS",
                                   "SQLTABLEPRIVILEGES"}));
}

}  // namespace
}  // namespace q4
