// Connection attributes: SQLSetConnectAttr and SQLGetConnectAttr (and their
// wide forms), the ODBC 3 forms of the connection options.
//
// The attributes that have an ODBC 2 option of the same number (access
// mode, autocommit, login timeout, isolation, the current catalog, the
// options the driver does not offer, and the statement options set on the
// connection as defaults) are the options of statement/options.h: the same
// values are accepted, stored and sent, with the same diagnostics. On top of
// them:
// - string attributes come with an explicit length and go back into a sized
//   buffer (the full length told, "01004" when cut), in UTF-16 for the wide
//   forms;
// - SQL_ATTR_CONNECTION_TIMEOUT: the limit of the connection-level
//   exchanges (commit or roll back, the settings request);
// - SQL_ATTR_CONNECTION_DEAD: what the link knows, without asking the server;
// - SQL_ATTR_RESET_CONNECTION: the pool's reset (connect/connection_reset.h);
// - SQL_ATTR_AUTO_IPD and SQL_ATTR_METADATA_ID answered as the driver works
//   (no automatic parameter descriptions, catalog arguments as patterns);
// - the statement options' connection defaults can be read back.
// Any other number is refused with "S1092" "Invalid attribute/option
// identifier".
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "core/records.h"

namespace q4 {

// How string attributes cross the call: bytes as they are, or UTF-16
// (lengths in bytes either way, as ODBC counts them for attributes).
enum class AttributeText : uint8_t {
  kNarrow,
  kWide,
};

// SQLSetConnectAttr's work. `value` is the integer itself or, for a string
// attribute, the address of `length` bytes (SQL_NTS: up to the NUL).
SQLRETURN set_connect_attr(Connection* conn, SQLINTEGER attribute, SQLPOINTER value,
                           SQLINTEGER length, AttributeText text);

// SQLGetConnectAttr's work. Integers are stored as 32-bit values; a string
// goes into `value` (room for `buffer_length` bytes; null: only its length
// is told) and its full length in bytes into *length_out when given.
SQLRETURN get_connect_attr(Connection* conn, SQLINTEGER attribute, SQLPOINTER value,
                           SQLINTEGER buffer_length, SQLINTEGER* length_out, AttributeText text);

}  // namespace q4
