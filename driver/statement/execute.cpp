#include "statement/execute.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "protocol/wire.h"
#include "statement/exec_marks.h"
#include "statement/sql_scanner.h"
#include "statement/param_array.h"
#include "statement/param_description.h"
#include "results/execute_reply.h"
#include "statement/request.h"

namespace q4 {

namespace {

// Servers before this version know neither prepare with open markers nor
// SQLNativeSql.
constexpr uint32_t kVersionWithPrepareInfo = 710;

bool slot_holds(const Statement* stmt, const char* sqlstate) {
  return strcmp(stmt->sqlstate, sqlstate) == 0;
}

// Copies `length` bytes of `text` and a NUL into statement_text, reusing the
// block when it is large enough. False when it cannot be allocated ("S1001"
// posted; no text is kept then).
bool keep_statement_text(Statement* stmt, const char* text, int64_t length) {
  forget_param_descriptions(stmt);
  if (stmt->statement_text == nullptr || stmt->statement_text_capacity < length) {
    drv_free(stmt->statement_text);
    stmt->statement_text_length = 0;
    stmt->statement_text_capacity = 0;
    stmt->statement_text = static_cast<char*>(drv_alloc(nullptr, stmt, length + 1));
    if (stmt->statement_text == nullptr) return false;
    stmt->statement_text_capacity = length;
  }
  memcpy(stmt->statement_text, text, length);
  stmt->statement_text[length] = '\0';
  stmt->statement_text_length = length;
  return true;
}

// The length of an application's text argument: SQL_NTS means up to the NUL.
// Other negative lengths are refused ("S1090") rather than read as huge
// unsigned counts. -1 when refused or when `text` is null ("S1009").
int64_t text_length(Statement* stmt, const char* text, int64_t length) {
  if (text == nullptr) {
    post_error(stmt, kDiagInvalidArgument);
    return -1;
  }
  if (length == SQL_NTS) return static_cast<int64_t>(strlen(text));
  if (length < 0) {
    post_error(stmt, kDiagInvalidLength);
    return -1;
  }
  return length;
}

}  // namespace

SQLRETURN execute_text(Statement* stmt, const char* text, int64_t length) {
  hand_over_pieces(stmt);
  if (text != nullptr && length == SQL_NTS) length = static_cast<int64_t>(strlen(text));
  SQLRETURN built = build_request(stmt, text, length);
  if (built != SQL_SUCCESS) return built;
  return send_execute(stmt);
}

SQLRETURN prepare_statement(Statement* stmt, const char* text, int64_t length) {
  length = text_length(stmt, text, length);
  if (length < 0) return SQL_ERROR;
  if (!keep_statement_text(stmt, text, length)) return SQL_ERROR;
  clear_diagnostic(stmt->sqlstate, stmt->message);

  bool markers_unbound = false;
  SQLRETURN built = build_request(stmt, stmt->statement_text, length);
  if (built != SQL_SUCCESS) {
    if (!slot_holds(stmt, kDiagWrongParameterCount.sqlstate)) {
      // A parameter bound for data at execution cannot be prepared: its value
      // is not there to be written into the text. The build posts nothing for
      // it, so say so here instead of failing without a diagnostic.
      if (built == SQL_NEED_DATA) return post_error(stmt, kDiagGeneral);
      return SQL_ERROR;
    }
    clear_diagnostic(stmt->sqlstate, stmt->message);
    markers_unbound = true;
    const Connection* conn = stmt->connection;
    if (conn->server_version < kVersionWithPrepareInfo ||
        (conn->server_flags & kFlagInfoRequest) == 0) {
      return SQL_SUCCESS;
    }
  }
  if (stmt->pass_through) return SQL_SUCCESS;

  SQLRETURN result = send_text_request(stmt, TextRequest::kPrepare);
  // The server could not parse the text with its open markers: nothing is
  // wrong yet, the text is executed once the markers are bound.
  if (result != SQL_SUCCESS && markers_unbound && slot_holds(stmt, kStateSyntaxError)) {
    clear_diagnostic(stmt->sqlstate, stmt->message);
    return SQL_SUCCESS;
  }
  return result;
}

SQLRETURN execute_direct(Statement* stmt, const char* text, int64_t length) {
  reset_data_at_exec(stmt);
  SQLRETURN result = execute_rows(stmt, text, length);
  if (result != SQL_NEED_DATA) return result;
  // SQLParamData resumes from statement_text.
  if (length == SQL_NTS) length = static_cast<int64_t>(strlen(text));
  if (!keep_statement_text(stmt, text, length)) return SQL_ERROR;
  return SQL_NEED_DATA;
}

SQLRETURN execute_prepared(Statement* stmt) {
  reset_data_at_exec(stmt);
  return execute_rows(stmt, stmt->statement_text, stmt->statement_text_length);
}

SQLRETURN count_parameters(Statement* stmt, SQLSMALLINT* count) {
  // The markers the execution replaces: the same scan finds them.
  uint32_t markers =
      count_markers(stmt->statement_text, static_cast<uint64_t>(stmt->statement_text_length));
  if (count == nullptr) return post_error(stmt, kDiagGeneralCapital);
  *count = static_cast<SQLSMALLINT>(markers);
  return SQL_SUCCESS;
}

SQLRETURN native_sql(Connection* conn, const SQLCHAR* text_in, SQLCHAR* text_out,
                     SQLINTEGER out_max, SQLINTEGER* out_length) {
  if (conn->server_version < kVersionWithPrepareInfo) {
    return post_connection_error(conn, kDiagNoSuchFunction);
  }
  // A null input text has nothing to translate and nothing to measure.
  if (text_in == nullptr) return post_connection_error(conn, kDiagInvalidArgument);
  const char* in = reinterpret_cast<const char*>(text_in);
  size_t length = strlen(in);
  if (out_length != nullptr) *out_length = static_cast<SQLINTEGER>(length);
  // Without an output buffer the call only measures the text.
  if (text_out == nullptr) return SQL_SUCCESS;
  if (out_max < 0) return post_connection_error(conn, kDiagInvalidLength);
  // With no room at all (out_max 0) nothing is written, not even the NUL, and
  // the text counts as cut.
  char* out = reinterpret_cast<char*>(text_out);
  if (out_max > 0) strncpy(out, in, static_cast<size_t>(out_max));
  if (length >= static_cast<size_t>(out_max)) {
    if (out_max > 0) out[out_max - 1] = '\0';
    post_connection_error(conn, kDiagTruncated);
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

}  // namespace q4
