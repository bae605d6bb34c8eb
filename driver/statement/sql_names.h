// Names as statement texts and the catalog spell them: quoting and letter
// case.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q4 {

// A name as it stands in a text: a word, or a quoted name with its quotes.
struct TextName {
  uint64_t offset;
  uint64_t length;
  bool quoted;
};

// The longest name (quotes removed) that is looked up in the catalog.
constexpr size_t kMaxNameLength = 256;

// Whether the `length` bytes at `a` and `b` are equal but for the case of
// ASCII letters.
bool equal_ignoring_case(const char* a, const char* b, size_t length);

// Whether two names of `text` name the same thing: their contents without
// quotes, compared ignoring the case of ASCII letters.
bool same_name(const char* text, const TextName& a, const TextName& b);

// The name without its quotes (a doubled quote inside a quoted name is one
// quote) into `out`; false when it is empty or longer than kMaxNameLength.
bool unquoted_name(const char* text, const TextName& name, char (&out)[kMaxNameLength],
                   size_t* length);

}  // namespace q4
