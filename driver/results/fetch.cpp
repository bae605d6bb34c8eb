#include "results/fetch.h"

#include <cstdint>

#include "core/diagnostics.h"
#include "core/handles.h"
#include "core/server_errors.h"
#include "protocol/codec.h"
#include "protocol/wire.h"
#include "results/fetch_internal.h"
#include "results/get_data.h"
#include "results/row_block.h"
#include "statement/exchange.h"  // kReplyCapacity

namespace q4 {

namespace {

// A damaged row block is reported as a communication fault: the server sent
// something the protocol does not allow, and the rows past the damage cannot
// be trusted. The link itself stays up (the framing was intact), so other
// statements go on working.
constexpr DiagText kDiagBrokenBlock{kStateCommLink, kCommErrorText};
constexpr const char* kStateFetchRefused = "37000";

constexpr int32_t kLastRowNumber = INT32_MAX - 1;

constexpr uint8_t kFormNext = 'X';
constexpr uint8_t kFormAbsolute = 'A';

// Payload sizes of the two fetch forms: id and "X"; id, "A" and the row.
constexpr int32_t kFetchNextSize = 5;
constexpr int32_t kFetchAbsoluteSize = 9;

bool is_block_trailer(uint8_t status) {
  return status == kRowMore || status == kStatusWarning || status == kStatusError;
}

// Moves a binding's address `rows` rows on by `stride` bytes a row.
// Computed on unsigned integers: an application's odd stride wraps like its
// own pointer arithmetic would, without undefined behaviour here.
template <typename T>
T* advance(T* base, uint64_t stride, int32_t rows) {
  if (base == nullptr) return nullptr;
  return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(base) +
                              static_cast<uintptr_t>(stride * static_cast<uint64_t>(rows)));
}

// Fills every bound column for rowset position `index`, in binding order.
// Each fill is a full SQLGetData, cancel check included. Truncations pass;
// the first failure ends the row.
SQLRETURN fill_bound_columns(Statement* stmt, int32_t index) {
  for (BoundColumn* column = stmt->bound_columns; column != nullptr; column = column->next) {
    void* value = column->value;
    int64_t* indicator = column->indicator;
    if (index > 0) {
      bool row_wise = stmt->bind_type != 0;
      uint64_t value_stride = row_wise ? stmt->bind_type : static_cast<uint64_t>(column->value_max);
      uint64_t indicator_stride = row_wise ? stmt->bind_type : sizeof(int64_t);
      value = advance(static_cast<uint8_t*>(value), value_stride, index);
      indicator = advance(indicator, indicator_stride, index);
    }
    if (enter_statement(stmt, true) != SQL_SUCCESS) return SQL_ERROR;
    SQLRETURN rc = get_data(stmt, column->icol, column->c_type, value, column->value_max,
                            reinterpret_cast<SQLLEN*>(indicator));
    if (rc == SQL_ERROR) return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

}  // namespace

char set_status_letter(Statement* stmt, char letter) {
  stmt->reply_status[0] = letter;
  stmt->reply_status[1] = '\0';
  return letter;
}

char report_broken_block(Statement* stmt) {
  post_error(stmt, kDiagBrokenBlock);
  return set_status_letter(stmt, kStepFailed);
}

char next_cached_row(Statement* stmt) {
  uint8_t* after_row = stmt->value_table[stmt->column_count];
  if (after_row == nullptr) {
    if (!index_row(stmt, stmt->row_buffer)) return report_broken_block(stmt);
    return kStatusOk;
  }
  uint8_t status = *after_row;
  if (status == kStatusOk) {
    if (!index_row(stmt, after_row + 1)) return report_broken_block(stmt);
    return kStatusOk;
  }
  // Any byte other than a row separator or a trailer means the row before it
  // held fewer values than the result has columns (or the block is garbage).
  if (!is_block_trailer(status)) return report_broken_block(stmt);
  stmt->cache_valid = 0;
  return static_cast<char>(status);
}

SQLRETURN fetch_next_row(Statement* stmt, int32_t rowset_index) {
  if (!stmt->positioned) {
    // A block stored for another column count (a re-execution whose reply
    // carried no rows) cannot be walked; the server is asked instead.
    if (stmt->cache_valid && !row_storage_fits(stmt)) stmt->cache_valid = 0;
    char status;
    if (stmt->cache_valid) {
      status = set_status_letter(stmt, next_cached_row(stmt));
      if (status == kRowMore) status = request_rows(stmt, -1);
    } else {
      status = request_rows(stmt, -1);
    }
    switch (status) {
      case kStatusError:
        stmt->at_end = 0;
        return map_server_error(stmt, stmt->reply_status + 1);
      case kStatusWarning:
        stmt->at_end = 1;
        stmt->count_final = 1;
        stmt->cursor_row = stmt->row_count + 1;
        return SQL_NO_DATA_FOUND;
      case kStatusOk:
        // Rows are numbered in 32 signed bits with room for "after the
        // last": a server that streams past that is not followed further.
        if (stmt->cursor_row >= kLastRowNumber) return post_error(stmt, kDiagGeneral);
        stmt->cursor_row += 1;
        stmt->at_end = 0;
        if (stmt->cursor_row > stmt->row_count) stmt->row_count = stmt->cursor_row;
        stmt->getdata_column = -1;
        stmt->getdata_offset = 0;
        break;
      default:
        return SQL_ERROR;
    }
  }
  stmt->positioned = 0;
  if (stmt->bound_columns == nullptr || rowset_index < 0 || stmt->retrieve_data != SQL_RD_ON) {
    return SQL_SUCCESS;
  }
  return fill_bound_columns(stmt, rowset_index);
}

char request_rows(Statement* stmt, int32_t target) {
  if (target >= 0 && (stmt->connection->server_flags & kFlagAbsoluteFetch) == 0) {
    return emulate_absolute_request(stmt, target);
  }
  // The reply is received straight into row_buffer, so the room must be
  // there before anything is asked of the server.
  if (!reserve_row_storage(stmt, kReplyCapacity)) return set_status_letter(stmt, kStepFailed);

  uint8_t* payload = stmt->io_buffer;
  uint8_t* end = put_u32(payload, statement_id(stmt));
  if (target < 0) {
    *end++ = kFormNext;
  } else {
    *end++ = kFormAbsolute;
    end = put_u32(end, target == 0 ? 1u : static_cast<uint32_t>(target));
  }
  int32_t length = target < 0 ? kFetchNextSize : kFetchAbsoluteSize;
  int32_t received = exchange_into(stmt, kCmdFetch, payload, length, stmt->row_buffer,
                                   kReplyCapacity, nullptr, nullptr);
  if (received == 0) {
    // Part of a reply may have landed over the stored block. The exchange
    // posted why it failed on the statement; the step fails with that.
    stmt->cache_valid = 0;
    return set_status_letter(stmt, kStepFailed);
  }
  if (received > 0) {
    stmt->block_first_row =
        target >= 0 ? static_cast<uint32_t>(target) : static_cast<uint32_t>(stmt->cursor_row) + 1;
    if (!adopt_row_block(stmt, received, /*read_first=*/target != 0)) {
      return report_broken_block(stmt);
    }
    return set_status_letter(stmt, kStatusOk);
  }
  // No payload: nothing of the stored block is current any more.
  stmt->cache_valid = 0;
  if (stmt->reply_status[0] == kStatusError) {
    post_error_unprefixed(stmt, stmt->reply_status + 1, kStateFetchRefused);
  }
  return stmt->reply_status[0];
}

SQLRETURN fetch_row(Statement* stmt) {
  if (result_discarded(stmt)) return post_error(stmt, kDiagSequence);
  stmt->getdata_column = -1;
  stmt->getdata_offset = 0;
  if (stmt->column_count < 1) return SQL_NO_DATA_FOUND;
  stmt->row_number = static_cast<uint32_t>(stmt->cursor_row) + (stmt->at_end ? 0u : 1u);
  return fetch_next_row(stmt, 0);
}

}  // namespace q4
