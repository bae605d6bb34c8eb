#include "connect/connection_attributes.h"

#include <cstring>

#include "connect/connection_reset.h"
#include "core/attribute_routes.h"
#include "core/diagnostics.h"
#include "core/wide_text.h"
#include "link/link.h"
#include "results/copy_out.h"
#include "statement/options.h"

namespace q4 {

namespace {

// What an attribute number stands for.
enum class Route : uint8_t {
  kStatementOption,    // a statement option set on the connection (0 to 14)
  kOption,             // the connection option of the same number (101 to 112)
  kCatalog,            // SQL_ATTR_CURRENT_CATALOG: the option, as a sized string
  kConnectionTimeout,  // SQL_ATTR_CONNECTION_TIMEOUT
  kConnectionDead,     // SQL_ATTR_CONNECTION_DEAD: read only
  kReset,              // SQL_ATTR_RESET_CONNECTION: write only
  kAutoIpd,            // SQL_ATTR_AUTO_IPD: read only, always false
  kMetadataId,         // SQL_ATTR_METADATA_ID: false only
  kNotCapable,         // ODBC attributes the driver does not offer
  kUnknown,
};

constexpr AttributeRange<Route> kRoutes[] = {
    {SQL_QUERY_TIMEOUT, SQL_ROW_NUMBER, Route::kStatementOption},
    {SQL_ATTR_CURRENT_CATALOG, SQL_ATTR_CURRENT_CATALOG, Route::kCatalog},
    {SQL_ACCESS_MODE, SQL_PACKET_SIZE, Route::kOption},
    {SQL_ATTR_CONNECTION_TIMEOUT, SQL_ATTR_CONNECTION_TIMEOUT, Route::kConnectionTimeout},
    // Disconnect behaviour and the ANSI application mark: a Driver Manager's
    // concern; asynchronous connection functions: not offered.
    {SQL_ATTR_DISCONNECT_BEHAVIOR, SQL_ATTR_ANSI_APP, Route::kNotCapable},
    {SQL_ATTR_RESET_CONNECTION, SQL_ATTR_RESET_CONNECTION, Route::kReset},
    {SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, Route::kNotCapable},
    // Distributed transactions: not offered.
    {SQL_ATTR_ENLIST_IN_DTC, SQL_ATTR_ENLIST_IN_XA, Route::kNotCapable},
    {SQL_ATTR_CONNECTION_DEAD, SQL_ATTR_CONNECTION_DEAD, Route::kConnectionDead},
    {SQL_ATTR_AUTO_IPD, SQL_ATTR_AUTO_IPD, Route::kAutoIpd},
    {SQL_ATTR_METADATA_ID, SQL_ATTR_METADATA_ID, Route::kMetadataId},
};

// The catalog search in kRoutes finds SQL_ATTR_CURRENT_CATALOG before the
// option range that holds it.
static_assert(SQL_ATTR_CURRENT_CATALOG > SQL_ACCESS_MODE &&
                  SQL_ATTR_CURRENT_CATALOG < SQL_PACKET_SIZE,
              "the catalog lies inside the option range");

Route route_of(SQLINTEGER attribute) {
  return route_in(kRoutes, attribute, Route::kUnknown);
}

SQLULEN as_number(SQLPOINTER value) {
  return static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(value));
}

// Numbers are stored as 32-bit values; a larger one keeps its "too large"
// meaning instead of wrapping to a small one.
uint32_t saturate_u32(SQLULEN value) {
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

// An integer answer, stored as SQLGetConnectOption stores it.
SQLRETURN answer(Connection* conn, SQLPOINTER out, uint32_t number) {
  if (out == nullptr) return post_connection_error(conn, kDiagBadPvParam);
  memcpy(out, &number, sizeof number);
  return SQL_SUCCESS;
}

// Room for one byte more than the current catalog holds (67 and the NUL), so
// that a longer text still reaches the option as too long and is warned
// about.
constexpr int64_t kCatalogRoom = sizeof(Connection::current_qualifier);

// The catalog text as SQLSetConnectOption takes it: NUL-terminated UTF-8.
SQLRETURN set_catalog(Connection* conn, SQLPOINTER value, SQLINTEGER length, AttributeText text) {
  // A null text is refused by the option itself.
  if (value == nullptr) return set_connect_option(conn, SQL_CURRENT_QUALIFIER, 0);
  if (length < 0 && length != SQL_NTS) return post_connection_error(conn, kDiagInvalidLength);
  // A wide unit makes at most 4 bytes (a UTF-16 pair 4 as well).
  char utf8[kCatalogRoom * 4 + 1];
  int64_t bytes;
  if (text == AttributeText::kNarrow) {
    const char* narrow = static_cast<const char*>(value);
    bytes = length == SQL_NTS ? static_cast<int64_t>(strnlen(narrow, kCatalogRoom)) : length;
    if (bytes > kCatalogRoom) bytes = kCatalogRoom;
    memcpy(utf8, narrow, static_cast<size_t>(bytes));
  } else {
    const int64_t unit = wide_unit_bytes();
    if (length != SQL_NTS && length % unit != 0)
      return post_connection_error(conn, kDiagInvalidLength);
    int64_t units = length == SQL_NTS ? wide_length(value) : length / unit;
    if (units > kCatalogRoom) units = kCatalogRoom;
    bytes = wide_to_utf8(value, units, utf8, /*stop_at_nul=*/false);
  }
  utf8[bytes] = '\0';
  return set_connect_option(conn, SQL_CURRENT_QUALIFIER, reinterpret_cast<SQLULEN>(utf8));
}

SQLRETURN get_catalog(Connection* conn, SQLPOINTER value, SQLINTEGER buffer_length,
                      SQLINTEGER* length_out, AttributeText text) {
  if (value != nullptr && buffer_length < 0) {
    return post_connection_error(conn, kDiagInvalidLength);
  }
  const char* catalog = conn->current_qualifier;
  CopyResult copy =
      copy_out(value, value != nullptr ? buffer_length : 0, catalog,
               static_cast<int64_t>(strnlen(catalog, sizeof conn->current_qualifier - 1)), 0,
               text == AttributeText::kWide ? CopyMode::kWideText : CopyMode::kText);
  if (length_out != nullptr) *length_out = static_cast<SQLINTEGER>(copy.full_length);
  if (value != nullptr && copy.truncated) {
    post_connection_error(conn, kDiagTruncated);
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

// Whether the connection can no longer reach its server: never connected,
// disconnected, or its link dropped after a failure. Only what the link
// already knows; nothing is sent, so a pool can ask before every reuse.
bool connection_dead(const Connection* conn) {
  return conn->link == nullptr || conn->link->lost != 0;
}

}  // namespace

SQLRETURN set_connect_attr(Connection* conn, SQLINTEGER attribute, SQLPOINTER value,
                           SQLINTEGER length, AttributeText text) {
  switch (route_of(attribute)) {
    case Route::kStatementOption:
    case Route::kOption:
      return set_connect_option(conn, static_cast<SQLUSMALLINT>(attribute), as_number(value));
    case Route::kCatalog:
      return set_catalog(conn, value, length, text);
    case Route::kConnectionTimeout:
      conn->connection_timeout = saturate_u32(as_number(value));
      return SQL_SUCCESS;
    case Route::kReset:
      if (as_number(value) != SQL_RESET_CONNECTION_YES) {
        return post_connection_error(conn, kDiagInvalidArgument);
      }
      return reset_connection(conn);
    case Route::kMetadataId:
      // Catalog arguments are always patterns: only "false" can be kept.
      if (as_number(value) == SQL_FALSE) return SQL_SUCCESS;
      if (as_number(value) == SQL_TRUE) return post_connection_error(conn, kDiagNotCapableLower);
      return post_connection_error(conn, kDiagInvalidArgument);
    case Route::kNotCapable:
      return post_connection_error(conn, kDiagNotCapableLower);
    case Route::kConnectionDead:
    case Route::kAutoIpd:
    case Route::kUnknown:
      break;
  }
  return post_connection_error(conn, kDiagAttributeIdentifier);
}

SQLRETURN get_connect_attr(Connection* conn, SQLINTEGER attribute, SQLPOINTER value,
                           SQLINTEGER buffer_length, SQLINTEGER* length_out, AttributeText text) {
  switch (route_of(attribute)) {
    case Route::kStatementOption: {
      // The default new statements copy; an option without one is refused as
      // SQLGetConnectOption refuses it.
      uint32_t number;
      if (connection_default(conn, static_cast<SQLUSMALLINT>(attribute), &number)) {
        return answer(conn, value, number);
      }
      return get_connect_option(conn, static_cast<SQLUSMALLINT>(attribute), value);
    }
    case Route::kOption:
      return get_connect_option(conn, static_cast<SQLUSMALLINT>(attribute), value);
    case Route::kCatalog:
      return get_catalog(conn, value, buffer_length, length_out, text);
    case Route::kConnectionTimeout:
      return answer(conn, value, conn->connection_timeout);
    case Route::kConnectionDead:
      return answer(conn, value, connection_dead(conn) ? SQL_CD_TRUE : SQL_CD_FALSE);
    case Route::kAutoIpd:
    case Route::kMetadataId:
      return answer(conn, value, SQL_FALSE);
    case Route::kNotCapable:
      return post_connection_error(conn, kDiagNotCapableLower);
    case Route::kReset:
    case Route::kUnknown:
      break;
  }
  return post_connection_error(conn, kDiagAttributeIdentifier);
}

}  // namespace q4
