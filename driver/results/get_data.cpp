#include "results/get_data.h"

#include "core/diagnostics.h"
#include "core/memory.h"
#include "protocol/codec.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "results/convert.h"
#include "results/desc_records.h"
#include "results/fetch.h"
#include "results/result_set.h"
#include "results/row_decoder.h"
#include "results/statement_exchange.h"
#include "results/type_codes.h"

namespace q4 {

namespace {

// A value that fits io_buffer lands there; a longer one grows a block.
constexpr int32_t kGetDataCapacity = kReplyCapacity;
static_assert(kGetDataCapacity <= kIoBufferSize, "the reply area is io_buffer");

// The reply block of a get-data request whose value outgrew io_buffer;
// freed when the call ends.
class ReplyBlock {
 public:
  ReplyBlock() = default;
  ~ReplyBlock() {
    if (block_ != nullptr) drv_free(block_);  // rare: most values come from the stored block
  }
  ReplyBlock(const ReplyBlock&) = delete;
  ReplyBlock& operator=(const ReplyBlock&) = delete;
  uint8_t** address() { return &block_; }
  uint8_t* get() const { return block_; }

 private:
  uint8_t* block_ = nullptr;
};

// A further read of the same column continues only for values that are
// delivered piecewise: character (narrow or wide) and binary targets, or the
// default target of a character or binary value.
bool continues_piecewise(SQLSMALLINT c_type, uint16_t server_type) {
  if (c_type == SQL_C_CHAR || c_type == SQL_C_BINARY || c_type == SQL_C_WCHAR) return true;
  if (c_type != SQL_C_DEFAULT) return false;
  switch (static_cast<int16_t>(server_type)) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return true;
    default:
      return false;
  }
}

// Asks the server for column `icol` of the current row. The whole value
// always comes, however long: a value above io_buffer's room arrives in a
// block that grows with it (`reply`). False after posting the failure.
bool value_from_server(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type, ReplyBlock* reply,
                       RowValue* out) {
  uint8_t* payload = stmt->io_buffer;
  int32_t length =
      encode_get_data(payload, statement_id(stmt), icol, static_cast<uint16_t>(c_type));
  int32_t grown = 0;
  StatementReply answer = exchange_into(stmt, kCmdGetData, payload, length, stmt->io_buffer,
                                        kGetDataCapacity, reply->address(), &grown);
  if (answer.failed()) return false;
  if (stmt->reply_status[0] != kStatusOk) {
    post_error(stmt, stmt->reply_status + 1, kStateServerRefused);
    return false;
  }
  // The value outgrew io_buffer and no block could be had for it: the reply
  // was read and dropped, the link is in step.
  if (answer.outcome == StatementReply::Outcome::kPayloadDropped) {
    post_error(stmt, kDiagMemory);
    return false;
  }
  // A "K" without a value is damaged like a value shorter than its header.
  uint8_t* at = grown ? reply->get() : stmt->io_buffer;
  uint32_t size = static_cast<uint32_t>(answer.length);
  if (size < kValueHeader || load_u32(at + 2) > size - kValueHeader) {
    post_error(stmt, kDiagLinkLost);
    return false;
  }
  *out = value_at(at);
  return true;
}

// Out of line, like deliver_from_server: the number's stack room stays off
// the path of stored values.
[[gnu::noinline]] SQLRETURN bookmark(Statement* stmt, SQLSMALLINT c_type, SQLPOINTER value,
                                     SQLLEN value_max, SQLLEN* indicator) {
  uint8_t number[4];
  put_u32(number, stmt->row_number);
  return convert_value(stmt, SQL_INTEGER, c_type, number, 4, value_max, value, indicator);
}

// Delivers `found`, the value of column `icol` of the current row: NULL as
// SQL_NULL_DATA, a further read of the column as the piecewise read goes on.
inline SQLRETURN deliver(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type,
                         const RowValue& found, SQLPOINTER value, SQLLEN value_max,
                         SQLLEN* indicator) {
  if (found.type == kNullValueType) {
    if (indicator != nullptr) *indicator = SQL_NULL_DATA;
    return SQL_SUCCESS;
  }
  if (static_cast<int32_t>(icol) == stmt->getdata_column) {
    if (!continues_piecewise(c_type, found.type)) return SQL_NO_DATA_FOUND;
  } else {
    stmt->getdata_offset = 0;
  }
  stmt->getdata_column = icol;
  return convert_value(stmt, static_cast<SQLSMALLINT>(found.type), c_type, found.data, found.length,
                       value_max, value, indicator);
}

// The value of a row the server holds (no block stored, or one of an earlier
// run): asked for with a get-data request. Out of line, so that the reply
// block's frame stays off the path of stored values (which then ends in a
// jump to convert_value).
[[gnu::noinline]] SQLRETURN deliver_from_server(Statement* stmt, SQLUSMALLINT icol,
                                                SQLSMALLINT c_type, SQLPOINTER value,
                                                SQLLEN value_max, SQLLEN* indicator) {
  ReplyBlock reply;
  RowValue found;
  if (!value_from_server(stmt, icol, c_type, &reply, &found)) return SQL_ERROR;
  if ((result_set(stmt).type_code_columns & type_code_column_bit(icol)) != 0) {
    map_value_type_code(found);
  }
  return deliver(stmt, icol, c_type, found, value, value_max, indicator);
}

}  // namespace

SQLRETURN deliver_value(Statement* stmt, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER value,
                        SQLLEN value_max, SQLLEN* indicator) {
  if (result_discarded(stmt)) return post_error(stmt, kDiagSequence);
  if (icol == 0) return bookmark(stmt, c_type, value, value_max, indicator);
  if (icol > static_cast<uint16_t>(stmt->column_count)) return post_error(stmt, kDiagColumnRange);

  // A stored block of another column count belongs to an earlier run; the
  // server holds the current row.
  const RowBlock& block = result_set(stmt).block;
  if (!block.holds_rows_of(stmt->column_count)) {
    return deliver_from_server(stmt, icol, c_type, value, value_max, indicator);
  }
  if (!block.valid()) return post_error(stmt, kDiagNoRowRead);
  return deliver(stmt, icol, c_type, block.value(icol - 1), value, value_max, indicator);
}

SQLRETURN deliver_numeric(Statement* stmt, const DescRecord& record, SQLPOINTER value,
                          SQLLEN* indicator) {
  stmt->numeric_precision = record.numeric_precision;
  stmt->numeric_scale = record.numeric_precision != 0 ? record.numeric_scale : 0;
  SQLRETURN rc =
      deliver_value(stmt, record.number, SQL_C_NUMERIC, value, record.buffer_length, indicator);
  stmt->numeric_precision = 0;
  stmt->numeric_scale = 0;
  return rc;
}

SQLRETURN get_data_as_described(Statement* stmt, SQLUSMALLINT icol, SQLPOINTER value,
                                SQLLEN value_max, SQLLEN* indicator) {
  const DescRecord* record = find_record(app_row_desc(stmt), icol);
  if (record == nullptr) return post_error(stmt, kDiagDescriptorIndex);
  if (record->c_type == SQL_C_NUMERIC) return deliver_numeric(stmt, *record, value, indicator);
  return deliver_value(stmt, icol, record->c_type, value, value_max, indicator);
}

}  // namespace q4
