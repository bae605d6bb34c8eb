// SQLGetInfo: looks the type up in the information table, works out the
// answer (constant, connection setting, string resource or server value) and
// delivers it into the application's buffer.
#include <cstring>

#include "core/diagnostics.h"
#include "metadata/driver_info.h"
#include "metadata/info_table.h"
#include "metadata/odbc3_info.h"
#include "metadata/server_info.h"
#include "results/copy_out.h"

namespace q4 {

namespace {

// Types from this number on belong to later ODBC versions or to particular
// drivers: "not capable" rather than "invalid".
constexpr unsigned kFirstExtendedInfoType = 1000;

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
  if (copy_out(value, value_max, text, static_cast<int64_t>(length), 0, CopyMode::kText)
          .truncated) {
    post_connection_error(conn, kDiagTruncated);
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

// The row answering `type` for this connection, or null when it is refused.
const InfoRow* find_answered_row(const Connection* conn, unsigned type) {
  const InfoRow* row = find_odbc3_info_row(conn, type);
  if (row == nullptr) row = find_info_row(type);
  return row == nullptr || row->kind == InfoKind::kRefused ? nullptr : row;
}

}  // namespace

bool info_answer_is_text(const Connection* conn, SQLUSMALLINT type) {
  const InfoRow* row = find_answered_row(conn, type);
  return row != nullptr && row->kind == InfoKind::kString;
}

SQLRETURN get_info(Connection* conn, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT value_max,
                   SQLSMALLINT* length_out) {
  if (value == nullptr && value_max != 0) return post_connection_error(conn, kDiagGeneralCapital);

  const InfoRow* row = find_answered_row(conn, type);
  if (row == nullptr) {
    return post_connection_error(
        conn, type >= kFirstExtendedInfoType ? kDiagNotCapableLower : kDiagUnknownInfoType);
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
