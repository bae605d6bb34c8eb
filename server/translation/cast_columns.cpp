#include "server/translation/cast_columns.h"

#include "server/translation/sql_tokens.h"

namespace q4::lite {

namespace {

// Words that end the select list at the top level.
bool ends_select_list(const Lexer& lx, const Token& t) {
  static const char* const kWords[] = {"FROM",  "WHERE",  "GROUP", "HAVING",    "ORDER",
                                       "LIMIT", "WINDOW", "UNION", "INTERSECT", "EXCEPT"};
  if (lx.is(t, ';') || t.kind == TokenKind::kEnd) return true;
  for (const char* word : kWords) {
    if (lx.is_word(t, word)) return true;
  }
  return false;
}

std::string trimmed(const std::string& s, size_t begin, size_t end) {
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

// One select-list item [begin, end): CAST ( expression AS type ) [[AS] alias].
void read_item(const std::string& sql, size_t begin, size_t end, std::vector<CastColumn>* out) {
  const std::string item = sql.substr(begin, end - begin);
  Lexer lx(item);
  if (!lx.is_word(lx.next(), "CAST") || !lx.is(lx.next(), '(')) return;
  size_t type_begin = 0;
  int depth = 0;
  Token t = lx.next();
  for (; t.kind != TokenKind::kEnd; t = lx.next()) {
    if (lx.is(t, '(')) {
      ++depth;
    } else if (lx.is(t, ')')) {
      if (depth-- == 0) break;
    } else if (depth == 0 && lx.is_word(t, "AS")) {
      type_begin = t.end;  // the last AS at this level: the expression may hold casts
    }
  }
  if (t.kind == TokenKind::kEnd || type_begin == 0) return;
  std::string type = trimmed(item, type_begin, t.begin);
  Lexer type_lx(type);
  Token first = type_lx.next();
  if (!type_lx.is_word(first, "NUMERIC") && !type_lx.is_word(first, "DECIMAL") &&
      !type_lx.is_word(first, "DEC")) {
    return;
  }
  const size_t cast_end = t.end;
  Token alias = lx.next();
  if (lx.is_word(alias, "AS")) alias = lx.next();
  std::string name;
  if (alias.kind == TokenKind::kEnd) {
    name = trimmed(item, 0, cast_end);
  } else if (alias.kind == TokenKind::kWord || alias.kind == TokenKind::kQuoted ||
             alias.kind == TokenKind::kString) {
    if (lx.next().kind != TokenKind::kEnd) return;  // a longer expression: "CAST(...) + 1"
    name = lx.name(alias);
  } else {
    return;
  }
  out->push_back(CastColumn{std::move(name), std::move(type)});
}

}  // namespace

std::vector<CastColumn> decimal_cast_columns(const std::string& sql) {
  std::vector<CastColumn> columns;
  Lexer lx(sql);
  int depth = 0;
  Token t = lx.next();
  // The first SELECT outside parentheses (a WITH clause's queries are inside).
  for (; t.kind != TokenKind::kEnd; t = lx.next()) {
    if (lx.is(t, '(')) ++depth;
    if (lx.is(t, ')')) --depth;
    if (depth == 0 && lx.is_word(t, "SELECT")) break;
  }
  if (t.kind == TokenKind::kEnd) return columns;
  t = lx.next();
  if (lx.is_word(t, "DISTINCT") || lx.is_word(t, "ALL")) t = lx.next();
  size_t item_begin = t.begin;
  for (;; t = lx.next()) {
    if (lx.is(t, '(')) {
      ++depth;
    } else if (lx.is(t, ')')) {
      --depth;
    } else if (depth == 0 && (lx.is(t, ',') || ends_select_list(lx, t))) {
      read_item(sql, item_begin, t.begin, &columns);
      if (!lx.is(t, ',')) break;
      item_begin = t.end;
    }
    if (t.kind == TokenKind::kEnd) break;
  }
  return columns;
}

}  // namespace q4::lite
