#include "statement/data_at_exec.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "core/wide_text.h"
#include "statement/execute.h"
#include "statement/literal.h"
#include "statement/request.h"
#include "statement/param_rows.h"

namespace q4 {

namespace {

// The answer to every SQLPutData that has nowhere to go; applications of this
// driver match it.
// Data after a NULL piece, or NULL after data: a value cannot be both.
// Collected values are counted in 32 bits.
constexpr int64_t kMaxCollected = INT32_MAX - 1;

// The binding whose `number` is the wanted ordinal (bindings are found by
// number here, although the scan pairs markers with bindings by order).
ParamBinding* wanted_binding(Statement* stmt) {
  if (stmt->pending_parameter <= kPendingBase) return nullptr;
  uint32_t number = stmt->pending_parameter - kPendingBase;
  for (ParamBinding* b = app_param_desc(stmt).records; b != nullptr; b = b->next) {
    if (b->number == number) return b;
  }
  return nullptr;
}

bool is_character_or_binary_sql_type(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_BINARY ||
         t == SQL_VARBINARY || t == SQL_LONGVARBINARY || t == SQL_WCHAR || t == SQL_WVARCHAR ||
         t == SQL_WLONGVARCHAR;
}

// Values that may arrive in pieces: character (narrow or wide) or binary data
// bound as such. SQL_C_DEFAULT is a single piece even on a character SQL type
// (it is read as text when the literal is made, but a second piece is
// refused).
bool collects_pieces(const ParamBinding& b) {
  return (b.c_type == SQL_C_CHAR || b.c_type == SQL_C_BINARY || b.c_type == SQL_C_WCHAR) &&
         is_character_or_binary_sql_type(b.sql_type);
}

// The capacity a buffer holding `current` bytes grows to for `total`: it
// doubles, so a value sent in many small pieces is copied a few times rather
// than once per piece. The buffer outlives the execution, so a later run with
// a value of the same size allocates nothing.
int64_t grown_capacity(int64_t current, int64_t total) {
  int64_t capacity = 2 * current > total ? 2 * current : total + 1;
  return capacity > INT32_MAX ? INT32_MAX : capacity;
}

SQLRETURN append_piece(Statement* stmt, ParamBinding* b, const void* data, SQLLEN length) {
  // NULL is a value of its own. The hand-over writes piece_length into the
  // indicator, so a NULL put leaves SQL_NULL_DATA there and the literal NULL
  // is sent, as for a NULL bound directly.
  if (length == SQL_NULL_DATA) {
    if (b->piece_length > 0) return post_error(stmt, kDiagSequence);
    b->piece_length = SQL_NULL_DATA;
    b->piece_data = b->value;
    b->piece_seen = 1;
    return SQL_SUCCESS;
  }
  if (b->piece_length == SQL_NULL_DATA) return post_error(stmt, kDiagSequence);
  if (length == SQL_NTS) {
    if (data == nullptr) return post_error(stmt, kDiagInvalidArgument);
    // Wide pieces are collected as bytes, wide_unit_bytes() per unit, like
    // the value's length at execution.
    length = b->c_type == SQL_C_WCHAR ? static_cast<SQLLEN>(wide_unit_bytes() * wide_length(data))
                                      : static_cast<SQLLEN>(strlen(static_cast<const char*>(data)));
  }
  if (length < 0) return post_error(stmt, kDiagInvalidLength);
  if (length > 0 && data == nullptr) return post_error(stmt, kDiagInvalidArgument);
  int64_t kept = b->piece_length;
  if (length > kMaxCollected - kept) return post_error(stmt, kDiagInvalidLength);
  int64_t total = kept + length;
  if (b->buffer != nullptr && b->buffer_capacity >= total) {
    if (length > 0) memmove(b->buffer + kept, data, static_cast<size_t>(length));
  } else {
    int64_t capacity = grown_capacity(b->buffer_capacity, total);
    auto* fresh = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, static_cast<size_t>(capacity)));
    if (fresh == nullptr) return SQL_ERROR;  // "S1001" posted; what was collected stays
    if (kept > 0) memcpy(fresh, b->buffer, static_cast<size_t>(kept));
    // The piece may lie in the old buffer (an application passing the token
    // back as data): it is copied before that block is freed.
    if (length > 0) memcpy(fresh + kept, data, static_cast<size_t>(length));
    drv_free(b->buffer);
    b->buffer = fresh;
    b->buffer_capacity = static_cast<int32_t>(capacity);
  }
  b->piece_length = static_cast<int32_t>(total);
  b->piece_data = b->buffer;
  b->piece_seen = 1;
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN param_data(Statement* stmt, SQLPOINTER* token) {
  ParamBinding* wanted = wanted_binding(stmt);
  if (wanted != nullptr) {
    if (!wanted->piece_seen) {
      // Nothing came for it (yet): ask again.
      if (token != nullptr) *token = wanted->value;
      return SQL_NEED_DATA;
    }
    wanted->piece_seen = 0;
    wanted->complete = 1;
  }
  if (stmt->statement_text == nullptr) return post_error(stmt, kDiagGeneral);
  SQLRETURN result = execute_text(stmt, stmt->statement_text, stmt->statement_text_length);
  // Data at execution comes with one set of values only: its outcome is row 1's.
  note_row_outcome(stmt, 0, result);
  if (result == SQL_NEED_DATA) {
    wanted = wanted_binding(stmt);
    if (wanted != nullptr && token != nullptr) *token = wanted->value;
  }
  return result;
}

SQLRETURN put_data(Statement* stmt, SQLPOINTER data, SQLLEN length) {
  ParamBinding* wanted = wanted_binding(stmt);
  if (wanted == nullptr) return post_error(stmt, kDiagOutOfRange);
  if (collects_pieces(*wanted)) return append_piece(stmt, wanted, data, length);
  if (wanted->piece_seen) return post_error(stmt, kDiagOutOfRange);
  // The hand-over writes the length into the application's indicator; one
  // that does not fit the 32-bit piece count would arrive changed.
  if (length > INT32_MAX || length < INT32_MIN) return post_error(stmt, kDiagInvalidLength);
  wanted->piece_seen = 1;
  wanted->piece_length = static_cast<int32_t>(length);
  wanted->piece_data = data;
  return SQL_SUCCESS;
}

}  // namespace q4
