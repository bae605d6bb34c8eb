#include "server/datetime_checks.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "protocol/wire.h"
#include "server/type_map.h"

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

// GLOB patterns of the date and time forms.
constexpr const char* kDatePattern = "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]";
constexpr const char* kClockPattern = "[0-9][0-9]:[0-9][0-9]";  // HH:MM
constexpr const char* kSecondsPattern = ":[0-9][0-9]";

class Checks {
 public:
  Checks(std::string_view sql, std::vector<Token> tokens) : sql_(sql), tokens_(std::move(tokens)) {}

  // False when no column needs a guard (*out is then untouched).
  bool run(std::string* out) {
    size_t i = 0;
    while (i < tokens_.size()) {
      size_t end = i;
      while (end < tokens_.size() && tokens_[end].kind != TokenKind::kSemicolon) ++end;
      statement(i, end);
      i = end + 1;
    }
    if (insertions_.empty()) return false;
    out->reserve(sql_.size() + 1024 * insertions_.size());
    size_t copied = 0;
    for (const auto& [at, text] : insertions_) {
      out->append(sql_.substr(copied, at - copied));
      out->append(text);
      copied = at;
    }
    out->append(sql_.substr(copied));
    return true;
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
    insertions_.emplace_back(tokens_[b - 1].end, constraints(name_of(tokens_[a]), kind));
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

  static std::string constraints(const std::string& name, Kind kind) {
    const std::string c = quoted(name);
    const std::string glob = c + " GLOB '";
    const std::string date = kDatePattern;
    const std::string clock = kClockPattern;
    const std::string seconds = clock + kSecondsPattern;
    // A date and a time: with minutes, seconds, or seconds and a fraction
    // whose characters after the "." are all digits.
    const std::string stamp_forms = glob + date + "[ T]" + clock + "' OR " + glob + date + "[ T]" +
                                    seconds + "' OR (" + glob + date + "[ T]" + seconds +
                                    ".[0-9]*' AND substr(" + c + ", 21) NOT GLOB '*[^0-9]*')";
    std::string forms;
    if (kind == Kind::kTime) {
      forms = glob + clock + "' OR " + glob + seconds + "' OR (" + glob + seconds +
              ".[0-9]*' AND substr(" + c + ", 10) NOT GLOB '*[^0-9]*') OR " + stamp_forms;
    } else {
      forms = glob + date + "' OR " + stamp_forms;
    }
    // The date at 1 in range (SQLite's date() with a modifier moves February
    // 30 to March: only a calendar date stays as it is), and the clock at
    // `at` (positions count from 1).
    auto date_ok = [&c]() {
      return "substr(" + c + ", 1, 4) <> '0000' AND date(substr(" + c +
             ", 1, 10), '+0 days') IS substr(" + c + ", 1, 10)";
    };
    auto clock_ok = [&c](int at) {
      auto field = [&](int offset) {
        return "substr(" + c + ", " + std::to_string(at + offset) + ", 2)";
      };
      return field(0) + " <= '23' AND " + field(3) + " <= '59' AND " + field(6) + " <= '59'";
    };
    std::string values;
    if (kind == Kind::kTime) {
      values = "CASE WHEN substr(" + c + ", 3, 1) = ':' THEN " + clock_ok(1) + " AND length(" + c +
               ") <= 18 ELSE " + date_ok() + " AND " + clock_ok(12) + " AND length(" + c +
               ") <= 29 END";
    } else {
      values = date_ok() + " AND (length(" + c + ") = 10 OR (" + clock_ok(12) + " AND length(" + c +
               ") <= 29))";
    }
    return " CONSTRAINT " + quoted(std::string(kDatetimeFormatCheck) + name) + " CHECK (" + c +
           " IS NULL OR (typeof(" + c + ") = 'text' AND (" + forms + "))) CONSTRAINT " +
           quoted(std::string(kDatetimeValueCheck) + name) + " CHECK (" + c + " IS NULL OR (" +
           values + "))";
  }

  std::string_view sql_;
  std::vector<Token> tokens_;
  std::vector<std::pair<size_t, std::string>> insertions_;  // in text order
};

}  // namespace

void add_datetime_checks(std::string* sql) {
  if (!contains_word_table(*sql)) return;
  std::string checked;
  if (Checks(*sql, tokenize(*sql)).run(&checked)) sql->swap(checked);
}

}  // namespace q4::lite
