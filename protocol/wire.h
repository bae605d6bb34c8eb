// Constants of the Q4 request/reply protocol, shared by the driver and q4lite.
//
// Every exchange is one request (command code + payload) answered by one reply
// (status string + payload), both cut into frames:
//   u16 frame length L (whole frame, these two bytes included)
//   first frame only: NUL-terminated command code / status string
//   u16 chunk length n (0..kMaxChunk), u16 more flag (non-zero: a frame follows)
//   n payload bytes
// After every frame whose more flag is set the sender waits for one
// acknowledgement byte before it sends the next one.
#pragma once

#include <cstdint>

namespace q4 {

// Payload bytes carried by one frame at most.
constexpr int kMaxChunk = 20480;
// Size of a frame assembly area: the largest request frame (20488 bytes with a
// one-byte command) and a reply frame with a short status string both fit.
constexpr int kFrameBufferSize = 20580;
// The driver's acknowledgement byte for a reply frame announcing another one.
constexpr uint8_t kAckByte = 0x41;

// Command codes (one byte, sent as a one-character string).
enum Command : uint8_t {
  kCmdDescribe = 0x01,        // describe one result column
  kCmdFetch = 0x02,           // fetch a block of rows
  kCmdGetData = 0x03,         // one column of the current row
  kCmdTypeInfo = 0x04,        // SQLGetTypeInfo
  kCmdTables = 0x05,          // SQLTables
  kCmdColumns = 0x06,         // SQLColumns
  kCmdExecute = 0x07,         // execute statement text
  kCmdDisconnect = 0x0A,      // end the session
  kCmdAllocate = 0x0B,        // allocate the statement on the server
  kCmdRelease = 0x0C,         // release the statement on the server
  kCmdAccount = 0x0D,         // set the account
  kCmdLogon = 0x0E,           // logon
  kCmdPrepare = 0x0F,         // prepare
  kCmdSpecialColumns = 0x10,  // SQLSpecialColumns
  kCmdTransact = 0x11,        // commit or roll back
  kCmdConnectOptions = 0x12,  // access mode, autocommit, isolation
  kCmdStatistics = 0x13,      // SQLStatistics
  kCmdPrimaryKeys = 0x14,     // SQLPrimaryKeys
  kCmdServerInfo = 0x15,      // one server information value
};

// Reply status letters (first character of the status string).
constexpr char kStatusOk = 'K';
constexpr char kStatusWarning = 'W';
constexpr char kStatusError = 'E';
// Row blocks: the byte after each row says what follows it.
constexpr char kRowMore = 'M';  // the server holds further rows

// Server capability bits of the logon reply.
constexpr uint32_t kFlagAbsoluteFetch = 1;  // fetch request has the absolute form
constexpr uint32_t kFlagInfoRequest = 2;    // 0x15 and prepare with unbound markers

// SQL type codes of ODBC 2.x as they travel in descriptions and row values.
enum SqlTypeCode : int16_t {
  kSqlChar = 1,
  kSqlNumeric = 2,
  kSqlDecimal = 3,
  kSqlInteger = 4,
  kSqlSmallint = 5,
  kSqlFloat = 6,
  kSqlReal = 7,
  kSqlDouble = 8,
  kSqlVarchar = 12,
  kSqlDate = 9,
  kSqlTime = 10,
  kSqlTimestamp = 11,
  kSqlLongVarchar = -1,
  kSqlBinary = -2,
  kSqlVarbinary = -3,
  kSqlLongVarbinary = -4,
  kSqlBigint = -5,
  kSqlTinyint = -6,
  kSqlBit = -7,
};

// Type field of a row value that is NULL.
constexpr uint16_t kNullValueType = 0xFFFF;

}  // namespace q4
