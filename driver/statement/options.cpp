#include "statement/options.h"

#include <cstring>

#include "core/diagnostics.h"
#include "link/link.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

namespace q4 {

namespace {

// Largest value kept for SQL_MAX_ROWS and SQL_BIND_TYPE.
constexpr uint32_t kMaxCount = 2147483646;

// What set_option does with a value.
enum class Rule : uint8_t {
  kLimit,       // stored up to `high`; above it ignored with "01S02" "Value option changed"
  kRange,       // stored within [low, high]; else "S1009"
  kCursorType,  // forward-only and static stored; keyset and dynamic become static
  kNotCapable,  // "S1C00" "Driver not capable"
  kBadOption,   // "S1000" "Bad option"
};

struct StatementOption {
  SQLUSMALLINT code;
  Rule rule;
  uint32_t low;
  uint32_t high;
  // Read back by SQLGetStmtOption; null answers "Driver not capable" unless
  // the option lives in the row descriptor (`row_field`).
  uint32_t Statement::*field;
  // The connection's default, which new statements copy and propagate_option
  // pushes into existing ones; null when the option has none.
  uint32_t Connection::*default_field;
  // The row descriptor's field the option is (SQL_BIND_TYPE,
  // SQL_ROWSET_SIZE), in the descriptor the statement uses; null otherwise.
  uint64_t Descriptor::*row_field;
};

constexpr StatementOption kStatementOptions[] = {
    // Seconds any wait of a statement's exchange may take; 0 waits as long as
    // the server takes. A wait past it ends the exchange with "S1T00" and
    // drops the link (statement/exchange.cpp).
    {SQL_QUERY_TIMEOUT, Rule::kRange, 0, UINT32_MAX, &Statement::query_timeout,
     &Connection::default_query_timeout, nullptr},
    {SQL_MAX_ROWS, Rule::kLimit, 0, kMaxCount, &Statement::max_rows, &Connection::default_max_rows,
     nullptr},
    {SQL_NOSCAN, Rule::kRange, 0, 1, &Statement::noscan, &Connection::default_noscan, nullptr},
    {SQL_MAX_LENGTH, Rule::kNotCapable, 0, 0, &Statement::max_length, nullptr, nullptr},
    {SQL_ASYNC_ENABLE, Rule::kRange, 0, 1, &Statement::async_enable,
     &Connection::default_async_enable, nullptr},
    {SQL_BIND_TYPE, Rule::kRange, 0, kMaxCount, nullptr, &Connection::default_bind_type,
     &Descriptor::bind_type},
    {SQL_CURSOR_TYPE, Rule::kCursorType, 0, 0, &Statement::cursor_type,
     &Connection::default_cursor_type, nullptr},
    {SQL_CONCURRENCY, Rule::kRange, 1, 4, &Statement::concurrency, &Connection::default_concurrency,
     nullptr},
    {SQL_KEYSET_SIZE, Rule::kNotCapable, 0, 0, nullptr, nullptr, nullptr},
    {SQL_ROWSET_SIZE, Rule::kRange, 1, 65535, nullptr, &Connection::default_rowset_size,
     &Descriptor::array_size},
    {SQL_SIMULATE_CURSOR, Rule::kNotCapable, 0, 0, nullptr, nullptr, nullptr},
    {SQL_RETRIEVE_DATA, Rule::kRange, 0, 1, &Statement::retrieve_data,
     &Connection::default_retrieve_data, nullptr},
    {SQL_USE_BOOKMARKS, Rule::kRange, 0, 1, &Statement::use_bookmarks,
     &Connection::default_use_bookmarks, nullptr},
    // Both read the current row number; neither can be set.
    {SQL_GET_BOOKMARK, Rule::kBadOption, 0, 0, &Statement::row_number, nullptr, nullptr},
    {SQL_ROW_NUMBER, Rule::kBadOption, 0, 0, &Statement::row_number, nullptr, nullptr},
};

const StatementOption* find_statement_option(SQLUSMALLINT code) {
  for (const StatementOption& option : kStatementOptions) {
    if (option.code == code) return &option;
  }
  return nullptr;
}

bool has_field(const StatementOption& option) {
  return option.field != nullptr || option.row_field != nullptr;
}

void store_in_statement(Statement* stmt, const StatementOption& option, uint32_t value) {
  if (option.row_field != nullptr) {
    app_row_desc(stmt).*option.row_field = value;
  } else {
    stmt->*option.field = value;
  }
}

uint32_t read_from_statement(const Statement* stmt, const StatementOption& option) {
  if (option.row_field != nullptr) {
    return static_cast<uint32_t>(app_row_desc(stmt).*option.row_field);
  }
  return stmt->*option.field;
}

void store(Connection* conn, Statement* stmt, const StatementOption& option, uint32_t value) {
  if (conn != nullptr) {
    conn->*option.default_field = value;
  } else {
    store_in_statement(stmt, option, value);
  }
}

// "01S02" warnings: posted like errors, but the call succeeds with info.
SQLRETURN post_option_warning(Connection* conn, Statement* stmt, const DiagText& diag) {
  post_option_error(conn, stmt, diag);
  return SQL_SUCCESS_WITH_INFO;
}

// Connection options that the driver does not offer.
bool connection_option_not_capable(SQLUSMALLINT option) {
  switch (option) {
    case SQL_OPT_TRACE:
    case SQL_OPT_TRACEFILE:
    case SQL_TRANSLATE_DLL:
    case SQL_TRANSLATE_OPTION:
    case SQL_ODBC_CURSORS:
    case SQL_QUIET_MODE:
    case SQL_PACKET_SIZE:
      return true;
    default:
      return false;
  }
}

// The current qualifier holds 67 characters. A longer text is cut to fit and
// the caller is warned with "01S02", so that a cut name is never taken
// silently; a null text is refused.
SQLRETURN set_current_qualifier(Connection* conn, const char* text) {
  if (text == nullptr) return post_connection_error(conn, kDiagInvalidArgument);
  constexpr size_t kRoom = sizeof conn->current_qualifier - 1;
  size_t length = strnlen(text, kRoom + 1);
  bool cut = length > kRoom;
  if (cut) length = kRoom;
  memcpy(conn->current_qualifier, text, length);
  conn->current_qualifier[length] = '\0';
  if (cut) return post_option_warning(conn, nullptr, kDiagOptionValueChanged);
  return SQL_SUCCESS;
}

// The digit that carries each setting in the settings request.
struct SettingDigit {
  uint32_t value;
  char digit;
};

constexpr SettingDigit kAccessModeDigits[] = {
    {SQL_MODE_READ_WRITE, '1'},
    {SQL_MODE_READ_ONLY, '0'},
};
constexpr SettingDigit kAutocommitDigits[] = {
    {SQL_AUTOCOMMIT_OFF, '0'},
    {SQL_AUTOCOMMIT_ON, '1'},
};
constexpr SettingDigit kIsolationDigits[] = {
    {SQL_TXN_READ_UNCOMMITTED, '1'},
    {SQL_TXN_READ_COMMITTED, '2'},
    {SQL_TXN_REPEATABLE_READ, '3'},
    {SQL_TXN_SERIALIZABLE, '4'},
};

// False for a value the request cannot carry.
template <size_t N>
bool encode_setting(const SettingDigit (&table)[N], uint32_t value, char* digit) {
  for (const SettingDigit& entry : table) {
    if (entry.value == value) {
      *digit = entry.digit;
      return true;
    }
  }
  return false;
}

// Connection-level numbers are kept as 32-bit values; a larger value keeps
// its "too large" meaning instead of wrapping to a small one.
uint32_t saturate_u32(SQLULEN value) {
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

}  // namespace

SQLRETURN post_option_error(Connection* conn, Statement* stmt, const DiagText& diag) {
  if (conn != nullptr) return post_connection_error(conn, diag);
  return post_error(stmt, diag);
}

SQLRETURN set_option(Connection* conn, Statement* stmt, SQLUSMALLINT code, uint32_t value) {
  const StatementOption* option = find_statement_option(code);
  if (option == nullptr) return post_option_error(conn, stmt, kDiagBadOptionSet);

  switch (option->rule) {
    case Rule::kLimit:
      if (value > option->high) return post_option_warning(conn, stmt, kDiagValueChanged);
      store(conn, stmt, *option, value);
      return SQL_SUCCESS;
    case Rule::kRange:
      if (value < option->low || value > option->high) {
        return post_option_error(conn, stmt, kDiagInvalidArgument);
      }
      store(conn, stmt, *option, value);
      return SQL_SUCCESS;
    case Rule::kCursorType:
      switch (value) {
        case SQL_CURSOR_FORWARD_ONLY:
        case SQL_CURSOR_STATIC:
          store(conn, stmt, *option, value);
          return SQL_SUCCESS;
        case SQL_CURSOR_KEYSET_DRIVEN:
        case SQL_CURSOR_DYNAMIC:
          store(conn, stmt, *option, SQL_CURSOR_STATIC);
          return post_option_warning(conn, stmt, kDiagValueChanged);
        default:
          return post_option_error(conn, stmt, kDiagInvalidArgument);
      }
    case Rule::kNotCapable:
      return post_option_error(conn, stmt, kDiagNotCapableLower);
    case Rule::kBadOption:
      break;
  }
  return post_option_error(conn, stmt, kDiagBadOptionSet);
}

void propagate_option(Connection* conn, SQLUSMALLINT code) {
  const StatementOption* option = find_statement_option(code);
  if (option == nullptr || !has_field(*option) || option->default_field == nullptr) return;
  for (Statement* stmt = conn->statements; stmt != nullptr; stmt = stmt->next) {
    store_in_statement(stmt, *option, conn->*option->default_field);
  }
}

bool connection_default(const Connection* conn, SQLUSMALLINT code, uint32_t* value) {
  const StatementOption* option = find_statement_option(code);
  if (option == nullptr || option->default_field == nullptr) return false;
  *value = conn->*option->default_field;
  return true;
}

SQLRETURN get_stmt_option(Statement* stmt, SQLUSMALLINT code, SQLPOINTER out) {
  // Nothing can be stored without a destination.
  if (out == nullptr) return post_error(stmt, kDiagInvalidArgument);
  const StatementOption* option = find_statement_option(code);
  if (option == nullptr) return post_error(stmt, kDiagBadOptionGet);
  if (!has_field(*option)) return post_error(stmt, kDiagNotCapableLower);
  *static_cast<uint32_t*>(out) = read_from_statement(stmt, *option);
  return SQL_SUCCESS;
}

SQLRETURN send_connection_settings(Connection* conn) {
  char access_mode, autocommit, isolation;
  if (!encode_setting(kAccessModeDigits, conn->access_mode, &access_mode) ||
      !encode_setting(kAutocommitDigits, conn->autocommit, &autocommit) ||
      !encode_setting(kIsolationDigits, conn->txn_isolation, &isolation)) {
    return post_connection_error(conn, kDiagBadTransSetting);
  }
  uint8_t payload[kMaxFixedRequest];
  int32_t length = encode_settings(payload, access_mode, autocommit, isolation);
  // A reply that cannot be received is a broken link, never a status to
  // interpret.
  Exchanged result = exchange(conn->link, kCmdConnectOptions, payload, length,
                              ReplyArea{conn->exchange_buffer, sizeof conn->exchange_buffer},
                              conn->connection_timeout);
  if (result.link_status == LinkStatus::LINK_TIMEOUT) {
    return post_connection_error(conn, kDiagConnectionTimeout);
  }
  if (!result.ok()) return report_comm_failure(conn, kStateCommSettings);
  const char* reply = conn->exchange_buffer;
  if (reply[0] == kStatusOk) return SQL_SUCCESS;
  return post_connection_error(conn, reply[0] != '\0' ? reply + 1 : reply, kStateServerRefused);
}

SQLRETURN set_connect_option(Connection* conn, SQLUSMALLINT option, SQLULEN value) {
  if (connection_option_not_capable(option)) return post_connection_error(conn, kDiagNotCapable);
  switch (option) {
    case SQL_ACCESS_MODE:
      // Only read-write access is offered: nothing is stored either way.
      if (value == SQL_MODE_READ_ONLY) {
        return post_option_warning(conn, nullptr, kDiagOptionValueChanged);
      }
      return SQL_SUCCESS;
    case SQL_AUTOCOMMIT:
      // Stored while unconnected; the server hears it with the next settings
      // request.
      conn->autocommit = saturate_u32(value);
      if (conn->link == nullptr) return SQL_SUCCESS;
      return send_connection_settings(conn);
    case SQL_LOGIN_TIMEOUT:
      if (value > kMaxLoginTimeout) {
        conn->login_timeout = kMaxLoginTimeout;
        return post_option_warning(conn, nullptr, kDiagOptionValueChanged);
      }
      conn->login_timeout = static_cast<uint32_t>(value);
      return SQL_SUCCESS;
    case SQL_TXN_ISOLATION:
      conn->txn_isolation = saturate_u32(value);
      return send_connection_settings(conn);
    case SQL_CURRENT_QUALIFIER:
      return set_current_qualifier(conn, reinterpret_cast<const char*>(value));
    default: {
      // Statement options become the connection's defaults and reach every
      // statement, even when the value was refused.
      SQLRETURN rc = set_option(conn, nullptr, option, static_cast<uint32_t>(value));
      propagate_option(conn, option);
      return rc;
    }
  }
}

SQLRETURN get_connect_option(Connection* conn, SQLUSMALLINT option, SQLPOINTER out) {
  if (out == nullptr) return post_connection_error(conn, kDiagBadPvParam);
  if (connection_option_not_capable(option)) return post_connection_error(conn, kDiagNotCapable);
  uint32_t number;
  switch (option) {
    case SQL_ACCESS_MODE:
      number = conn->access_mode;
      break;
    case SQL_AUTOCOMMIT:
      number = conn->autocommit;
      break;
    case SQL_LOGIN_TIMEOUT:
      number = conn->login_timeout;
      break;
    case SQL_TXN_ISOLATION:
      number = conn->txn_isolation;
      break;
    case SQL_CURRENT_QUALIFIER: {
      // Never more than the field holds: its text and the NUL.
      size_t length = strnlen(conn->current_qualifier, sizeof conn->current_qualifier - 1);
      memcpy(out, conn->current_qualifier, length);
      static_cast<char*>(out)[length] = '\0';
      return SQL_SUCCESS;
    }
    default:
      return post_connection_error(conn, kDiagBadOptionGet);
  }
  *static_cast<uint32_t*>(out) = number;
  return SQL_SUCCESS;
}

}  // namespace q4
