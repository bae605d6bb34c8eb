#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "metadata/driver_info.h"

namespace q4 {
namespace {

// ODBC 2.x function numbers and names (24..39 name no function).
const std::map<int, std::string> kFunctionNames = {
    {SQL_API_SQLALLOCCONNECT, "SQLAllocConnect"},
    {SQL_API_SQLALLOCENV, "SQLAllocEnv"},
    {SQL_API_SQLALLOCSTMT, "SQLAllocStmt"},
    {SQL_API_SQLBINDCOL, "SQLBindCol"},
    {SQL_API_SQLCANCEL, "SQLCancel"},
    {SQL_API_SQLCOLATTRIBUTES, "SQLColAttributes"},
    {SQL_API_SQLCONNECT, "SQLConnect"},
    {SQL_API_SQLDESCRIBECOL, "SQLDescribeCol"},
    {SQL_API_SQLDISCONNECT, "SQLDisconnect"},
    {SQL_API_SQLERROR, "SQLError"},
    {SQL_API_SQLEXECDIRECT, "SQLExecDirect"},
    {SQL_API_SQLEXECUTE, "SQLExecute"},
    {SQL_API_SQLFETCH, "SQLFetch"},
    {SQL_API_SQLFREECONNECT, "SQLFreeConnect"},
    {SQL_API_SQLFREEENV, "SQLFreeEnv"},
    {SQL_API_SQLFREESTMT, "SQLFreeStmt"},
    {SQL_API_SQLGETCURSORNAME, "SQLGetCursorName"},
    {SQL_API_SQLNUMRESULTCOLS, "SQLNumResultCols"},
    {SQL_API_SQLPREPARE, "SQLPrepare"},
    {SQL_API_SQLROWCOUNT, "SQLRowCount"},
    {SQL_API_SQLSETCURSORNAME, "SQLSetCursorName"},
    {SQL_API_SQLSETPARAM, "SQLSetParam"},
    {SQL_API_SQLTRANSACT, "SQLTransact"},
    {SQL_API_SQLCOLUMNS, "SQLColumns"},
    {SQL_API_SQLDRIVERCONNECT, "SQLDriverConnect"},
    {SQL_API_SQLGETCONNECTOPTION, "SQLGetConnectOption"},
    {SQL_API_SQLGETDATA, "SQLGetData"},
    {SQL_API_SQLGETFUNCTIONS, "SQLGetFunctions"},
    {SQL_API_SQLGETINFO, "SQLGetInfo"},
    {SQL_API_SQLGETSTMTOPTION, "SQLGetStmtOption"},
    {SQL_API_SQLGETTYPEINFO, "SQLGetTypeInfo"},
    {SQL_API_SQLPARAMDATA, "SQLParamData"},
    {SQL_API_SQLPUTDATA, "SQLPutData"},
    {SQL_API_SQLSETCONNECTOPTION, "SQLSetConnectOption"},
    {SQL_API_SQLSETSTMTOPTION, "SQLSetStmtOption"},
    {SQL_API_SQLSPECIALCOLUMNS, "SQLSpecialColumns"},
    {SQL_API_SQLSTATISTICS, "SQLStatistics"},
    {SQL_API_SQLTABLES, "SQLTables"},
    {SQL_API_SQLBROWSECONNECT, "SQLBrowseConnect"},
    {SQL_API_SQLCOLUMNPRIVILEGES, "SQLColumnPrivileges"},
    {SQL_API_SQLDATASOURCES, "SQLDataSources"},
    {SQL_API_SQLDESCRIBEPARAM, "SQLDescribeParam"},
    {SQL_API_SQLEXTENDEDFETCH, "SQLExtendedFetch"},
    {SQL_API_SQLFOREIGNKEYS, "SQLForeignKeys"},
    {SQL_API_SQLMORERESULTS, "SQLMoreResults"},
    {SQL_API_SQLNATIVESQL, "SQLNativeSql"},
    {SQL_API_SQLNUMPARAMS, "SQLNumParams"},
    {SQL_API_SQLPARAMOPTIONS, "SQLParamOptions"},
    {SQL_API_SQLPRIMARYKEYS, "SQLPrimaryKeys"},
    {SQL_API_SQLPROCEDURECOLUMNS, "SQLProcedureColumns"},
    {SQL_API_SQLPROCEDURES, "SQLProcedures"},
    {SQL_API_SQLSETPOS, "SQLSetPos"},
    {SQL_API_SQLSETSCROLLOPTIONS, "SQLSetScrollOptions"},
    {SQL_API_SQLTABLEPRIVILEGES, "SQLTablePrivileges"},
    {SQL_API_SQLDRIVERS, "SQLDrivers"},
    {SQL_API_SQLBINDPARAMETER, "SQLBindParameter"},
};

// Numbers reported as not implemented on a current server.
const std::set<int> kNotImplemented = {0,  22, 55, 56, 58, 60, 64, 66, 67, 68, 70, 73, 74,
                                       75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87,
                                       88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99};
// Numbers that older servers cannot serve.
const std::set<int> kNeedLevel710 = {17, 21, 62, 65};

std::unique_ptr<Connection> connection_at(uint32_t version) {
  auto conn = std::make_unique<Connection>();
  conn->server_version = version;
  return conn;
}

SQLUSMALLINT one(const Connection* conn, int function) {
  SQLUSMALLINT exists = 77;
  EXPECT_EQ(get_functions(conn, static_cast<SQLUSMALLINT>(function), &exists), SQL_SUCCESS);
  return exists;
}

TEST(GetFunctions, EachNumberOnACurrentServer) {
  for (uint32_t version : {710u, 720u, 754u}) {
    auto conn = connection_at(version);
    for (int f = 1; f < 100; ++f) {
      SCOPED_TRACE("version " + std::to_string(version) + " function " + std::to_string(f));
      EXPECT_EQ(one(conn.get(), f), kNotImplemented.count(f) ? SQL_FALSE : SQL_TRUE);
    }
  }
}

// Below level 710 cursor names, SQLNativeSql and SQLPrimaryKeys are missing;
// nothing else changes.
TEST(GetFunctions, OldServersLackTheFourLevel710Functions) {
  for (uint32_t version : {0u, 700u, 709u}) {
    auto conn = connection_at(version);
    for (int f = 1; f < 100; ++f) {
      SCOPED_TRACE("version " + std::to_string(version) + " function " + std::to_string(f));
      bool expected = !kNotImplemented.count(f) && !kNeedLevel710.count(f);
      EXPECT_EQ(one(conn.get(), f), expected ? SQL_TRUE : SQL_FALSE);
    }
  }
}

TEST(GetFunctions, NumbersAboveTheTableAreFalseAndWriteOneValue) {
  auto conn = connection_at(754);
  for (int f : {100, 199, SQL_API_ODBC3_ALL_FUNCTIONS, SQL_API_SQLALLOCHANDLE, 65535}) {
    SCOPED_TRACE("function " + std::to_string(f));
    SQLUSMALLINT out[2] = {77, 77};
    EXPECT_EQ(get_functions(conn.get(), static_cast<SQLUSMALLINT>(f), out), SQL_SUCCESS);
    EXPECT_EQ(out[0], SQL_FALSE);
    EXPECT_EQ(out[1], 77) << "only one value may be written";
  }
}

// The array form fills entries 1..99 with the single answers, leaves entry 0
// alone and writes nothing beyond the 100 entries.
TEST(GetFunctions, AllFunctionsArrayMatchesSingleAnswers) {
  for (uint32_t version : {700u, 710u}) {
    SCOPED_TRACE("version " + std::to_string(version));
    auto conn = connection_at(version);
    SQLUSMALLINT all[101];
    for (auto& v : all) v = 77;
    EXPECT_EQ(get_functions(conn.get(), SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
    EXPECT_EQ(all[0], 77);
    EXPECT_EQ(all[100], 77);
    for (int f = 1; f < 100; ++f) EXPECT_EQ(all[f], one(conn.get(), f)) << "function " << f;
  }
}

std::set<std::string> exported_odbc_functions() {
  // The source tree comes from Q4_SOURCE_DIR, or else from this file's own
  // path (tests/unit/ below the top of the tree).
  std::string root;
  if (const char* source_dir = std::getenv("Q4_SOURCE_DIR")) {
    root = source_dir;
  } else {
    root = __FILE__;
    root = root.substr(0, root.rfind("/tests/unit/"));
  }
  std::string path = root + "/driver/exports.map";
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << "cannot read " << path;
  std::stringstream text;
  text << file.rdbuf();
  std::string content = text.str();
  std::set<std::string> names;
  // Every word of letters that begins with "SQL".
  for (size_t at = content.find("SQL"); at != std::string::npos; at = content.find("SQL", at)) {
    size_t end = at + 3;
    while (end < content.size() && isalpha(static_cast<unsigned char>(content[end]))) ++end;
    bool starts_word = at == 0 || !isalnum(static_cast<unsigned char>(content[at - 1]));
    if (starts_word && end > at + 3) names.insert(content.substr(at, end - at));
    at = end;
  }
  return names;
}

// Every function announced as implemented must be exported by the library,
// except the two the Driver Manager answers itself.
TEST(GetFunctions, EveryAnnouncedFunctionIsExported) {
  const std::set<std::string> driver_manager_own = {"SQLDataSources", "SQLDrivers"};
  std::set<std::string> exported = exported_odbc_functions();
  ASSERT_FALSE(exported.empty());
  auto conn = connection_at(754);
  for (const auto& [number, name] : kFunctionNames) {
    if (one(conn.get(), number) != SQL_TRUE || driver_manager_own.count(name)) continue;
    EXPECT_TRUE(exported.count(name)) << name << " is announced but not exported";
  }
}

// Every exported ODBC function has a number, and those reported missing are
// exactly the ones exported only so that applications find an entry point.
TEST(GetFunctions, ExportedButUnannouncedFunctionsAreTheKnownOnes) {
  const std::set<std::string> expected_unannounced = {
      "SQLSetParam",    "SQLBrowseConnect",  "SQLColumnPrivileges", "SQLDescribeParam",
      "SQLForeignKeys", "SQLParamOptions",   "SQLProcedureColumns", "SQLProcedures",
      "SQLSetPos",      "SQLTablePrivileges"};
  std::map<std::string, int> numbers;
  for (const auto& [number, name] : kFunctionNames) numbers[name] = number;
  auto conn = connection_at(754);
  std::set<std::string> unannounced;
  for (const std::string& name : exported_odbc_functions()) {
    auto it = numbers.find(name);
    if (it == numbers.end()) {
      ADD_FAILURE() << name << " is exported but is no ODBC 2.x function";
      continue;
    }
    if (one(conn.get(), it->second) != SQL_TRUE) unannounced.insert(name);
  }
  EXPECT_EQ(unannounced, expected_unannounced);
}

}  // namespace
}  // namespace q4
