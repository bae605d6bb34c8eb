// Finding the parameter markers of a statement text and pairing them with the
// statement's parameter bindings.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Where the markers of one text stand: the 0-based offset of the k-th marker
// in the text, for the k-th binding. The caller owns it for one build. Texts
// of up to kInline markers (nearly all) keep the offsets inside the object;
// longer lists move to a block from drv_alloc, freed with the object.
class MarkerPositions {
 public:
  static constexpr uint32_t kInline = 64;

  MarkerPositions() = default;
  ~MarkerPositions();
  MarkerPositions(const MarkerPositions&) = delete;
  MarkerPositions& operator=(const MarkerPositions&) = delete;

  uint32_t count() const { return count_; }
  uint32_t operator[](uint32_t k) const { return at_[k]; }

  void clear() { count_ = 0; }
  // False when a longer list cannot be allocated ("S1001" posted on `stmt`;
  // the offsets so far stay).
  bool add(Statement* stmt, uint32_t offset) {
    if (count_ == capacity_ && !grow(stmt)) return false;
    at_[count_++] = offset;
    return true;
  }

 private:
  bool grow(Statement* stmt);

  uint32_t inline_[kInline];
  uint32_t* at_ = inline_;
  uint32_t count_ = 0;
  uint32_t capacity_ = kInline;
};

// Result of scan_markers when a marker finds no binding left ("07001" is then
// in the statement's slot, written without the driver prefix).
constexpr int32_t kMarkersUnbound = -1;
// Result of scan_markers when the positions could not be kept ("S1001").
constexpr int32_t kMarkersNoMemory = -2;

// Scans the first `length` characters of `text` (fewer when a NUL comes
// first) for its parameter markers, as statement/sql_scanner.h finds them
// (outside literals, quoted names and comments, whatever the text starts
// with).
//
// - A text whose first token is ">", "[" or "]" is a pass-through text:
//   `pass_through` is set and no marker is taken.
// - Otherwise the k-th marker takes the k-th binding of `parameters` (list
//   order, whatever its number): `positions` receives the offsets of the
//   markers taken, `marker_count` counts them (both equal, both restart at 0).
//
// Returns 0 when the text can be sent (every marker has a binding with a
// value), kMarkersUnbound when a marker has no binding left, k > 0 when the
// k-th marker's binding waits for data at execution (indicator
// SQL_DATA_AT_EXEC, or SQL_LEN_DATA_AT_EXEC(n) while not yet `complete`), or
// kMarkersNoMemory. Writes nothing but `positions`, the two fields named here
// and, for the negative results, the diagnostic slot: the bindings are only
// read.
int32_t scan_markers(Statement* stmt, const char* text, int64_t length, MarkerPositions* positions);

}  // namespace q4
