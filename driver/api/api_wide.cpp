// ODBC entry points: the wide (UTF-16) forms of the calls that carry
// statement text.
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
// Other wide calls are still converted by the Driver Manager, which is right
// for text of the Basic Multilingual Plane in a UTF-8 locale (names, messages
// and connection strings in practice). Values are another matter: for a
// driver it takes for an ODBC 2.x one, the Driver Manager turns
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
#include "core/memory.h"
#include "core/wide_text.h"
#include "platform/export.h"
#include "results/result_set.h"
#include "statement/execute.h"

using namespace q4;

namespace {

// The UTF-8 form of a wide text argument for the length of one call. A null
// text or a negative length other than SQL_NTS is passed on as it came, so
// that the narrow function reports it exactly as for a narrow call.
class Utf8Argument {
 public:
  Utf8Argument(Statement* stmt, const SQLWCHAR* text, SQLINTEGER length)
      : text_(reinterpret_cast<const char*>(text)), length_(length) {
    if (text == nullptr || (length < 0 && length != SQL_NTS)) return;
    int64_t units = length == SQL_NTS ? utf16_length(text) : length;
    owned_ = static_cast<char*>(drv_alloc(nullptr, stmt, static_cast<size_t>(3 * units + 1)));
    if (owned_ == nullptr) {
      failed_ = true;  // "S1001" posted
      return;
    }
    length_ = utf16_to_utf8(text, units, owned_, /*stop_at_nul=*/false);
    text_ = owned_;
  }
  ~Utf8Argument() { drv_free(owned_); }
  Utf8Argument(const Utf8Argument&) = delete;
  Utf8Argument& operator=(const Utf8Argument&) = delete;

  bool failed() const { return failed_; }
  const char* text() const { return text_; }
  int64_t length() const { return length_; }

 private:
  const char* text_;
  int64_t length_;
  char* owned_ = nullptr;
  bool failed_ = false;
};

template <typename Body>
SQLRETURN new_wide_text_call(SQLHSTMT hstmt, SQLWCHAR* text, SQLINTEGER length, Body&& body) {
  return new_text_call(hstmt, [&](Statement* stmt) {
    Utf8Argument utf8(stmt, text, length);
    if (utf8.failed()) return static_cast<SQLRETURN>(SQL_ERROR);
    return body(stmt, utf8.text(), utf8.length());
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
