// The wide (UTF-16) string arguments of the ODBC interface, turned into the
// UTF-8 the rest of the driver works in and back, one shape each:
//   - WideIn: an input string with its length (2-byte units or SQL_NTS);
//   - WideOut: an output string with its buffer, its room and its length,
//     counted in characters (2-byte units) or in bytes as the function says.
// A wide entry point hands the UTF-8 side of these to the function the narrow
// entry point calls, so the two share every rule but the conversion.
//
// Short texts (names, messages, driver information) are converted in a buffer
// inside the object: no allocation; only longer ones take a heap block.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "core/records.h"

namespace q4 {

// Bytes of UTF-8 a WideIn or WideOut holds without allocating.
inline constexpr int64_t kWideInlineBytes = 512;

// The UTF-8 form of a wide input string for the length of one call. A null
// text, or a negative length other than SQL_NTS, is passed on as it came
// (pointer and length), so that the narrow function answers it exactly as it
// answers a narrow call. An explicit length is a count of 2-byte units and
// may hold 0 units; the UTF-8 text is always NUL-terminated.
class WideIn {
 public:
  // A failed allocation posts "S1001" on `stmt` when given, else on `conn`.
  WideIn(Connection* conn, Statement* stmt, const SQLWCHAR* text, SQLINTEGER length) {
    convert(conn, stmt, text, length);
  }
  WideIn() = default;
  ~WideIn();
  // Takes the argument (once per object).
  void convert(Connection* conn, Statement* stmt, const SQLWCHAR* text, SQLINTEGER length);
  WideIn(const WideIn&) = delete;
  WideIn& operator=(const WideIn&) = delete;

  bool failed() const { return failed_; }
  SQLCHAR* text() const { return text_; }
  const char* chars() const { return reinterpret_cast<const char*>(text_); }
  // Bytes of the UTF-8 text (or the length as it came, see above).
  SQLINTEGER length() const { return length_; }
  // The same for functions whose lengths are SQLSMALLINT: a text longer than
  // that can count is passed as SQL_NTS (it is NUL-terminated).
  SQLSMALLINT short_length() const;

 private:
  SQLCHAR* text_ = nullptr;
  SQLINTEGER length_ = SQL_NTS;
  bool failed_ = false;
  bool converted_ = false;
  char* owned_ = nullptr;
  char inline_[kWideInlineBytes];
};

// How an output string's room and length are counted.
enum class WideUnit : uint8_t {
  kCharacters,  // wide units (SQLDescribeColW's name, SQLErrorW's message ...)
  kBytes,       // bytes (SQLGetInfoW, SQLColAttributesW): bytes short of a unit stay unused
};

// What one copy of UTF-8 text into a wide buffer came to.
struct WideCopy {
  int64_t full_length;  // of the whole text, in the buffer's unit, terminator excluded
  bool truncated;       // the buffer could not take the whole text and its terminator
};

// Converts utf8[0, length) into `buffer`, which has room for `room` units of
// `unit` (terminator included): whole characters only (a surrogate pair is
// never split), always terminated when there is room for the terminator. A
// null buffer receives nothing and is not a truncation; a non-null one
// with no room for the terminator receives nothing and is.
WideCopy copy_to_wide(const char* utf8, int64_t length, void* buffer, int64_t room, WideUnit unit);

// An output string: the narrow function writes its UTF-8 answer into
// text()/room() and its byte count into *short_length() or *long_length();
// finish() converts it into the application's buffer, stores the full length
// in the application's unit and reports a cut as "01004".
class WideOut {
 public:
  // `length` is where the application wants the length (may be null).
  // `narrow_room` is the room the narrow answer can need (its NUL included);
  // the object allocates only when that exceeds kWideInlineBytes.
  WideOut(Connection* conn, Statement* stmt, void* buffer, int64_t room, WideUnit unit,
          SQLSMALLINT* length, int64_t narrow_room = kWideInlineBytes);
  WideOut(Connection* conn, Statement* stmt, void* buffer, int64_t room, WideUnit unit,
          SQLINTEGER* length, int64_t narrow_room = kWideInlineBytes);
  ~WideOut();
  WideOut(const WideOut&) = delete;
  WideOut& operator=(const WideOut&) = delete;

  bool failed() const { return text_ == nullptr; }  // "S1001" posted
  SQLCHAR* text() { return reinterpret_cast<SQLCHAR*>(text_); }
  SQLSMALLINT short_room() const;
  SQLINTEGER room() const { return static_cast<SQLINTEGER>(room_); }
  SQLSMALLINT* short_length() { return &narrow_short_; }
  SQLINTEGER* long_length() { return &narrow_long_; }

  // True when the narrow answer may have been cut to the room it was given
  // (its length reached room - 1): functions that cut names silently are
  // then called again after grow().
  bool maybe_cut() const;
  // Gives the narrow function `room` bytes; false (with "S1001") on failure.
  bool grow(int64_t room);

  // Runs `narrow()` until its answer is whole, for the functions that cut a
  // long answer silently: a first call with the inline room, and larger rooms
  // while the answer may have been cut (up to what a SQLSMALLINT counts).
  template <typename Narrow>
  SQLRETURN call_whole(Narrow&& narrow) {
    SQLRETURN rc = narrow();
    while ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && maybe_cut() &&
           room_ < kLargestRoom) {
      if (!grow(room_ * 8 < kLargestRoom ? room_ * 8 : kLargestRoom)) return SQL_ERROR;
      rc = narrow();
    }
    return rc;
  }

  // For narrow functions that write a NUL-terminated answer without its
  // length: takes the length from the text.
  void measure_text();

  // Ends the call that returned `rc`: on SQL_SUCCESS, SQL_SUCCESS_WITH_INFO
  // or SQL_NO_DATA_FOUND the narrow answer, if the function wrote one (a
  // length was stored), reaches the application's buffer; a cut posts "01004"
  // on the statement, else the connection, when `report` says so, and turns
  // SQL_SUCCESS into SQL_SUCCESS_WITH_INFO.
  enum class Report : uint8_t { kPost, kSilent };
  SQLRETURN finish(SQLRETURN rc, Report report = Report::kPost);

 private:
  static constexpr int64_t kLargestRoom = 32767;
  void init(int64_t narrow_room);
  int64_t narrow_length() const;

  Connection* conn_;
  Statement* stmt_;
  void* buffer_;
  int64_t app_room_;
  WideUnit unit_;
  SQLSMALLINT* app_short_ = nullptr;
  SQLINTEGER* app_long_ = nullptr;
  char* text_ = nullptr;
  int64_t room_ = 0;
  char* owned_ = nullptr;
  SQLSMALLINT narrow_short_;
  SQLINTEGER narrow_long_;
  char inline_[kWideInlineBytes];
};

}  // namespace q4
