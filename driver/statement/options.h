// Connection and statement options.
//
// Statement options (codes 0 to 14) live in each statement and, as defaults
// for new statements, in the connection; setting one on the connection also
// copies the default into every existing statement of it. Access mode,
// autocommit and isolation travel to the server in the settings request.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/diag_texts.h"
#include "core/records.h"

namespace q4 {

// Largest SQL_LOGIN_TIMEOUT kept; larger values are replaced by it.
constexpr uint32_t kMaxLoginTimeout = 32767;

// The shared core of the statement options. Exactly one of `conn` and `stmt`
// is given: the value goes into the connection's default or into the
// statement. Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO with an "01S02"
// warning posted when the value was replaced or ignored, or SQL_ERROR.
SQLRETURN set_option(Connection* conn, Statement* stmt, SQLUSMALLINT option, uint32_t value);

// Posts `diag` on `conn` when given, else on `stmt`; returns SQL_ERROR.
SQLRETURN post_option_error(Connection* conn, Statement* stmt, const DiagText& diag);

// Copies the connection's default of `option` into every statement of
// `conn`; options without a connection default are left alone.
void propagate_option(Connection* conn, SQLUSMALLINT option);

// The connection's default of statement option `option`, which new
// statements copy, into *value; false for an option without one.
bool connection_default(const Connection* conn, SQLUSMALLINT option, uint32_t* value);

// Sends access mode, autocommit and isolation to the server (command 0x12).
// A value the request cannot carry fails with "S1002" before anything is
// sent; a broken exchange is a communication failure ("08007"), a wait past
// the connection timeout "HYT01"; a refusal posts the server's text with
// "S1000".
SQLRETURN send_connection_settings(Connection* conn);

// SQLSetConnectOption / SQLGetConnectOption on a valid connection. `value` is
// a number, or for SQL_CURRENT_QUALIFIER the address of a NUL-terminated text.
SQLRETURN set_connect_option(Connection* conn, SQLUSMALLINT option, SQLULEN value);
// The connection options whose value is a text rather than a number.
constexpr bool is_text_connect_option(SQLUSMALLINT option) {
  return option == SQL_CURRENT_QUALIFIER || option == SQL_OPT_TRACEFILE ||
         option == SQL_TRANSLATE_DLL;
}
SQLRETURN get_connect_option(Connection* conn, SQLUSMALLINT option, SQLPOINTER out);

// SQLGetStmtOption's work: stores the option as a 32-bit value in `*out`.
SQLRETURN get_stmt_option(Statement* stmt, SQLUSMALLINT option, SQLPOINTER out);

}  // namespace q4
