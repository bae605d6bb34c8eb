// SQLGetFunctions: which ODBC 2.x functions the driver implements, by
// function number.
#include "metadata/driver_info.h"

#include "core/odbc_version.h"

namespace q4 {

namespace {

// Oldest server level on which cursor names, SQLNativeSql and SQLPrimaryKeys
// work; against older servers they fail, so they are reported as missing.
constexpr uint32_t kCursorFunctionsLevel = 710;

struct FunctionSpan {
  uint16_t first;
  uint16_t last;
  bool implemented;
};

// Every number 0..99 lies in exactly one span (checked below).
constexpr FunctionSpan kFunctionSpans[] = {
    {0, 0, false},    // SQL_API_ALL_FUNCTIONS is not a function
    {1, 21, true},    // core: SQLAllocConnect .. SQLSetCursorName
    {22, 22, false},  // SQLSetParam: exported for old applications, not announced
    {23, 39, true},   // SQLTransact, and 24..39 which name no ODBC 2.x function
    {40, 54, true},   // level 1: SQLColumns .. SQLTables
    {55, 55, false},  // SQLBrowseConnect
    {56, 56, false},  // SQLColumnPrivileges
    {57, 57, true},   // SQLDataSources (the Driver Manager's)
    {58, 58, true},   // SQLDescribeParam
    {59, 59, true},   // SQLExtendedFetch
    {60, 60, false},  // SQLForeignKeys
    {61, 63, true},   // SQLMoreResults, SQLNativeSql, SQLNumParams
    {64, 64, true},   // SQLParamOptions
    {65, 65, true},   // SQLPrimaryKeys
    {66, 68, false},  // SQLProcedureColumns, SQLProcedures, SQLSetPos
    {69, 69, true},   // SQLSetScrollOptions
    {70, 70, false},  // SQLTablePrivileges
    {71, 72, true},   // SQLDrivers (the Driver Manager's), SQLBindParameter
    {73, 99, false},  // beyond ODBC 2.x
};

// The ODBC 3 functions the driver exports (api/api_odbc3_*.cpp), announced
// to an ODBC 3 caller only: unixODBC asks an ODBC 3.x driver for the
// SQL_API_ODBC3_ALL_FUNCTIONS bitmap right after the connect and stops
// calling every exported function it leaves out.
constexpr SQLUSMALLINT kOdbc3Functions[] = {
    SQL_API_SQLALLOCHANDLE,
    SQL_API_SQLFREEHANDLE,
    SQL_API_SQLFETCHSCROLL,
    SQL_API_SQLSETSTMTATTR,
    SQL_API_SQLGETSTMTATTR,
    SQL_API_SQLGETENVATTR,
    SQL_API_SQLSETENVATTR,
    SQL_API_SQLGETDIAGFIELD,
    SQL_API_SQLGETDIAGREC,
    // Connection attributes, transactions, cursors (api/api_connection_attributes.cpp).
    SQL_API_SQLSETCONNECTATTR,
    SQL_API_SQLGETCONNECTATTR,
    SQL_API_SQLENDTRAN,
    SQL_API_SQLCLOSECURSOR,
    // Descriptors (api/api_descriptors.cpp).
    SQL_API_SQLCOPYDESC,
    SQL_API_SQLGETDESCFIELD,
    SQL_API_SQLGETDESCREC,
    SQL_API_SQLSETDESCFIELD,
    SQL_API_SQLSETDESCREC,
};

// The ODBC 3 numbers lie from 1001 up: one flag each from kOdbc3First,
// built at compile time like the 2.x table (unixODBC asks each number at
// every connect, where a walk of the list cost 11,000 instructions).
constexpr SQLUSMALLINT kOdbc3First = 1000;
constexpr int kOdbc3TableSize = 100;
struct Odbc3Flags {
  bool implemented[kOdbc3TableSize] = {};
  constexpr Odbc3Flags() {
    for (SQLUSMALLINT f : kOdbc3Functions) implemented[f - kOdbc3First] = true;
  }
};
constexpr bool odbc3_numbers_fit() {
  for (SQLUSMALLINT f : kOdbc3Functions) {
    if (f <= kOdbc3First || f >= kOdbc3First + kOdbc3TableSize) return false;
  }
  return true;
}
static_assert(odbc3_numbers_fit(), "the ODBC 3 function numbers must lie in 1001..1099");
constexpr Odbc3Flags kOdbc3Flags;

constexpr SQLUSMALLINT kNeedCursorFunctionsLevel[] = {SQL_API_SQLGETCURSORNAME,
                                                      SQL_API_SQLSETCURSORNAME,
                                                      SQL_API_SQLNATIVESQL, SQL_API_SQLPRIMARYKEYS};

constexpr bool spans_cover_table() {
  int next = 0;
  for (const FunctionSpan& span : kFunctionSpans) {
    if (span.first != next || span.last < span.first) return false;
    next = span.last + 1;
  }
  return next == kFunctionTableSize;
}
static_assert(spans_cover_table(), "the spans must cover 0..99 in order, without gaps");

// The spans as one flag per function number, built at compile time: unixODBC
// asks for every number at each connect.
struct FunctionFlags {
  bool implemented[kFunctionTableSize] = {};
  constexpr FunctionFlags() {
    for (const FunctionSpan& span : kFunctionSpans) {
      for (int f = span.first; f <= span.last; ++f) implemented[f] = span.implemented;
    }
  }
};
constexpr FunctionFlags kFunctionFlags;

bool in_table(SQLUSMALLINT function) {
  return function < kFunctionTableSize && kFunctionFlags.implemented[function];
}

SQLUSMALLINT implemented(SQLUSMALLINT function, bool old_server, bool odbc3) {
  if (odbc3) {
    if (function >= kOdbc3First && function < kOdbc3First + kOdbc3TableSize) {
      return kOdbc3Flags.implemented[function - kOdbc3First] ? SQL_TRUE : SQL_FALSE;
    }
    // The 2.x table counts 24 among the numbers that name no function; for an
    // ODBC 3 caller it is SQLBulkOperations, which the driver does not have.
    if (function == SQL_API_SQLBULKOPERATIONS) return SQL_FALSE;
  }
  if (old_server) {
    for (SQLUSMALLINT needs_level : kNeedCursorFunctionsLevel) {
      if (function == needs_level) return SQL_FALSE;
    }
  }
  return in_table(function) ? SQL_TRUE : SQL_FALSE;
}

}  // namespace

SQLRETURN get_functions(const Connection* conn, SQLUSMALLINT function, SQLUSMALLINT* exists) {
  // No output to write into: there is nothing to answer, and the function
  // has no failure to report.
  if (exists == nullptr) return SQL_SUCCESS;
  const bool old_server = conn->server_version < kCursorFunctionsLevel;
  const bool odbc3 = odbc3_caller(conn);
  if (function == SQL_API_ODBC3_ALL_FUNCTIONS && odbc3) {
    // One bit per function number, the 2.x ones and the ODBC 3 ones alike.
    for (int i = 0; i < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE; ++i) exists[i] = 0;
    for (SQLUSMALLINT f = 1; f < kFunctionTableSize; ++f) {
      if (implemented(f, old_server, true)) exists[f >> 4] |= 1u << (f & 0xF);
    }
    for (SQLUSMALLINT f : kOdbc3Functions) exists[f >> 4] |= 1u << (f & 0xF);
    return SQL_SUCCESS;
  }
  if (function != SQL_API_ALL_FUNCTIONS) {
    *exists = implemented(function, old_server, odbc3);
    return SQL_SUCCESS;
  }
  for (SQLUSMALLINT f = 1; f < kFunctionTableSize; ++f) {
    exists[f] = implemented(f, old_server, false);
  }
  return SQL_SUCCESS;
}

}  // namespace q4
