#include "statement/sql_scanner.h"

#include <array>

namespace q4 {

namespace {

// What a byte can start, for the marker walk: nearly every byte is plain and
// costs one table look-up.
enum ByteClass : uint8_t {
  kPlain,
  kQuote,  // ' or "
  kDash,   // - (a comment when doubled)
  kSlash,  // / (a comment before *)
  kMark,   // ?
  kNul,    // the text ends
};

constexpr std::array<uint8_t, 256> make_byte_classes() {
  std::array<uint8_t, 256> classes{};
  classes['\''] = kQuote;
  classes['"'] = kQuote;
  classes['-'] = kDash;
  classes['/'] = kSlash;
  classes['?'] = kMark;
  classes[0] = kNul;
  return classes;
}
constexpr std::array<uint8_t, 256> kByteClasses = make_byte_classes();

bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool is_word_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

// The walks below take the text `p` up to `end` and an offset `i` at the
// first byte of the construct, and return the offset after it: the end of
// the text, or a NUL inside it, stops them there.

// A quoted literal or name; a doubled quote stays inside.
uint64_t after_quoted(const unsigned char* p, uint64_t end, uint64_t i) {
  const unsigned char quote = p[i];
  for (uint64_t j = i + 1; j < end; ++j) {
    if (p[j] == 0) return j;
    if (p[j] != quote) continue;
    if (j + 1 < end && p[j + 1] == quote) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return end;
}

// "--" up to and including the end of the line.
uint64_t after_line_comment(const unsigned char* p, uint64_t end, uint64_t i) {
  for (uint64_t j = i + 2; j < end; ++j) {
    if (p[j] == 0) return j;
    if (p[j] == '\n') return j + 1;
  }
  return end;
}

// "/*" up to and including the first "*/" (comments do not nest).
uint64_t after_block_comment(const unsigned char* p, uint64_t end, uint64_t i) {
  for (uint64_t j = i + 2; j < end; ++j) {
    if (p[j] == 0) return j;
    if (p[j] == '*' && j + 1 < end && p[j + 1] == '/') return j + 2;
  }
  return end;
}

bool starts_line_comment(const unsigned char* p, uint64_t end, uint64_t i) {
  return p[i] == '-' && i + 1 < end && p[i + 1] == '-';
}

bool starts_block_comment(const unsigned char* p, uint64_t end, uint64_t i) {
  return p[i] == '/' && i + 1 < end && p[i + 1] == '*';
}

// The offset of the first byte after white space and comments from `i`: a
// token's first byte, a NUL, or `end`.
uint64_t after_trivia(const unsigned char* p, uint64_t end, uint64_t i) {
  while (i < end) {
    if (is_space(p[i])) {
      ++i;
    } else if (starts_line_comment(p, end, i)) {
      i = after_line_comment(p, end, i);
    } else if (starts_block_comment(p, end, i)) {
      i = after_block_comment(p, end, i);
    } else {
      break;
    }
  }
  return i;
}

bool is_two_byte_symbol(unsigned char a, unsigned char b) {
  return (a == '<' && (b == '>' || b == '=')) || (a == '>' && b == '=') || (a == '!' && b == '=') ||
         (a == '=' && b == '=') || (a == '|' && b == '|');
}

}  // namespace

bool SqlScanner::pass_through() const {
  const auto* p = reinterpret_cast<const unsigned char*>(text_);
  uint64_t i = after_trivia(p, end_, 0);
  return i < end_ && (p[i] == '>' || p[i] == '[' || p[i] == ']');
}

int64_t SqlScanner::next_marker() {
  const auto* p = reinterpret_cast<const unsigned char*>(text_);
  const uint64_t end = end_;
  uint64_t i = pos_;
  while (i < end) {
    const uint8_t kind = kByteClasses[p[i]];
    if (kind == kPlain) {
      ++i;
      continue;
    }
    switch (kind) {
      case kMark:
        pos_ = i + 1;
        return static_cast<int64_t>(i);
      case kQuote:
        i = after_quoted(p, end, i);
        break;
      case kDash:
        i = starts_line_comment(p, end, i) ? after_line_comment(p, end, i) : i + 1;
        break;
      case kSlash:
        i = starts_block_comment(p, end, i) ? after_block_comment(p, end, i) : i + 1;
        break;
      default:  // kNul: the text ends here
        end_ = i;
        pos_ = i;
        return -1;
    }
  }
  pos_ = end;
  return -1;
}

Token SqlScanner::next_token() {
  const auto* p = reinterpret_cast<const unsigned char*>(text_);
  uint64_t i = after_trivia(p, end_, pos_);
  if (i < end_ && p[i] == 0) end_ = i;
  if (i >= end_) {
    pos_ = end_;
    return Token{TokenKind::kEnd, end_, 0};
  }
  const unsigned char c = p[i];
  TokenKind kind = TokenKind::kSymbol;
  uint64_t next = i + 1;
  if (c == '?') {
    kind = TokenKind::kMarker;
  } else if (c == '\'' || c == '"') {
    kind = c == '\'' ? TokenKind::kString : TokenKind::kQuotedName;
    next = after_quoted(p, end_, i);
  } else if (is_word_byte(c)) {
    kind = TokenKind::kWord;
    while (next < end_ && is_word_byte(p[next])) ++next;
  } else if (next < end_ && is_two_byte_symbol(c, p[next])) {
    ++next;
  }
  pos_ = next;
  return Token{kind, i, next - i};
}

uint32_t count_markers(const char* text, uint64_t length) {
  if (text == nullptr) return 0;
  SqlScanner scan(text, length);
  if (scan.pass_through()) return 0;
  uint32_t count = 0;
  while (scan.next_marker() >= 0) ++count;
  return count;
}

}  // namespace q4
