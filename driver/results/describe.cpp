#include "results/describe.h"

#include "core/diagnostics.h"
#include "core/odbc_version.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "results/column_attributes.h"
#include "results/copy_out.h"
#include "results/result_set.h"
#include "results/statement_exchange.h"

namespace q4 {

namespace {

// SQLColAttributes reports its failures with the prefix alone.
// An fDescType past SQL_COLUMN_LABEL: ODBC's state for a descriptor type out
// of range, so that the application learns which argument was wrong.

// Compared as the application's 16-bit column numbers are.
bool beyond_last_column(const Statement* stmt, SQLUSMALLINT icol) {
  return icol > static_cast<uint16_t>(stmt->column_count);
}

}  // namespace

DescribeOutcome get_column_description(Statement* stmt, uint16_t icol, ColumnDescription* out) {
  if (find_cached_description(stmt, icol, out)) return DescribeOutcome::kDescribed;
  uint8_t* payload = stmt->io_buffer;
  int32_t length = encode_describe(payload, statement_id(stmt), icol);
  StatementReply reply =
      exchange_for_statement(stmt, kCmdDescribe, payload, length, kDescribeReplyCapacity);
  if (reply.failed()) return DescribeOutcome::kLinkFailed;
  if (stmt->reply_status[0] != kStatusOk) return DescribeOutcome::kRefused;
  if (reply.length == 0 || !parse_column_description(stmt->io_buffer, reply.length, out)) {
    return DescribeOutcome::kDamaged;
  }
  return DescribeOutcome::kDescribed;
}

SQLRETURN num_result_cols(Statement* stmt, SQLSMALLINT* count) {
  if (count != nullptr) *count = static_cast<SQLSMALLINT>(stmt->column_count);
  return SQL_SUCCESS;
}

SQLRETURN describe_column(Statement* stmt, SQLUSMALLINT icol, SQLCHAR* name, SQLSMALLINT name_max,
                          SQLSMALLINT* name_length, SQLSMALLINT* sql_type, SQLULEN* precision,
                          SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  if (icol == 0 || beyond_last_column(stmt, icol)) {
    if (stmt->column_count != 0) return post_error(stmt, kDiagInvalidColumn);
    // A statement without result columns answers with a fixed description;
    // the name buffer and the nullable output are left alone.
    if (name_length != nullptr) *name_length = 8;
    if (sql_type != nullptr) *sql_type = SQL_INTEGER;
    if (precision != nullptr) *precision = 4;
    if (scale != nullptr) *scale = 0;
    return SQL_SUCCESS;
  }

  ColumnDescription desc;
  switch (get_column_description(stmt, icol, &desc)) {
    case DescribeOutcome::kDescribed:
      break;
    case DescribeOutcome::kRefused:
      // The server's own words, without the driver prefix.
      post_error_unprefixed(stmt, stmt->reply_status + 1, kStateServerRefused);
      return SQL_ERROR;
    case DescribeOutcome::kDamaged:
      return post_error(stmt, kDiagGeneral);
    case DescribeOutcome::kLinkFailed:
      return SQL_ERROR;
  }

  if (name_max < 1) {
    if (name_length != nullptr) *name_length = 0;
  } else if (name != nullptr) {
    SQLSMALLINT length = name_max;
    copy_name_part(reinterpret_cast<char*>(name), &length, desc.name, desc.name_length,
                   NamePart::kColumn);
    if (name_length != nullptr) *name_length = length;
  }
  // An ODBC 3 application is given the 3.x date and time codes (91, 92, 93).
  if (sql_type != nullptr) {
    *sql_type = odbc3_application(stmt) ? odbc3_datetime_code(desc.type) : desc.type;
  }
  if (precision != nullptr) *precision = desc.precision;
  if (scale != nullptr) *scale = static_cast<SQLSMALLINT>(desc.scale);
  if (nullable != nullptr) *nullable = static_cast<SQLSMALLINT>(desc.nullable);
  return SQL_SUCCESS;
}

namespace {

// The description an attribute of column `icol` is answered from: SQL_SUCCESS
// with `desc` filled, or the failure posted.
SQLRETURN describe_for_attributes(Statement* stmt, SQLUSMALLINT icol, ColumnDescription* desc) {
  switch (get_column_description(stmt, icol, desc)) {
    case DescribeOutcome::kDescribed:
      return SQL_SUCCESS;
    case DescribeOutcome::kRefused:
      return post_error(stmt, kDiagColumnRefused);
    case DescribeOutcome::kDamaged:
      return post_error(stmt, kDiagGeneral);
    case DescribeOutcome::kLinkFailed:
      break;
  }
  return SQL_ERROR;
}

}  // namespace

SQLRETURN column_attributes(Statement* stmt, SQLUSMALLINT icol, SQLUSMALLINT desc_type,
                            SQLPOINTER text, SQLSMALLINT text_max, SQLSMALLINT* text_length,
                            SQLLEN* numeric) {
  if (icol == 0) {
    if (desc_type != SQL_COLUMN_TYPE) return post_error(stmt, kDiagColumnRange);
    if (numeric != nullptr) *numeric = SQL_INTEGER;
    return SQL_SUCCESS;
  }
  if (beyond_last_column(stmt, icol)) return post_error(stmt, kDiagColumnRange);
  // An attribute past the table writes nothing; it fails with "S1091" so the
  // application learns why, and before the description is asked for, since
  // no answer could come of it.
  if (!is_answered_attribute(desc_type)) return post_error(stmt, kDiagDescriptorType);

  // Every answer, SQL_COLUMN_COUNT included, needs the description first.
  ColumnDescription desc;
  if (SQLRETURN rc = describe_for_attributes(stmt, icol, &desc); rc != SQL_SUCCESS) return rc;
  answer_column_attribute(desc, stmt->column_count, desc_type, static_cast<char*>(text), text_max,
                          text_length, numeric);
  return SQL_SUCCESS;
}

namespace {

SQLRETURN answer_number(SQLLEN value, SQLLEN* numeric) {
  if (numeric != nullptr) *numeric = value;
  return SQL_SUCCESS;
}

bool is_type_field(SQLUSMALLINT field) {
  return field == SQL_DESC_TYPE || field == SQL_DESC_CONCISE_TYPE;
}

SQLRETURN answer_field_text(Statement* stmt, const ColumnField& answer, void* text,
                            SQLSMALLINT text_max, SQLSMALLINT* text_length, TextForm form) {
  if (text_max < 0) return post_error(stmt, kDiagInvalidLength);
  CopyMode mode = form == TextForm::kWide ? CopyMode::kWideText : CopyMode::kText;
  CopyResult copy =
      copy_out(text, text_max, answer.text, static_cast<int64_t>(answer.length), 0, mode);
  if (text_length != nullptr) *text_length = static_cast<SQLSMALLINT>(copy.full_length);
  // Without a buffer the application only asked for the length.
  if (text == nullptr || !copy.truncated) return SQL_SUCCESS;
  post_error(stmt, kDiagTruncated);
  return SQL_SUCCESS_WITH_INFO;
}

}  // namespace

SQLRETURN column_attribute(Statement* stmt, SQLUSMALLINT icol, SQLUSMALLINT field, SQLPOINTER text,
                           SQLSMALLINT text_max, SQLSMALLINT* text_length, SQLLEN* numeric,
                           TextForm form) {
  if (field == SQL_DESC_COUNT) return answer_number(stmt->column_count, numeric);
  if (icol == 0) {
    // The bookmark column: a row number, the one thing known of it.
    if (!is_type_field(field)) return post_error(stmt, kDiagInvalidColumn);
    return answer_number(SQL_INTEGER, numeric);
  }
  if (beyond_last_column(stmt, icol)) return post_error(stmt, kDiagInvalidColumn);

  ColumnDescription desc;
  if (SQLRETURN rc = describe_for_attributes(stmt, icol, &desc); rc != SQL_SUCCESS) return rc;
  TypeCodes codes = odbc3_application(stmt) ? TypeCodes::kOdbc3 : TypeCodes::kOdbc2;
  ColumnField answer = column_field(desc, stmt->column_count, field, codes);
  switch (answer.kind) {
    case ColumnField::Kind::kNumber:
      return answer_number(answer.number, numeric);
    case ColumnField::Kind::kText:
      return answer_field_text(stmt, answer, text, text_max, text_length, form);
    case ColumnField::Kind::kUnknown:
      break;
  }
  return post_error(stmt, kDiagDescriptorType);
}

SQLRETURN row_count(const Statement* stmt, SQLLEN* count) {
  if (count == nullptr) return SQL_SUCCESS;
  // A result set's count from the reply is only what the server knew of
  // when it answered (the rows of its first block): an application that
  // trusts it as the size of the result reads that many rows and stops.
  // Until the end has been read the honest answer is "unknown"; after a
  // rewind before the end the rows are numbered anew and it stays so.
  const ResultSet& rs = result_set(stmt);
  bool unknown = stmt->column_count > 0 && (!rs.count_final || rs.count_lost);
  *count = unknown ? -1 : stmt->row_count;
  return SQL_SUCCESS;
}

}  // namespace q4
