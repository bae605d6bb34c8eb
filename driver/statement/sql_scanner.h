// The one walk through a statement text that every question about its
// parameter markers goes through: SQLNumParams' count, SQLDescribeParam's
// numbers and descriptions, and the markers the request replaces by
// literals. Because all of them ask this scanner, they cannot disagree.
//
// The text is read as SQL tokens, the way the server reads it:
// - white space and comments ("--" to the end of the line, "/*" to the next
//   "*/", not nested; an unterminated comment runs to the end) separate
//   tokens and are skipped;
// - a string literal ('...') and a quoted name ("...") are one token each, a
//   doubled quote staying inside; an unterminated one runs to the end;
// - a "?" anywhere else is a parameter marker, whatever the text starts with
//   (a newline, a comment, "(" or an ODBC escape "{call p(?)}").
// Brackets and backquotes are not quotes here: standard SQL quotes names with
// double quotes only.
//
// The text ends after `length` bytes or at its first NUL, whichever comes
// first.
#pragma once

#include <cstdint>

namespace q4 {

enum class TokenKind : uint8_t {
  kEnd,         // nothing left
  kWord,        // a keyword, name or number: letters, digits, "_", "$", bytes >= 0x80
  kQuotedName,  // "..." with its quotes
  kString,      // '...' with its quotes
  kMarker,      // ?
  kSymbol,      // one character, or one of <> <= >= != == ||
};

struct Token {
  TokenKind kind;
  uint64_t offset;  // where it starts in the text
  uint64_t length;  // bytes, quotes included
};

class SqlScanner {
 public:
  SqlScanner(const char* text, uint64_t length) : text_(text), end_(length) {}

  // Whether the first token, after white space and comments, begins with
  // ">", "[" or "]": such a text goes to the server as it stands, with no
  // marker in it. Reads from the start whatever was scanned before.
  bool pass_through() const;

  // The offset of the next marker, or -1 when no marker follows. The fast
  // path of the execution: it looks only at the bytes that can start a
  // marker, a quote or a comment.
  int64_t next_marker();

  // The next token; kEnd (at the end of the text) from then on.
  Token next_token();

 private:
  const char* text_;
  uint64_t end_;  // lowered to a NUL's offset once one is met
  uint64_t pos_ = 0;
};

// The markers of a text (0 for a pass-through text or a null one): what
// SQLNumParams answers.
uint32_t count_markers(const char* text, uint64_t length);

}  // namespace q4
