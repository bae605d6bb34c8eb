#include "server/translation/datetime_checks.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "protocol/wire.h"
#include "server/translation/text_edits.h"
#include "server/translation/type_map.h"

namespace q4::lite {

namespace {

enum class TokenKind : uint8_t {
  kWord,    // a keyword, a bare name or a number
  kQuoted,  // "name", `name` or [name]
  kString,  // 'text'
  kOpen,
  kClose,
  kComma,
  kSemicolon,
  kDot,
  kOther,
};

struct Token {
  TokenKind kind;
  size_t begin;
  size_t end;
};

bool is_word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The tokens of `sql`; blanks and comments separate them and are not kept.
// An unterminated literal, name or comment runs to the end (SQLite reports
// it when it compiles the text).
std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  size_t p = 0;
  const size_t n = sql.size();
  auto closing = [&](size_t from, char close, bool doubled) {
    size_t q = from + 1;
    while (q < n) {
      if (sql[q] == close) {
        if (doubled && q + 1 < n && sql[q + 1] == close) {
          q += 2;
          continue;
        }
        return q + 1;
      }
      ++q;
    }
    return n;
  };
  while (p < n) {
    const char c = sql[p];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++p;
    } else if (c == '-' && p + 1 < n && sql[p + 1] == '-') {
      const size_t eol = sql.find('\n', p);
      p = eol == std::string_view::npos ? n : eol + 1;
    } else if (c == '/' && p + 1 < n && sql[p + 1] == '*') {
      const size_t close = sql.find("*/", p + 2);
      p = close == std::string_view::npos ? n : close + 2;
    } else if (c == '\'') {
      const size_t e = closing(p, '\'', true);
      tokens.push_back({TokenKind::kString, p, e});
      p = e;
    } else if (c == '"' || c == '`' || c == '[') {
      const size_t e = closing(p, c == '[' ? ']' : c, c != '[');
      tokens.push_back({TokenKind::kQuoted, p, e});
      p = e;
    } else if (is_word_char(c)) {
      const size_t b = p;
      while (p < n && is_word_char(sql[p])) ++p;
      tokens.push_back({TokenKind::kWord, b, p});
    } else {
      TokenKind kind = c == '('   ? TokenKind::kOpen
                       : c == ')' ? TokenKind::kClose
                       : c == ',' ? TokenKind::kComma
                       : c == ';' ? TokenKind::kSemicolon
                       : c == '.' ? TokenKind::kDot
                                  : TokenKind::kOther;
      tokens.push_back({kind, p, p + 1});
      ++p;
    }
  }
  return tokens;
}

// Letter case does not matter in a keyword.
bool contains_word_table(std::string_view sql) {
  static constexpr char kWord[] = "table";
  for (size_t i = 0; i + 5 <= sql.size(); ++i) {
    size_t k = 0;
    while (k < 5 && std::tolower(static_cast<unsigned char>(sql[i + k])) == kWord[k]) ++k;
    if (k == 5) return true;
  }
  return false;
}

enum class Kind : uint8_t { kDate, kTime, kTimestamp };

class Checks {
 public:
  Checks(std::string_view sql, std::vector<Token> tokens) : sql_(sql), tokens_(std::move(tokens)) {}

  // The constraints, as insertions into the text.
  std::vector<TextEdit> run() {
    size_t i = 0;
    while (i < tokens_.size()) {
      size_t end = i;
      while (end < tokens_.size() && tokens_[end].kind != TokenKind::kSemicolon) ++end;
      statement(i, end);
      i = end + 1;
    }
    return std::move(insertions_);
  }

 private:
  bool is(size_t i, size_t end, const char* keyword) const {
    if (i >= end || tokens_[i].kind != TokenKind::kWord) return false;
    const Token& t = tokens_[i];
    const size_t length = std::strlen(keyword);
    if (t.end - t.begin != length) return false;
    for (size_t k = 0; k < length; ++k) {
      if (std::toupper(static_cast<unsigned char>(sql_[t.begin + k])) != keyword[k]) return false;
    }
    return true;
  }

  bool is_any(size_t i, size_t end, std::initializer_list<const char*> keywords) const {
    for (const char* k : keywords) {
      if (is(i, end, k)) return true;
    }
    return false;
  }

  bool is_name(size_t i, size_t end) const {
    return i < end &&
           (tokens_[i].kind == TokenKind::kWord || tokens_[i].kind == TokenKind::kQuoted ||
            tokens_[i].kind == TokenKind::kString);
  }

  // The token after the ")" that closes the "(" at `open`, or `end`.
  size_t after_close(size_t open, size_t end) const {
    int depth = 0;
    for (size_t i = open; i < end; ++i) {
      if (tokens_[i].kind == TokenKind::kOpen) ++depth;
      if (tokens_[i].kind == TokenKind::kClose && --depth == 0) return i + 1;
    }
    return end;
  }

  // A table name, "schema.table" included: the token after it, or `end`.
  size_t after_table_name(size_t i, size_t end) const {
    if (!is_name(i, end)) return end;
    ++i;
    if (i < end && tokens_[i].kind == TokenKind::kDot) i = is_name(i + 1, end) ? i + 2 : end;
    return i;
  }

  void statement(size_t i, size_t end) {
    if (is(i, end, "CREATE")) {
      ++i;
      if (is_any(i, end, {"TEMP", "TEMPORARY"})) ++i;
      if (!is(i, end, "TABLE")) return;
      ++i;
      if (is(i, end, "IF") && is(i + 1, end, "NOT") && is(i + 2, end, "EXISTS")) i += 3;
      i = after_table_name(i, end);
      if (i >= end || tokens_[i].kind != TokenKind::kOpen) return;  // CREATE TABLE ... AS
      const size_t close = after_close(i, end) - 1;
      size_t item = i + 1;
      int depth = 0;
      for (size_t k = i + 1; k <= close && k < end; ++k) {
        const TokenKind kind = tokens_[k].kind;
        if (kind == TokenKind::kOpen) ++depth;
        if (kind == TokenKind::kClose && depth > 0) {
          --depth;
          continue;
        }
        if ((kind == TokenKind::kComma && depth == 0) || k == close) {
          column(item, k);
          item = k + 1;
        }
      }
    } else if (is(i, end, "ALTER") && is(i + 1, end, "TABLE")) {
      i = after_table_name(i + 2, end);
      if (!is(i, end, "ADD")) return;
      ++i;
      if (is(i, end, "COLUMN")) ++i;
      column(i, end);
    }
  }

  // One item of a column list, tokens [a, b): a column definition gets its
  // constraints after its last token.
  void column(size_t a, size_t b) {
    if (a >= b || (tokens_[a].kind != TokenKind::kWord && tokens_[a].kind != TokenKind::kQuoted) ||
        is_any(a, b, {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"})) {
      return;  // a table constraint
    }
    size_t type_end = a + 1;
    while (type_end < b && tokens_[type_end].kind == TokenKind::kWord &&
           !is_any(type_end, b,
                   {"CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK", "DEFAULT", "COLLATE",
                    "REFERENCES", "GENERATED", "AS"})) {
      ++type_end;
    }
    if (type_end == a + 1) return;  // no declared type
    if (type_end < b && tokens_[type_end].kind == TokenKind::kOpen) {
      type_end = after_close(type_end, b);
    }
    int depth = 0;
    for (size_t k = type_end; k < b; ++k) {
      if (tokens_[k].kind == TokenKind::kOpen) ++depth;
      if (tokens_[k].kind == TokenKind::kClose) --depth;
      if (depth == 0 && is_any(k, b, {"GENERATED", "AS"})) return;  // a generated column
    }
    const size_t type_begin = tokens_[a + 1].begin;
    const std::string declared(sql_.substr(type_begin, tokens_[type_end - 1].end - type_begin));
    Kind kind;
    switch (map_declared_type(declared.c_str()).type) {
      case kSqlDate:
        kind = Kind::kDate;
        break;
      case kSqlTime:
        kind = Kind::kTime;
        break;
      case kSqlTimestamp:
        kind = Kind::kTimestamp;
        break;
      default:
        return;
    }
    const size_t at = tokens_[b - 1].end;
    insertions_.push_back(TextEdit{at, at, constraints(name_of(tokens_[a]), kind)});
  }

  // The column's name without its quotes.
  std::string name_of(const Token& t) const {
    std::string_view text = sql_.substr(t.begin, t.end - t.begin);
    if (t.kind == TokenKind::kWord) return std::string(text);
    const char close = text[0] == '[' ? ']' : text[0];
    std::string name;
    for (size_t i = 1; i < text.size(); ++i) {
      if (text[i] == close) {
        if (close != ']' && i + 1 < text.size() && text[i + 1] == close) {
          name.push_back(close);
          ++i;
          continue;
        }
        break;
      }
      name.push_back(text[i]);
    }
    return name;
  }

  static std::string quoted(std::string_view text) {
    std::string q = "\"";
    for (char c : text) {
      q.push_back(c);
      if (c == '"') q.push_back('"');
    }
    q.push_back('"');
    return q;
  }

  // One CHECK, kept small: SQLite compiles a table's CHECK expressions into
  // every INSERT and UPDATE it prepares, and q4lite prepares each executed
  // text anew, so every node of the guard is paid on every row written.
  // SQLite's own date and time functions do the parsing: with a modifier
  // they return the value normalised (February 30 becomes March 1, 24:00 the
  // next day) or NULL for no date or time at all, so a value is one when its
  // date (or time) comes back unchanged. They are given the value up to its
  // seconds: SQLite counts in milliseconds, and 23:59:59.9999 would round to
  // the next day. "IS" lets NULL pass (NULL IS NULL) and refuses every other
  // value that gives NULL.
  static std::string constraints(const std::string& name, Kind kind) {
    const std::string c = quoted(name);
    std::string check;
    if (kind == Kind::kTime) {
      // HH:MM, HH:MM:SS or HH:MM:SS.f: its first 8 characters (or all of a
      // shorter one) as time() writes them.
      check = "substr(" + c + ", 1, 8) IS substr(time(substr(" + c +
              ", 1, 8), '+0 days'), 1, length(" + c + "))";
    } else {
      // YYYY-MM-DD and a time as SQLite reads one after it; max() (NULL when
      // date() is) turns a date of the year 0000 into 0001, which differs.
      check = "substr(" + c + ", 1, 10) IS max(date(substr(" + c + ", 1, 19), '+0 days'), '0001')";
    }
    return " CONSTRAINT " + quoted(std::string(kDatetimeCheck) + name) + " CHECK (" + check + ")";
  }

  std::string_view sql_;
  std::vector<Token> tokens_;
  std::vector<TextEdit> insertions_;  // in text order
};

}  // namespace

void add_datetime_checks(std::string* sql) {
  if (!contains_word_table(*sql)) return;
  apply_edits(Checks(*sql, tokenize(*sql)).run(), sql);
}

}  // namespace q4::lite
