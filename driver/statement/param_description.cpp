#include "statement/param_description.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "statement/column_lookup.h"
#include "statement/literal.h"
#include "statement/marker_columns.h"
#include "statement/sql_names.h"
#include "statement/sql_scanner.h"

namespace q4 {

namespace {

const ParamBinding* binding_numbered(const Statement* stmt, SQLUSMALLINT number) {
  for (const ParamBinding* b = app_param_desc(stmt).records; b != nullptr && b->number <= number;
       b = b->next) {
    if (b->number == number) return b;
  }
  return nullptr;
}

// The catalog column a marker's target names: its exact spelling, else the
// one column whose name differs from it in letter case alone.
const CatalogColumn* column_named(const char* text, const TextName& name,
                                  const TableColumns& columns) {
  char wanted[kMaxNameLength];
  size_t length = 0;
  if (!unquoted_name(text, name, wanted, &length)) return nullptr;
  const CatalogColumn* folded = nullptr;
  int folded_count = 0;
  for (uint32_t k = 0; k < columns.count(); ++k) {
    const CatalogColumn& c = columns[k];
    if (c.name_length != length) continue;
    if (memcmp(c.name, wanted, length) == 0) return &c;
    if (equal_ignoring_case(c.name, wanted, length)) {
      folded = &c;
      ++folded_count;
    }
  }
  return folded_count == 1 ? folded : nullptr;
}

// The column's description, when the driver can use it: a size, and a type
// the driver converts SQL_C_DEFAULT values of (an application that binds a
// NULL as SQL_C_DEFAULT with the described type must not be refused).
bool describe_column(const CatalogColumn& c, ParamDescription* out) {
  if (!c.has_size || effective_c_type(SQL_C_DEFAULT, c.sql_type) == 0) return false;
  out->sql_type = c.sql_type;
  out->size = c.size;
  out->decimal_digits = c.decimal_digits > 0 ? c.decimal_digits : 0;
  out->nullable = c.nullable == SQL_NO_NULLS || c.nullable == SQL_NULLABLE
                      ? c.nullable
                      : static_cast<SQLSMALLINT>(SQL_NULLABLE_UNKNOWN);
  return true;
}

// The id the lookup runs under on the server: the statement's own with its
// low bit set. Statement ids are the low bits of record addresses, which are
// aligned, so an odd id is never a statement's: the lookup leaves every
// statement's server state alone, its own prepared result included.
static_assert(alignof(Statement) >= 2, "statement ids are even");
uint32_t lookup_id(const Statement* stmt) {
  return statement_id(stmt) | 1u;
}

// Describes the `count` markers of statement_text into a new block: from the
// catalog where the text says which column a marker meets, else
// kUnknownParameter. SQL_ERROR only when an exchange failed.
//
// Without memory for the block, or for reading the text or the catalog's
// rows, the markers are described as unknown for this call only: nothing is
// kept, so that the next call asks again rather than a passing shortage
// leaving the text without its descriptions for good.
SQLRETURN describe_markers(Statement* stmt, uint32_t count) {
  auto* described = drv_alloc_array<ParamDescription>(nullptr, nullptr, count);
  if (described == nullptr) return SQL_SUCCESS;
  for (uint32_t k = 0; k < count; ++k) described[k] = kUnknownParameter;

  const char* text = stmt->statement_text;
  MarkerTargets targets;
  char table[kMaxNameLength];
  size_t table_length = 0;
  bool targeted = targets.read(text, static_cast<uint64_t>(stmt->statement_text_length));
  if (targets.out_of_memory()) {
    drv_free(described);
    return SQL_SUCCESS;
  }
  if (targeted && targets.marker_count() == count &&
      unquoted_name(text, targets.table(), table, &table_length)) {
    TableColumns columns;
    LookupOutcome outcome = columns.fetch(stmt, lookup_id(stmt), table, table_length);
    if (outcome == LookupOutcome::kFailed || outcome == LookupOutcome::kNoMemory) {
      drv_free(described);
      return outcome == LookupOutcome::kFailed ? SQL_ERROR : SQL_SUCCESS;
    }
    for (uint32_t k = 0; outcome == LookupOutcome::kFound && k < count; ++k) {
      const MarkerTarget& target = targets[k];
      const CatalogColumn* column = nullptr;
      if (target.kind == MarkerTarget::Kind::kNamedColumn) {
        column = column_named(text, target.column, columns);
      } else if (target.kind == MarkerTarget::Kind::kColumnNumber &&
                 target.number < columns.count()) {
        column = &columns[target.number];
      }
      if (column != nullptr) describe_column(*column, &described[k]);
    }
  }
  stmt->param_descriptions = described;
  stmt->param_description_count = count;
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN describe_parameter(Statement* stmt, SQLUSMALLINT number, SQLSMALLINT* sql_type,
                             SQLULEN* size, SQLSMALLINT* decimal_digits, SQLSMALLINT* nullable) {
  if (stmt->statement_text == nullptr) return post_error(stmt, kDiagSequence);
  // The markers SQLNumParams counts: an application asks it how many there
  // are and then describes each, and a refusal of one it was told about
  // fails its whole statement. Counted once with the descriptions: an
  // application describes every marker in turn, and a long text must not be
  // scanned again for each.
  uint32_t count =
      stmt->param_descriptions != nullptr
          ? stmt->param_description_count
          : count_markers(stmt->statement_text, static_cast<uint64_t>(stmt->statement_text_length));
  if (number == 0 || number > count) return post_error(stmt, kDiagInvalidParameterNumber);

  ParamDescription d = kUnknownParameter;
  if (const ParamBinding* b = binding_numbered(stmt, number)) {
    d = ParamDescription{b->sql_type, b->precision, b->scale, SQL_NULLABLE_UNKNOWN};
  } else {
    if (stmt->param_descriptions == nullptr && describe_markers(stmt, count) != SQL_SUCCESS) {
      return SQL_ERROR;
    }
    if (stmt->param_descriptions != nullptr && number <= stmt->param_description_count) {
      d = stmt->param_descriptions[number - 1];
    }
  }
  if (sql_type != nullptr) *sql_type = d.sql_type;
  if (size != nullptr) *size = d.size;
  if (decimal_digits != nullptr) *decimal_digits = d.decimal_digits;
  if (nullable != nullptr) *nullable = d.nullable;
  return SQL_SUCCESS;
}

void forget_param_descriptions(Statement* stmt) {
  drv_free(stmt->param_descriptions);
  stmt->param_descriptions = nullptr;
  stmt->param_description_count = 0;
}

}  // namespace q4
