// libFuzzer target: an execute reply as a server might send it, taken by the
// driver and then read the way applications read results: bound columns,
// SQLFetch, SQLGetData in several C types and buffer sizes, column
// descriptions, and rowsets with SQLExtendedFetch. Whatever the bytes, the
// driver must neither crash, read or write out of bounds, nor leak.
//
// Input: byte 0 picks the reading (bits below), byte 1 the status letter,
// the rest is the reply payload (counts, description section, row block).
// The connection has no link: any request the reading makes (a next block,
// a value, a description) fails at once as a lost link, which ends the
// reading the way a broken server would.
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/handles.h"
#include "results/statement_exchange.h"
#include "statement/lifecycle.h"
#include "results/execute_reply.h"

namespace {

constexpr SQLSMALLINT kCTypes[] = {
    SQL_C_CHAR,    SQL_C_LONG,      SQL_C_SHORT,   SQL_C_DOUBLE, SQL_C_FLOAT,    SQL_C_DATE,
    SQL_C_TIME,    SQL_C_TIMESTAMP, SQL_C_BINARY,  SQL_C_BIT,    SQL_C_TINYINT,  SQL_C_DEFAULT,
    SQL_C_SLONG,   SQL_C_ULONG,     SQL_C_SSHORT,  SQL_C_USHORT, SQL_C_STINYINT, SQL_C_UTINYINT,
    SQL_C_NUMERIC, SQL_C_WCHAR,     SQL_C_SBIGINT, SQL_C_UBIGINT};
constexpr size_t kCTypeCount = sizeof kCTypes / sizeof kCTypes[0];
constexpr const char* kStatus[] = {"K", "W01 warning", "E1", "Q"};
constexpr int kRowset = 3;
constexpr int kMaxRows = 64;     // rows read before the reading stops
constexpr int kMaxColumns = 12;  // columns read with SQLGetData

// Byte 0.
constexpr uint8_t kBindColumns = 0x01;
constexpr uint8_t kAbsoluteFetch = 0x02;  // the server claims the absolute form
constexpr uint8_t kRowsets = 0x04;
constexpr uint8_t kRowWise = 0x08;
constexpr uint8_t kSmallBuffers = 0x10;

struct RowWise {
  SQLINTEGER number;
  SQLLEN number_length;
  char text[12];
  SQLLEN text_length;
};

void read_values(SQLHSTMT stmt, int columns, uint8_t shape, int row) {
  SQLLEN room = (shape & kSmallBuffers) ? 3 : 64;
  for (int icol = 0; icol <= columns && icol <= kMaxColumns; ++icol) {
    uint8_t value[64];
    SQLLEN length = 0;
    SQLSMALLINT c_type = kCTypes[(icol + row + shape) % kCTypeCount];
    // A character column is read in pieces until it is done.
    for (int piece = 0; piece < 4; ++piece) {
      SQLRETURN rc =
          SQLGetData(stmt, static_cast<SQLUSMALLINT>(icol), c_type, value, room, &length);
      if (rc != SQL_SUCCESS_WITH_INFO) break;
    }
  }
}

void describe(SQLHSTMT stmt, int columns) {
  for (int icol = 0; icol <= columns + 1 && icol <= kMaxColumns; ++icol) {
    SQLCHAR name[8];
    SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN precision = 0;
    SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(icol), name, sizeof name, &name_length, &type,
                   &precision, &scale, &nullable);
    SQLLEN number = 0;
    SQLColAttributes(stmt, static_cast<SQLUSMALLINT>(icol), SQL_COLUMN_DISPLAY_SIZE, nullptr, 0,
                     nullptr, &number);
  }
}

void read_rowsets(SQLHSTMT stmt, uint8_t shape) {
  SQLSetStmtOption(stmt, SQL_ROWSET_SIZE, kRowset);
  RowWise rows[kRowset];
  SQLINTEGER numbers[kRowset];
  SQLLEN number_lengths[kRowset];
  char texts[kRowset][12];
  SQLLEN text_lengths[kRowset];
  if (shape & kRowWise) {
    SQLSetStmtOption(stmt, SQL_BIND_TYPE, sizeof(RowWise));
    SQLBindCol(stmt, 1, SQL_C_LONG, &rows[0].number, 0, &rows[0].number_length);
    SQLBindCol(stmt, 2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].text_length);
  } else {
    SQLBindCol(stmt, 1, SQL_C_LONG, numbers, 0, number_lengths);
    SQLBindCol(stmt, 2, SQL_C_CHAR, texts, sizeof texts[0], text_lengths);
  }
  const SQLUSMALLINT orientations[] = {SQL_FETCH_NEXT,     SQL_FETCH_LAST,  SQL_FETCH_PRIOR,
                                       SQL_FETCH_ABSOLUTE, SQL_FETCH_FIRST, SQL_FETCH_RELATIVE};
  for (int i = 0; i < 8; ++i) {
    SQLULEN fetched = 0;
    SQLUSMALLINT statuses[kRowset];
    SQLExtendedFetch(stmt, orientations[(i + shape) % 6], (i % 3) - 1 + 2 * i, &fetched, statuses);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t shape = data[0];
  const char* status = kStatus[data[1] % 4];
  data += 2;
  size -= 2;
  // The driver receives execute replies into a fixed area of this size.
  if (size > static_cast<size_t>(q4::kReplyCapacity)) size = q4::kReplyCapacity;

  SQLHENV env;
  SQLHDBC dbc;
  SQLAllocEnv(&env);
  SQLAllocConnect(env, &dbc);
  auto* conn = static_cast<q4::Connection*>(dbc);
  conn->server_version = 754;
  conn->server_flags = (shape & kAbsoluteFetch) ? 1 : 0;
  q4::Statement* stmt = nullptr;
  q4::alloc_statement(conn, &stmt);

  strcpy(stmt->reply_status, status);
  memcpy(stmt->io_buffer, data, size);
  SQLRETURN rc = q4::handle_execute_reply(stmt, stmt->io_buffer, static_cast<int32_t>(size));
  if (SQL_SUCCEEDED(rc)) {
    int columns = stmt->column_count;
    describe(stmt, columns);
    if (shape & kRowsets) {
      read_rowsets(stmt, shape);
    } else {
      SQLINTEGER bound = 0;
      SQLLEN bound_length = 0;
      if (shape & kBindColumns) SQLBindCol(stmt, 1, SQL_C_LONG, &bound, 0, &bound_length);
      for (int row = 0; row < kMaxRows; ++row) {
        rc = SQLFetch(stmt);
        if (!SQL_SUCCEEDED(rc)) break;
        read_values(stmt, columns, shape, row);
      }
    }
  }

  // Without a link the release fails and the record waits in the
  // connection's unreleased chain, from which it is freed here.
  q4::free_statement(stmt, SQL_DROP);
  q4::discard_unreleased_statements(conn);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return 0;
}
