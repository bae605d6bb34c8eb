#include "results/row_block.h"

#include <cstring>

#include "core/diagnostics.h"
#include "core/memory.h"
#include "protocol/codec.h"

namespace q4 {

namespace {

constexpr int32_t kBufferStep = 1000;
constexpr size_t kValueHeader = 6;  // u16 type + u32 length

}  // namespace

bool index_row(Statement* stmt, const uint8_t* row) {
  const uint8_t* end = stmt->row_buffer + stmt->row_block_length;
  const uint8_t* at = row;
  int32_t columns = stmt->column_count;
  // Walk once to validate, so a damaged row never leaves half a table.
  for (int32_t i = 0; i < columns; ++i) {
    if (static_cast<size_t>(end - at) < kValueHeader) return false;
    uint32_t data_length = load_u32(at + 2);
    if (static_cast<size_t>(end - at) - kValueHeader < data_length) return false;
    at += kValueHeader + data_length;
  }
  // The status byte after the row must be inside the block too.
  if (at >= end) return false;
  at = row;
  for (int32_t i = 0; i < columns; ++i) {
    stmt->value_table[i] = const_cast<uint8_t*>(at);
    at += kValueHeader + load_u32(at + 2);
  }
  stmt->value_table[columns] = const_cast<uint8_t*>(at);
  return true;
}

bool store_row_block(Statement* stmt, const uint8_t* data, int32_t length, bool read_first) {
  stmt->cache_valid = 0;
  if (length < 0 || stmt->column_count < 0) {
    post_error(stmt, kDiagGeneral);
    return false;
  }
  if (stmt->row_buffer == nullptr || stmt->row_buffer_size < length) {
    drv_free(stmt->row_buffer);
    stmt->row_buffer_size = 0;
    stmt->row_block_length = 0;
    int32_t size = (length / kBufferStep + 1) * kBufferStep;
    stmt->row_buffer = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, size));
    if (stmt->row_buffer == nullptr) return false;
    stmt->row_buffer_size = size;
  }
  if (stmt->value_table == nullptr || stmt->value_table_columns < stmt->column_count) {
    drv_free(stmt->value_table);
    stmt->value_table_columns = 0;
    stmt->value_table = drv_alloc_array<uint8_t*>(nullptr, stmt, stmt->column_count + 1);
    if (stmt->value_table == nullptr) return false;
    stmt->value_table_columns = stmt->column_count;
  }
  if (length > 0) memcpy(stmt->row_buffer, data, length);
  stmt->row_block_length = length;
  if (read_first) {
    if (!index_row(stmt, stmt->row_buffer)) {
      post_error(stmt, kDiagGeneral);
      return false;
    }
  } else {
    stmt->value_table[stmt->column_count] = nullptr;
  }
  stmt->cache_valid = 1;
  return true;
}

}  // namespace q4
