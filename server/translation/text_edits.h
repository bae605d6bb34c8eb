// Changes to a statement text, collected while the text is read (the reading
// needs it as it was) and applied in one pass afterwards.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace q4::lite {

// Bytes [begin, end) of the text become `text`; begin == end inserts it.
struct TextEdit {
  size_t begin;
  size_t end;
  std::string text;
};

// Applies `edits`, in text order and not overlapping, to *sql.
inline void apply_edits(const std::vector<TextEdit>& edits, std::string* sql) {
  if (edits.empty()) return;
  size_t size = sql->size();
  for (const TextEdit& edit : edits) size += edit.text.size() - (edit.end - edit.begin);
  std::string out;
  out.reserve(size);
  size_t at = 0;
  for (const TextEdit& edit : edits) {
    out.append(*sql, at, edit.begin - at);
    out += edit.text;
    at = edit.end;
  }
  out.append(*sql, at, std::string::npos);
  sql->swap(out);
}

}  // namespace q4::lite
