#include "server/storage/cursor.h"

namespace q4::lite {

Cursor::Cursor(StmtHandle stmt, std::vector<ColumnInfo> columns)
    : stmt_(std::move(stmt)), columns_(std::move(columns)) {}

void Cursor::step() {
  const int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) {
    ++produced_;
    state_ = State::kPending;
  } else if (rc == SQLITE_DONE) {
    state_ = State::kDone;
    // Release the read transaction now rather than when the cursor goes.
    sqlite3_reset(stmt_.get());
  } else {
    state_ = State::kFailed;
    error_code_ = rc;
    error_message_ = sqlite3_errmsg(sqlite3_db_handle(stmt_.get()));
    sqlite3_reset(stmt_.get());
  }
}

void Cursor::type_undeclared_columns() {
  sqlite3_stmt* s = stmt_.get();
  for (size_t i = 0; i < columns_.size(); ++i) {
    ColumnInfo& c = columns_[i];
    if (c.declared) continue;
    const int index = static_cast<int>(i);
    const int storage = sqlite3_column_type(s, index);
    const int64_t integer = storage == SQLITE_INTEGER ? sqlite3_column_int64(s, index) : 0;
    const int length =
        storage == SQLITE_TEXT || storage == SQLITE_BLOB ? sqlite3_column_bytes(s, index) : 0;
    const ColumnInfo typed = type_from_value(storage, integer, length);
    c.type = typed.type;
    c.precision = typed.precision;
    c.scale = typed.scale;
    c.floating = typed.floating;
  }
}

bool Cursor::start() {
  rewind();
  step();
  if (state_ == State::kPending) type_undeclared_columns();
  return state_ != State::kFailed;
}

void Cursor::rewind() {
  sqlite3_reset(stmt_.get());
  produced_ = 0;
  state_ = State::kBefore;
}

size_t Cursor::encode_row(uint8_t* out, size_t room) {
  uint8_t scratch[kValueScratch];
  size_t used = 0;
  const int count = static_cast<int>(columns_.size());
  for (int i = 0; i < count; ++i) {
    const ValueView v = make_value(columns_[static_cast<size_t>(i)], stmt_.get(), i, scratch);
    const size_t n = put_value(v, out + used, room - used);
    if (n == 0) return 0;
    used += n;
  }
  return used;
}

Cursor::Block Cursor::fill(uint8_t* out, size_t room, uint32_t max_rows,
                           std::vector<uint32_t>* row_starts) {
  Block block;
  size_t pos = 0;
  if (row_starts != nullptr) row_starts->clear();
  for (;;) {
    if (state_ == State::kBefore || state_ == State::kSent || state_ == State::kAnnounced) step();
    if (state_ == State::kDone) {
      block.trailer = kEnd;
      break;
    }
    if (state_ == State::kFailed) {
      block.trailer = kError;
      break;
    }
    // kPending: the row at hand goes in if it fits.
    const size_t prefix = block.rows > 0 ? 1 : 0;
    if ((max_rows != 0 && block.rows == max_rows) || pos + prefix + 1 >= room) {
      block.trailer = kMore;
      break;
    }
    const size_t n = encode_row(out + pos + prefix, room - pos - prefix - 1);
    if (n == 0) {
      block.trailer = kMore;
      break;
    }
    if (prefix != 0) out[pos] = 'K';
    if (row_starts != nullptr) row_starts->push_back(static_cast<uint32_t>(pos + prefix));
    if (block.rows == 0) block.first_row = produced_;
    pos += prefix + n;
    ++block.rows;
    state_ = State::kSent;
  }
  if (room > pos) out[pos++] = static_cast<uint8_t>(block.trailer);
  block.length = pos;
  return block;
}

Cursor::Seek Cursor::seek(uint32_t row) {
  if (state_ == State::kDone && row > produced_) return Seek::kPastEnd;
  const bool on_row =
      state_ == State::kPending || state_ == State::kSent || state_ == State::kAnnounced;
  if (row < produced_ || (row == produced_ && !on_row) || state_ == State::kFailed ||
      state_ == State::kDone) {
    rewind();
  }
  while (produced_ < row) {
    step();
    if (state_ == State::kDone) return Seek::kPastEnd;
    if (state_ == State::kFailed) return Seek::kError;
  }
  state_ = State::kPending;
  return Seek::kOk;
}

char Cursor::announce() {
  if (state_ != State::kPending && state_ != State::kDone && state_ != State::kFailed) step();
  if (state_ == State::kDone) return kEnd;
  if (state_ == State::kFailed) return kError;
  state_ = State::kAnnounced;
  return kMore;
}

ValueView Cursor::value(int index, uint8_t (&scratch)[kValueScratch]) const {
  return make_value(columns_[static_cast<size_t>(index)], stmt_.get(), index, scratch);
}

}  // namespace q4::lite
