// ODBC entry points: the wide (UTF-16) forms of the calls that carry
// statement text, and why every wide entry point is the driver's own.
//
// Measured with unixODBC 2.3.11 and its trace: for a driver without wide
// entry points the Driver Manager converts SQLExecDirectW and SQLPrepareW
// itself, with iconv from UCS-2 to the application's locale codeset; a
// character outside the Basic Multilingual Plane (a surrogate pair) makes
// iconv fail, and the Driver Manager then keeps the low byte of every unit,
// so 'Zoë 東京 😀' arrived as bytes 5A 6F EB 20 71 AC 20 3D 00 and the server
// refused the text. The same happens to any non-ASCII text when the locale is
// not UTF-8. With these two exported, the Driver Manager hands the UTF-16 text
// over unchanged and the driver converts it to UTF-8 itself. Lengths are in
// characters (2-byte units) or SQL_NTS.
//
// The same conversion, made by the Driver Manager for the other wide calls,
// went wrong in more places (unixODBC 2.3.11, pyodbc with default settings):
// SQLDescribeColW reported a name's length in UTF-8 bytes, so pyodbc read
// 'prénom\0' and '名前\0nom' for the column names "prénom" and "名前", and a
// surrogate pair came back as its UTF-8 bytes taken for Latin-1 ('xð\x9f\x98\x80'
// for "x😀"); cut answers (SQLDescribeColW, SQLGetInfoW, SQLDriverConnectW,
// SQLGetCursorNameW, SQLNativeSqlW) reported byte counts or the room instead
// of their full length in characters. So the wide entry points are the
// driver's own (api_wide_*.cpp): UTF-16 at the edge, the narrow work inside,
// one conversion per argument shape (core/wide_arguments.h).
//
// Connecting too (api_wide_connect.cpp): data source names, users and
// passwords are where non-ASCII text first meets the driver. iODBC takes a
// library that exports SQLConnectW for a Unicode driver and then sends every
// call of every application to the wide functions, narrow ones through its
// own lossy conversion; that is why the same objects also ship as an ANSI
// library without any wide entry point (driver/CMakeLists.txt).
//
// Values: for a driver it takes for an ODBC 2.x one, the Driver Manager turns
// SQLGetData(SQL_C_WCHAR) into SQLGetData(SQL_C_CHAR) with half the buffer,
// converts the bytes with the same iconv and reports twice the byte count as
// the length, whatever the driver does. This driver exports SQLAllocHandle,
// so the Driver Manager takes it for an ODBC 3.x one and passes the call on
// (core/odbc_version.h). SQLBindCol, SQLGetData and SQLBindParameter then
// bring SQL_C_WCHAR to the driver, which converts at the edge
// (results/copy_out.h, statement/literal.cpp).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "api/statement_call.h"
#include "core/handles.h"
#include "core/wide_arguments.h"
#include "platform/export.h"
#include "results/result_set.h"
#include "statement/execute.h"

using namespace q4;

namespace {

template <typename Body>
SQLRETURN new_wide_text_call(SQLHSTMT hstmt, SQLWCHAR* text, SQLINTEGER length, Body&& body) {
  return new_text_call(hstmt, [&](Statement* stmt) {
    WideIn utf8(nullptr, stmt, text, length);
    if (utf8.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return body(stmt, utf8.chars(), int64_t{utf8.length()});
  });
}

}  // namespace

Q4_EXPORT SQLRETURN SQL_API SQLPrepareW(SQLHSTMT hstmt, SQLWCHAR* szSqlStr, SQLINTEGER cchSqlStr) {
  return new_wide_text_call(hstmt, szSqlStr, cchSqlStr,
                            [](Statement* stmt, const char* text, int64_t length) {
                              return prepare_statement(stmt, text, length);
                            });
}

Q4_EXPORT SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT hstmt, SQLWCHAR* szSqlStr,
                                           SQLINTEGER cchSqlStr) {
  return new_wide_text_call(hstmt, szSqlStr, cchSqlStr,
                            [](Statement* stmt, const char* text, int64_t length) {
                              return execute_direct(stmt, text, length);
                            });
}
