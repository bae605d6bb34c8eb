#include "statement/request.h"

#include <cstdint>
#include <cstring>

#include "core/diagnostics.h"
#include "statement/binary_blocks.h"
#include "statement/marker_scan.h"
#include "statement/parameters.h"
#include "statement/request_writer.h"

namespace q4 {

namespace {

// The execute and prepare payload (request.h), field by field. The text goes
// as it stands, or with the literals of its bindings in place of `markers`
// when they are given. False with a diagnostic posted; either way no binary
// block is left pending.
bool encode_statement_payload(Statement* stmt, RequestWriter* out, const char* text,
                              uint64_t length, const MarkerPositions* markers) {
  // Leftover blocks of an earlier build would shift this request's tokens.
  discard_binary_blocks(stmt);
  size_t name_length = strnlen(stmt->cursor_name, sizeof stmt->cursor_name - 1);
  bool written = out->append_u32(statement_id(stmt)) &&           // u32 statement id
                 (markers == nullptr ? out->append(text, length)  // text
                                     : substitute_parameters(stmt, *markers, text, length, out)) &&
                 out->append_byte(0) &&                                // NUL
                 out->append_binary_blocks() &&                        // binary blocks, each + NUL
                 out->append_trailer(stmt->cursor_name, name_length);  // trailer
  // Literals can make the payload longer than its text (a value of
  // apostrophes doubles); the frames carry a signed 32-bit length, so a
  // payload beyond it is refused rather than sent with a wrapped length.
  if (written && out->length() > static_cast<uint64_t>(INT32_MAX)) {
    post_error(stmt, kDiagInvalidLength);
    written = false;
  }
  if (!written) {
    // Nothing of a failed build is sent, and the next one numbers its binary
    // tokens from 0x0 again.
    discard_binary_blocks(stmt);
    return false;
  }
  out->finish();
  return true;
}

}  // namespace

SQLRETURN build_request(Statement* stmt, const char* text, int64_t length) {
  if (text == nullptr) return post_error(stmt, kDiagInvalidArgument);
  if (length < 0 || length > kMaxTextLength) return post_error(stmt, kDiagInvalidLength);
  uint64_t text_length = static_cast<uint64_t>(length);
  RequestWriter out(stmt);
  if (!out.start(text_length)) return SQL_ERROR;

  stmt->pending_parameter = 0;
  MarkerPositions markers;
  int32_t scan = scan_markers(stmt, text, length, &markers);
  if (scan > 0) {
    stmt->pending_parameter = kPendingBase + static_cast<uint32_t>(scan);
    return SQL_NEED_DATA;
  }
  if (scan == kMarkersNoMemory) return SQL_ERROR;
  // A pass-through text, one whose markers outnumber the bindings and one
  // without markers go as they stand: bindings that no marker uses (left from
  // another statement, say) are never converted, so they cannot make this
  // statement fail.
  bool substitute = !stmt->pass_through && scan != kMarkersUnbound && stmt->marker_count > 0;
  if (!encode_statement_payload(stmt, &out, text, text_length, substitute ? &markers : nullptr)) {
    return SQL_ERROR;
  }
  return scan == kMarkersUnbound ? SQL_ERROR : SQL_SUCCESS;
}

}  // namespace q4
