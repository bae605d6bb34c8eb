#include "statement/bind_param.h"

#include "core/diagnostics.h"
#include "core/memory.h"

namespace q4 {

namespace {

// The wording applications of this driver have always seen for ipar 0.

void describe(ParamBinding* b, SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN precision,
              SQLSMALLINT scale, SQLPOINTER value, SQLLEN buffer_length, SQLLEN* indicator) {
  b->c_type = c_type;
  b->sql_type = sql_type;
  b->precision = precision;
  b->scale = scale;
  b->value = value;
  b->buffer_length = buffer_length;
  b->indicator = indicator;
}

}  // namespace

SQLRETURN bind_parameter(Statement* stmt, SQLUSMALLINT number, SQLSMALLINT c_type,
                         SQLSMALLINT sql_type, SQLULEN precision, SQLSMALLINT scale,
                         SQLPOINTER value, SQLLEN buffer_length, SQLLEN* indicator) {
  if (number == 0) return post_error(stmt, kDiagInvalidScale);
  ParamBinding** link = &app_param_desc(stmt).records;
  while (*link != nullptr && (*link)->number < number) link = &(*link)->next;
  if (*link != nullptr && (*link)->number == number) {
    ParamBinding* b = *link;
    describe(b, c_type, sql_type, precision, scale, value, buffer_length, indicator);
    b->complete = 0;
    b->piece_seen = 0;
    return SQL_SUCCESS;
  }
  auto* b = static_cast<ParamBinding*>(drv_alloc(nullptr, stmt, sizeof(ParamBinding)));
  if (b == nullptr) return SQL_ERROR;
  b->number = number;
  describe(b, c_type, sql_type, precision, scale, value, buffer_length, indicator);
  b->next = *link;
  *link = b;
  return SQL_SUCCESS;
}

SQLRETURN set_param(Statement* /*stmt*/) {
  return SQL_SUCCESS;
}

}  // namespace q4
