#include "metadata/catalog.h"

#include <cstring>
#include <initializer_list>

#include "core/diagnostics.h"
#include "core/odbc_version.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/statement_exchange.h"
#include "results/execute_reply.h"
#include "results/type_codes.h"

namespace q4 {

namespace {

constexpr uint8_t kEndMark = 0x01;
// The catalog reply is given one byte less than io_buffer holds; the server
// keeps its catalog replies within it.
constexpr int32_t kCatalogReplyCapacity = kReplyCapacity - 1;
// Servers before this version take no arguments with the statistics request
// and know no primary keys request.
constexpr uint32_t kVersionWithKeyArguments = 710;

// Argument bytes that still fit at `cursor` (inside io_buffer), keeping the
// last byte of io_buffer for the end mark.
//
// Arguments that would not fit are refused with "S1090" before anything is
// sent: the request is a single io_buffer, and cutting a name short would ask
// the server about a different table than the application named.
size_t room_at(const Statement* stmt, const uint8_t* cursor) {
  return static_cast<size_t>(stmt->io_buffer + kIoBufferSize - 1 - cursor);
}

// The one catalog encoder: the statement id, `names` in order, then the
// request's fixed trailing fields (`count` bytes at `tail`), built at the
// front of io_buffer and exchanged. The first refused name ends the build
// with its SQL_ERROR; "S1090" when the names leave no room for the tail.
SQLRETURN send_names(Statement* stmt, uint8_t command, std::initializer_list<CatalogName> names,
                     const uint8_t* tail, size_t count) {
  uint8_t* cursor = put_u32(stmt->io_buffer, statement_id(stmt));
  for (const CatalogName& name : names) {
    SQLRETURN rc = append_catalog_argument(stmt, &cursor, name.text, name.length);
    if (rc != SQL_SUCCESS) return rc;
  }
  if (room_at(stmt, cursor) < count) return post_error(stmt, kDiagInvalidLength);
  if (count > 0) memcpy(cursor, tail, count);
  cursor += count;
  return catalog_exchange(stmt, command, static_cast<int32_t>(cursor - stmt->io_buffer),
                          stmt->io_buffer);
}

// The column of a catalog result that holds the concise type code
// (DATA_TYPE), or 0. Only DATA_TYPE takes the 3.x date and time codes: the
// verbose SQL_DATA_TYPE of ODBC 3's wider rows is SQL_DATETIME (9) for every
// date and time type, so a column of that kind stays as the server sends it.
int32_t type_code_column(uint8_t command) {
  switch (command) {
    case kCmdColumns:
      return 5;
    case kCmdSpecialColumns:
      return 3;
    case kCmdTypeInfo:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

SQLRETURN append_catalog_argument(Statement* stmt, uint8_t** cursor, const SQLCHAR* text,
                                  SQLSMALLINT length) {
  size_t room = room_at(stmt, *cursor);
  const char* source = "%";
  size_t count = 1;
  if (text != nullptr) {
    source = reinterpret_cast<const char*>(text);
    if (length == SQL_NTS) {
      // Bounded: a text as long as the room already does not fit with its NUL.
      count = strnlen(source, room);
    } else if (length < 0) {
      return post_error(stmt, kDiagInvalidLength);
    } else {
      count = strnlen(source, static_cast<size_t>(length));
    }
  }
  if (count >= room) return post_error(stmt, kDiagInvalidLength);
  memcpy(*cursor, source, count);
  (*cursor)[count] = '\0';
  *cursor += count + 1;
  return SQL_SUCCESS;
}

SQLRETURN catalog_exchange(Statement* stmt, uint8_t command, int32_t length, uint8_t* payload) {
  payload[length] = kEndMark;
  StatementReply reply =
      exchange_for_statement(stmt, command, payload, length + 1, kCatalogReplyCapacity);
  if (reply.failed()) return SQL_ERROR;
  if (stmt->reply_status[0] != kStatusOk) {
    stmt->column_count = 0;
    return post_error(stmt, stmt->reply_status + 1, kStateCommLink);
  }
  // A "K" catalog reply is laid out as an execute reply: counts, optional
  // description section, optional first row block.
  SQLRETURN rc = handle_execute_reply(stmt, stmt->io_buffer, reply.length);
  const int32_t column = type_code_column(command);
  if (rc != SQL_ERROR && column != 0 && odbc3_application(stmt)) {
    give_odbc3_type_codes(stmt, column);
  }
  return rc;
}

SQLRETURN catalog_tables(Statement* stmt, CatalogName qualifier, CatalogName owner,
                         CatalogName table, CatalogName table_type) {
  return send_names(stmt, kCmdTables, {qualifier, owner, table, table_type}, nullptr, 0);
}

SQLRETURN catalog_columns(Statement* stmt, CatalogName qualifier, CatalogName owner,
                          CatalogName table, CatalogName column) {
  return send_names(stmt, kCmdColumns, {qualifier, owner, table, column}, nullptr, 0);
}

SQLRETURN catalog_statistics(Statement* stmt, CatalogName qualifier, CatalogName owner,
                             CatalogName table, SQLUSMALLINT unique, SQLUSMALLINT accuracy) {
  if (stmt->connection->server_version < kVersionWithKeyArguments) {
    // The older request is the statement id and one 0x00 byte.
    const uint8_t tail[] = {0x00};
    return send_names(stmt, kCmdStatistics, {}, tail, sizeof tail);
  }
  // Only the low bytes travel: both options are small ODBC constants.
  const uint8_t tail[] = {static_cast<uint8_t>(unique), static_cast<uint8_t>(accuracy), 0x00};
  return send_names(stmt, kCmdStatistics, {qualifier, owner, table}, tail, sizeof tail);
}

SQLRETURN catalog_primary_keys(Statement* stmt, CatalogName qualifier, CatalogName owner,
                               CatalogName table) {
  if (stmt->connection->server_version < kVersionWithKeyArguments) {
    return post_error(stmt, kDiagNoPrimaryKeys);
  }
  return send_names(stmt, kCmdPrimaryKeys, {qualifier, owner, table}, nullptr, 0);
}

SQLRETURN catalog_special_columns(Statement* stmt, SQLUSMALLINT column_type, CatalogName qualifier,
                                  CatalogName owner, CatalogName table, SQLUSMALLINT scope,
                                  SQLUSMALLINT nullable) {
  uint8_t tail[7];
  put_u16(put_u16(put_u16(tail, scope), nullable), column_type)[0] = 0x00;
  return send_names(stmt, kCmdSpecialColumns, {qualifier, owner, table}, tail, sizeof tail);
}

// The ODBC 3 codes of the date and time types, asked for by ODBC 3
// applications (pyodbc reads the column size of SQL_TYPE_TIMESTAMP's row at
// connect to decide how many fraction digits it sends), stand for the codes
// the server knows; either generation's code is taken. The rows' DATA_TYPE
// is given in the application's generation (catalog_exchange), as SQLColumns
// and SQLDescribeCol give it.
SQLRETURN catalog_type_info(Statement* stmt, SQLSMALLINT sql_type) {
  sql_type = odbc2_datetime_code(sql_type);
  // The signed type code travels in two's complement (SQL_VARBINARY -3 is
  // 0xFFFD).
  uint8_t tail[3];
  put_u16(tail, static_cast<uint16_t>(sql_type))[0] = 0x00;
  return send_names(stmt, kCmdTypeInfo, {}, tail, sizeof tail);
}

}  // namespace q4
