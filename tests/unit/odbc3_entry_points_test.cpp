// The ODBC 3 entry points without a server: statement attributes, allocation,
// what SQLGetFunctions tells such a caller (SQLGetInfo: info_test.cpp), and how
// its refusals are read. (The date and time codes an ODBC 3 caller binds and
// reads: odbc3/versions_test.c and e2e/datetime_test.cpp.)

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "metadata/driver_info.h"
#include "statement_fixture.h"

namespace q4 {
namespace {

std::string hex(uint64_t value) {
  char text[17];
  snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

// A statement of an environment that SQLAllocHandle allocated.
class Odbc3Statement : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    env_->odbc3_caller = 1;
    stmt_ = new_statement();
  }
  // SQLGetStmtAttr's answer into a buffer of 0x5A bytes, as 16 hex digits, or
  // the outcome of a refusal (the diagnostic read and cleared).
  std::string get(SQLINTEGER attribute) {
    SQLULEN value = 0x5A5A5A5A5A5A5A5Aull;
    SQLRETURN rc = SQLGetStmtAttr(stmt_, attribute, &value, sizeof value, nullptr);
    return rc == SQL_SUCCESS ? hex(value) : take(rc);
  }
  std::string set(SQLINTEGER attribute, SQLULEN value) {
    return take(SQLSetStmtAttr(stmt_, attribute, reinterpret_cast<SQLPOINTER>(value), 0));
  }
  std::string take(SQLRETURN rc) { return taken(rc, stmt_); }

  Statement* stmt_ = nullptr;
};

struct AttributeCase {
  SQLINTEGER attribute;
  SQLULEN value;
  const char* set;  // SQLSetStmtAttr's outcome
  const char* get;  // SQLGetStmtAttr afterwards
};

const std::string kUnknown = "ERROR S1092 Invalid attribute/option identifier";

// On one statement, in turn: the 2.x options answer as SQLSetStmtOption and
// SQLGetStmtOption do (32-bit values), the array size is SQL_ROWSET_SIZE, the
// parameter array sizes are full-width, a refused value leaves the one before,
// and what unixODBC refused is still refused.
// clang-format off
const AttributeCase kAttributeCases[] = {
    {SQL_ATTR_ROW_ARRAY_SIZE, 10, "OK", "5a5a5a5a0000000a"},
    {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, "INFO 01S02 Value option changed", "5a5a5a5a00000003"},
    {SQL_ATTR_KEYSET_SIZE, 5, "ERROR S1C00 Driver not capable", "ERROR S1C00 Driver not capable"},
    {SQL_ATTR_ROW_NUMBER, 1, "ERROR S1000 Bad option", "5a5a5a5a00000000"},
    {20000, 1, "ERROR S1000 Bad option", "ERROR S1092 Bad Option"},
    {SQL_ATTR_PARAMSET_SIZE, 1000, "OK", "00000000000003e8"},
    {SQL_ATTR_APP_PARAM_DESC, 8, "ERROR S1009 Invalid attribute value", "OK"},
    {SQL_ATTR_CURSOR_SCROLLABLE, 1, kUnknown.c_str(), kUnknown.c_str()},
};
// clang-format on

TEST_F(Odbc3Statement, AttributesAnswerAsUnixOdbcMappedThemForTheOdbc2Driver) {
  for (const AttributeCase& c : kAttributeCases) {
    SCOPED_TRACE("attribute " + std::to_string(c.attribute) + " = " + std::to_string(c.value));
    EXPECT_EQ(set(c.attribute, c.value), c.set);
    // A descriptor handle differs from run to run: that one was answered is
    // what counts here.
    bool handle = c.attribute >= SQL_ATTR_APP_ROW_DESC && c.attribute <= SQL_ATTR_IMP_PARAM_DESC;
    EXPECT_EQ(
        handle ? (get(c.attribute).rfind("ERROR", 0) == 0 ? "ERROR" : "OK") : get(c.attribute),
        c.get);
  }
}

// The ODBC 3 function numbers, to match the export list against the bitmap.
// clang-format off
const std::map<std::string, SQLUSMALLINT> kOdbc3Functions = {
    {"SQLAllocHandle", SQL_API_SQLALLOCHANDLE}, {"SQLBindParam", SQL_API_SQLBINDPARAM},
    {"SQLBulkOperations", SQL_API_SQLBULKOPERATIONS}, {"SQLCloseCursor", SQL_API_SQLCLOSECURSOR},
    {"SQLCopyDesc", SQL_API_SQLCOPYDESC}, {"SQLEndTran", SQL_API_SQLENDTRAN},
    {"SQLFetchScroll", SQL_API_SQLFETCHSCROLL}, {"SQLFreeHandle", SQL_API_SQLFREEHANDLE},
    {"SQLGetConnectAttr", SQL_API_SQLGETCONNECTATTR}, {"SQLGetDescField", SQL_API_SQLGETDESCFIELD},
    {"SQLGetDescRec", SQL_API_SQLGETDESCREC}, {"SQLGetDiagField", SQL_API_SQLGETDIAGFIELD},
    {"SQLGetDiagRec", SQL_API_SQLGETDIAGREC}, {"SQLGetEnvAttr", SQL_API_SQLGETENVATTR},
    {"SQLGetStmtAttr", SQL_API_SQLGETSTMTATTR}, {"SQLSetConnectAttr", SQL_API_SQLSETCONNECTATTR},
    {"SQLSetDescField", SQL_API_SQLSETDESCFIELD}, {"SQLSetDescRec", SQL_API_SQLSETDESCREC},
    {"SQLSetEnvAttr", SQL_API_SQLSETENVATTR}, {"SQLSetStmtAttr", SQL_API_SQLSETSTMTATTR}};
// clang-format on

// The names in the linker's export list ("SQLFoo;" words).
std::set<std::string> exported_names() {
  const char* source = getenv("Q4_SOURCE_DIR");
  std::ifstream map(std::string(source != nullptr ? source : ".") + "/driver/exports.map");
  std::set<std::string> names;
  for (std::string word; map >> word;) {
    if (word.rfind("SQL", 0) == 0) names.insert(word.substr(0, word.find(';')));
  }
  return names;
}

// unixODBC stops calling an exported function the ODBC 3 bitmap leaves out,
// so the bitmap names exactly the exported ODBC 3 functions, besides the 2.x
// answers; a 2.x caller gets the 2.x answers only.
TEST_F(Odbc3Statement, FunctionBitmapAgreesWithTheExportList) {
  const std::set<std::string> exported = exported_names();
  ASSERT_TRUE(exported.count("SQLAllocHandle")) << "export list not found";
  SQLUSMALLINT bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE];
  ASSERT_EQ(SQLGetFunctions(conn_, SQL_API_ODBC3_ALL_FUNCTIONS, bitmap), SQL_SUCCESS);
  for (const auto& [name, number] : kOdbc3Functions) {
    EXPECT_EQ(SQL_FUNC_EXISTS(bitmap, number) == SQL_TRUE, exported.count(name) == 1) << name;
    SQLUSMALLINT one = 9;
    ASSERT_EQ(SQLGetFunctions(conn_, number, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_FUNC_EXISTS(bitmap, number)) << name << " asked alone";
  }
  SQLUSMALLINT all[kFunctionTableSize] = {};
  ASSERT_EQ(SQLGetFunctions(conn_, SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
  for (SQLUSMALLINT f = 1; f < kFunctionTableSize; ++f) {
    if (f == SQL_API_SQLBULKOPERATIONS) continue;
    EXPECT_EQ(SQL_FUNC_EXISTS(bitmap, f), all[f]) << f;
  }

  env_->odbc3_caller = 0;
  SQLUSMALLINT two[2] = {77, 77};
  ASSERT_EQ(SQLGetFunctions(conn_, SQL_API_ODBC3_ALL_FUNCTIONS, two), SQL_SUCCESS);
  EXPECT_EQ(two[0], SQL_FALSE) << "one answer, for an unknown number";
  EXPECT_EQ(two[1], 77);
  ASSERT_EQ(SQLGetFunctions(conn_, SQL_API_SQLFETCHSCROLL, two), SQL_SUCCESS);
  EXPECT_EQ(two[0], SQL_FALSE);
  // The parameter calls are announced at every level, SQLGetCursorName from level 710 only,
  // SQLSetPos never.
  EXPECT_EQ(all[SQL_API_SQLBINDPARAMETER] + all[SQL_API_SQLDESCRIBEPARAM] +
                all[SQL_API_SQLPARAMOPTIONS] + all[SQL_API_SQLGETCURSORNAME],
            4);
  EXPECT_EQ(all[SQL_API_SQLSETPOS], 0);
  conn_->server_version = 709;
  ASSERT_EQ(get_functions(conn_, SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
  EXPECT_EQ(all[SQL_API_SQLDESCRIBEPARAM] + all[SQL_API_SQLGETCURSORNAME], 1);
  ASSERT_EQ(SQLGetFunctions(conn_, SQL_API_SQLGETCURSORNAME, two), SQL_SUCCESS);
  EXPECT_EQ(two[0], 0);
  EXPECT_EQ(two[1], 77) << "only one value may be written";
}

}  // namespace
}  // namespace q4
