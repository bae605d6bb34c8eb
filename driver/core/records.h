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
struct Descriptor;

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

  Statement* statements;    // first statement; new ones go to the front
  Descriptor* descriptors;  // explicitly allocated; new ones go to the front
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

// How a fetch fills a bound column from its record (results/fetch.cpp),
// worked out whenever the record changes so that the row loop asks once.
enum class RecordDelivery : uint8_t {
  kUnbound,  // no data pointer: skipped (a zero-filled record is unbound)
  kPlain,    // the value in the record's C type
  kNumeric,  // SQL_C_NUMERIC with the record's own precision and scale
};

// One record of an application descriptor: a bound result column (SQLBindCol,
// the row descriptor) or a bound parameter (SQLBindParameter / SQLSetParam,
// the parameter descriptor); an explicitly allocated descriptor may serve as
// either, so both share the record. A parameter's record carries its
// implementation side too (SQL type, precision and scale as SQLBindParameter
// gave them). Markers take bindings by order: the k-th marker the k-th
// binding.
struct DescRecord {
  DescRecord* next;
  uint16_t number;  // column (0: the bookmark column) or parameter number
  int16_t c_type;   // SQL_DESC_CONCISE_TYPE
  int16_t sql_type;
  uint64_t precision;
  int16_t scale;
  // The application's precision and scale of an SQL_C_NUMERIC target
  // (SQL_DESC_PRECISION and SQL_DESC_SCALE of a row descriptor's record).
  uint8_t numeric_precision;
  int8_t numeric_scale;
  RecordDelivery delivery;  // a row descriptor's record: how a fetch fills it
  void* value;
  int64_t* indicator;
  int32_t complete;  // data-at-execution value is complete
  void* piece_data;  // data delivered by SQLPutData
  int32_t piece_length;
  int32_t piece_seen;
  int32_t buffer_capacity;
  uint8_t* buffer;  // owned accumulation buffer for pieces
  // SQL_DESC_OCTET_LENGTH. A column: the target's length (fixed for the
  // numeric C types, results/get_data.h), also the column-wise rowset stride.
  // A parameter: cbValueMax, the distance between the rows of a character or
  // binary parameter array (SQLParamOptions); not used for single values.
  int64_t buffer_length;
};
using ParamBinding = DescRecord;
using BoundColumn = DescRecord;

// What a descriptor describes.
enum class DescriptorKind : uint8_t {
  kAppRow,    // a statement's implicit row descriptor (ARD), or an explicit one
  kAppParam,  // a statement's implicit parameter descriptor (APD)
  kImpRow,    // the result's columns (IRD)
  kImpParam,  // the markers (IPD)
};

// A descriptor. The four of every statement live in its record; one that
// the application allocates (SQLAllocHandle(SQL_HANDLE_DESC)) in a block of
// its own, listed on its connection. The header and the records of an
// application descriptor are the bindings themselves: SQLBindCol,
// SQLBindParameter and the statement attributes write them, fetches and
// executions read them, whichever descriptor the statement uses. The
// implementation descriptors keep nothing of their own: their header fields
// are the statement's (row and parameter status arrays and counters) and
// their records the result's descriptions and the parameters' SQL side.
struct Descriptor {
  DescriptorKind kind;
  uint8_t explicitly_allocated;
  Connection* connection;
  Statement* statement;  // the owner of an implicit descriptor; null otherwise
  // Diagnostic slot: empty sqlstate means nothing is pending. The descriptor
  // functions post one record at most; `diag` holds the last call's return
  // code for SQLGetDiagField.
  char sqlstate[10];
  char message[256];
  DiagArea diag;

  // Application descriptors' header.
  uint64_t array_size;  // 0: one row (a parameter descriptor nobody sized)
  uint64_t bind_type;   // row size of a row-wise binding; 0: column-wise
  int64_t* bind_offset;
  uint16_t* array_status;  // the operation array: kept, never acted on
  DescRecord* records;     // in ascending number
  // Records a fetch cannot fill the plain way (RecordDelivery other than
  // kPlain), counted whenever the records change (results/desc_records.h):
  // with none, a fetch walks the records without asking each.
  uint16_t irregular_records;

  // The process's live descriptors (core/descriptor_registry.h).
  Descriptor* live_prev;
  Descriptor* live_next;
  // An explicit descriptor's place on its connection's list.
  Descriptor* prev;
  Descriptor* next;
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
  uint32_t marker_count;
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
  // The precision and scale an SQL_C_NUMERIC value is being delivered with,
  // from the row descriptor's record (results/fetch.cpp, SQLGetData with
  // SQL_ARD_TYPE); 0 and 0 outside such a delivery: the defaults.
  uint8_t numeric_precision;
  int8_t numeric_scale;
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
  uint32_t retrieve_data;

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

  // Parameter arrays (SQLParamOptions; their size, row-wise bind type and
  // bind offset are the parameter descriptor's header). 0 or 1 rows: one set
  // of values.
  uint64_t* rows_processed;  // the application's row counter, or null
  uint64_t param_row;        // 0-based row whose values the next request reads
  // Where each row's outcome goes (null: nowhere): SQL_ATTR_PARAM_STATUS_PTR,
  // the implementation parameter descriptor's SQL_DESC_ARRAY_STATUS_PTR.
  uint16_t* param_statuses;

  // The ODBC 3 rowset attributes that SQLFetch and SQLFetchScroll report
  // through (results/fetch_scroll.h), each the application's or null.
  uint16_t* row_statuses;
  uint64_t* rows_fetched;
  int32_t* fetch_bookmark;

  // The four implicit descriptors, and the application's own descriptors
  // the statement uses in place of the implicit ones (null: none).
  Descriptor row_descriptor;
  Descriptor param_descriptor;
  Descriptor result_descriptor;
  Descriptor marker_descriptor;
  Descriptor* explicit_row_descriptor;
  Descriptor* explicit_param_descriptor;

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

// The application row descriptor (ARD) a statement's fetches fill from and
// the application parameter descriptor (APD) its executions read.
inline Descriptor& app_row_desc(Statement* stmt) {
  return stmt->explicit_row_descriptor != nullptr ? *stmt->explicit_row_descriptor
                                                  : stmt->row_descriptor;
}
inline const Descriptor& app_row_desc(const Statement* stmt) {
  return stmt->explicit_row_descriptor != nullptr ? *stmt->explicit_row_descriptor
                                                  : stmt->row_descriptor;
}
inline Descriptor& app_param_desc(Statement* stmt) {
  return stmt->explicit_param_descriptor != nullptr ? *stmt->explicit_param_descriptor
                                                    : stmt->param_descriptor;
}
inline const Descriptor& app_param_desc(const Statement* stmt) {
  return stmt->explicit_param_descriptor != nullptr ? *stmt->explicit_param_descriptor
                                                    : stmt->param_descriptor;
}

// Statement id on the wire: the low 32 bits of the handle value.
inline uint32_t statement_id(const Statement* stmt) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stmt));
}

}  // namespace q4
