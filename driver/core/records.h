// The driver's handle records. A handle given to the application is the
// address of one of these records. Records are plain structures in zero-filled
// memory from drv_alloc: any field not set explicitly starts as zero/empty.
//
// Ownership: the environment owns its lock and the list of its connections;
// each connection owns its settings, its link and the list of its
// statements; each statement owns every block it points to (statement text,
// request payload, description cache, parameter bindings, bound columns) and
// those of the row block in its result_area. Blocks are freed by the module
// that allocated them, always through drv_free.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/call_state.h"
#include "platform/lock.h"
#include "protocol/wire.h"

namespace q4 {

struct Connection;
struct Statement;
struct ExchangeLog;       // link/exchange_log.h
struct Link;              // link/link.h
struct ParamDescription;  // statement/param_description.h

// Size of the per-statement area that receives a reply's status string.
constexpr int kReplyStatusSize = 20582;
// Size of the connection's area for connection-level payloads and statuses.
constexpr int kExchangeBufferSize = 1030;
// Request payloads are built in, and reply payloads land in, io_buffer.
constexpr int kIoBufferSize = 20480;
// Room in a connection record for its link's record: the socket, its state
// and the frame buffer every exchange of the connection is built in.
constexpr int kLinkAreaSize = kFrameBufferSize + 128;
// Room in a statement record for the result set's row block and cursor.
constexpr int kResultAreaSize = 96;
// Binary parameter tables start with room for this many blocks.
constexpr int kInitialBinarySlots = 25;

// How a call met a cancel request from another thread.
enum CallCancel : int32_t {
  kNotCancelled = 0,
  // Taken after a whole reply: the server did the work, the link is in step.
  kCancelledAfterReply,
  // Taken as an exchange was about to start: nothing was sent.
  kCancelledBeforeSend,
  // The cancel cut the call's wait for its server: whether the server did the
  // work is unknown, and the link has been dropped.
  kCancelledInWait,
};

// The generation of ODBC an application declared (SQL_ATTR_ODBC_VERSION): it
// decides the SQLSTATEs, the date and time type codes and the information an
// application is given (core/odbc_version.h).
enum class OdbcVersion : uint8_t {
  kOdbc2,    // SQL_OV_ODBC2, and every environment from SQLAllocEnv
  kOdbc3,    // SQL_OV_ODBC3
  kOdbc380,  // SQL_OV_ODBC3_80
};

// Diagnostic records beyond the first of a handle: the first is the handle's
// slot (`sqlstate`, `message`), which every module posts into; further
// records exist only for an ODBC 3 application, where one call reports
// several things (a parameter array's later failing rows). Read through
// SQLGetDiagRec and SQLGetDiagField (core/diagnostic_fields.h).
constexpr int kMaxDiagRecords = 8;  // the slot and seven more

struct DiagRecord {
  char sqlstate[6];
  int32_t column_number;  // 0: none
  int64_t row_number;     // 1-based; 0: none
  char message[256];
};

struct DiagArea {
  int64_t row_number;     // of the slot's record; 1-based, 0: none
  int32_t column_number;  // of the slot's record; 0: none
  int16_t return_code;    // of the last call on the handle
  uint8_t more_count;     // records in `more`
  DiagRecord more[kMaxDiagRecords - 1];
};

struct Environment {
  Connection* connections;  // first connection; new ones go to the front
  Lock lock;                // guards `connections` and the connections' links
  // Allocated through SQLAllocHandle: the caller is a Driver Manager that
  // takes the driver for an ODBC 3.x driver (core/odbc_version.h).
  int32_t odbc3_caller;
  OdbcVersion odbc_version;
  // What SQLSetEnvAttr was told of pooling (the Driver Manager's business:
  // the driver pools nothing and only answers it back); zero is the default
  // of both (SQL_CP_OFF, SQL_CP_STRICT_MATCH).
  uint32_t connection_pooling;
  uint32_t cp_match;
  // Diagnostic slot of the environment's own functions (SQLSetEnvAttr,
  // SQLGetEnvAttr, SQLFreeEnv): empty sqlstate means nothing is pending.
  char sqlstate[10];
  char message[256];
  DiagArea diag;
};

struct Connection {
  void* module_instance;  // copied from the module at allocation
  Environment* environment;

  // Held for the whole of every call on this connection or on one of its
  // statements (SQLCancel and SQLFreeConnect excepted), so that calls from
  // several threads take turns: they share the socket, the frame buffer, the
  // diagnostic slot and the statement list. Taken after the environment's
  // lock when both are needed, never before it. SQLCancel takes it only when
  // it is free, to discard an idle statement's result, and otherwise marks
  // a duty on it that the holder carries out as it leaves.
  Lock call_lock;

  // Diagnostic slot: empty sqlstate means nothing is pending.
  char sqlstate[10];
  char message[256];
  DiagArea diag;

  char info_text[255];  // scratch for SQLGetInfo string answers

  // Data source settings (texts hold at most size-1 characters).
  char dsn[128];
  char description[255];
  char server[128];
  char virtual_machine[40];
  char user[40];
  char password[20];     // always plain text once read
  char ac_password[20];  // plain text
  char account[128];
  char port_text[10];
  char connect_dialog[10];  // switch texts: on when they begin with 'Y'
  char account_connect_dialog[10];
  char not_null_constraint[10];
  char disable_ext_fetch[10];
  char disable_array_pipeline[10];  // on: parameter arrays wait for each row's reply
  char server_format_opt[10];
  char ssl_mode[16];        // SSLMode as given; empty: not given (plain TCP)
  char ssl_root_cert[256];  // SSLRootCert: a PEM file of trusted roots; empty: the system's
  char decimal_mark[6];
  char thousand_mark[6];
  char currency_sign[6];

  uint32_t server_version;  // 700, 710, 720 or 754 (or any stored number)
  char logon_command[5];    // loaded from the string table before each logon
  char exchange_buffer[kExchangeBufferSize];

  // The link to the server: null while not connected. After a link failure
  // it stays (lost) and the connection still counts as connected until
  // SQLDisconnect closes it. Its record lives in link_area (link/link.h
  // checks that it fits): a connect allocates no block for its frame buffer.
  Link* link;
  alignas(16) uint8_t link_area[kLinkAreaSize];
  uint16_t port;  // network byte order

  // Logon.
  char field_separator[10];
  uint32_t server_flags;   // capability bits from the logon reply
  uint32_t login_timeout;  // seconds, 0..32767 (0: no limit, i.e. 32767)

  // Driver log: the file the LogFile setting names (empty: none), and the log
  // open for the current session (null: logging is off).
  char log_file[256];
  ExchangeLog* exchange_log;

  // Connection options.
  uint32_t access_mode;
  uint32_t autocommit;
  char current_qualifier[68];
  uint32_t txn_isolation;
  // SQL_ATTR_CONNECTION_TIMEOUT: seconds a connection-level exchange (commit
  // or roll back, the settings request) may wait for the server; 0 waits as
  // long as the server takes.
  uint32_t connection_timeout;

  // Connect dialogs.
  uint32_t confirm_flag;

  Statement* statements;  // first statement; new ones go to the front
  // Statements the application dropped whose release could not reach the
  // server: out of `statements`, still valid for another drop, and freed by
  // SQLDisconnect if none comes (chained through `next`).
  Statement* unreleased;
  Connection* prev;
  Connection* next;

  // Statement option defaults that new statements copy.
  uint32_t default_async_enable;
  uint32_t default_concurrency;
  uint32_t default_cursor_type;
  uint32_t default_max_rows;
  uint32_t default_noscan;
  uint32_t default_query_timeout;
  uint32_t default_use_bookmarks;
  uint32_t default_bind_type;
  uint32_t default_retrieve_data;
  uint32_t default_rowset_size;
};

// One bound parameter (SQLBindParameter / SQLSetParam), kept in ascending
// `number`. Markers take bindings by order: the k-th marker the k-th binding.
struct ParamBinding {
  ParamBinding* next;
  uint16_t number;
  int16_t c_type;
  int16_t sql_type;
  uint64_t precision;
  int16_t scale;
  void* value;
  int64_t* indicator;
  int32_t complete;  // data-at-execution value is complete
  void* piece_data;  // data delivered by SQLPutData
  int32_t piece_length;
  int32_t piece_seen;
  int32_t buffer_capacity;
  uint8_t* buffer;  // owned accumulation buffer for pieces
  // cbValueMax: the distance between the rows of a character or binary
  // parameter array (SQLParamOptions); not used for single values.
  int64_t buffer_length;
};

// One bound result column (SQLBindCol), kept in binding order.
struct BoundColumn {
  BoundColumn* next;
  uint16_t icol;  // 0 is the bookmark column
  int16_t c_type;
  void* value;
  int64_t value_max;
  int64_t* indicator;
};

struct Statement {
  Connection* connection;

  char sqlstate[10];
  char message[256];
  DiagArea diag;

  uint8_t io_buffer[kIoBufferSize];
  char reply_status[kReplyStatusSize];

  int32_t column_count;
  int32_t row_count;
  BoundColumn* bound_columns;
  uint32_t marker_count;
  ParamBinding* parameters;
  uint32_t pending_parameter;  // 0, or 500 + ordinal of the marker awaiting data

  // Result set. The row block and the cursor are a record of the results
  // layer (results/result_set.h: ResultSet, which checks that it fits) kept
  // in result_area, so that a statement allocates nothing more for them;
  // zero-filled, it holds no block and stands before the first row.
  alignas(16) uint8_t result_area[kResultAreaSize];
  // The number of the row the last fetch returned (SQL_ROW_NUMBER, the
  // bookmark column); 0 before the first.
  uint32_t row_number;
  int32_t getdata_column;  // -1 when no piecewise read is under way
  uint32_t getdata_offset;
  // UTF-16 units of the value still ahead of a piecewise SQL_C_WCHAR read;
  // counted when the read starts, so a long text read in pieces is scanned
  // once rather than once a piece.
  int64_t getdata_wide_units;
  int32_t descriptions_cached;
  uint8_t* description_cache;
  int32_t description_cache_size;

  // Statement options.
  uint32_t async_enable;
  uint32_t concurrency;
  uint32_t cursor_type;
  char cursor_name[20];
  int32_t cursor_open;
  uint32_t max_length;
  uint32_t max_rows;
  uint32_t noscan;
  uint32_t query_timeout;
  uint32_t use_bookmarks;
  uint32_t bind_type;
  uint32_t retrieve_data;
  uint32_t rowset_size;

  // Statement text and the request built from it.
  char* statement_text;
  int64_t statement_text_length;
  int64_t statement_text_capacity;
  uint8_t* request_buffer;
  uint64_t request_length;
  uint64_t request_capacity;
  int32_t pass_through;
  // SQLDescribeParam's descriptions of the markers of statement_text, made
  // once per text when first asked: an owned array of
  // param_description_count entries, or null.
  ParamDescription* param_descriptions;
  uint32_t param_description_count;

  // Binary parameter blocks of the next request.
  int32_t binary_count;
  int32_t binary_capacity;  // entries the two tables have room for
  uint8_t** binary_blocks;
  uint64_t* binary_lengths;

  int32_t ext_fetch_disabled;

  // Parameter arrays (SQLParamOptions). 0 or 1 rows: one set of values.
  uint64_t paramset_size;
  uint64_t* rows_processed;  // the application's row counter, or null
  uint64_t param_row;        // 0-based row whose values the next request reads
  // The ODBC 3 parameter array attributes (statement/param_rows.h): where
  // each row's outcome goes (null: nowhere), the row-wise binding's row size
  // (0: column-wise) and the application's bind offset (null: none).
  uint16_t* param_statuses;
  uint64_t param_bind_type;
  int64_t* param_bind_offset;

  // The ODBC 3 rowset attributes that SQLFetch and SQLFetchScroll report
  // through (results/fetch_scroll.h), each the application's or null.
  uint16_t* row_statuses;
  uint64_t* rows_fetched;
  int32_t* fetch_bookmark;

  Statement* prev;
  Statement* next;

  // What SQLCancel shares with the thread that calls on the statement; the
  // protocol is in core/handles.h.
  CallSignal call;
  // How the running call met a cancel, for the end of the call (which then
  // discards the result) and for a parameter array (which row was done).
  // Only the calling thread uses it.
  CallCancel cancelled_in_call;
};

// Statement id on the wire: the low 32 bits of the handle value.
inline uint32_t statement_id(const Statement* stmt) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stmt));
}

}  // namespace q4
