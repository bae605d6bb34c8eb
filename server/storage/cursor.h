// The rows of one result, streamed from its SQLite statement into row blocks.
//
// Only the statement's current row is ever held, so a result of any size
// costs one row block of memory. The cursor knows which row the statement
// stands on and whether that row has been sent yet; a request for an earlier
// row runs the statement again from the start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/storage/sqlite_handles.h"
#include "server/storage/value_encoding.h"
#include "server/translation/type_map.h"

namespace q4::lite {

class Cursor {
 public:
  // `columns` describe the statement's result columns; undeclared ones take
  // their type from the first row in start().
  Cursor(StmtHandle stmt, std::vector<ColumnInfo> columns);

  // Steps to the first row, so that an error surfaces now and undeclared
  // columns learn their type. False with the error set when the step failed.
  bool start();

  const std::vector<ColumnInfo>& columns() const { return columns_; }
  sqlite3_stmt* statement() const { return stmt_.get(); }

  // What ends a row block (the byte after its last row).
  static constexpr char kMore = 'M';   // a further row exists (and is held)
  static constexpr char kEnd = 'W';    // no further row
  static constexpr char kError = 'E';  // reading the next row failed

  struct Block {
    size_t length = 0;  // bytes written, trailing status byte included
    uint32_t rows = 0;
    uint32_t first_row = 0;  // number of the block's first row (1-based)
    char trailer = kEnd;
  };
  // Writes the next rows as a row block into out[0, room): the first row,
  // then "K" and a row for each further one, then the trailing status byte.
  // Stops before a row that does not fit, or after `max_rows` rows (0: no
  // limit). With rows == 0 the block is only the trailer: kMore then means
  // the next row alone is larger than `room`. When `row_starts` is given it
  // receives the offset of each row in the block (after its "K").
  Block fill(uint8_t* out, size_t room, uint32_t max_rows,
             std::vector<uint32_t>* row_starts = nullptr);

  enum class Seek { kOk, kPastEnd, kError };
  // Makes row `row` (1-based) the next one fill() or announce() delivers.
  Seek seek(uint32_t row);

  // Delivers the next row without its data: it becomes the current row,
  // whose values value() then serves. Returns kMore when a row was
  // delivered (the caller answers "K"), kEnd or kError.
  char announce();

  // The current row can be read value by value (after announce()).
  bool has_current_row() const { return state_ == State::kAnnounced; }
  // Every row has been stepped past: no further row exists.
  bool exhausted() const { return state_ == State::kDone; }
  ValueView value(int index, uint8_t (&scratch)[kValueScratch]) const;

  // Error of the last failed step: SQLite's result code and message.
  int error_code() const { return error_code_; }
  const std::string& error_message() const { return error_message_; }

  // Resets the statement (ends its read transaction); the next request
  // runs it again from the start.
  void rewind();

 private:
  enum class State {
    kBefore,     // nothing stepped since the statement was (re)started
    kPending,    // on row `produced_`, not delivered yet
    kSent,       // on row `produced_`, sent inside a block
    kAnnounced,  // on row `produced_`, delivered without data
    kDone,       // past the last row; `produced_` is the row count
    kFailed,     // a step failed
  };

  void step();
  size_t encode_row(uint8_t* out, size_t room);
  void type_undeclared_columns();

  StmtHandle stmt_;
  std::vector<ColumnInfo> columns_;
  State state_ = State::kBefore;
  uint32_t produced_ = 0;  // number of the row the statement stands on
  int error_code_ = 0;
  std::string error_message_;
};

}  // namespace q4::lite
