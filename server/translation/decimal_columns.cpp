#include "server/translation/decimal_columns.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "protocol/decimal_text.h"
#include "server/translation/sql_tokens.h"
#include "server/translation/text_edits.h"

namespace q4::lite {

namespace {

// Digits every value of which a double holds exactly (DBL_DIG), and those of
// an integer a 64-bit integer holds.
constexpr long kDoubleDigits = 15;
constexpr long kInt64Digits = 18;

// Words that end a column's type name: the column constraints.
bool ends_type_name(const Lexer& lx, const Token& t) {
  static const char* const kWords[] = {"CONSTRAINT", "PRIMARY",   "NOT",     "NULL",
                                       "UNIQUE",     "CHECK",     "DEFAULT", "COLLATE",
                                       "REFERENCES", "GENERATED", "AS"};
  for (const char* word : kWords) {
    if (lx.is_word(t, word)) return true;
  }
  return false;
}

// One column definition after its name, up to the "," or ")" that ends it
// at the top level (returned) or the statement's end.
Token column_definition(Lexer& lx, std::vector<TextEdit>* out) {
  std::string type;
  Token t = lx.next();
  size_t type_end = 0;
  while (t.kind == TokenKind::kWord && !ends_type_name(lx, t)) {
    if (!type.empty()) type += ' ';
    type += lx.upper(t);
    type_end = t.end;
    t = lx.next();
  }
  // "(p)" or "(p, s)" after the type name.
  long numbers[2] = {-1, -1};
  int count = 0;
  size_t arguments_end = 0;
  bool well_formed = true;
  if (!type.empty() && lx.is(t, '(')) {
    for (t = lx.next(); t.kind != TokenKind::kEnd && !lx.is(t, ')'); t = lx.next()) {
      if (t.kind == TokenKind::kNumber && count < 2) {
        numbers[count++] = lx.number(t);
      } else if (!lx.is(t, ',') && !lx.is(t, '+')) {
        well_formed = false;
      }
    }
    if (t.kind == TokenKind::kEnd) return t;
    arguments_end = t.end;
    t = lx.next();
  }
  bool collated = false;
  int depth = 0;
  for (;; t = lx.next()) {
    if (t.kind == TokenKind::kEnd || lx.is(t, ';')) break;
    if (lx.is(t, '(')) {
      ++depth;
    } else if (lx.is(t, ')')) {
      if (depth-- == 0) break;
    } else if (depth == 0 && lx.is(t, ',')) {
      break;
    } else if (depth == 0 && lx.is_word(t, "COLLATE")) {
      collated = true;
    }
  }
  const bool decimal = type == "NUMERIC" || type == "DECIMAL" || type == "DEC";
  if (decimal && arguments_end != 0 && well_formed && count > 0 &&
      needs_decimal_text(numbers[0], numbers[1])) {
    out->push_back(TextEdit{type_end, type_end, " TEXT"});
    // A collation the statement names itself stays the column's.
    if (!collated) out->push_back(TextEdit{arguments_end, arguments_end, " COLLATE Q4DECIMAL"});
  }
  return t;
}

// A table name, possibly with its schema ("main.t").
bool table_name(Lexer& lx) {
  Token t = lx.next();
  if (!lx.is_name(t)) return false;
  Lexer probe = lx;
  if (lx.is(probe.next(), '.')) {
    lx.next();
    return lx.is_name(lx.next());
  }
  return true;
}

// After CREATE: [TEMP|TEMPORARY] TABLE [IF NOT EXISTS] name ( definitions ).
// CREATE TABLE ... AS SELECT, and anything else created, is left alone.
// True when the statement's ";" was read.
bool create_statement(Lexer& lx, std::vector<TextEdit>* out) {
  Token t = lx.next();
  if (lx.is_word(t, "TEMP") || lx.is_word(t, "TEMPORARY")) t = lx.next();
  if (!lx.is_word(t, "TABLE")) return lx.is(t, ';');
  Lexer probe = lx;
  if (lx.is_word(probe.next(), "IF")) {
    lx.next();
    if (!lx.is_word(lx.next(), "NOT") || !lx.is_word(lx.next(), "EXISTS")) return false;
  }
  if (!table_name(lx)) return false;
  t = lx.next();
  if (!lx.is(t, '(')) return lx.is(t, ';');
  for (;;) {
    t = lx.next();
    if (t.kind == TokenKind::kEnd || lx.is(t, ')')) return false;
    const bool table_constraint = lx.is_word(t, "CONSTRAINT") || lx.is_word(t, "PRIMARY") ||
                                  lx.is_word(t, "UNIQUE") || lx.is_word(t, "CHECK") ||
                                  lx.is_word(t, "FOREIGN");
    if (table_constraint) {
      // Up to the "," or ")" that ends it.
      int depth = 0;
      for (t = lx.next(); t.kind != TokenKind::kEnd && !lx.is(t, ';'); t = lx.next()) {
        if (lx.is(t, '(')) ++depth;
        if (lx.is(t, ')') && depth-- == 0) return false;
        if (depth == 0 && lx.is(t, ',')) break;
      }
      if (!lx.is(t, ',')) return lx.is(t, ';');
      continue;
    }
    if (!lx.is_name(t)) return lx.is(t, ';');
    t = column_definition(lx, out);
    if (!lx.is(t, ',')) return lx.is(t, ';');
  }
}

// After ALTER: TABLE name ADD [COLUMN] name definition. True when the
// statement's ";" was read.
bool alter_statement(Lexer& lx, std::vector<TextEdit>* out) {
  Token t = lx.next();
  if (!lx.is_word(t, "TABLE")) return lx.is(t, ';');
  if (!table_name(lx)) return false;
  t = lx.next();
  if (!lx.is_word(t, "ADD")) return lx.is(t, ';');
  t = lx.next();
  if (lx.is_word(t, "COLUMN")) t = lx.next();
  if (!lx.is_name(t)) return lx.is(t, ';');
  return lx.is(column_definition(lx, out), ';');
}

bool contains_word(const std::string& s, const char* word) {
  const size_t length = std::strlen(word);
  for (size_t i = 0; i + length <= s.size(); ++i) {
    size_t k = 0;
    while (k < length && std::toupper(static_cast<unsigned char>(s[i + k])) == word[k]) ++k;
    if (k == length) return true;
  }
  return false;
}

// The significant digits of a and b compared as magnitudes.
int compare_magnitudes(const DecimalText& a, const DecimalText& b) {
  const SignificantDigits sa = significant_digits(a);
  const SignificantDigits sb = significant_digits(b);
  const int64_t pa = a.power_of(sa.first);
  const int64_t pb = b.power_of(sb.first);
  if (pa != pb) return pa < pb ? -1 : 1;
  uint32_t i = sa.first;
  uint32_t j = sb.first;
  for (; i < sa.end && j < sb.end; ++i, ++j) {
    if (a.digit(i) != b.digit(j)) return a.digit(i) < b.digit(j) ? -1 : 1;
  }
  // The one with digits left is larger: its last significant digit is not 0.
  if (i < sa.end) return 1;
  if (j < sb.end) return -1;
  return 0;
}

int sign_of(const DecimalText& d) {
  if (significant_digits(d).zero()) return 0;
  return d.negative ? -1 : 1;
}

int collate(void*, int a_length, const void* a, int b_length, const void* b) {
  return compare_decimal_texts(static_cast<const char*>(a), static_cast<size_t>(a_length),
                               static_cast<const char*>(b), static_cast<size_t>(b_length));
}

}  // namespace

bool needs_decimal_text(long precision, long scale) {
  if (precision <= kDoubleDigits) return false;
  return !(scale <= 0 && precision <= kInt64Digits);
}

void rewrite_decimal_declarations(std::string* sql) {
  if (!contains_word(*sql, "CREATE") && !contains_word(*sql, "ALTER")) return;
  std::vector<TextEdit> insertions;
  Lexer lx(*sql);
  bool statement_start = true;
  for (Token t = lx.next(); t.kind != TokenKind::kEnd; t = lx.next()) {
    if (lx.is(t, ';')) {
      statement_start = true;
      continue;
    }
    if (!statement_start) continue;
    statement_start = false;
    if (lx.is_word(t, "CREATE")) {
      statement_start = create_statement(lx, &insertions);
    } else if (lx.is_word(t, "ALTER")) {
      statement_start = alter_statement(lx, &insertions);
    }
  }
  apply_edits(insertions, sql);
}

int compare_decimal_texts(const char* a, size_t a_length, const char* b, size_t b_length) {
  DecimalText da;
  DecimalText db;
  const bool a_number = read_decimal_text(a, a_length, &da);
  const bool b_number = read_decimal_text(b, b_length, &db);
  if (a_number != b_number) return a_number ? -1 : 1;
  if (!a_number) {
    const int c = std::memcmp(a, b, a_length < b_length ? a_length : b_length);
    if (c != 0) return c < 0 ? -1 : 1;
    return a_length == b_length ? 0 : a_length < b_length ? -1 : 1;
  }
  const int sa = sign_of(da);
  const int sb = sign_of(db);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  const int m = compare_magnitudes(da, db);
  return sa > 0 ? m : -m;
}

int register_decimal_collation(sqlite3* db) {
  return sqlite3_create_collation_v2(db, kDecimalCollation, SQLITE_UTF8, nullptr, collate, nullptr);
}

}  // namespace q4::lite
