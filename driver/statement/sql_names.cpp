#include "statement/sql_names.h"

namespace q4 {

namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A name's content: without its quotes.
void content(const char* text, const TextName& n, const char** at, uint64_t* length) {
  *at = text + n.offset;
  *length = n.length;
  if (n.quoted && n.length >= 2) {
    ++*at;
    *length -= 2;
  }
}

}  // namespace

bool equal_ignoring_case(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool same_name(const char* text, const TextName& a, const TextName& b) {
  const char* a_at;
  const char* b_at;
  uint64_t a_length, b_length;
  content(text, a, &a_at, &a_length);
  content(text, b, &b_at, &b_length);
  return a_length == b_length && equal_ignoring_case(a_at, b_at, a_length);
}

bool unquoted_name(const char* text, const TextName& name, char (&out)[kMaxNameLength],
                   size_t* length) {
  const char* p;
  uint64_t count;
  content(text, name, &p, &count);
  size_t used = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (used == kMaxNameLength) return false;
    out[used++] = p[i];
    if (name.quoted && p[i] == '"' && i + 1 < count && p[i + 1] == '"') ++i;
  }
  *length = used;
  return used > 0;
}

}  // namespace q4
