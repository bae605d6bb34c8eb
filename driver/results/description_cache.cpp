#include "results/description_cache.h"

#include <cstring>

#include "core/memory.h"
#include "protocol/codec.h"

namespace q4 {

namespace {

constexpr uint8_t kSectionMark = 'X';
constexpr size_t kLengthField = 4;
constexpr int32_t kCacheStep = 1000;

// Calls `visit(index, record, record_length)` for each entry of the section
// body [at, end) until it returns false. Returns false when an entry's length
// is below its own field or runs past the end.
template <typename Visit>
bool walk_entries(const uint8_t* at, const uint8_t* end, Visit visit) {
  for (uint32_t index = 1; at < end; ++index) {
    if (static_cast<size_t>(end - at) < kLengthField) return false;
    uint32_t entry_length = load_u32(at);
    if (entry_length < kLengthField || entry_length > static_cast<size_t>(end - at)) return false;
    if (!visit(index, at + kLengthField, entry_length - kLengthField)) return true;
    at += entry_length;
  }
  return true;
}

}  // namespace

bool parse_column_description(const uint8_t* record, size_t available, ColumnDescription* out) {
  const void* nul = memchr(record, 0, available);
  if (nul == nullptr) return false;
  size_t n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - record);
  if (available - n < kDescriptionFixedBytes) return false;
  out->name = reinterpret_cast<const char*>(record);
  out->name_length = n;
  out->type = static_cast<int16_t>(load_u16(record + n + 1));
  out->precision = load_u32(record + n + 3);
  out->scale = load_u16(record + n + 7);
  out->nullable = load_u16(record + n + 9);
  return true;
}

int64_t description_section_span(const uint8_t* data, size_t length) {
  if (length == 0 || data[0] != kSectionMark) return 0;
  if (length < 1 + kLengthField) return -1;
  uint32_t section = load_u32(data + 1);
  if (section < kLengthField || section > length - 1) return -1;
  const uint8_t* body = data + 1 + kLengthField;
  bool records_whole = true;
  bool entries_whole =
      walk_entries(body, data + 1 + section, [&](uint32_t, const uint8_t* record, size_t size) {
        ColumnDescription ignored;
        records_whole = parse_column_description(record, size, &ignored);
        return records_whole;
      });
  if (!entries_whole || !records_whole) return -1;
  return 1 + static_cast<int64_t>(section);
}

void store_descriptions(Statement* stmt, const uint8_t* data) {
  uint32_t section = load_u32(data + 1);
  stmt->descriptions_cached = 0;
  if (stmt->description_cache == nullptr ||
      static_cast<uint32_t>(stmt->description_cache_size) < section) {
    drv_free(stmt->description_cache);
    stmt->description_cache_size = 0;
    int32_t size = static_cast<int32_t>(section / kCacheStep + 1) * kCacheStep;
    stmt->description_cache = static_cast<uint8_t*>(drv_alloc(nullptr, stmt, size));
    if (stmt->description_cache == nullptr) return;
    stmt->description_cache_size = size;
  }
  memcpy(stmt->description_cache, data + 1, section);
  stmt->descriptions_cached = 1;
}

bool find_cached_description(const Statement* stmt, uint16_t icol, ColumnDescription* out) {
  if (!stmt->descriptions_cached || stmt->description_cache == nullptr || icol == 0) return false;
  const uint8_t* cache = stmt->description_cache;
  const uint8_t* end = cache + load_u32(cache);
  bool found = false;
  walk_entries(cache + kLengthField, end, [&](uint32_t index, const uint8_t* record, size_t size) {
    if (index != icol) return true;
    found = parse_column_description(record, size, out);
    return false;
  });
  return found;
}

}  // namespace q4
