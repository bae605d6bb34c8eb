// Input strings of the ODBC interface: a pointer and a length that is either
// a character count or SQL_NTS.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstring>

namespace q4 {

// Number of characters of an application string: `length` characters, or up
// to the NUL when `length` is SQL_NTS (any negative length is taken the same
// way); 0 for a null pointer. An explicit length is not read past a NUL.
inline size_t odbc_text_length(const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return 0;
  const char* chars = reinterpret_cast<const char*>(text);
  if (length < 0) return strlen(chars);
  return strnlen(chars, static_cast<size_t>(length));
}

// Copies an application string into `dest` (at most size-1 characters and a
// NUL). The application's buffer is only read.
inline void copy_odbc_text(char* dest, size_t size, const SQLCHAR* text, SQLINTEGER length) {
  if (size == 0) return;
  size_t count = odbc_text_length(text, length);
  if (count > size - 1) count = size - 1;
  if (count > 0) memcpy(dest, text, count);
  dest[count] = '\0';
}

}  // namespace q4
