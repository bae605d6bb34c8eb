// Column description records and the statement's cache of them.
//
// A record (server format, big-endian):
//   name, NUL-terminated | u16 type | u32 precision | u16 scale | u16 nullable
// The description section of an execute, prepare or catalog reply sits after
// the payload's two counts:
//   "X" | u32 L (counting itself) | L - 4 bytes of entries
// and each entry is a u32 entry length (counting itself) and one record.
// The cache holds the section from its length field on: L bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/records.h"

namespace q4 {

// One parsed record. `name` points into the bytes it was parsed from (the
// cache or io_buffer) and stays valid until they change.
struct ColumnDescription {
  const char* name;
  size_t name_length;
  int16_t type;  // an ODBC SQL type code, passed through unchanged
  uint32_t precision;
  uint16_t scale;
  uint16_t nullable;  // 0: no nulls; anything else: nullable
};

// Bytes of a record before its name's length is added: NUL + 2 + 4 + 2 + 2.
constexpr size_t kDescriptionFixedBytes = 11;

// Parses the record at `record`, `available` bytes long. False when its name
// has no NUL or its fields run past `available`.
bool parse_column_description(const uint8_t* record, size_t available, ColumnDescription* out);

// Looks at the `length` bytes at `data` (a reply payload after its counts):
// 0 when they do not begin with a description section, the number of bytes
// the section spans ("X" included) when they begin with a whole, well-formed
// one, and -1 when the section is damaged (it runs past `length`, or an entry
// is not a whole record).
int64_t description_section_span(const uint8_t* data, size_t length);

// Stores the section at `data` (checked by description_section_span) into
// description_cache and sets descriptions_cached. The block is reused when
// large enough, else replaced by one of the next multiple of 1000 bytes above
// the need. When that allocation fails "S1001" is posted, the cache stays
// absent and descriptions_cached clear: descriptions are then asked of the
// server one by one.
void store_descriptions(Statement* stmt, const uint8_t* data);

// The cached record of column `icol` (1-based). False when nothing is cached
// or the cache has no entry for that column.
bool find_cached_description(const Statement* stmt, uint16_t icol, ColumnDescription* out);

}  // namespace q4
