// libFuzzer target: a statement text as an application might pass it, read
// by the one scanner every marker question goes through. Whatever the bytes
// (NULs, unterminated quotes and comments included), nothing may be read
// outside the text, and the marker walk, the token walk, SQLNumParams' count,
// the execution's markers and the column reading (marker_columns.h) must
// agree on every marker.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/memory.h"
#include "core/records.h"
#include "statement/marker_columns.h"
#include "statement/marker_scan.h"
#include "statement/sql_scanner.h"

namespace {

void require(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read past the text is a read past the block.
  std::vector<char> text(data, data + size);
  const char* at = text.empty() ? "" : text.data();
  q4::SqlScanner scan(at, size);
  const bool pass_through = scan.pass_through();
  std::vector<int64_t> walked;
  for (int64_t m; (m = scan.next_marker()) >= 0;) walked.push_back(m);
  std::vector<int64_t> tokens;
  q4::SqlScanner by_token(at, size);
  for (q4::Token t = by_token.next_token(); t.kind != q4::TokenKind::kEnd;
       t = by_token.next_token()) {
    require(t.offset + t.length <= size && t.length > 0);
    if (t.kind == q4::TokenKind::kMarker) tokens.push_back(static_cast<int64_t>(t.offset));
  }
  require(walked == tokens);
  const uint32_t count = q4::count_markers(at, size);
  require(count == (pass_through ? 0 : walked.size()));

  // The execution, with a binding for every marker.
  auto* stmt = static_cast<q4::Statement*>(q4::drv_alloc(nullptr, nullptr, sizeof(q4::Statement)));
  std::vector<q4::ParamBinding> bindings(walked.size() + 1);
  for (size_t i = 0; i < walked.size(); ++i) {
    bindings[i].number = static_cast<uint16_t>(i + 1);
    bindings[i].next = &bindings[i + 1];
  }
  app_param_desc(stmt).records = walked.empty() ? nullptr : bindings.data();
  {
    q4::MarkerPositions positions;
    require(q4::scan_markers(stmt, at, static_cast<int64_t>(size), &positions) == 0);
    require(positions.count() == count && stmt->marker_count == count);
    for (uint32_t i = 0; i < count; ++i) require(positions[i] == walked[i]);
  }
  q4::drv_free(stmt);

  q4::MarkerTargets targets;
  const bool named = targets.read(at, size);
  require(pass_through ? targets.marker_count() == 0 : targets.marker_count() == count);
  for (uint32_t k = 0; named && k < targets.marker_count(); ++k) {
    const q4::MarkerTarget& t = targets[k];
    if (t.kind == q4::MarkerTarget::Kind::kNamedColumn) {
      require(t.column.offset + t.column.length <= size);
    }
  }
  return 0;
}
