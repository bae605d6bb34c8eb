#include "metadata/info_table.h"

#include <cstring>

#include "platform/strings.h"

namespace q4 {

namespace {

constexpr InfoRow u16(uint16_t type, uint32_t value) {
  return {type, InfoKind::kU16, InfoSource::kConstant, value, nullptr};
}
constexpr InfoRow u32(uint16_t type, uint32_t value) {
  return {type, InfoKind::kU32, InfoSource::kConstant, value, nullptr};
}
constexpr InfoRow text(uint16_t type, const char* value) {
  return {type, InfoKind::kString, InfoSource::kConstant, 0, value};
}
constexpr InfoRow resource(uint16_t type, StringId id) {
  return {type, InfoKind::kString, InfoSource::kResource, id, nullptr};
}
constexpr InfoRow setting(uint16_t type, InfoSource field) {
  return {type, InfoKind::kString, field, 0, nullptr};
}
constexpr InfoRow refused(uint16_t type) {
  return {type, InfoKind::kRefused, InfoSource::kConstant, 0, nullptr};
}
// A bit mask the server reports; servers that cannot be asked answer 0.
constexpr InfoRow server_mask(uint16_t type, uint16_t first, uint16_t second) {
  return {type, InfoKind::kU32, InfoSource::kServer, server_codes(first, second), nullptr};
}
// Conversions from one SQL type: asked as (SQL_CONVERT_FUNCTIONS, type).
constexpr InfoRow conversions(uint16_t type) {
  return server_mask(type, SQL_CONVERT_FUNCTIONS, type);
}

// Indexed by information type. Empty texts follow the empty-answer rule of
// SQLGetInfo (nothing written, length 0).
constexpr InfoRow kInfoTable[] = {
    u16(SQL_ACTIVE_CONNECTIONS, 0),  // no limit
    u16(SQL_ACTIVE_STATEMENTS, 32767),
    setting(SQL_DATA_SOURCE_NAME, InfoSource::kDsn),
    refused(SQL_DRIVER_HDBC),  // handle questions belong to the Driver Manager
    refused(SQL_DRIVER_HENV),
    refused(SQL_DRIVER_HSTMT),
    resource(SQL_DRIVER_NAME, kStrDriverName),
    resource(SQL_DRIVER_VER, kStrDriverVersion),
    u32(SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT | SQL_FD_FETCH_FIRST | SQL_FD_FETCH_LAST |
                                 SQL_FD_FETCH_PRIOR | SQL_FD_FETCH_ABSOLUTE |
                                 SQL_FD_FETCH_RELATIVE | SQL_FD_FETCH_BOOKMARK),
    u16(SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL2),
    refused(SQL_ODBC_VER),  // the Driver Manager's own version
    text(SQL_ROW_UPDATES, "N"),
    u16(SQL_ODBC_SAG_CLI_CONFORMANCE, 0),  // not compliant
    setting(SQL_SERVER_NAME, InfoSource::kServerName),
    text(SQL_SEARCH_PATTERN_ESCAPE, "\\"),
    u16(SQL_ODBC_SQL_CONFORMANCE, SQL_OSC_CORE),
    setting(SQL_DATABASE_NAME, InfoSource::kCurrentQualifier),
    text(SQL_DBMS_NAME, "Q4"),
    resource(SQL_DBMS_VER, kStrDbmsVersion),
    text(SQL_ACCESSIBLE_TABLES, "Y"),
    text(SQL_ACCESSIBLE_PROCEDURES, "N"),
    text(SQL_PROCEDURES, "N"),
    u16(SQL_CONCAT_NULL_BEHAVIOR, SQL_CB_NON_NULL),
    // A commit or rollback ends results, but not prepared statements: every
    // SQLExecute sends the prepared text anew, so it works after either.
    // (SQL_CB_DELETE made the Driver Manager refuse SQLExecute of a statement
    // prepared before a commit with "HY010", which pyodbc meets whenever it
    // reuses a cursor after connection.commit().)
    u16(SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_CLOSE),
    u16(SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_CLOSE),
    text(SQL_DATA_SOURCE_READ_ONLY, "N"),
    u32(SQL_DEFAULT_TXN_ISOLATION, SQL_TXN_READ_COMMITTED),
    text(SQL_EXPRESSIONS_IN_ORDERBY, "Y"),
    u16(SQL_IDENTIFIER_CASE, SQL_IC_MIXED),
    text(SQL_IDENTIFIER_QUOTE_CHAR, " "),  // a space: identifiers cannot be quoted
    u16(SQL_MAX_COLUMN_NAME_LEN, 50),
    u16(SQL_MAX_CURSOR_NAME_LEN, 18),
    u16(SQL_MAX_OWNER_NAME_LEN, 0),  // 0: no limit, or unknown
    u16(SQL_MAX_PROCEDURE_NAME_LEN, 0),
    u16(SQL_MAX_QUALIFIER_NAME_LEN, 0),
    u16(SQL_MAX_TABLE_NAME_LEN, 0),
    text(SQL_MULT_RESULT_SETS, "N"),
    text(SQL_MULTIPLE_ACTIVE_TXN, "Y"),
    text(SQL_OUTER_JOINS, "N"),
    text(SQL_OWNER_TERM, "account"),
    text(SQL_PROCEDURE_TERM, "procedure"),
    text(SQL_QUALIFIER_NAME_SEPARATOR, ""),  // qualifiers are not supported
    text(SQL_QUALIFIER_TERM, ""),
    u32(SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK),
    u32(SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY | SQL_SO_STATIC),
    text(SQL_TABLE_TERM, "file"),
    u16(SQL_TXN_CAPABLE, SQL_TC_DDL_COMMIT),
    setting(SQL_USER_NAME, InfoSource::kAccount),
    u32(SQL_CONVERT_FUNCTIONS, SQL_FN_CVT_CONVERT),
    server_mask(SQL_NUMERIC_FUNCTIONS, SQL_NUMERIC_FUNCTIONS, 0),
    server_mask(SQL_STRING_FUNCTIONS, SQL_STRING_FUNCTIONS, 0),
    u32(SQL_SYSTEM_FUNCTIONS, 0),
    server_mask(SQL_TIMEDATE_FUNCTIONS, SQL_TIMEDATE_FUNCTIONS, 0),
    conversions(SQL_CONVERT_BIGINT),
    conversions(SQL_CONVERT_BINARY),
    conversions(SQL_CONVERT_BIT),
    conversions(SQL_CONVERT_CHAR),
    conversions(SQL_CONVERT_DATE),
    conversions(SQL_CONVERT_DECIMAL),
    conversions(SQL_CONVERT_DOUBLE),
    conversions(SQL_CONVERT_FLOAT),
    conversions(SQL_CONVERT_INTEGER),
    conversions(SQL_CONVERT_LONGVARCHAR),
    conversions(SQL_CONVERT_NUMERIC),
    conversions(SQL_CONVERT_REAL),
    conversions(SQL_CONVERT_SMALLINT),
    conversions(SQL_CONVERT_TIME),
    conversions(SQL_CONVERT_TIMESTAMP),
    conversions(SQL_CONVERT_TINYINT),
    conversions(SQL_CONVERT_VARBINARY),
    conversions(SQL_CONVERT_VARCHAR),
    conversions(SQL_CONVERT_LONGVARBINARY),
    u32(SQL_TXN_ISOLATION_OPTION, SQL_TXN_READ_UNCOMMITTED | SQL_TXN_READ_COMMITTED |
                                      SQL_TXN_REPEATABLE_READ | SQL_TXN_SERIALIZABLE),
    text(SQL_ODBC_SQL_OPT_IEF, "N"),  // no integrity enhancement facility
    u16(SQL_CORRELATION_NAME, SQL_CN_ANY),
    {SQL_NON_NULLABLE_COLUMNS, InfoKind::kU16, InfoSource::kNotNullSwitch, 0, nullptr},
    refused(SQL_DRIVER_HLIB),  // the Driver Manager answers it
    resource(SQL_DRIVER_ODBC_VER, kStrDriverOdbcVersion),
    u32(SQL_LOCK_TYPES, 0),  // SQLSetPos is not supported
    u32(SQL_POS_OPERATIONS, 0),
    u32(SQL_POSITIONED_STATEMENTS, 0),
    u32(SQL_GETDATA_EXTENSIONS, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND),
    u32(SQL_BOOKMARK_PERSISTENCE, SQL_BP_UPDATE | SQL_BP_SCROLL),
    u32(SQL_STATIC_SENSITIVITY, 0),
    u16(SQL_FILE_USAGE, SQL_FILE_NOT_SUPPORTED),
    u16(SQL_NULL_COLLATION, SQL_NC_LOW),
    u32(SQL_ALTER_TABLE, SQL_AT_ADD_COLUMN | SQL_AT_DROP_COLUMN),
    text(SQL_COLUMN_ALIAS, "Y"),
    u16(SQL_GROUP_BY, SQL_GB_GROUP_BY_CONTAINS_SELECT),
    text(SQL_KEYWORDS,  // reserved words beyond the ODBC list
         "ACTION, CURRENT_USER, DEFAULT, INT, LEADING, NATURAL, NO, READ, REAL, REFERENCES, "
         "RELATIVE, SESSION_USER, SYSTEM_USER, TRIM, WRITE, ZONE"),
    text(SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"),
    u32(SQL_OWNER_USAGE, SQL_OU_DML_STATEMENTS | SQL_OU_TABLE_DEFINITION | SQL_OU_INDEX_DEFINITION),
    u32(SQL_QUALIFIER_USAGE, 0),
    u16(SQL_QUOTED_IDENTIFIER_CASE, SQL_IC_MIXED),
    text(SQL_SPECIAL_CHARACTERS, ""),
    u32(SQL_SUBQUERIES, SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN),
    u32(SQL_UNION, SQL_U_UNION),
    u16(SQL_MAX_COLUMNS_IN_GROUP_BY, 0),  // 0: no limit, or unknown, as for every limit below
    u16(SQL_MAX_COLUMNS_IN_INDEX, 0),
    u16(SQL_MAX_COLUMNS_IN_ORDER_BY, 0),
    u16(SQL_MAX_COLUMNS_IN_SELECT, 0),
    u16(SQL_MAX_COLUMNS_IN_TABLE, 0),
    u32(SQL_MAX_INDEX_SIZE, 0),
    text(SQL_MAX_ROW_SIZE_INCLUDES_LONG, "N"),
    u32(SQL_MAX_ROW_SIZE, 0),
    u32(SQL_MAX_STATEMENT_LEN, 0),
    u16(SQL_MAX_TABLES_IN_SELECT, 0),
    u16(SQL_MAX_USER_NAME_LEN, 128),
    u32(SQL_MAX_CHAR_LITERAL_LEN, 0),
    u32(SQL_TIMEDATE_ADD_INTERVALS, 0),
    u32(SQL_TIMEDATE_DIFF_INTERVALS, 0),
    text(SQL_NEED_LONG_DATA_LEN, "N"),
    u32(SQL_MAX_BINARY_LITERAL_LEN, 0),
    text(SQL_LIKE_ESCAPE_CLAUSE, "Y"),
    u16(SQL_QUALIFIER_LOCATION, 0),  // qualifiers are not supported
};

constexpr bool rows_match_their_index() {
  for (size_t i = 0; i < sizeof kInfoTable / sizeof kInfoTable[0]; ++i) {
    if (kInfoTable[i].type != i) return false;
  }
  return true;
}
static_assert(sizeof kInfoTable / sizeof kInfoTable[0] == kLastInfoType + 1,
              "one row per information type");
static_assert(rows_match_their_index(), "a row is out of place");

// Length of a fixed-size text field, never reading past it.
template <size_t N>
const char* field_text(const char (&field)[N], size_t* length) {
  *length = strnlen(field, N);
  return field;
}

}  // namespace

const InfoRow* find_info_row(unsigned type) {
  return type <= kLastInfoType ? &kInfoTable[type] : nullptr;
}

const char* info_row_text(const InfoRow& row, Connection* conn, size_t* length) {
  switch (row.source) {
    case InfoSource::kResource:
      *length =
          static_cast<size_t>(load_string(row.number, conn->info_text, sizeof conn->info_text));
      return conn->info_text;
    case InfoSource::kDsn:
      return field_text(conn->dsn, length);
    case InfoSource::kServerName:
      return field_text(conn->server, length);
    case InfoSource::kCurrentQualifier:
      return field_text(conn->current_qualifier, length);
    case InfoSource::kAccount:
      return field_text(conn->account, length);
    default:
      *length = row.text == nullptr ? 0 : strlen(row.text);
      return row.text == nullptr ? "" : row.text;
  }
}

uint32_t info_row_number(const InfoRow& row, const Connection* conn) {
  if (row.source == InfoSource::kNotNullSwitch) {
    return conn->not_null_constraint[0] == 'Y' ? SQL_NNC_NON_NULL : SQL_NNC_NULL;
  }
  return row.number;
}

}  // namespace q4
