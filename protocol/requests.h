// The payloads of the fixed-form requests, one small encoder per command.
// Each writes its payload at `out` and returns its length in bytes; the
// caller provides room for kMaxFixedRequest bytes. Integers are big-endian;
// `statement` is the statement id (the low 32 bits of the statement handle).
//
// The execute and prepare payloads (text, literals, binary blocks, trailer)
// are built by the driver's request writer; the catalog requests carry name
// fields built by the catalog functions (but for the one form below that the
// statement layer sends itself); the logon and account requests carry text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/codec.h"

namespace q4 {

// The longest payload below.
constexpr int32_t kMaxFixedRequest = 9;

// Describe column (0x01): the statement and the 1-based column.
inline int32_t encode_describe(uint8_t* out, uint32_t statement, uint16_t column) {
  put_u16(put_u32(out, statement), column);
  return 6;
}

// Fetch (0x02), next block: the statement and "X".
inline int32_t encode_fetch_next(uint8_t* out, uint32_t statement) {
  put_u32(out, statement)[0] = 'X';
  return 5;
}

// Fetch (0x02), the block starting at `row`: the statement, "A", the row.
inline int32_t encode_fetch_absolute(uint8_t* out, uint32_t statement, uint32_t row) {
  uint8_t* at = put_u32(out, statement);
  *at++ = 'A';
  put_u32(at, row);
  return 9;
}

// Get data (0x03): the statement, the 1-based column and the C type the
// application asked for.
inline int32_t encode_get_data(uint8_t* out, uint32_t statement, uint16_t column, uint16_t c_type) {
  put_u16(put_u16(put_u32(out, statement), column), c_type);
  return 8;
}

// Allocate (0x0B) and release (0x0C) of a statement: the statement and the
// constant 1 (its meaning is the server's; the driver always sends 1).
inline int32_t encode_statement_request(uint8_t* out, uint32_t statement) {
  put_u16(put_u32(out, statement), 1);
  return 6;
}

// Commit or roll back (0x11): "C" or "R".
inline int32_t encode_transact(uint8_t* out, bool commit) {
  out[0] = commit ? 'C' : 'R';
  return 1;
}

// Connection settings (0x12): one ASCII digit each for access mode,
// autocommit and isolation.
inline int32_t encode_settings(uint8_t* out, char access_mode, char autocommit, char isolation) {
  out[0] = static_cast<uint8_t>(access_mode);
  out[1] = static_cast<uint8_t>(autocommit);
  out[2] = static_cast<uint8_t>(isolation);
  return 3;
}

// Server information (0x15): the two codes of the value asked for.
inline int32_t encode_server_info(uint8_t* out, uint16_t first, uint16_t second) {
  put_u16(put_u16(out, first), second);
  return 4;
}

// The room encode_table_columns needs besides the table name.
constexpr size_t kTableColumnsOverhead = 4 + 2 + 2 + 1 + 2 + 1;

// Columns (0x06) of one table, every column of it in table order: the
// statement, the qualifier and owner "%" (any), the table name (`length`
// bytes, which must hold no NUL) and the column pattern "%", each
// NUL-terminated, and the catalog end mark 0x01. The caller provides
// kTableColumnsOverhead + `length` bytes; returns that length.
inline int32_t encode_table_columns(uint8_t* out, uint32_t statement, const char* table,
                                    size_t length) {
  uint8_t* at = put_u32(out, statement);
  const uint8_t any[2] = {'%', 0};
  memcpy(at, any, 2);
  memcpy(at + 2, any, 2);
  at += 4;
  memcpy(at, table, length);
  at += length;
  *at++ = 0;
  memcpy(at, any, 2);
  at += 2;
  *at++ = 0x01;
  return static_cast<int32_t>(at - out);
}

}  // namespace q4
