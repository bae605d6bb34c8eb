// SQLGetInfo: looks the type up in the information table, works out the
// answer (constant, connection setting, string resource or server value) and
// delivers it into the application's buffer.
#include <cstring>

#include "core/diagnostics.h"
#include "metadata/driver_info.h"
#include "metadata/info_table.h"
#include "metadata/server_info.h"

namespace q4 {

namespace {

constexpr DiagText kDiagNullInfoBuffer{"S1000", "General Error"};
constexpr DiagText kDiagUnknownInfoType{"HY096", "Invalid argument value"};
constexpr DiagText kDiagInfoNotCapable{"S1C00", "Driver not capable"};

// Types from this number on belong to later ODBC versions or to particular
// drivers: "not capable" rather than "invalid".
constexpr unsigned kFirstExtendedInfoType = 1000;

// ---------------------------------------------------------------------------
// Output copy. Stand-in for the driver's shared copy primitive; keep the same
// contract so that it can be swapped for it.
//
// Copies `length` characters of `text` into `out` (room for `out_max` bytes)
// as a NUL-terminated string: all of it when length < out_max, otherwise the
// first out_max-1 characters and a NUL. With a null `out` or out_max below 1
// nothing is written. Returns true when the text did not fit whole. Posts
// nothing: the caller decides how truncation is reported.
bool copy_text_out(const char* text, size_t length, void* out, long out_max) {
  if (out == nullptr || out_max < 1) return length > 0;
  size_t room = static_cast<size_t>(out_max) - 1;
  size_t copied = length < room ? length : room;
  memcpy(out, text, copied);
  static_cast<char*>(out)[copied] = '\0';
  return copied < length;
}
// ---------------------------------------------------------------------------

// Delivers a numeric answer of 2 or 4 bytes. A null buffer can only come with
// a length-only request: the number is not written and truncation reported.
SQLRETURN deliver_number(Connection* conn, InfoKind kind, uint32_t number, SQLPOINTER value) {
  if (value == nullptr) {
    post_connection_error(conn, kDiagTruncated);
    return SQL_SUCCESS_WITH_INFO;
  }
  if (kind == InfoKind::kU16) {
    SQLUSMALLINT narrow = static_cast<SQLUSMALLINT>(number);
    memcpy(value, &narrow, sizeof narrow);
  } else {
    SQLUINTEGER wide = number;
    memcpy(value, &wide, sizeof wide);
  }
  return SQL_SUCCESS;
}

// Delivers a string answer. An empty answer writes nothing and succeeds.
//
// A non-null buffer with value_max of 0 or less has no room even for the NUL:
// nothing is written, the full length is reported and the answer counts as
// truncated ("01004"), so the application learns both that its buffer was
// too small and how large it must be, and no byte outside its buffer changes.
SQLRETURN deliver_text(Connection* conn, const char* text, size_t length, SQLPOINTER value,
                       SQLSMALLINT value_max) {
  if (length == 0) return SQL_SUCCESS;
  if (copy_text_out(text, length, value, value_max)) {
    post_connection_error(conn, kDiagTruncated);
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN get_info(Connection* conn, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT value_max,
                   SQLSMALLINT* length_out) {
  if (value == nullptr && value_max != 0) return post_connection_error(conn, kDiagNullInfoBuffer);

  const InfoRow* row = find_info_row(type);
  if (row == nullptr || row->kind == InfoKind::kRefused) {
    return post_connection_error(
        conn, type >= kFirstExtendedInfoType ? kDiagInfoNotCapable : kDiagUnknownInfoType);
  }

  SQLRETURN rc;
  size_t length;
  if (row->kind == InfoKind::kString) {
    const char* text = info_row_text(*row, conn, &length);
    rc = deliver_text(conn, text, length, value, value_max);
  } else {
    uint32_t number;
    if (row->source == InfoSource::kServer) {
      int32_t answer = 0;
      if (server_answers_info(conn)) {
        // A failed exchange is an error, not an answer with every bit set: the
        // application must not take a broken link for full support. The
        // "08S01" stays on the connection.
        if (server_info(server_first_code(row->number), server_second_code(row->number), conn,
                        &answer) != SQL_SUCCESS) {
          return SQL_ERROR;
        }
        if (answer == kNoServerAnswer) {
          if (length_out != nullptr) *length_out = 0;
          return SQL_SUCCESS;
        }
      }
      number = static_cast<uint32_t>(answer);
    } else {
      number = info_row_number(*row, conn);
    }
    length = row->kind == InfoKind::kU16 ? sizeof(SQLUSMALLINT) : sizeof(SQLUINTEGER);
    rc = deliver_number(conn, row->kind, number, value);
  }

  if (length_out != nullptr) *length_out = static_cast<SQLSMALLINT>(length);
  return rc;
}

}  // namespace q4
