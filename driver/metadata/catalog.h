// The catalog functions: SQLTables, SQLColumns, SQLStatistics,
// SQLPrimaryKeys, SQLSpecialColumns and SQLGetTypeInfo.
//
// The driver does no catalog work of its own. Each function packs its
// arguments into one request built in io_buffer,
//   u32 statement id | arguments | end mark 0x01
// and the server answers with an ordinary result (counts, descriptions, a
// first row block) that the application then reads like the result of an
// execute. The columns and rows of a catalog result are entirely the
// server's.
//
// The functions here expect their caller to hold the statement's claim and to have run
// enter_statement. They do not close an earlier result first: the reply
// replaces the counts and whatever descriptions and rows it carries; the rest
// of the result state stays as it was.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// One catalog string argument as the application passed it: a null `text`
// stands for "%" (match everything), `length` SQL_NTS means up to the NUL, a
// length of 0 or more takes that many bytes or fewer when a NUL comes first.
struct CatalogName {
  const SQLCHAR* text;
  SQLSMALLINT length;
};

// Appends `text` as a NUL-terminated catalog argument at *cursor (inside
// io_buffer) and advances *cursor past its NUL. A null `text` is "%" whatever
// `length` says; a non-null empty string stays empty.
// SQL_ERROR with "S1090" "Invalid string or buffer length", nothing written,
// when `length` is negative and not SQL_NTS, or when the argument would leave
// no room in io_buffer for the end mark.
SQLRETURN append_catalog_argument(Statement* stmt, uint8_t** cursor, const SQLCHAR* text,
                                  SQLSMALLINT length);

// Writes the end mark after the `length` bytes of `payload` (io_buffer, with
// room for it), sends them with `command`, and takes the reply:
// - "K": the counts, description section and first row block are stored as
//   after an execute and cursor_open is set; SQL_SUCCESS.
// - any other letter: column_count 0 and the server's text posted with
//   "08S01" on the statement; SQL_ERROR.
// A failed transfer is a communication failure on the connection ("08S01"
// "Communications_ERROR", socket closed); nothing is posted on the statement.
SQLRETURN catalog_exchange(Statement* stmt, uint8_t command, int32_t length, uint8_t* payload);

// SQLTables: request 0x05.
SQLRETURN catalog_tables(Statement* stmt, CatalogName qualifier, CatalogName owner,
                         CatalogName table, CatalogName table_type);

// SQLColumns: request 0x06.
SQLRETURN catalog_columns(Statement* stmt, CatalogName qualifier, CatalogName owner,
                          CatalogName table, CatalogName column);

// SQLStatistics: request 0x13. Servers before version 710 take no arguments:
// the names are then neither checked nor sent.
SQLRETURN catalog_statistics(Statement* stmt, CatalogName qualifier, CatalogName owner,
                             CatalogName table, SQLUSMALLINT unique, SQLUSMALLINT accuracy);

// SQLPrimaryKeys: request 0x14, refused with "S1000" before anything is sent
// on servers before version 710.
SQLRETURN catalog_primary_keys(Statement* stmt, CatalogName qualifier, CatalogName owner,
                               CatalogName table);

// SQLSpecialColumns: request 0x10.
SQLRETURN catalog_special_columns(Statement* stmt, SQLUSMALLINT column_type, CatalogName qualifier,
                                  CatalogName owner, CatalogName table, SQLUSMALLINT scope,
                                  SQLUSMALLINT nullable);

// SQLGetTypeInfo: request 0x04 for one SQL type or SQL_ALL_TYPES (0).
SQLRETURN catalog_type_info(Statement* stmt, SQLSMALLINT sql_type);

}  // namespace q4
