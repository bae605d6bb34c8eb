// Preparing and executing statement texts: the work of SQLPrepare,
// SQLExecDirect, SQLExecute, SQLNumParams and SQLNativeSql, and the execute
// path that SQLParamData and the fetch path's re-execution share.
//
// The statement-level functions here expect their caller to hold the statement's claim and
// to have run enter_statement (SQLPrepare and SQLExecDirect call close_result
// before both).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Hands over collected data-at-execution pieces, builds the request for
// `text` (`length` bytes, or SQL_NTS) and, when it is complete, sends it as an
// execute request. Returns build_request's SQL_NEED_DATA or SQL_ERROR, or the
// result of send_execute.
SQLRETURN execute_text(Statement* stmt, const char* text, int64_t length);

// SQLPrepare: keeps the text in statement_text and, unless the driver can
// answer alone, sends it as a prepare request (0x0F), so that a successful
// reply leaves the result described before SQLExecute. A text with more
// markers than bindings is kept without a word; it is sent (and a syntax error
// about its markers ignored) only to servers of version 710 or more that
// announce the capability bit kFlagInfoRequest. A pass-through text is kept
// and not sent.
SQLRETURN prepare_statement(Statement* stmt, const char* text, int64_t length);

// SQLExecDirect: executes `text` (once per row of a parameter array, see
// execute_rows); when the execution stops for data at execution the text is
// kept in statement_text for SQLParamData.
SQLRETURN execute_direct(Statement* stmt, const char* text, int64_t length);

// SQLExecute: executes statement_text with the current bindings, once per
// row of a parameter array ("S1009" without a prepared text).
SQLRETURN execute_prepared(Statement* stmt);

// SQLNumParams: the markers of statement_text that an execution replaces by
// values (none in a pass-through text).
SQLRETURN count_parameters(Statement* stmt, SQLSMALLINT* count);

// SQLNativeSql: the driver translates nothing; the text is copied as it
// stands and its full length reported. Posts on the connection.
SQLRETURN native_sql(Connection* conn, const SQLCHAR* text_in, SQLCHAR* text_out,
                     SQLINTEGER out_max, SQLINTEGER* out_length);

}  // namespace q4
