#include "statement/parameters.h"

#include <cstring>

#include "core/diagnostics.h"
#include "statement/binary_blocks.h"
#include "statement/literal.h"
#include "statement/param_rows.h"
#include "statement/request.h"

namespace q4 {

namespace {

constexpr uint64_t kIdSize = 4;

// Copies text[from, to) to request_buffer at *at.
bool copy_text_span(Statement* stmt, uint64_t* at, const char* text, uint64_t from, uint64_t to) {
  uint64_t count = to - from;
  if (!reserve_request(stmt, *at, *at + count)) return false;
  memcpy(stmt->request_buffer + *at, text + from, count);
  *at += count;
  return true;
}

// A build that fails leaves no block behind: nothing of it is sent, and the
// next request numbers its binary tokens from 0x0 again.
SQLRETURN fail(Statement* stmt) {
  discard_binary_blocks(stmt);
  return SQL_ERROR;
}

}  // namespace

// Only the first marker_count bindings are used: the scan gave them the
// positions of this text's markers. Any binding beyond them has no marker in
// this text (its position, if any, is left from another statement) and is
// neither converted nor allowed to fail the statement.
SQLRETURN substitute_parameters(Statement* stmt, const char* text, int64_t length) {
  // Leftover blocks of an earlier build would shift this request's tokens.
  discard_binary_blocks(stmt);
  const uint64_t text_length = static_cast<uint64_t>(length);
  uint64_t at = kIdSize;
  uint64_t copied = 0;  // text characters written so far: up to the last marker
  const ParamBinding* binding = stmt->parameters;
  for (uint32_t k = 0; k < stmt->marker_count && binding != nullptr; ++k) {
    uint64_t marker = binding->position;  // 1-based
    // The scan hands out increasing positions inside the text; anything else
    // means the bindings changed since, and nothing sensible can be sent.
    if (marker <= copied || marker > text_length) {
      post_error(stmt, kDiagGeneral);
      return fail(stmt);
    }
    if (!copy_text_span(stmt, &at, text, copied, marker - 1)) return fail(stmt);
    // The row of a parameter array being built (row 0 otherwise).
    ParamBinding row = binding_for_row(stmt, *binding, stmt->param_row);
    if (make_literal(stmt, row, &at) != SQL_SUCCESS) return fail(stmt);
    copied = marker;
    binding = binding->next;
  }
  if (!copy_text_span(stmt, &at, text, copied, text_length)) return fail(stmt);
  if (!reserve_request(stmt, at, at + 1)) return fail(stmt);
  stmt->request_buffer[at++] = 0;
  stmt->request_length = at;
  if (stmt->binary_count > 0 && !append_binary_blocks(stmt)) return SQL_ERROR;
  return SQL_SUCCESS;
}

}  // namespace q4
