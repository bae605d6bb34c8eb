#include "server/translation/escape_translator.h"

#include <cctype>
#include <vector>

#include "server/translation/scalar_functions.h"

namespace q4::lite {

namespace {

// Escapes nest ({fn UCASE({fn LEFT(...)})}); deeper nesting than this is
// refused rather than recursed into.
constexpr int kMaxDepth = 32;

bool is_word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

std::string trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

class Translator {
 public:
  Translator(std::string_view text, size_t binary_count, std::string* error)
      : text_(text), binary_count_(binary_count), error_(error) {}

  // Translates from the current position into *out until the end of the
  // text, or, inside an escape (depth > 0), until its closing brace, which is
  // consumed.
  bool run(std::string* out, int depth) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\'' || c == '"' || c == '`') {
        copy_quoted(c, c, out);
      } else if (c == '[') {
        copy_quoted('[', ']', out);
      } else if (c == '-' && peek(1) == '-') {
        copy_until("\n", out);
      } else if (c == '/' && peek(1) == '*') {
        copy_until("*/", out);
      } else if (c == '{') {
        ++pos_;
        operand_start_ = false;
        if (!escape(out, depth + 1)) return false;
      } else if (c == '(' && depth == 0) {
        // SQLite reads no parenthesised query where a statement or an
        // operand of UNION, INTERSECT or EXCEPT starts; as a subquery of
        // SELECT * FROM it means the same.
        if (parens_ == 0 && operand_start_ && starts_query(pos_ + 1)) out->append("SELECT * FROM ");
        ++parens_;
        operand_start_ = false;
        out->push_back(c);
        ++pos_;
      } else if (c == ')' && depth == 0) {
        if (parens_ > 0) --parens_;
        out->push_back(c);
        ++pos_;
      } else if (c == '}') {
        if (depth == 0) return fail("unbalanced '}' outside an escape clause");
        ++pos_;
        return true;
      } else if (c == '0' && (peek(1) == 'x' || peek(1) == 'X') && binary_token(out)) {
        // replaced by a parameter
      } else if (is_word_char(c)) {
        const size_t start = pos_;
        while (pos_ < text_.size() && is_word_char(text_[pos_])) ++pos_;
        const std::string_view word = text_.substr(start, pos_ - start);
        if (depth == 0 && parens_ == 0) {
          operand_start_ = keyword_is(word, "UNION") || keyword_is(word, "INTERSECT") ||
                           keyword_is(word, "EXCEPT") ||
                           (operand_start_ && keyword_is(word, "ALL"));
        }
        out->append(word);
      } else {
        if (!std::isspace(static_cast<unsigned char>(c))) operand_start_ = false;
        out->push_back(c);
        ++pos_;
      }
    }
    if (depth > 0) return fail("unbalanced '{': an escape clause is not closed");
    return true;
  }

 private:
  char peek(size_t ahead) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }

  static bool keyword_is(std::string_view word, const char* keyword) {
    size_t i = 0;
    for (; i < word.size() && keyword[i] != '\0'; ++i) {
      if (std::toupper(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
    }
    return i == word.size() && keyword[i] == '\0';
  }

  // Whether a query (SELECT, WITH or VALUES) starts at `at`, after blanks.
  bool starts_query(size_t at) const {
    while (at < text_.size() && std::isspace(static_cast<unsigned char>(text_[at]))) ++at;
    size_t end = at;
    while (end < text_.size() && is_word_char(text_[end])) ++end;
    const std::string_view word = text_.substr(at, end - at);
    return keyword_is(word, "SELECT") || keyword_is(word, "WITH") || keyword_is(word, "VALUES");
  }

  bool fail(std::string message) {
    *error_ = std::move(message);
    return false;
  }

  // Copies a literal or quoted identifier; a doubled closing quote stays
  // inside. An unterminated one runs to the end (SQLite reports it).
  void copy_quoted(char open, char close, std::string* out) {
    const size_t start = pos_++;
    while (pos_ < text_.size()) {
      if (text_[pos_] == close) {
        if (open == close && peek(1) == close) {
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      ++pos_;
    }
    out->append(text_.substr(start, pos_ - start));
  }

  void copy_until(std::string_view end, std::string* out) {
    const size_t found = text_.find(end, pos_ + 2);
    const size_t stop = found == std::string_view::npos ? text_.size() : found + end.size();
    out->append(text_.substr(pos_, stop - pos_));
    pos_ = stop;
  }

  void skip_blanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  // 0x<digits> standing alone, with digits below the number of binary blocks.
  bool binary_token(std::string* out) {
    if (binary_count_ == 0) return false;
    if (pos_ > 0 && is_word_char(text_[pos_ - 1])) return false;
    size_t end = pos_ + 2;
    size_t index = 0;
    while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) {
      index = index * 10 + static_cast<size_t>(text_[end] - '0');
      if (index >= binary_count_) return false;
      ++end;
    }
    if (end == pos_ + 2) return false;
    if (end < text_.size() && is_word_char(text_[end])) return false;
    out->append(binary_parameter_name(index));
    pos_ = end;
    return true;
  }

  // A string literal at the current position, copied to *out.
  bool literal(std::string* out, const char* what) {
    skip_blanks();
    if (peek(0) != '\'')
      return fail(std::string("unsupported escape clause: {") + what + " needs a quoted literal");
    copy_quoted('\'', '\'', out);
    skip_blanks();
    if (peek(0) != '}')
      return fail(std::string("unbalanced '{': the {") + what + " escape is not closed");
    ++pos_;
    return true;
  }

  bool escape(std::string* out, int depth) {
    if (depth > kMaxDepth) return fail("unsupported escape clause: nested too deeply");
    skip_blanks();
    std::string keyword;
    while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) {
      keyword.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_++]))));
    }
    if (keyword == "d" || keyword == "t" || keyword == "ts") {
      return literal(out, keyword.c_str());
    }
    if (keyword == "escape") {
      out->append(" ESCAPE ");
      return literal(out, "escape");
    }
    if (keyword == "oj") {
      out->push_back(' ');
      if (!run(out, depth)) return false;
      out->push_back(' ');
      return true;
    }
    if (keyword == "fn") {
      std::string body;
      if (!run(&body, depth)) return false;
      return function_call(body, out);
    }
    if (keyword == "call" || peek(0) == '?') {
      return fail("unsupported escape clause {call}: q4lite has no stored procedures");
    }
    return fail("unsupported escape clause {" + keyword + "}");
  }

  // Splits "name(arg, arg)" (already translated) and expands it.
  bool function_call(const std::string& body, std::string* out) {
    size_t p = 0;
    while (p < body.size() && std::isspace(static_cast<unsigned char>(body[p]))) ++p;
    const size_t name_start = p;
    while (p < body.size() && is_word_char(body[p])) ++p;
    const std::string name = body.substr(name_start, p - name_start);
    if (name.empty()) return fail("unsupported escape clause: {fn} without a function name");
    while (p < body.size() && std::isspace(static_cast<unsigned char>(body[p]))) ++p;
    std::vector<std::string> args;
    if (p < body.size()) {
      if (body[p] != '(') return fail("syntax error in {fn " + name + "}");
      ++p;
      int nesting = 0;
      std::string current;
      bool closed = false;
      while (p < body.size() && !closed) {
        const char c = body[p];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
          const char close = c == '[' ? ']' : c;
          const size_t start = p++;
          while (p < body.size() && body[p] != close) ++p;
          if (p < body.size()) ++p;
          current.append(body, start, p - start);
          continue;
        }
        if (c == '(') {
          ++nesting;
        } else if (c == ')') {
          if (nesting == 0) {
            closed = true;
            ++p;
            break;
          }
          --nesting;
        } else if (c == ',' && nesting == 0) {
          args.push_back(trim(current));
          current.clear();
          ++p;
          continue;
        }
        current.push_back(c);
        ++p;
      }
      if (!closed) return fail("syntax error in {fn " + name + "}: unbalanced parentheses");
      bool blank = true;
      for (char c : current) blank = blank && std::isspace(static_cast<unsigned char>(c));
      if (!blank || !args.empty()) args.push_back(trim(current));
      while (p < body.size() && std::isspace(static_cast<unsigned char>(body[p]))) ++p;
      if (p != body.size()) return fail("syntax error in {fn " + name + "}");
    }
    std::string message;
    if (!expand_scalar_function(name, args, out, &message)) return fail(message);
    return true;
  }

  std::string_view text_;
  size_t binary_count_;
  std::string* error_;
  size_t pos_ = 0;
  // Outside escapes: the depth of parentheses, and whether an operand of a
  // compound query may start here (the start of the text, or after UNION
  // [ALL], INTERSECT or EXCEPT outside parentheses).
  int parens_ = 0;
  bool operand_start_ = true;
};

}  // namespace

std::string binary_parameter_name(size_t index) {
  return ":q4b" + std::to_string(index);
}

bool translate_escapes(std::string_view sql, size_t binary_count, std::string* out,
                       std::string* error) {
  out->reserve(out->size() + sql.size());
  Translator translator(sql, binary_count, error);
  return translator.run(out, 0);
}

}  // namespace q4::lite
