#include "statement/attributes.h"

#include <cstdint>
#include <cstring>

#include "core/attribute_routes.h"
#include "core/diagnostics.h"
#include "statement/descriptors.h"
#include "statement/options.h"
#include "statement/param_array.h"

namespace q4 {

namespace {

// Numbers from here on are driver-defined; unixODBC handed them to
// SQLSetStmtOption/SQLGetStmtOption, whose option argument keeps their low
// 16 bits.
constexpr SQLINTEGER kFirstDriverAttribute = 20000;

// What an attribute number stands for.
enum class Route : uint8_t {
  kOption,           // the 2.x statement option of the same number
  kRowsetSize,       // SQL_ATTR_ROW_ARRAY_SIZE: the option SQL_ROWSET_SIZE
  kRowStatuses,      // SQL_ATTR_ROW_STATUS_PTR
  kRowsFetched,      // SQL_ATTR_ROWS_FETCHED_PTR
  kFetchBookmark,    // SQL_ATTR_FETCH_BOOKMARK_PTR
  kParamsetSize,     // SQL_ATTR_PARAMSET_SIZE: SQLParamOptions' row count
  kParamsProcessed,  // SQL_ATTR_PARAMS_PROCESSED_PTR: SQLParamOptions' counter
  kParamStatuses,    // SQL_ATTR_PARAM_STATUS_PTR
  kParamBindType,    // SQL_ATTR_PARAM_BIND_TYPE
  kParamBindOffset,  // SQL_ATTR_PARAM_BIND_OFFSET_PTR
  kRowBindOffset,    // SQL_ATTR_ROW_BIND_OFFSET_PTR: the row descriptor's bind offset
  kRowOperations,    // SQL_ATTR_ROW_OPERATION_PTR: the row descriptor's status array
  kParamOperations,  // SQL_ATTR_PARAM_OPERATION_PTR: the parameter descriptor's one
  kDescriptor,       // SQL_ATTR_APP_ROW_DESC .. SQL_ATTR_IMP_PARAM_DESC
  kUnknown,          // refused, as unixODBC refused it
};

constexpr AttributeRange<Route> kRoutes[] = {
    {SQL_QUERY_TIMEOUT, SQL_ROW_NUMBER, Route::kOption},
    {SQL_ATTR_FETCH_BOOKMARK_PTR, SQL_ATTR_FETCH_BOOKMARK_PTR, Route::kFetchBookmark},
    {SQL_ATTR_PARAM_BIND_OFFSET_PTR, SQL_ATTR_PARAM_BIND_OFFSET_PTR, Route::kParamBindOffset},
    {SQL_ATTR_PARAM_BIND_TYPE, SQL_ATTR_PARAM_BIND_TYPE, Route::kParamBindType},
    {SQL_ATTR_PARAM_OPERATION_PTR, SQL_ATTR_PARAM_OPERATION_PTR, Route::kParamOperations},
    {SQL_ATTR_PARAM_STATUS_PTR, SQL_ATTR_PARAM_STATUS_PTR, Route::kParamStatuses},
    {SQL_ATTR_PARAMS_PROCESSED_PTR, SQL_ATTR_PARAMS_PROCESSED_PTR, Route::kParamsProcessed},
    {SQL_ATTR_PARAMSET_SIZE, SQL_ATTR_PARAMSET_SIZE, Route::kParamsetSize},
    {SQL_ATTR_ROW_BIND_OFFSET_PTR, SQL_ATTR_ROW_BIND_OFFSET_PTR, Route::kRowBindOffset},
    {SQL_ATTR_ROW_OPERATION_PTR, SQL_ATTR_ROW_OPERATION_PTR, Route::kRowOperations},
    {SQL_ATTR_ROW_STATUS_PTR, SQL_ATTR_ROW_STATUS_PTR, Route::kRowStatuses},
    {SQL_ATTR_ROWS_FETCHED_PTR, SQL_ATTR_ROWS_FETCHED_PTR, Route::kRowsFetched},
    {SQL_ATTR_ROW_ARRAY_SIZE, SQL_ATTR_ROW_ARRAY_SIZE, Route::kRowsetSize},
    {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_IMP_PARAM_DESC, Route::kDescriptor},
    {kFirstDriverAttribute, INT32_MAX, Route::kOption},
};

Route route_of(SQLINTEGER attribute) {
  return route_in(kRoutes, attribute, Route::kUnknown);
}

// The option number unixODBC passed: the attribute's low 16 bits.
SQLUSMALLINT option_code(SQLINTEGER attribute) {
  return static_cast<SQLUSMALLINT>(attribute);
}

uintptr_t as_integer(SQLPOINTER value) {
  return reinterpret_cast<uintptr_t>(value);
}

template <typename T>
SQLRETURN answer(SQLPOINTER out, T value) {
  if (out != nullptr) memcpy(out, &value, sizeof value);
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN set_stmt_attr(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value) {
  // Option values are 32-bit, as SQLSetStmtOption takes them.
  const uint32_t option_value = static_cast<uint32_t>(as_integer(value));
  switch (route_of(attribute)) {
    case Route::kOption:
      return set_option(nullptr, stmt, option_code(attribute), option_value);
    case Route::kRowsetSize:
      return set_option(nullptr, stmt, SQL_ROWSET_SIZE, option_value);
    case Route::kRowStatuses:
      stmt->row_statuses = static_cast<uint16_t*>(value);
      return SQL_SUCCESS;
    case Route::kRowsFetched:
      stmt->rows_fetched = static_cast<uint64_t*>(value);
      return SQL_SUCCESS;
    case Route::kFetchBookmark:
      stmt->fetch_bookmark = static_cast<int32_t*>(value);
      return SQL_SUCCESS;
    case Route::kParamsetSize:
      return set_param_options(stmt, as_integer(value),
                               reinterpret_cast<SQLULEN*>(stmt->rows_processed));
    case Route::kParamsProcessed:
      stmt->rows_processed = static_cast<uint64_t*>(value);
      return SQL_SUCCESS;
    case Route::kParamStatuses:
      stmt->param_statuses = static_cast<uint16_t*>(value);
      return SQL_SUCCESS;
    case Route::kParamBindType:
      app_param_desc(stmt).bind_type = as_integer(value);
      return SQL_SUCCESS;
    case Route::kParamBindOffset:
      app_param_desc(stmt).bind_offset = static_cast<int64_t*>(value);
      return SQL_SUCCESS;
    case Route::kRowBindOffset:
      app_row_desc(stmt).bind_offset = static_cast<int64_t*>(value);
      return SQL_SUCCESS;
    case Route::kRowOperations:
      app_row_desc(stmt).array_status = static_cast<uint16_t*>(value);
      return SQL_SUCCESS;
    case Route::kParamOperations:
      app_param_desc(stmt).array_status = static_cast<uint16_t*>(value);
      return SQL_SUCCESS;
    case Route::kDescriptor:
      return set_statement_descriptor(stmt, attribute, value);
    case Route::kUnknown:
      break;
  }
  return post_error(stmt, kDiagAttributeIdentifier);
}

SQLRETURN get_stmt_attr(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value) {
  switch (route_of(attribute)) {
    case Route::kOption:
      return get_stmt_option(stmt, option_code(attribute), value);
    case Route::kRowsetSize:
      return get_stmt_option(stmt, SQL_ROWSET_SIZE, value);
    case Route::kRowStatuses:
      return answer(value, stmt->row_statuses);
    case Route::kRowsFetched:
      return answer(value, stmt->rows_fetched);
    case Route::kFetchBookmark:
      return answer(value, stmt->fetch_bookmark);
    case Route::kParamsetSize:
      // 0 is the size nobody set: one set of values.
      return answer<SQLULEN>(
          value, app_param_desc(stmt).array_size > 1 ? app_param_desc(stmt).array_size : 1);
    case Route::kParamsProcessed:
      return answer(value, stmt->rows_processed);
    case Route::kParamStatuses:
      return answer(value, stmt->param_statuses);
    case Route::kParamBindType:
      return answer<SQLULEN>(value, app_param_desc(stmt).bind_type);
    case Route::kParamBindOffset:
      return answer(value, app_param_desc(stmt).bind_offset);
    case Route::kRowBindOffset:
      return answer(value, app_row_desc(stmt).bind_offset);
    case Route::kRowOperations:
      return answer(value, app_row_desc(stmt).array_status);
    case Route::kParamOperations:
      return answer(value, app_param_desc(stmt).array_status);
    case Route::kDescriptor:
      return get_statement_descriptor(stmt, attribute, value);
    case Route::kUnknown:
      break;
  }
  return post_error(stmt, kDiagAttributeIdentifier);
}

}  // namespace q4
