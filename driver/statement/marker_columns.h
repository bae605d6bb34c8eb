// Which table column each parameter marker of a statement text meets, where
// the text says so plainly. SQLDescribeParam describes such a marker as its
// column; the server's catalog gives the column's type.
//
// Read from the tokens of statement/sql_scanner.h, so the markers are
// numbered exactly as SQLNumParams counts them:
//   INSERT [OR x] INTO t (a, b, ...) VALUES (?, ?, ...)[, (...)]   a, b, ...
//   INSERT [OR x] INTO t VALUES (?, ?, ...)          the columns in table order
//   UPDATE [OR x] t SET a = ?, b = ?                  a, b
//   ... WHERE a = ? AND ? < b AND c BETWEEN ? AND ? AND d IN (?, ?)
// where the WHERE belongs to an UPDATE, a DELETE FROM or a SELECT of one
// table (t, an alias of it, or qualified names of either), and the
// comparison is one of = == <> != < > <= >=. A marker counts only when it
// stands alone as the value (`a = ? + 1` does not). Everything else is left
// unattributed: a statement of several tables (joins, a FROM list,
// UPDATE ... FROM), a nested SELECT, a text that does not begin with one of
// these statements, and every marker of a pass-through text.
#pragma once

#include <cstdint>

#include "statement/sql_names.h"

namespace q4 {

struct MarkerTarget {
  enum class Kind : uint8_t {
    kNone,          // the text does not say
    kNamedColumn,   // `column` names it
    kColumnNumber,  // the `number`-th column of the table (0-based)
  };
  Kind kind;
  TextName column;
  uint32_t number;
};

// The targets of one text's markers, in text order. Owns its block.
class MarkerTargets {
 public:
  MarkerTargets() = default;
  ~MarkerTargets();
  MarkerTargets(const MarkerTargets&) = delete;
  MarkerTargets& operator=(const MarkerTargets&) = delete;

  // Reads the first `length` bytes of `text` (fewer at a NUL). True when at
  // least one marker meets a column of `table()`; false when none does, or
  // when memory for the reading ran out (out_of_memory() then; nothing is
  // posted: the caller describes the markers without the catalog).
  bool read(const char* text, uint64_t length);
  bool out_of_memory() const { return out_of_memory_; }

  const TextName& table() const { return table_; }
  uint32_t marker_count() const { return count_; }
  const MarkerTarget& operator[](uint32_t k) const { return targets_[k]; }

 private:
  TextName table_{};
  MarkerTarget* targets_ = nullptr;
  uint32_t count_ = 0;
  bool out_of_memory_ = false;
};

}  // namespace q4
