#include "statement/cursor.h"

#include "core/memory.h"
#include "statement/binary_blocks.h"

namespace q4 {

void rewind_cursor(Statement* stmt) {
  stmt->getdata_column = -1;
  stmt->getdata_offset = 0;
  discard_binary_blocks(stmt);
  stmt->cursor_row = 0;
}

void close_result(Statement* stmt) {
  stmt->cursor_open = 0;
  stmt->pass_through = 0;
  stmt->cache_valid = 0;
  stmt->descriptions_cached = 0;
  drv_free(stmt->row_buffer);
  stmt->row_buffer = nullptr;
  stmt->row_buffer_size = 0;
  drv_free(stmt->value_table);
  stmt->value_table = nullptr;
  stmt->value_table_columns = 0;
  drv_free(stmt->description_cache);
  stmt->description_cache = nullptr;
  stmt->description_cache_size = 0;
  stmt->cursor_row = 0;
  stmt->row_number = 0;
  stmt->block_first_row = 0;
}

}  // namespace q4
