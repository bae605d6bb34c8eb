// A statement's copy of the latest row block the server sent, and the row of
// it that is current.
//
// A block is rows back to back; each row is `columns` values
//   u16 type (0xFFFF: NULL) | u32 length n | n bytes
// and every row is followed by one status byte: "K" (another row follows),
// "M" (the server holds more rows), "W" (no more rows) or "E" (an error).
//
// The contract of RowBlock:
// - Ownership: it owns two drv_alloc blocks, the block's bytes (capacity()
//   bytes) and the index of the current row (the addresses of its values'
//   headers, kept twice: the current row's and a spare that the next row is
//   decoded into, so that a damaged row never leaves half an index). Both
//   only grow; release() frees them, nothing else does. The result set that
//   holds the block (result_set.h) releases it with the statement's result.
// - Zero is empty: a zero-filled RowBlock holds no block and owns nothing (a
//   statement record is zero-filled memory).
// - Held: from adopt() or store() until the block's trailer is stepped on,
//   discard(), a reserve() that has to grow, or release(), the bytes are the
//   result's latest block: held(). A RowValue taken from it stays good while
//   the block stays held and no further step is taken.
// - Current row: valid() while a row is current; value(i) is its i-th value
//   (0-based, i below the block's column count). A new block has no current
//   row unless it is adopted with its first row current.
// Nothing here posts a diagnostic or reads the statement: callers report.
#pragma once

#include <cstdint>

#include "protocol/wire.h"
#include "results/row_decoder.h"

namespace q4 {

// What a step through the block came to.
enum class RowStep : uint8_t {
  kRow,      // the next row is current
  kMore,     // the block is used up; its trailer "M": the server holds more rows
  kEnd,      // the block is used up; its trailer "W": no more rows
  kError,    // the block is used up; its trailer "E" (which carries no text)
  kDamaged,  // what follows the current row is neither a whole row nor a
             // trailer; the block stays as it is, so every further step
             // meets the same damage instead of skipping rows
};

// Where a block adopted by RowBlock::adopt stands.
enum class FirstRow : uint8_t {
  kAhead,    // no row is current: the next step reads the first row
  kCurrent,  // the first row is current at once
};

class RowBlock {
 public:
  // Makes room for a block of `length` (>= 0) bytes of rows of `columns`
  // values: bytes grown to the next multiple of 1000 above `length` when too
  // small, the index to `columns` entries, but never to more than a block of
  // `length` bytes could fill (a value takes a header of kValueHeader bytes
  // at least), whatever a reply claimed; a block of more columns cannot be
  // held. When either has to grow the held block is given up. False when
  // storage cannot be had (nothing posted); the block and its current row are
  // then exactly as they were.
  bool reserve(int32_t length, int32_t columns);

  // The block's bytes, capacity() of them: where a reply is received straight
  // after reserve(), to be adopted.
  uint8_t* bytes() { return bytes_; }
  int32_t capacity() const { return capacity_; }
  // Bytes of the held block (or of the last one held).
  int32_t length() const { return length_; }

  // Takes the first `length` bytes of bytes() (reserved for `columns`) as the
  // held block, rows of `columns` values, standing as `start` says. False
  // when the first row is to be current and cannot be read: the block is
  // then held with no row current, so that the next step meets the same
  // damage. A block of more columns than reserve() gave room for is not
  // held (and with kCurrent gives false).
  bool adopt(int32_t length, int32_t columns, FirstRow start);

  // reserve() and a copy of `length` bytes of `data`, then adopt() with no
  // row current. False when storage cannot be had: no block is held then.
  bool store(const uint8_t* data, int32_t length, int32_t columns);

  // The block is no longer the result's; the storage stays for the next one.
  void discard() {
    held_ = false;
    row_end_ = nullptr;
  }

  // Frees the storage; the RowBlock is empty (zero) again.
  void release();

  bool held() const { return held_; }
  // Held, with rows of `columns` values: a re-execution that changed the
  // column count must not have an older block walked. Inline: it is asked for
  // every value delivered.
  bool holds_rows_of(int32_t columns) const { return held_ && columns_ == columns; }
  // The values a row's index has room for.
  int32_t index_room() const { return index_room_; }

  // Iteration, on a held block.
  // No row current: the next step reads the first row.
  void seek_before_first() { row_end_ = nullptr; }
  // The first row current; false, with the current row as it was, when it
  // runs past the block.
  bool seek_to_first() { return index(bytes_); }
  // Steps to the row after the current one (the first when none is current).
  RowStep next() {
    const uint8_t* row = bytes_;
    if (row_end_ != nullptr) {
      if (*row_end_ != kStatusOk) return end_of_rows();
      row = row_end_ + 1;
    }
    return index(row) ? RowStep::kRow : RowStep::kDamaged;
  }
  bool valid() const { return row_end_ != nullptr; }
  // The value in column `column` (0-based) of the current row; asks valid().
  RowValue value(int32_t column) const { return value_at(index_[column]); }

 private:
  // Decodes the row at `row` into the spare index and makes it current.
  // False, with the current row as it was, when it runs past the block.
  bool index(const uint8_t* row) {
    const uint8_t* status = decode_row(row, bytes_ + length_, columns_, spare_);
    if (status == nullptr) return false;
    const uint8_t** decoded = spare_;
    spare_ = index_;
    index_ = decoded;
    row_end_ = status;
    return true;
  }
  // The status byte after the current row is not "K": the trailer ends the
  // block, anything else is damage.
  RowStep end_of_rows();

  uint8_t* bytes_;
  int32_t capacity_;
  int32_t length_;               // bytes of the held block
  int32_t columns_;              // values a row of the held block has
  int32_t index_room_;           // entries of each index
  const uint8_t** index_block_;  // the two indexes' storage, 2 * index_room_ entries
  const uint8_t** index_;        // the current row's value headers
  const uint8_t** spare_;        // where the next row is decoded
  // The status byte after the current row; null when no row is current.
  const uint8_t* row_end_;
  bool held_;
};

}  // namespace q4
