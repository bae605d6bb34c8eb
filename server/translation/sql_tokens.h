// A small tokenizer of SQL text for the few places where q4lite reads a
// statement itself (decimal column declarations, CAST result columns, long
// numeric literals): words, quoted names, string literals, numbers and single
// punctuation characters; white space and comments are skipped. Positions
// are byte offsets.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace q4::lite {

enum class TokenKind : uint8_t { kWord, kQuoted, kString, kNumber, kPunct, kEnd };

struct Token {
  TokenKind kind;
  size_t begin;
  size_t end;
};

class Lexer {
 public:
  // Reads `text` from byte `from` on.
  explicit Lexer(const std::string& text, size_t from = 0) : s_(text), pos_(from) {}

  Token next() {
    skip_blanks();
    const size_t n = s_.size();
    if (pos_ >= n) return Token{TokenKind::kEnd, n, n};
    const size_t begin = pos_;
    const unsigned char c = static_cast<unsigned char>(s_[pos_]);
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : static_cast<char>(c);
      ++pos_;
      while (pos_ < n) {
        if (s_[pos_++] != close) continue;
        if (close != ']' && pos_ < n && s_[pos_] == close) {
          ++pos_;  // a doubled quote stands for one
          continue;
        }
        break;
      }
      return Token{c == '\'' ? TokenKind::kString : TokenKind::kQuoted, begin, pos_};
    }
    if (word_char(c) && !digit(c)) {
      while (pos_ < n && word_char(static_cast<unsigned char>(s_[pos_]))) ++pos_;
      return Token{TokenKind::kWord, begin, pos_};
    }
    if (digit(c) || (c == '.' && pos_ + 1 < n && digit(static_cast<unsigned char>(s_[pos_ + 1])))) {
      while (pos_ < n) {
        const unsigned char d = static_cast<unsigned char>(s_[pos_]);
        if ((d == '+' || d == '-') && (s_[pos_ - 1] == 'e' || s_[pos_ - 1] == 'E')) {
          ++pos_;
        } else if (word_char(d) || d == '.') {
          ++pos_;
        } else {
          break;
        }
      }
      return Token{TokenKind::kNumber, begin, pos_};
    }
    ++pos_;
    return Token{TokenKind::kPunct, begin, pos_};
  }

  const std::string& text() const { return s_; }

  bool is(const Token& t, char punct) const {
    return t.kind == TokenKind::kPunct && s_[t.begin] == punct;
  }
  bool is_word(const Token& t, const char* word) const {
    const size_t length = std::strlen(word);
    if (t.kind != TokenKind::kWord || t.end - t.begin != length) return false;
    for (size_t i = 0; i < length; ++i) {
      if (std::toupper(static_cast<unsigned char>(s_[t.begin + i])) != word[i]) return false;
    }
    return true;
  }
  bool is_name(const Token& t) const {
    return t.kind == TokenKind::kWord || t.kind == TokenKind::kQuoted ||
           t.kind == TokenKind::kString;
  }
  // The token's text in upper case.
  std::string upper(const Token& t) const {
    std::string word = s_.substr(t.begin, t.end - t.begin);
    for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return word;
  }
  long number(const Token& t) const { return std::strtol(s_.c_str() + t.begin, nullptr, 10); }
  // The name a word or quoted token stands for, without its quotes (a
  // doubled quote inside stays doubled: names rarely hold one).
  std::string name(const Token& t) const {
    if (t.kind == TokenKind::kWord || t.end - t.begin < 2)
      return s_.substr(t.begin, t.end - t.begin);
    return s_.substr(t.begin + 1, t.end - t.begin - 2);
  }

 private:
  // ASCII classes, as SQLite has them (bytes from 0x80 on are letters).
  static bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
  static bool word_char(unsigned char c) {
    return digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c == '$' ||
           c >= 0x80;
  }

  void skip_blanks() {
    const size_t n = s_.size();
    while (pos_ < n) {
      const char c = s_[pos_];
      const char after = pos_ + 1 < n ? s_[pos_ + 1] : '\0';
      if (c == ' ' || (c >= '\t' && c <= '\r')) {
        ++pos_;
      } else if (c == '-' && after == '-') {
        while (pos_ < n && s_[pos_] != '\n') ++pos_;
      } else if (c == '/' && after == '*') {
        const size_t close = s_.find("*/", pos_ + 2);
        pos_ = close == std::string::npos ? n : close + 2;
      } else {
        break;
      }
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace q4::lite
