#include "statement/request.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "protocol/codec.h"
#include "statement/marker_scan.h"
#include "statement/parameters.h"

namespace q4 {

namespace {

constexpr size_t kIdSize = 4;
// pending_parameter is this plus the ordinal of the marker awaiting data.
constexpr uint32_t kPendingBase = 500;

// The block is replaced whenever the text no longer leaves kRequestSlack
// bytes; its content is rebuilt from scratch, so nothing is kept.
bool size_for_text(Statement* stmt, uint64_t length) {
  if (length + kRequestSlack <= stmt->request_capacity && stmt->request_buffer != nullptr) {
    return true;
  }
  drv_free(stmt->request_buffer);
  stmt->request_buffer = nullptr;
  stmt->request_capacity = 0;
  auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, length + kRequestSlack + 1));
  if (block == nullptr) return false;
  stmt->request_buffer = block;
  stmt->request_capacity = length + kRequestSlack;
  return true;
}

// The text as it stands, then its NUL; returns the offset after the NUL.
uint64_t copy_text(Statement* stmt, const char* text, uint64_t length) {
  memcpy(stmt->request_buffer + kIdSize, text, length);
  stmt->request_buffer[kIdSize + length] = 0;
  return kIdSize + length + 1;
}

// Appends the cursor-name trailer at `at`; returns the payload length, or 0
// when the block could not grow for it.
uint64_t append_trailer(Statement* stmt, uint64_t at) {
  size_t name_length = strnlen(stmt->cursor_name, sizeof stmt->cursor_name - 1);
  uint64_t trailer = name_length == 0 ? 1 : name_length + 3;
  if (!reserve_request(stmt, at, at + trailer)) return 0;
  uint8_t* out = stmt->request_buffer + at;
  if (name_length == 0) {
    out[0] = 0;
  } else {
    memcpy(out, stmt->cursor_name, name_length);
    memset(out + name_length, 0, 3);
  }
  return at + trailer;
}

}  // namespace

bool reserve_request(Statement* stmt, uint64_t keep, uint64_t needed) {
  if (needed <= stmt->request_capacity && stmt->request_buffer != nullptr) return true;
  // Doubling keeps a run of long literals from copying the payload each time.
  uint64_t capacity = needed + kRequestSlack;
  if (capacity < 2 * stmt->request_capacity) capacity = 2 * stmt->request_capacity;
  auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, capacity + 1));
  if (block == nullptr) return false;
  if (stmt->request_buffer == nullptr) keep = 0;
  if (keep > stmt->request_capacity) keep = stmt->request_capacity;
  if (keep > 0) memcpy(block, stmt->request_buffer, keep);
  drv_free(stmt->request_buffer);
  stmt->request_buffer = block;
  stmt->request_capacity = capacity;
  return true;
}

SQLRETURN build_request(Statement* stmt, const char* text, int64_t length) {
  if (text == nullptr) return post_error(stmt, kDiagInvalidArgument);
  if (length < 0 || length > kMaxTextLength) return post_error(stmt, kDiagInvalidLength);
  uint64_t text_length = static_cast<uint64_t>(length);
  if (!size_for_text(stmt, text_length)) return SQL_ERROR;

  stmt->pending_parameter = 0;
  int32_t scan = scan_markers(stmt, text, length);
  SQLRETURN result = SQL_SUCCESS;
  uint64_t end;
  if (scan > 0) {
    stmt->pending_parameter = kPendingBase + static_cast<uint32_t>(scan);
    return SQL_NEED_DATA;
  }
  if (stmt->pass_through || scan == kMarkersUnbound) {
    end = copy_text(stmt, text, text_length);
    if (scan == kMarkersUnbound) result = SQL_ERROR;
  } else if (stmt->marker_count == 0) {
    // Without markers the text is sent as it stands: bindings that no marker
    // uses (left from another statement, say) are never converted, so they
    // cannot make this statement fail.
    end = copy_text(stmt, text, text_length);
  } else {
    if (substitute_parameters(stmt, text, length) != SQL_SUCCESS) return SQL_ERROR;
    end = stmt->request_length;
  }

  end = append_trailer(stmt, end);
  if (end == 0) return SQL_ERROR;
  put_u32(stmt->request_buffer, statement_id(stmt));
  stmt->request_length = end;
  return result;
}

}  // namespace q4
