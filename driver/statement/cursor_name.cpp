#include "statement/cursor_name.h"

#include <cstdio>
#include <cstring>

#include "core/diagnostics.h"

namespace q4 {

namespace {

// Cursor names are offered only by servers from version 7.1 on.
constexpr uint32_t kCursorNameVersion = 710;

bool name_used_elsewhere(const Statement* stmt, const char* candidate) {
  for (const Statement* other = stmt->connection->statements; other != nullptr;
       other = other->next) {
    if (other != stmt && strcmp(other->cursor_name, candidate) == 0) return true;
  }
  return false;
}

}  // namespace

SQLRETURN get_cursor_name(Statement* stmt, SQLCHAR* buffer, SQLSMALLINT buffer_max,
                          SQLSMALLINT* length_out) {
  if (stmt->connection->server_version < kCursorNameVersion) {
    return post_error(stmt, kDiagNotSupported);
  }
  if (buffer_max < 0) return post_error(stmt, kDiagInvalidLength);

  char generated[sizeof "SQL_CUR" + 8];
  const char* name = stmt->cursor_name;
  if (name[0] == '\0') {
    snprintf(generated, sizeof generated, "SQL_CUR%08X", static_cast<unsigned>(statement_id(stmt)));
    name = generated;
  }
  size_t length = strlen(name);
  if (length_out != nullptr) *length_out = static_cast<SQLSMALLINT>(length);
  // Fixed-length copy: the bytes after a shorter name are zero-filled.
  if (buffer != nullptr) strncpy(reinterpret_cast<char*>(buffer), name, buffer_max);
  if (length < static_cast<size_t>(buffer_max)) return SQL_SUCCESS;

  // With a buffer length of 0 there is no room even for the NUL: nothing is
  // written, and the call still reports the truncation and the full length.
  if (buffer != nullptr && buffer_max > 0) buffer[buffer_max - 1] = '\0';
  post_error(stmt, kDiagTruncated);
  return SQL_SUCCESS_WITH_INFO;
}

SQLRETURN set_cursor_name(Statement* stmt, const SQLCHAR* name, SQLSMALLINT length) {
  if (stmt->connection->server_version < kCursorNameVersion) {
    return post_error(stmt, kDiagNotSupported);
  }
  if (name == nullptr) return post_error(stmt, kDiagInvalidArgument);
  if (stmt->cursor_open) return post_error(stmt, kDiagCursorState);
  if (length > kMaxCursorName) return post_error(stmt, kDiagInvalidCursorName);
  if (length < 0 && length != SQL_NTS) return post_error(stmt, kDiagInvalidLength);

  const char* text = reinterpret_cast<const char*>(name);
  size_t count = length == SQL_NTS ? strnlen(text, kMaxCursorName + 1) : length;
  if (count > static_cast<size_t>(kMaxCursorName)) return post_error(stmt, kDiagInvalidCursorName);

  // The uniqueness check compares the name as it would be stored. With an
  // explicit length that is the first `length` bytes: the application's text
  // need not be NUL-terminated, so it is never read beyond them.
  char candidate[kMaxCursorName + 1];
  memcpy(candidate, text, count);
  candidate[count] = '\0';
  if (name_used_elsewhere(stmt, candidate)) return post_error(stmt, kDiagDuplicateCursorName);

  // An explicit length of 18 is refused although a NUL-terminated name of 18
  // characters is taken.
  if (length == kMaxCursorName) return post_error(stmt, kDiagCursorNameTooLong);

  static_assert(sizeof stmt->cursor_name > kMaxCursorName, "cursor name field too small");
  memcpy(stmt->cursor_name, candidate, count + 1);
  return SQL_SUCCESS;
}

SQLRETURN set_scroll_options(Statement* stmt, SQLUSMALLINT rowset_size) {
  if (stmt->cursor_open) return post_error(stmt, kDiagCursorState);
  if (rowset_size == 0) return post_error(stmt, kDiagInvalidArgument);
  app_row_desc(stmt).array_size = rowset_size;
  return SQL_SUCCESS;
}

}  // namespace q4
