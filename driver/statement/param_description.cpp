#include "statement/param_description.h"

#include "core/diagnostics.h"
#include "statement/marker_scan.h"
#include "statement/request.h"

namespace q4 {

namespace {

static_assert(kUnboundParameterSize == static_cast<SQLULEN>(kMaxTextLength),
              "an unbound marker takes any text the driver can send");

const ParamBinding* binding_numbered(const Statement* stmt, SQLUSMALLINT number) {
  for (const ParamBinding* b = stmt->parameters; b != nullptr && b->number <= number; b = b->next) {
    if (b->number == number) return b;
  }
  return nullptr;
}

}  // namespace

SQLRETURN describe_parameter(Statement* stmt, SQLUSMALLINT number, SQLSMALLINT* sql_type,
                             SQLULEN* size, SQLSMALLINT* decimal_digits, SQLSMALLINT* nullable) {
  if (stmt->statement_text == nullptr) return post_error(stmt, kDiagSequence);
  // SQLNumParams' count rather than the markers the scan substitutes: an
  // application asks SQLNumParams how many there are and then describes each,
  // and a refusal of one it was told about fails its whole statement.
  if (number == 0 || number > count_question_marks(stmt->statement_text)) {
    return post_error(stmt, kDiagInvalidParameterNumber);
  }
  const ParamBinding* b = binding_numbered(stmt, number);
  if (sql_type != nullptr) *sql_type = b != nullptr ? b->sql_type : kUnboundParameterType;
  if (size != nullptr) *size = b != nullptr ? b->precision : kUnboundParameterSize;
  if (decimal_digits != nullptr)
    *decimal_digits = b != nullptr ? b->scale : kUnboundParameterDigits;
  if (nullable != nullptr) *nullable = SQL_NULLABLE_UNKNOWN;
  return SQL_SUCCESS;
}

}  // namespace q4
