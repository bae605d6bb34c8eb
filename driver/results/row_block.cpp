#include "results/row_block.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "results/row_decoder.h"

namespace q4 {

namespace {

constexpr int32_t kBufferStep = 1000;

}  // namespace

bool index_row(Statement* stmt, const uint8_t* row) {
  if (!row_storage_fits(stmt)) return false;
  const uint8_t* end = stmt->row_buffer + stmt->row_block_length;
  const uint8_t* status = decode_row(row, end, stmt->column_count, stmt->value_table);
  if (status == nullptr) return false;
  stmt->value_table[stmt->column_count] = status;
  return true;
}

bool reserve_row_storage(Statement* stmt, int32_t length) {
  if (length < 0 || stmt->column_count < 0) {
    stmt->cache_valid = 0;
    post_error(stmt, kDiagGeneral);
    return false;
  }
  // A row of a block takes a value header per column: a block of `length`
  // bytes cannot hold a row of more columns than that, so the table is never
  // sized beyond what the block could fill, whatever column count a reply
  // claimed. With fewer entries than columns the block cannot be walked
  // (row_storage_fits), which is what such a block deserves.
  int32_t table_columns = stmt->column_count;
  if (table_columns > length / static_cast<int32_t>(kValueHeader)) {
    table_columns = length / static_cast<int32_t>(kValueHeader);
  }
  bool grow_buffer = stmt->row_buffer == nullptr || stmt->row_buffer_size < length;
  bool grow_table = stmt->value_table == nullptr || stmt->value_table_columns < table_columns;
  if (!grow_buffer && !grow_table) return true;

  // Both blocks are had before either is given up, so that a failure leaves
  // the stored block, and with it the cursor, as it was.
  int32_t size = (length / kBufferStep + 1) * kBufferStep;
  uint8_t* buffer = nullptr;
  if (grow_buffer) {
    buffer = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, size));
    if (buffer == nullptr) return false;
  }
  const uint8_t** table = nullptr;
  if (grow_table) {
    table = drv_alloc_array<const uint8_t*>(nullptr, stmt, static_cast<size_t>(table_columns) + 1);
    if (table == nullptr) {
      drv_free(buffer);
      return false;
    }
  }
  stmt->cache_valid = 0;
  if (grow_buffer) {
    drv_free(stmt->row_buffer);
    stmt->row_buffer = buffer;
    stmt->row_buffer_size = size;
    stmt->row_block_length = 0;
  }
  if (grow_table) {
    drv_free(stmt->value_table);
    stmt->value_table = table;
    stmt->value_table_columns = table_columns;
  }
  return true;
}

bool adopt_row_block(Statement* stmt, int32_t length, bool read_first) {
  stmt->row_block_length = length;
  // No pointer of an earlier block may survive into this one: entries past
  // the column count stay null, and only index_row fills the others.
  memset(stmt->value_table, 0, sizeof(uint8_t*) * (stmt->value_table_columns + 1));
  stmt->cache_valid = 1;
  return !read_first || index_row(stmt, stmt->row_buffer);
}

bool store_row_block(Statement* stmt, const uint8_t* data, int32_t length, bool read_first) {
  stmt->cache_valid = 0;
  if (!reserve_row_storage(stmt, length)) return false;
  if (length > 0) memcpy(stmt->row_buffer, data, length);
  if (!adopt_row_block(stmt, length, read_first)) {
    stmt->cache_valid = 0;
    post_error(stmt, kDiagGeneral);
    return false;
  }
  return true;
}

}  // namespace q4
