#include "core/wide_arguments.h"

#include <climits>
#include <cstring>

#include "core/diag_texts.h"
#include "core/diagnostics.h"
#include "core/memory.h"
#include "core/wide_text.h"

namespace q4 {

namespace {

// Marks a narrow length the narrow function did not write.
constexpr SQLSMALLINT kUnwrittenShort = SHRT_MIN;
constexpr SQLINTEGER kUnwrittenLong = INT_MIN;

char* allocate(Connection* conn, Statement* stmt, int64_t bytes) {
  return static_cast<char*>(drv_alloc(conn, stmt, static_cast<size_t>(bytes)));
}

}  // namespace

void WideIn::convert(Connection* conn, Statement* stmt, const SQLWCHAR* text, SQLINTEGER length) {
  text_ = reinterpret_cast<SQLCHAR*>(const_cast<SQLWCHAR*>(text));
  length_ = length;
  if (text == nullptr || (length < 0 && length != SQL_NTS)) return;
  int64_t units = length == SQL_NTS ? wide_length(text) : length;
  int64_t need = utf8_bytes_per_wide_unit() * units + 1;  // and the NUL
  char* out = inline_;
  if (need > kWideInlineBytes) {
    owned_ = allocate(conn, stmt, need);
    if (owned_ == nullptr) {
      failed_ = true;
      return;
    }
    out = owned_;
  }
  int64_t bytes = wide_to_utf8(text, units, out, /*stop_at_nul=*/false);
  out[bytes] = '\0';
  text_ = reinterpret_cast<SQLCHAR*>(out);
  length_ = static_cast<SQLINTEGER>(bytes);
  converted_ = true;
}

WideIn::~WideIn() {
  drv_free(owned_);
}

SQLSMALLINT WideIn::short_length() const {
  if (converted_ && length_ > SHRT_MAX) return SQL_NTS;
  return static_cast<SQLSMALLINT>(length_);
}

WideCopy copy_to_wide(const char* utf8, int64_t length, void* buffer, int64_t room, WideUnit unit) {
  const auto* in = reinterpret_cast<const uint8_t*>(utf8);
  const int64_t unit_bytes = wide_unit_bytes();
  int64_t scale = unit == WideUnit::kBytes ? unit_bytes : 1;
  int64_t room_units = unit == WideUnit::kBytes ? room / unit_bytes : room;
  if (buffer == nullptr || room_units < 1) {
    return WideCopy{wide_units_of_utf8(in, length) * scale, buffer != nullptr};
  }
  // One pass over the text that fits; only a cut text is counted on to its end.
  WideUnitsCopy copy = utf8_to_wide(in, length, buffer, room_units - 1);
  put_wide_nul(buffer, copy.units_written);
  bool truncated = copy.bytes_read < length;
  int64_t units = copy.units_written;
  if (truncated) units += wide_units_of_utf8(in + copy.bytes_read, length - copy.bytes_read);
  return WideCopy{units * scale, truncated};
}

WideOut::WideOut(Connection* conn, Statement* stmt, void* buffer, int64_t room, WideUnit unit,
                 SQLSMALLINT* length, int64_t narrow_room)
    : conn_(conn), stmt_(stmt), buffer_(buffer), app_room_(room), unit_(unit), app_short_(length) {
  init(narrow_room);
}

WideOut::WideOut(Connection* conn, Statement* stmt, void* buffer, int64_t room, WideUnit unit,
                 SQLINTEGER* length, int64_t narrow_room)
    : conn_(conn), stmt_(stmt), buffer_(buffer), app_room_(room), unit_(unit), app_long_(length) {
  init(narrow_room);
}

WideOut::~WideOut() {
  drv_free(owned_);
}

void WideOut::init(int64_t narrow_room) {
  narrow_short_ = kUnwrittenShort;
  narrow_long_ = kUnwrittenLong;
  if (narrow_room <= kWideInlineBytes) {
    text_ = inline_;
    room_ = kWideInlineBytes;
    text_[0] = '\0';
    return;
  }
  grow(narrow_room);
}

bool WideOut::grow(int64_t room) {
  char* block = allocate(conn_, stmt_, room);
  if (block == nullptr) {
    text_ = nullptr;
    return false;
  }
  drv_free(owned_);
  owned_ = block;
  text_ = block;
  room_ = room;
  narrow_short_ = kUnwrittenShort;
  narrow_long_ = kUnwrittenLong;
  return true;
}

SQLSMALLINT WideOut::short_room() const {
  return static_cast<SQLSMALLINT>(room_ > SHRT_MAX ? SHRT_MAX : room_);
}

int64_t WideOut::narrow_length() const {
  if (narrow_short_ != kUnwrittenShort) return narrow_short_;
  if (narrow_long_ != kUnwrittenLong) return narrow_long_;
  return -1;
}

bool WideOut::maybe_cut() const {
  return narrow_length() >= short_room() - 1;
}

void WideOut::measure_text() {
  narrow_long_ = static_cast<SQLINTEGER>(strnlen(text_, static_cast<size_t>(room_)));
}

SQLRETURN WideOut::finish(SQLRETURN rc, Report report) {
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA_FOUND) return rc;
  int64_t length = narrow_length();
  if (length < 0) return rc;
  // The narrow answer is whole: its room was sized for it. Never read past
  // what was written, though, should a function report more than it copied.
  int64_t written = static_cast<int64_t>(strnlen(text_, static_cast<size_t>(room_)));
  if (length > written) length = written;
  WideCopy copy = copy_to_wide(text_, length, buffer_, app_room_, unit_);
  if (app_short_ != nullptr) *app_short_ = static_cast<SQLSMALLINT>(copy.full_length);
  if (app_long_ != nullptr) *app_long_ = static_cast<SQLINTEGER>(copy.full_length);
  if (!copy.truncated || rc == SQL_NO_DATA_FOUND) return rc;
  if (report == Report::kPost) {
    if (stmt_ != nullptr) {
      post_error(stmt_, kDiagTruncated);
    } else if (conn_ != nullptr) {
      post_connection_error(conn_, kDiagTruncated);
    }
  }
  return SQL_SUCCESS_WITH_INFO;
}

}  // namespace q4
