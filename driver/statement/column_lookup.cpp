#include "statement/column_lookup.h"

#include <sql.h>

#include <cstring>

#include "core/memory.h"
#include "link/link.h"
#include "results/statement_exchange.h"
#include "protocol/codec.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "results/description_cache.h"
#include "results/row_decoder.h"
#include "statement/sql_names.h"

namespace q4 {

namespace {

// The catalog reply is read into one byte less than io_buffer, as the
// catalog functions read it; the server keeps its catalog replies within it.
constexpr int32_t kCatalogReplyCapacity = kReplyCapacity - 1;
// The SQLColumns result: the columns read here (1-based) and the least a
// result must have to carry them.
constexpr int32_t kTableNameColumn = 3;
constexpr int32_t kColumnNameColumn = 4;
constexpr int32_t kDataTypeColumn = 5;
constexpr int32_t kPrecisionColumn = 7;
constexpr int32_t kScaleColumn = 9;
constexpr int32_t kNullableColumn = 11;
constexpr uint32_t kLeastColumns = 11;
constexpr uint32_t kMostColumns = 32767;
// A table of more columns than this, or a server that keeps sending blocks,
// is not described: the lookup gives up rather than read on without end.
constexpr uint32_t kMostRows = 100000;
constexpr int kMostFetches = 10000;

// A value's bytes as text, whatever its type; false for NULL.
bool value_text(const uint8_t* header, const char** text, size_t* length) {
  RowValue v = value_at(header);
  if (v.type == kNullValueType) return false;
  *text = reinterpret_cast<const char*>(v.data);
  *length = static_cast<size_t>(v.length);
  return true;
}

// A value as an integer: the binary SMALLINT and INTEGER forms, or decimal
// text (its integer part). False for NULL or anything else.
bool value_integer(const uint8_t* header, int64_t* out) {
  RowValue v = value_at(header);
  if (v.type == kNullValueType) return false;
  if (v.type == static_cast<uint16_t>(kSqlSmallint) && v.length == 2) {
    *out = static_cast<int16_t>(load_u16(v.data));
    return true;
  }
  if (v.type == static_cast<uint16_t>(kSqlInteger) && v.length == 4) {
    *out = static_cast<int32_t>(load_u32(v.data));
    return true;
  }
  const char* p = reinterpret_cast<const char*>(v.data);
  const char* end = p + v.length;
  bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  int64_t value = 0;
  const char* digits = p;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    if (value > INT32_MAX) return false;  // no catalog number is that large
    value = value * 10 + (*p - '0');
  }
  if (p == digits) return false;
  *out = negative ? -value : value;
  return true;
}

int16_t clamp16(int64_t v) {
  return static_cast<int16_t>(v < INT16_MIN ? INT16_MIN : v > INT16_MAX ? INT16_MAX : v);
}

// A drv_alloc block that doubles as it fills.
class Growing {
 public:
  ~Growing() { drv_free(data_); }
  bool append(const void* bytes, size_t count) {
    if (size_ + count > capacity_) {
      size_t capacity = capacity_ == 0 ? 1024 : 2 * capacity_;
      while (capacity < size_ + count) capacity *= 2;
      auto* block = static_cast<uint8_t*>(drv_alloc(nullptr, nullptr, capacity));
      if (block == nullptr) return false;
      if (size_ > 0) memcpy(block, data_, size_);
      drv_free(data_);
      data_ = block;
      capacity_ = capacity;
    }
    if (count > 0) memcpy(data_ + size_, bytes, count);
    size_ += count;
    return true;
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // Hands the block over; the caller frees it.
  uint8_t* release() {
    uint8_t* block = data_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return block;
  }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace

// The catalog rows of the tables whose name is the wanted one but for the
// letter case, as they arrive block by block.
class CatalogRows {
 public:
  CatalogRows(const char* table, size_t length) : table_(table), table_length_(length) {}
  ~CatalogRows() { drv_free(values_); }

  // Takes the rows of one block of `columns` values each; *trailer receives
  // the block's trailing status. False when the block is damaged, holds too
  // many rows, or memory ran out (out_of_memory() tells).
  bool take_block(const uint8_t* block, size_t length, uint32_t columns, uint8_t* trailer) {
    if (values_ == nullptr) {
      values_ = drv_alloc_array<const uint8_t*>(nullptr, nullptr, columns);
      if (values_ == nullptr) {
        out_of_memory_ = true;
        return false;
      }
    }
    const uint8_t* end = block + length;
    for (const uint8_t* row = block;;) {
      const uint8_t* status = decode_row(row, end, static_cast<int32_t>(columns), values_);
      if (status == nullptr || !take_row()) return false;
      if (*status != kStatusOk) {
        *trailer = *status;
        return is_block_trailer(*status);
      }
      row = status + 1;
    }
  }

  // A failed take_block ran out of memory rather than meeting a damaged block.
  bool out_of_memory() const { return out_of_memory_; }

  // The rows of the one table chosen (see TableColumns::fetch) into `out`.
  LookupOutcome resolve(TableColumns* out) {
    const Row* rows = reinterpret_cast<const Row*>(rows_.data());
    size_t count = rows_.size() / sizeof(Row);
    const char* text = reinterpret_cast<const char*>(text_.data());
    if (count == 0) return LookupOutcome::kNoAnswer;
    const Row* chosen = nullptr;
    for (size_t i = 0; i < count && chosen == nullptr; ++i) {
      if (memcmp(text + rows[i].table_at, table_, table_length_) == 0) chosen = &rows[i];
    }
    if (chosen == nullptr) {
      // No exact spelling: only one other may stand in for it.
      chosen = &rows[0];
      for (size_t i = 1; i < count; ++i) {
        if (!same_spelling(text, rows[i], *chosen)) return LookupOutcome::kNoAnswer;
      }
    }
    uint32_t kept = 0;
    for (size_t i = 0; i < count; ++i) kept += same_spelling(text, rows[i], *chosen) ? 1 : 0;
    out->columns_ = drv_alloc_array<CatalogColumn>(nullptr, nullptr, kept);
    if (out->columns_ == nullptr) return LookupOutcome::kNoMemory;
    out->names_ = reinterpret_cast<char*>(text_.release());
    for (size_t i = 0; i < count; ++i) {
      if (!same_spelling(out->names_, rows[i], *chosen)) continue;
      CatalogColumn c = rows[i].column;
      c.name = out->names_ + rows[i].name_at;
      out->columns_[out->count_++] = c;
    }
    return LookupOutcome::kFound;
  }

 private:
  struct Row {
    size_t table_at;
    size_t name_at;
    CatalogColumn column;  // its name is set once the text block stops moving
  };

  bool same_spelling(const char* text, const Row& a, const Row& b) const {
    return memcmp(text + a.table_at, text + b.table_at, table_length_) == 0;
  }

  // Keeps the row in values_ when its table is the one wanted.
  bool take_row() {
    const char* table;
    const char* name;
    size_t table_length, name_length;
    if (!value_text(values_[kTableNameColumn - 1], &table, &table_length) ||
        table_length != table_length_ || !equal_ignoring_case(table, table_, table_length)) {
      return true;  // another table that the pattern matched
    }
    if (rows_.size() / sizeof(Row) >= kMostRows) return false;
    int64_t type = 0, size = 0, scale = 0, nullable = SQL_NULLABLE_UNKNOWN;
    if (!value_text(values_[kColumnNameColumn - 1], &name, &name_length) ||
        !value_integer(values_[kDataTypeColumn - 1], &type)) {
      return false;  // a column without a name or a type: not a columns result
    }
    Row row{};
    row.column.name_length = name_length;
    row.column.sql_type = clamp16(type);
    row.column.has_size = value_integer(values_[kPrecisionColumn - 1], &size) && size > 0;
    row.column.size = row.column.has_size ? static_cast<uint32_t>(size) : 0;
    if (value_integer(values_[kScaleColumn - 1], &scale))
      row.column.decimal_digits = clamp16(scale);
    value_integer(values_[kNullableColumn - 1], &nullable);
    row.column.nullable = clamp16(nullable);
    row.table_at = text_.size();
    row.name_at = text_.size() + table_length;
    out_of_memory_ = !(text_.append(table, table_length) && text_.append(name, name_length) &&
                       rows_.append(&row, sizeof row));
    return !out_of_memory_;
  }

  const char* table_;
  size_t table_length_;
  const uint8_t** values_ = nullptr;
  Growing rows_;  // Row records
  Growing text_;  // the table and column names the rows point into
  bool out_of_memory_ = false;
};

namespace {

bool link_usable(const Statement* stmt) {
  const Link* link = stmt->connection->link;
  return link != nullptr && !link->lost;
}

// Releases the lookup's id on the server. False when the exchange failed
// (its diagnostic posted).
bool release_lookup(Statement* stmt, uint32_t lookup_id) {
  int32_t length = encode_statement_request(stmt->io_buffer, lookup_id);
  return !exchange_for_statement(stmt, kCmdRelease, stmt->io_buffer, length, kIoBufferSize)
              .failed();
}

// Reads the columns reply (`received` bytes in io_buffer) and the blocks
// after it into `rows`.
LookupOutcome read_result(Statement* stmt, uint32_t lookup_id, int32_t received,
                          CatalogRows* rows) {
  if (stmt->reply_status[0] != kStatusOk || received < 8) return LookupOutcome::kNoAnswer;
  const uint8_t* payload = stmt->io_buffer;
  uint32_t columns = load_u32(payload);
  uint32_t row_count = load_u32(payload + 4);
  if (columns < kLeastColumns || columns > kMostColumns) return LookupOutcome::kNoAnswer;
  const uint8_t* rest = payload + 8;
  size_t rest_length = static_cast<size_t>(received) - 8;
  int64_t section = description_section_span(rest, rest_length);
  if (section < 0) return LookupOutcome::kNoAnswer;
  rest += section;
  rest_length -= static_cast<size_t>(section);
  // Without a first block the rows are fetched, unless the server said there
  // are none.
  uint8_t trailer = row_count == 0 ? kStatusWarning : kRowMore;
  if (rest_length > 0 && !rows->take_block(rest, rest_length, columns, &trailer)) {
    return rows->out_of_memory() ? LookupOutcome::kNoMemory : LookupOutcome::kNoAnswer;
  }
  for (int fetches = 0; trailer == kRowMore; ++fetches) {
    if (fetches == kMostFetches) return LookupOutcome::kNoAnswer;
    int32_t length = encode_fetch_next(stmt->io_buffer, lookup_id);
    StatementReply block =
        exchange_for_statement(stmt, kCmdFetch, stmt->io_buffer, length, kReplyCapacity);
    if (block.failed()) return LookupOutcome::kFailed;
    if (block.length > 0) {
      if (!rows->take_block(stmt->io_buffer, static_cast<size_t>(block.length), columns,
                            &trailer)) {
        return rows->out_of_memory() ? LookupOutcome::kNoMemory : LookupOutcome::kNoAnswer;
      }
    } else if (stmt->reply_status[0] == kStatusWarning) {
      trailer = kStatusWarning;
    } else {
      // A refusal, or a row too long for a block: its values would have to
      // be fetched one by one, which a catalog row never needs.
      return LookupOutcome::kNoAnswer;
    }
  }
  return trailer == kStatusWarning ? LookupOutcome::kFound : LookupOutcome::kNoAnswer;
}

}  // namespace

TableColumns::~TableColumns() {
  drv_free(columns_);
  drv_free(names_);
}

LookupOutcome TableColumns::fetch(Statement* stmt, uint32_t lookup_id, const char* table,
                                  size_t length) {
  if (length == 0 || length + kTableColumnsOverhead > kIoBufferSize ||
      memchr(table, 0, length) != nullptr) {
    return LookupOutcome::kNoAnswer;
  }
  int32_t request = encode_table_columns(stmt->io_buffer, lookup_id, table, length);
  StatementReply reply =
      exchange_for_statement(stmt, kCmdColumns, stmt->io_buffer, request, kCatalogReplyCapacity);
  CatalogRows rows(table, length);
  LookupOutcome outcome =
      reply.failed() ? LookupOutcome::kFailed : read_result(stmt, lookup_id, reply.length, &rows);
  // The id goes whatever came of it, unless the link itself is gone (a
  // cancel leaves it usable).
  if (link_usable(stmt) && !release_lookup(stmt, lookup_id)) return LookupOutcome::kFailed;
  if (outcome != LookupOutcome::kFound) return outcome;
  return rows.resolve(this);
}

}  // namespace q4
