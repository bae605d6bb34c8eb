#include "results/fetch.h"

#include <cstdint>

#include "core/diagnostics.h"
#include "core/server_errors.h"
#include "results/statement_exchange.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "results/fetch_internal.h"
#include "results/get_data.h"
#include "results/result_set.h"
#include "results/row_block.h"
#include "results/type_codes.h"

namespace q4 {

namespace {

// A damaged row block is reported as a communication fault: the server sent
// something the protocol does not allow, and the rows past the damage cannot
// be trusted. The link itself stays up (the framing was intact), so other
// statements go on working.

constexpr int32_t kLastRowNumber = INT32_MAX - 1;

// Moves a binding's address on by `bytes`. Computed on unsigned integers: an
// application's odd stride or offset wraps like its own pointer arithmetic
// would, without undefined behaviour here.
template <typename T>
T* advance(T* base, uint64_t bytes) {
  if (base == nullptr) return nullptr;
  return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(base) + static_cast<uintptr_t>(bytes));
}

// Fills one bound column from `value` and `indicator` (already moved to the
// rowset position).
SQLRETURN fill_column(Statement* stmt, const DescRecord& column, void* value, int64_t* indicator) {
  switch (column.delivery) {
    case RecordDelivery::kUnbound:
      return SQL_SUCCESS;  // the application cleared the data pointer
    case RecordDelivery::kNumeric:
      return deliver_numeric(stmt, column, value, reinterpret_cast<SQLLEN*>(indicator));
    case RecordDelivery::kPlain:
      break;
  }
  return deliver_value(stmt, column.number, column.c_type, value, column.buffer_length,
                       reinterpret_cast<SQLLEN*>(indicator));
}

// fill_bound_columns beyond the common case: a rowset position past the
// first, a bind offset, or records to fill another way.
[[gnu::noinline]] SQLRETURN fill_moved_columns(Statement* stmt, const Descriptor& ard,
                                               int32_t index) {
  const uint64_t offset = ard.bind_offset != nullptr ? static_cast<uint64_t>(*ard.bind_offset) : 0;
  const uint64_t rows = static_cast<uint64_t>(index);
  const uint64_t bind_type = ard.bind_type;
  for (const DescRecord* column = ard.records; column != nullptr; column = column->next) {
    uint64_t value_stride =
        bind_type != 0 ? bind_type : static_cast<uint64_t>(column->buffer_length);
    uint64_t indicator_stride = bind_type != 0 ? bind_type : sizeof(int64_t);
    void* value = advance(column->value, offset + value_stride * rows);
    int64_t* indicator = advance(column->indicator, offset + indicator_stride * rows);
    if (fill_column(stmt, *column, value, indicator) == SQL_ERROR) return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

// Fills every column bound in the statement's row descriptor for rowset
// position `index`, in column order, through the value delivery SQLGetData
// uses; the descriptor's bind offset, when set, moves every address.
// Truncations pass; the first failure ends the row. The common case (the
// first position, no offset, every record plain) walks the records without
// asking anything of them.
SQLRETURN fill_bound_columns(Statement* stmt, int32_t index) {
  const Descriptor& ard = app_row_desc(stmt);
  if ((index | ard.irregular_records) != 0 || ard.bind_offset != nullptr) {
    return fill_moved_columns(stmt, ard, index);
  }
  for (const DescRecord* column = ard.records; column != nullptr; column = column->next) {
    SQLRETURN rc =
        deliver_value(stmt, column->number, column->c_type, column->value, column->buffer_length,
                      reinterpret_cast<SQLLEN*>(column->indicator));
    if (rc == SQL_ERROR) return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

}  // namespace

Step report_broken_block(Statement* stmt) {
  post_error(stmt, kDiagLinkLost);
  return Step{Step::kFailed};
}

namespace {

// The next row of the held block. kRow: the row is current. kMore, kEnd,
// kServerError: the block is used up and this was its trailing status.
// kFailed: the block is damaged at this point (a row running past its end,
// too few values, an unknown status byte); "08S01" "Communications_ERROR" is
// posted on the statement and the block stays as it was, so every further
// step fails the same way instead of skipping rows.
Step next_stored_row(Statement* stmt, RowBlock& block) {
  switch (block.next()) {
    case RowStep::kRow:
      return Step{Step::kRow};
    case RowStep::kMore:
      return Step{Step::kMore};
    case RowStep::kEnd:
      return Step{Step::kEnd};
    case RowStep::kError:
      // A block's trailing "E" carries no text: the mapped default error.
      return Step{Step::kServerError, ""};
    case RowStep::kDamaged:
      break;
  }
  return report_broken_block(stmt);
}

}  // namespace

SQLRETURN fetch_next_row(Statement* stmt, int32_t rowset_index) {
  ResultSet& rs = result_set(stmt);
  if (!rs.positioned) {
    // A block stored for another column count (a re-execution whose reply
    // carried no rows) cannot be walked; the server is asked instead.
    Step step;
    if (rs.block.holds_rows_of(stmt->column_count)) {
      step = next_stored_row(stmt, rs.block);
      if (step.kind == Step::kMore) step = request_rows(stmt, kNextBlock);
    } else {
      rs.block.discard();
      step = request_rows(stmt, kNextBlock);
    }
    switch (step.kind) {
      case Step::kServerError:
        rs.at_end = false;
        return map_server_error(stmt, step.error_text);
      case Step::kEnd:
        rs.at_end = true;
        rs.count_final = true;
        rs.cursor_row = stmt->row_count + 1;
        return SQL_NO_DATA_FOUND;
      case Step::kRow:
        // Rows are numbered in 32 signed bits with room for "after the
        // last": a server that streams past that is not followed further.
        if (rs.cursor_row >= kLastRowNumber) return post_error(stmt, kDiagGeneral);
        rs.cursor_row += 1;
        rs.at_end = false;
        if (rs.cursor_row > stmt->row_count) stmt->row_count = rs.cursor_row;
        end_piecewise_read(stmt);
        break;
      default:
        // Failed with its diagnostic posted, or a letter no protocol knows
        // (which posts nothing).
        return SQL_ERROR;
    }
  }
  rs.positioned = false;
  if (app_row_desc(stmt).records == nullptr || rowset_index < 0 ||
      stmt->retrieve_data != SQL_RD_ON) {
    return SQL_SUCCESS;
  }
  return fill_bound_columns(stmt, rowset_index);
}

Step request_rows(Statement* stmt, int32_t target) {
  if (target >= 0 && (stmt->connection->server_flags & kFlagAbsoluteFetch) == 0) {
    return emulate_absolute_request(stmt, target);
  }
  ResultSet& rs = result_set(stmt);
  // The reply is received straight into the block's storage, so the room
  // must be there before anything is asked of the server.
  if (!rs.block.reserve(kReplyCapacity, stmt->column_count)) {
    post_error(stmt, kDiagMemory);
    return Step{Step::kFailed};
  }

  uint8_t* payload = stmt->io_buffer;
  int32_t length = target < 0
                       ? encode_fetch_next(payload, statement_id(stmt))
                       : encode_fetch_absolute(payload, statement_id(stmt),
                                               target == 0 ? 1u : static_cast<uint32_t>(target));
  StatementReply reply = exchange_into(stmt, kCmdFetch, payload, length, rs.block.bytes(),
                                       kReplyCapacity, nullptr, nullptr);
  if (reply.failed()) {
    // Part of a reply may have landed over the stored block. The exchange
    // posted why it failed on the statement; the step fails with that.
    rs.block.discard();
    return Step{Step::kFailed};
  }
  if (reply.length > 0) {
    rs.block_first_row =
        target >= 0 ? static_cast<uint32_t>(target) : static_cast<uint32_t>(rs.cursor_row) + 1;
    // A block asked for from row 0 is entered from before its first row.
    FirstRow start = target != 0 ? FirstRow::kCurrent : FirstRow::kAhead;
    if (!rs.block.adopt(reply.length, stmt->column_count, start)) return report_broken_block(stmt);
    if (rs.type_code_columns != 0) {
      map_block_type_codes(rs.block.bytes(), reply.length, stmt->column_count,
                           rs.type_code_columns);
    }
    return Step{Step::kRow};
  }
  // No payload: nothing of the stored block is current any more.
  rs.block.discard();
  switch (stmt->reply_status[0]) {
    case kStatusOk:
      return Step{Step::kRow};  // one row, its values read with get-data requests
    case kStatusWarning:
      return Step{Step::kEnd};
    case kStatusError:
      return Step{Step::kServerError, stmt->reply_status + 1};
    default:
      return Step{Step::kUnknown};
  }
}

SQLRETURN fetch_row(Statement* stmt) {
  if (result_discarded(stmt)) return post_error(stmt, kDiagSequence);
  end_piecewise_read(stmt);
  if (stmt->column_count < 1) return SQL_NO_DATA_FOUND;
  const ResultSet& rs = result_set(stmt);
  stmt->row_number = static_cast<uint32_t>(rs.cursor_row) + (rs.at_end ? 0u : 1u);
  return fetch_next_row(stmt, 0);
}

}  // namespace q4
