#include "server/exact_literals.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "protocol/decimal_text.h"
#include "server/sql_tokens.h"
#include "server/table_columns.h"

namespace q4::lite {

namespace {

// Significant digits every value of which a double holds (DBL_DIG).
constexpr uint32_t kDoubleDigits = 15;

// A long literal: its decimal text with the sign (no "+", no leading zeros,
// the decimals as written), and the NUMERIC precision and scale it has.
struct LongLiteral {
  std::string text;
  uint32_t precision = 0;
  uint32_t scale = 0;
};

bool fits_int64(const char* digits, uint32_t count, bool negative) {
  if (count != 19) return count < 19;
  return std::memcmp(digits, negative ? "9223372036854775808" : "9223372036854775807", 19) <= 0;
}

// True, with `out` filled, when the number token `token` (after a unary minus
// when `negative`) is a long literal.
bool read_long_literal(std::string_view token, bool negative, LongLiteral* out) {
  DecimalText d;
  if (!read_decimal_text(token.data(), token.size(), &d) || d.has_sign || d.has_exponent ||
      d.padded) {
    return false;
  }
  const SignificantDigits significant = significant_digits(d);
  if (significant.end - significant.first <= kDoubleDigits) return false;
  uint32_t zeros = 0;
  while (zeros < d.whole_count && d.whole[zeros] == '0') ++zeros;
  const uint32_t whole = d.whole_count - zeros;
  // SQLite reads such an integer exactly (-9223372036854775808 too).
  if (!d.has_point && fits_int64(d.whole + zeros, whole, negative)) return false;
  out->text.clear();
  if (negative) out->text += '-';
  if (whole == 0) {
    out->text += '0';
  } else {
    out->text.append(d.whole + zeros, whole);
  }
  if (d.fraction_count > 0) {
    out->text += '.';
    out->text.append(d.fraction, d.fraction_count);
  }
  out->precision = whole + d.fraction_count;
  out->scale = d.fraction_count;
  return true;
}

// True when the double nearest to `text` written in its shortest form has
// the same significant digits: sent as a double, the value loses nothing.
bool double_gives_back(const std::string& text) {
  double value = 0;
  const char* const end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data(), end, value);
  if (parsed.ec != std::errc() || parsed.ptr != end) return false;
  char shortest[32];
  const std::to_chars_result written =
      std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
  DecimalText a;
  DecimalText b;
  if (!read_decimal_text(text.data(), text.size(), &a) ||
      !read_decimal_text(shortest, static_cast<size_t>(written.ptr - shortest), &b)) {
    return false;
  }
  const SignificantDigits sa = significant_digits(a);
  const SignificantDigits sb = significant_digits(b);
  if (sa.end - sa.first != sb.end - sb.first || a.power_of(sa.first) != b.power_of(sb.first)) {
    return false;
  }
  for (uint32_t i = 0; i < sa.end - sa.first; ++i) {
    if (a.digit(sa.first + i) != b.digit(sb.first + i)) return false;
  }
  return true;
}

// `word` (upper case) in `text`, ASCII letters compared without their case.
bool contains_ignoring_case(const char* text, const char* word) {
  for (const char* p = text; *p != '\0'; ++p) {
    size_t k = 0;
    while (word[k] != '\0' && (p[k] == word[k] || (p[k] >= 'a' && p[k] - ('a' - 'A') == word[k]))) {
      ++k;
    }
    if (word[k] == '\0') return true;
  }
  return false;
}

// SQLite's affinity rules, as far as TEXT affinity goes: a declared type
// containing INT is an integer, else one containing CHAR, CLOB or TEXT text.
bool text_affinity(const char* declared) {
  if (declared == nullptr || contains_ignoring_case(declared, "INT")) return false;
  return contains_ignoring_case(declared, "CHAR") || contains_ignoring_case(declared, "CLOB") ||
         contains_ignoring_case(declared, "TEXT");
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The words the reader looks for, in alphabetical order (the lookup
// relies on it); each is a bit of a KeywordSet.
enum class Kw : uint8_t {
  kNone,
  kAdd,
  kAll,
  kAnd,
  kAs,
  kBetween,
  kCheck,
  kCollate,
  kColumn,
  kConstraint,
  kCross,
  kDefault,
  kDelete,
  kDistinct,
  kDo,
  kElse,
  kEnd,
  kEscape,
  kExcept,
  kFrom,
  kFull,
  kGenerated,
  kGlob,
  kGroup,
  kHaving,
  kIn,
  kIndexed,
  kInner,
  kInsert,
  kIntersect,
  kInto,
  kIs,
  kIsnull,
  kJoin,
  kLateral,
  kLeft,
  kLike,
  kLimit,
  kMatch,
  kMaterialized,
  kNatural,
  kNot,
  kNotnull,
  kNull,
  kOf,
  kOn,
  kOr,
  kOrder,
  kOuter,
  kPrimary,
  kReferences,
  kRegexp,
  kReplace,
  kReturning,
  kRight,
  kSelect,
  kSet,
  kThen,
  kUnion,
  kUnique,
  kUpdate,
  kUsing,
  kValues,
  kWhen,
  kWhere,
  kWindow,
  kWith,
};
constexpr std::string_view kKeywords[] = {
    "ADD",        "ALL",        "AND",     "AS",           "BETWEEN", "CHECK",    "COLLATE",
    "COLUMN",     "CONSTRAINT", "CROSS",   "DEFAULT",      "DELETE",  "DISTINCT", "DO",
    "ELSE",       "END",        "ESCAPE",  "EXCEPT",       "FROM",    "FULL",     "GENERATED",
    "GLOB",       "GROUP",      "HAVING",  "IN",           "INDEXED", "INNER",    "INSERT",
    "INTERSECT",  "INTO",       "IS",      "ISNULL",       "JOIN",    "LATERAL",  "LEFT",
    "LIKE",       "LIMIT",      "MATCH",   "MATERIALIZED", "NATURAL", "NOT",      "NOTNULL",
    "NULL",       "OF",         "ON",      "OR",           "ORDER",   "OUTER",    "PRIMARY",
    "REFERENCES", "REGEXP",     "REPLACE", "RETURNING",    "RIGHT",   "SELECT",   "SET",
    "THEN",       "UNION",      "UNIQUE",  "UPDATE",       "USING",   "VALUES",   "WHEN",
    "WHERE",      "WINDOW",     "WITH",
};
constexpr size_t kLongestKeyword = 12;

using KeywordSet = unsigned __int128;
constexpr KeywordSet set_of(std::initializer_list<Kw> words) {
  KeywordSet set = 0;
  for (const Kw w : words) set |= KeywordSet{1} << static_cast<unsigned>(w);
  return set;
}

// The keyword a word token is, found once per token.
Kw keyword_of(const std::string& sql, const Token& t) {
  const size_t length = t.end - t.begin;
  if (t.kind != TokenKind::kWord || length < 2 || length > kLongestKeyword) return Kw::kNone;
  const char* const word = sql.data() + t.begin;
  const char first = static_cast<char>(word[0] & ~0x20);  // a letter's upper case
  // The keywords starting with that letter, then each compared in full.
  const std::string_view* k = std::begin(kKeywords);
  while (k != std::end(kKeywords) && (*k)[0] < first) ++k;
  for (; k != std::end(kKeywords) && (*k)[0] == first; ++k) {
    if (k->size() != length) continue;
    size_t i = 1;
    while (i < length && (word[i] == (*k)[i] || (word[i] >= 'a' && word[i] - 32 == (*k)[i]))) ++i;
    if (i == length) return static_cast<Kw>(k - std::begin(kKeywords) + 1);
  }
  return Kw::kNone;
}

// Words that end a select list.
constexpr KeywordSet kEndsSelectList =
    set_of({Kw::kFrom, Kw::kWhere, Kw::kGroup, Kw::kHaving, Kw::kOrder, Kw::kLimit, Kw::kWindow,
            Kw::kUnion, Kw::kIntersect, Kw::kExcept});
// Words that end a FROM clause (at its level of parentheses).
constexpr KeywordSet kEndsFrom =
    kEndsSelectList | set_of({Kw::kReturning, Kw::kSet, Kw::kValues, Kw::kSelect});
// Words that start a statement, after WITH and its queries too.
constexpr KeywordSet kStatementWords =
    set_of({Kw::kSelect, Kw::kInsert, Kw::kReplace, Kw::kUpdate, Kw::kDelete, Kw::kValues});
// Words after FROM, JOIN, UPDATE that are no table name (an upsert's or a
// trigger's UPDATE, a subquery).
constexpr KeywordSet kNoTable =
    set_of({Kw::kSet, Kw::kOf, Kw::kOn, Kw::kSelect, Kw::kValues, Kw::kWith, Kw::kLateral});
// Words after a table name that are no alias of it.
constexpr KeywordSet kAfterTable =
    kEndsFrom | set_of({Kw::kJoin, Kw::kOn, Kw::kUsing, Kw::kLeft, Kw::kRight, Kw::kFull,
                        Kw::kInner, Kw::kOuter, Kw::kCross, Kw::kNatural, Kw::kDefault,
                        Kw::kIndexed, Kw::kNot, Kw::kDo, Kw::kWith});
// Words after which a sign is the unary sign of the number after it.
constexpr KeywordSet kBeforeOperand =
    set_of({Kw::kSelect, Kw::kDistinct, Kw::kAll, Kw::kWhere, Kw::kAnd, Kw::kOr, Kw::kNot, Kw::kOn,
            Kw::kHaving, Kw::kWhen, Kw::kThen, Kw::kElse, Kw::kSet, Kw::kBetween, Kw::kIn, Kw::kIs,
            Kw::kDefault, Kw::kReturning});
// Words before and after an operand that stands alone: a comparison's or an
// assignment's operand that is no part of a larger expression.
constexpr KeywordSet kBeforeAloneOperand =
    set_of({Kw::kWhere, Kw::kAnd, Kw::kOr, Kw::kOn, Kw::kHaving, Kw::kWhen, Kw::kThen, Kw::kElse,
            Kw::kSet, Kw::kSelect, Kw::kDistinct, Kw::kAll, Kw::kReturning});
constexpr KeywordSet kAfterOperand =
    kEndsSelectList | set_of({Kw::kAnd, Kw::kOr, Kw::kThen, Kw::kElse, Kw::kEnd, Kw::kReturning,
                              Kw::kOn, Kw::kJoin, Kw::kInner, Kw::kLeft, Kw::kRight, Kw::kFull,
                              Kw::kCross, Kw::kNatural, Kw::kWhen, Kw::kAs, Kw::kDo});
// Operators written as words: after a select item, no alias.
constexpr KeywordSet kOperatorWords =
    set_of({Kw::kAnd, Kw::kOr, Kw::kNot, Kw::kIs, Kw::kIsnull, Kw::kNotnull, Kw::kIn, Kw::kLike,
            Kw::kGlob, Kw::kMatch, Kw::kRegexp, Kw::kBetween, Kw::kCollate, Kw::kEscape});
// Words that end a column's type name in its definition.
constexpr KeywordSet kConstraintWords =
    set_of({Kw::kConstraint, Kw::kPrimary, Kw::kNot, Kw::kNull, Kw::kUnique, Kw::kCheck,
            Kw::kDefault, Kw::kCollate, Kw::kReferences, Kw::kGenerated, Kw::kAs});

// Where a long literal stands, as far as it matters.
enum class Use : uint8_t {
  kNone,
  kColumn,       // compared with or assigned to the column of tokens [first, last]
  kInsertValue,  // value `position` of an INSERT's row or select list
  kDefault,      // the DEFAULT of the column whose name is token `first`
  kResultItem,   // item of the statement's result; `aliased` when it names itself
};

struct Place {
  Use use = Use::kNone;
  int first = -1;
  int last = -1;
  size_t position = 0;
  bool aliased = false;
};

enum class Paren : uint8_t { kOther, kRow, kList };
enum class StatementKind : uint8_t { kOther, kSelect, kInsert };

// One token of the statement (20 bytes: a statement of many rows of values
// has many of them).
struct Tok {
  uint32_t begin;
  uint32_t end;
  int32_t open;    // the "(" the token is directly inside, -1 at the top level
  int32_t select;  // at the top level inside a select list that gives values: its SELECT
  TokenKind kind;
  Kw keyword;   // for a word that is one of the keywords above
  Paren paren;  // for a "(": a VALUES row of an INSERT, the list of an IN
  bool from;    // for a "(": a FROM clause directly inside it is being read
};

struct TableName {
  std::string schema;
  std::string name;
  std::string alias;
};

struct Replacement {
  size_t begin;
  size_t end;
  std::string text;
};

// One statement, read once; places and column types are asked of it.
class StatementReader {
 public:
  // The statement of `sql` from byte `from` on.
  StatementReader(sqlite3* db, const std::string& sql, size_t from, TableColumns* columns)
      : db_(db), sql_(sql), lx_(sql, from), table_columns_(columns) {}

  // Reads the statement; false when it holds no long literal (then nothing
  // else is read).
  bool read();
  // The replacements of the statement's long literals, in text order.
  std::vector<Replacement> replacements();

 private:
  int count() const { return static_cast<int>(tk_.size()); }
  bool is(int i, char c) const {
    return i >= 0 && i < count() && tk_[i].kind == TokenKind::kPunct && sql_[tk_[i].begin] == c;
  }
  TokenKind kind(int i) const { return i >= 0 && i < count() ? tk_[i].kind : TokenKind::kEnd; }
  Kw keyword(int i) const { return i >= 0 && i < count() ? tk_[i].keyword : Kw::kNone; }
  bool word(int i, Kw w) const { return keyword(i) == w; }
  bool word_in(int i, KeywordSet words) const {
    return ((words >> static_cast<unsigned>(keyword(i))) & 1) != 0;
  }
  bool name_token(int i) const {
    return kind(i) == TokenKind::kWord || kind(i) == TokenKind::kQuoted;
  }
  bool adjacent(int i, int j) const { return tk_[i].end == tk_[j].begin; }
  Token token(int i) const { return Token{tk_[i].kind, tk_[i].begin, tk_[i].end}; }
  std::string name(int i) const { return lx_.name(token(i)); }

  void read_structure();
  int read_table(int i, bool target = false);
  void read_insert_target(int i);
  void read_query_name(int as);
  bool introduces_operand(int i) const;
  bool boundary_before(int i) const;
  bool boundary_after(int i) const;
  bool ends_select_list(int i) const;
  int comparison_ending_at(int i) const;
  int comparison_starting_at(int i) const;
  Place column_left(int last) const;
  Place column_right(int first) const;
  Place select_item(int first, int i) const;
  Place between_bound(int before, int after) const;
  Place default_of(int before) const;
  Place place_of(int first, int i) const;
  size_t commas(int from, int to, int level) const;

  const char* declared_type(const std::string& schema, const std::string& table,
                            const std::string& column) const;
  bool column_keeps_text(const Place& place) const;
  bool insert_value_keeps_text(size_t position);
  bool keeps_text(const Place& place);

  sqlite3* db_;
  const std::string& sql_;
  Lexer lx_;
  std::vector<Tok> tk_;
  StatementKind kind_ = StatementKind::kOther;
  std::vector<TableName> tables_;
  std::vector<std::string> queries_;  // the names WITH gives its queries
  int target_ = -1;                   // the INSERT's table in tables_
  bool columns_listed_ = false;
  std::vector<std::string> columns_;  // the INSERT's column list
  TableColumns* table_columns_;
};

bool StatementReader::read() {
  if (sql_.size() > INT32_MAX) return false;  // beyond what SQLite compiles anyway
  Token t = lx_.next();
  while (lx_.is(t, ';')) t = lx_.next();
  int32_t open = -1;  // the innermost "(" not yet closed; each knows the one around it
  // About as many as SQL text has, for a statement of a few hundred bytes.
  tk_.reserve(std::min<size_t>((sql_.size() - t.begin) / 3 + 8, 256));
  bool numbers = false;
  for (; t.kind != TokenKind::kEnd; t = lx_.next()) {
    if (open < 0 && lx_.is(t, ';')) break;
    if (lx_.is(t, ')') && open >= 0) open = tk_[static_cast<size_t>(open)].open;
    tk_.push_back(Tok{static_cast<uint32_t>(t.begin), static_cast<uint32_t>(t.end), open, -1,
                      t.kind, keyword_of(sql_, t), Paren::kOther, false});
    if (lx_.is(t, '(')) open = count() - 1;
    if (t.kind == TokenKind::kNumber && t.end - t.begin > kDoubleDigits) numbers = true;
  }
  if (!numbers) return false;
  read_structure();
  return true;
}

bool StatementReader::ends_select_list(int i) const {
  return word_in(i, kEndsSelectList);
}

// The statement's kind, the lists whose items are values, and the tables
// it names (FROM, JOIN, INTO, UPDATE).
void StatementReader::read_structure() {
  bool top_from = false;  // a FROM clause at the top level is being read
  auto in_from = [&](int level) -> bool& {
    return level < 0 ? top_from : tk_[static_cast<size_t>(level)].from;
  };
  bool first = true;
  bool with = false;
  bool values = false;
  int select = -1;
  int selects = 0;
  for (int i = 0; i < count(); ++i) {
    const int level = tk_[i].open;
    const bool top = level < 0;
    if (is(i, '(')) {
      if (top && values) {
        tk_[i].paren = Paren::kRow;
      } else if (word(i - 1, Kw::kIn)) {
        tk_[i].paren = Paren::kList;
      }
    } else if (tk_[i].kind == TokenKind::kWord) {
      if (top) {
        const bool main = word_in(i, kStatementWords);
        if (first || (with && main)) {
          kind_ = word(i, Kw::kSelect)                            ? StatementKind::kSelect
                  : word(i, Kw::kInsert) || word(i, Kw::kReplace) ? StatementKind::kInsert
                                                                  : StatementKind::kOther;
          with = first && word(i, Kw::kWith);
          first = false;
        }
        if (word(i, Kw::kSelect)) {
          // An INSERT's every select list gives values; a query's first one
          // describes its result.
          const bool gives =
              kind_ == StatementKind::kInsert || (kind_ == StatementKind::kSelect && selects == 0);
          select = gives ? i : -1;
          ++selects;
        } else if (ends_select_list(i)) {
          select = -1;
        }
        values = kind_ == StatementKind::kInsert && word(i, Kw::kValues);
      }
      if (word(i, Kw::kAs)) read_query_name(i);
      if (word(i, Kw::kFrom) || word(i, Kw::kJoin)) {
        in_from(level) = true;
        read_table(i + 1);
      } else if (word_in(i, kEndsFrom)) {
        in_from(level) = false;
      } else if (word(i, Kw::kInto) && top && kind_ == StatementKind::kInsert && target_ < 0) {
        read_insert_target(i + 1);
      } else if (word(i, Kw::kUpdate)) {
        read_table(word(i + 1, Kw::kOr) ? i + 3 : i + 1);
      }
    } else if (is(i, ',') && in_from(level)) {
      read_table(i + 1);
    }
    if (top) tk_[i].select = select;
  }
}

// A table name at token i: [schema.]name [[AS] alias]. Returns the token
// after it, or -1 when none stands there (a subquery, a table-valued
// function, a keyword: the UPDATE of an upsert or a trigger). An INSERT's
// `target` may be followed by its column list.
int StatementReader::read_table(int i, bool target) {
  if (!name_token(i) || word_in(i, kNoTable)) {
    return -1;
  }
  TableName table;
  if (is(i + 1, '.') && name_token(i + 2)) {
    table.schema = name(i);
    i += 2;
  }
  table.name = name(i);
  if (is(i + 1, '(') && !target) return -1;
  int next = i + 1;
  if (word(next, Kw::kAs) && name_token(next + 1)) {
    table.alias = name(next + 1);
    next += 2;
  } else if (name_token(next) && !word_in(next, kAfterTable)) {
    table.alias = name(next);
    ++next;
  }
  for (const std::string& query : queries_) {
    if (table.schema.empty() && same_name(query, table.name)) return next;
  }
  tables_.push_back(std::move(table));
  return next;
}

// `name [(column, ...)] AS [[NOT] MATERIALIZED] (query)` of a WITH clause:
// the name stands for the query, not for a table of that name.
void StatementReader::read_query_name(int as) {
  int k = as + 1;
  if (word(k, Kw::kNot)) ++k;
  if (word(k, Kw::kMaterialized)) ++k;
  if (!is(k, '(')) return;
  int name_at = as - 1;
  if (is(name_at, ')') && name_at > 0) name_at = tk_[name_at - 1].open - 1;  // past the columns
  if (name_token(name_at)) queries_.push_back(name(name_at));
}

// INSERT INTO [schema.]table [AS alias] [(column, ...)].
void StatementReader::read_insert_target(int i) {
  const int next = read_table(i, true);
  if (next < 0) return;
  target_ = static_cast<int>(tables_.size()) - 1;
  if (!is(next, '(')) return;
  columns_listed_ = true;
  for (int k = next + 1; k < count() && !(is(k, ')') && tk_[k].open == tk_[next].open); ++k) {
    if (name_token(k)) columns_.push_back(name(k));
  }
}

// Tokens after which a sign is a unary minus or plus of the number after it.
bool StatementReader::introduces_operand(int i) const {
  if (i < 0) return true;
  if (tk_[i].kind == TokenKind::kPunct) return !is(i, ')');
  return word_in(i, kBeforeOperand);
}

// Token i ends what comes before an operand of a comparison, so that the
// comparison is not part of a larger expression of higher precedence.
bool StatementReader::boundary_before(int i) const {
  if (i < 0 || is(i, '(') || is(i, ',')) return true;
  if (word(i, Kw::kNot)) return !word(i - 1, Kw::kIs);
  return word_in(i, kBeforeAloneOperand);
}

// Token i (count() at the end) ends an operand of a comparison.
bool StatementReader::boundary_after(int i) const {
  if (i >= count() || is(i, ')') || is(i, ',')) return true;
  return word_in(i, kAfterOperand);
}

// A comparison operator (= == != <> < <= > >=) that ends at token i (each
// character is a token of its own): its first token, or -1.
int StatementReader::comparison_ending_at(int i) const {
  const bool joined = i > 0 && adjacent(i - 1, i);
  if (is(i, '=')) {
    if (joined && (is(i - 1, '=') || is(i - 1, '<') || is(i - 1, '>') || is(i - 1, '!'))) {
      return i - 1;
    }
    return i;
  }
  if (is(i, '>')) {
    if (joined && is(i - 1, '<')) return i - 1;
    return joined && (is(i - 1, '>') || is(i - 1, '-')) ? -1 : i;  // >> -> ->>
  }
  if (is(i, '<')) return joined && is(i - 1, '<') ? -1 : i;
  return -1;
}

// A comparison operator that starts at token i: its last token, or -1.
int StatementReader::comparison_starting_at(int i) const {
  const bool joined = i + 1 < count() && adjacent(i, i + 1);
  if (is(i, '=')) return joined && is(i + 1, '=') ? i + 1 : i;
  if (is(i, '<')) {
    if (joined && (is(i + 1, '=') || is(i + 1, '>'))) return i + 1;
    return joined && is(i + 1, '<') ? -1 : i;
  }
  if (is(i, '>')) {
    if (joined && is(i + 1, '=')) return i + 1;
    return joined && is(i + 1, '>') ? -1 : i;
  }
  if (is(i, '!')) return joined && is(i + 1, '=') ? i + 1 : -1;
  return -1;
}

// A column [[schema.]table.]column ending at token `last`, standing alone
// before the operator that follows it.
Place StatementReader::column_left(int last) const {
  if (!name_token(last)) return Place{};
  int first = last;
  for (int parts = 1; parts < 3 && is(first - 1, '.') && name_token(first - 2); ++parts) first -= 2;
  if (is(first - 1, '.') || !boundary_before(first - 1)) return Place{};
  return Place{Use::kColumn, first, last, 0, false};
}

// A column starting at token `first`, standing alone after the operator
// before it.
Place StatementReader::column_right(int first) const {
  if (!name_token(first)) return Place{};
  int last = first;
  for (int parts = 1; parts < 3 && is(last + 1, '.') && name_token(last + 2); ++parts) last += 2;
  if (is(last + 1, '.') || is(last + 1, '(') || !boundary_after(last + 1)) return Place{};
  return Place{Use::kColumn, first, last, 0, false};
}

size_t StatementReader::commas(int from, int to, int level) const {
  size_t n = 0;
  for (int k = from + 1; k < to; ++k) {
    if (is(k, ',') && tk_[k].open == level) ++n;
  }
  return n;
}

// An item of a select list that gives values: [sign] number [[AS] alias].
Place StatementReader::select_item(int first, int i) const {
  const int select = tk_[first].select;
  const int before = first - 1;
  if (tk_[first].open >= 0 || select < 0) return Place{};
  if (!(before == select || is(before, ',') ||
        (before == select + 1 && (word(before, Kw::kDistinct) || word(before, Kw::kAll))))) {
    return Place{};
  }
  auto item_ends = [&](int k) { return k >= count() || is(k, ',') || ends_select_list(k); };
  const int after = i + 1;
  bool aliased = false;
  if (word(after, Kw::kAs)) {
    aliased = true;
  } else if (!item_ends(after)) {
    const bool alias = tk_[after].kind == TokenKind::kQuoted ||
                       tk_[after].kind == TokenKind::kString ||
                       (tk_[after].kind == TokenKind::kWord && !word_in(after, kOperatorWords));
    if (!alias || !item_ends(after + 1)) return Place{};
    aliased = true;
  }
  const size_t position = commas(select, first, -1);
  if (kind_ == StatementKind::kInsert) return Place{Use::kInsertValue, -1, -1, position, false};
  return Place{Use::kResultItem, -1, -1, position, aliased};
}

// `column [NOT] BETWEEN low AND high`, the literal being low or high.
Place StatementReader::between_bound(int before, int after) const {
  if (word(before, Kw::kBetween) && word(after, Kw::kAnd)) {
    return column_left(word(before - 1, Kw::kNot) ? before - 2 : before - 1);
  }
  if (!word(before, Kw::kAnd) || !boundary_after(after)) return Place{};
  // The low bound: one number (with its sign), string or name.
  int low = before - 1;
  if (low < 0 || tk_[low].kind == TokenKind::kPunct) return Place{};
  if (tk_[low].kind == TokenKind::kNumber && (is(low - 1, '-') || is(low - 1, '+')) &&
      introduces_operand(low - 2)) {
    --low;
  }
  if (!word(low - 1, Kw::kBetween)) return Place{};
  return column_left(word(low - 2, Kw::kNot) ? low - 3 : low - 2);
}

// `name type ... DEFAULT literal` in a CREATE TABLE or an ALTER TABLE ...
// ADD [COLUMN].
Place StatementReader::default_of(int before) const {
  const int level = tk_[before].open;
  int k = before - 1;
  if (level >= 0) {
    while (k > level && !(is(k, ',') && tk_[k].open == level)) --k;
  } else {
    while (k >= 0 && !word(k, Kw::kAdd) && !word(k, Kw::kColumn)) --k;
    if (k < 0) return Place{};
  }
  if (!name_token(k + 1)) return Place{};
  return Place{Use::kDefault, k + 1, before - 1, 0, false};
}

// Where the long literal of tokens [first, i] stands.
Place StatementReader::place_of(int first, int i) const {
  const int before = first - 1;
  const int after = i + 1;
  const int level = tk_[i].open;
  // An item of a list in parentheses: a VALUES row, the list of an IN.
  if (level >= 0 && (before == level || is(before, ',')) && (is(after, ',') || is(after, ')'))) {
    if (tk_[level].paren == Paren::kRow) {
      return Place{Use::kInsertValue, -1, -1, commas(level, first, level), false};
    }
    if (tk_[level].paren == Paren::kList) {
      return column_left(word(level - 2, Kw::kNot) ? level - 3 : level - 2);
    }
  }
  Place place = select_item(first, i);
  if (place.use != Use::kNone) return place;
  place = between_bound(before, after);
  if (place.use != Use::kNone) return place;
  const int op_first = comparison_ending_at(before);
  if (op_first >= 0 && boundary_after(after)) {
    place = column_left(op_first - 1);
    if (place.use != Use::kNone) return place;
  }
  const int op_last = after < count() ? comparison_starting_at(after) : -1;
  if (op_last >= 0 && boundary_before(before)) return column_right(op_last + 1);
  if (word(before, Kw::kDefault)) return default_of(before);
  return Place{};
}

// The declared type of a table's column; null when there is no such column
// (the table may be a view, a CTE or not exist yet).
const char* StatementReader::declared_type(const std::string& schema, const std::string& table,
                                           const std::string& column) const {
  const char* type = nullptr;
  const int rc =
      sqlite3_table_column_metadata(db_, schema.empty() ? nullptr : schema.c_str(), table.c_str(),
                                    column.c_str(), &type, nullptr, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return nullptr;
  return type != nullptr ? type : "";
}

// A column the text names: every table of the statement that has a column
// of that name (or the one its qualifier names) gives it TEXT affinity.
bool StatementReader::column_keeps_text(const Place& place) const {
  std::vector<std::string> parts;
  for (int k = place.first; k <= place.last; k += 2) parts.push_back(name(k));
  const std::string& column = parts.back();
  if (parts.size() == 3) return text_affinity(declared_type(parts[0], parts[1], column));
  bool found = false;
  auto check = [&](const TableName& table) {
    const char* type = declared_type(table.schema, table.name, column);
    if (type == nullptr) return true;
    found = true;
    return text_affinity(type);
  };
  if (parts.size() == 2) {
    for (const std::string& query : queries_) {
      if (same_name(query, parts[0])) return false;
    }
    bool named = false;
    for (const TableName& table : tables_) {
      if (!same_name(table.alias, parts[0])) continue;
      named = true;
      if (!check(table)) return false;
    }
    for (const TableName& table : tables_) {
      if (named || !table.alias.empty() || !same_name(table.name, parts[0])) continue;
      named = true;
      if (!check(table)) return false;
    }
    if (!named) return check(TableName{"", parts[0], ""}) && found;
    return found;
  }
  for (const TableName& table : tables_) {
    if (!check(table)) return false;
  }
  return found;
}

// Value `position` of an INSERT goes into the listed column, or into the
// table's column at that position (of those a value is given for).
bool StatementReader::insert_value_keeps_text(size_t position) {
  if (target_ < 0) return false;
  const TableName& table = tables_[static_cast<size_t>(target_)];
  if (columns_listed_) {
    return position < columns_.size() &&
           text_affinity(declared_type(table.schema, table.name, columns_[position]));
  }
  const std::vector<std::string>* types =
      table_columns_->value_columns(db_, table.schema, table.name);
  return types != nullptr && position < types->size() && text_affinity((*types)[position].c_str());
}

bool StatementReader::keeps_text(const Place& place) {
  switch (place.use) {
    case Use::kColumn:
      return column_keeps_text(place);
    case Use::kInsertValue:
      return insert_value_keeps_text(place.position);
    case Use::kDefault: {
      // The type is the words after the name, up to the first constraint.
      std::string type;
      for (int k = place.first + 1; k <= place.last && tk_[k].kind == TokenKind::kWord; ++k) {
        if (word_in(k, kConstraintWords)) {
          break;
        }
        type += lx_.upper(token(k)) + ' ';
      }
      return text_affinity(type.c_str());
    }
    default:
      return false;
  }
}

std::vector<Replacement> StatementReader::replacements() {
  std::vector<Replacement> out;
  LongLiteral literal;
  for (int i = 0; i < count(); ++i) {
    const Token t = token(i);
    if (t.kind != TokenKind::kNumber || t.end - t.begin <= kDoubleDigits) continue;
    // A unary sign goes with the number.
    int first = i;
    if ((is(i - 1, '-') || is(i - 1, '+')) && introduces_operand(i - 2)) first = i - 1;
    const bool negative = is(first, '-');
    if (!read_long_literal(std::string_view(sql_).substr(t.begin, t.end - t.begin), negative,
                           &literal)) {
      continue;
    }
    const Place place = place_of(first, i);
    const size_t begin = tk_[first].begin;
    if (place.use == Use::kResultItem) {
      if (double_gives_back(literal.text)) continue;
      std::string text = "CAST('" + literal.text + "' AS NUMERIC TEXT(" +
                         std::to_string(literal.precision) + "," + std::to_string(literal.scale) +
                         "))";
      if (!place.aliased) {
        // The name SQLite gave the item: its text as written.
        text += " AS \"";
        for (size_t k = begin; k < t.end; ++k) {
          if (sql_[k] == '"') text += '"';
          text += sql_[k];
        }
        text += '"';
      }
      out.push_back(Replacement{begin, t.end, std::move(text)});
    } else if (place.use != Use::kNone && keeps_text(place)) {
      out.push_back(Replacement{begin, t.end, "'" + literal.text + "'"});
    }
  }
  return out;
}

}  // namespace

bool may_hold_long_literals(std::string_view text) {
  // What each byte is to the scan: most are nothing (0).
  enum : uint8_t { kOther, kDigit, kPoint, kQuote, kDash, kSlash };
  struct Classes {
    uint8_t of[256] = {};
    constexpr Classes() {
      for (int c = '0'; c <= '9'; ++c) of[c] = kDigit;
      of[static_cast<uint8_t>('.')] = kPoint;
      of[static_cast<uint8_t>('\'')] = kQuote;
      of[static_cast<uint8_t>('"')] = kQuote;
      of[static_cast<uint8_t>('-')] = kDash;
      of[static_cast<uint8_t>('/')] = kSlash;
    }
  };
  static constexpr Classes kClasses;
  uint32_t digits = 0;  // of the current run of digits and points
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    if (kClasses.of[static_cast<uint8_t>(*p)] == kOther) {
      digits = 0;
      do ++p;
      while (p < end && kClasses.of[static_cast<uint8_t>(*p)] == kOther);
      continue;
    }
    const char c = *p++;
    const uint8_t kind = kClasses.of[static_cast<uint8_t>(c)];
    if (kind == kDigit) {
      if (++digits > kDoubleDigits) return true;
      continue;
    }
    if (kind == kPoint) continue;
    digits = 0;
    // Past strings, quoted names and comments (an apostrophe in a comment
    // opens no string).
    const void* close = nullptr;
    if (kind == kQuote) {
      close = std::memchr(p, c, static_cast<size_t>(end - p));
    } else if (p < end && *p == c && kind == kDash) {
      close = std::memchr(p, '\n', static_cast<size_t>(end - p));
    } else if (p < end && *p == '*' && kind == kSlash) {
      const size_t at = text.find("*/", static_cast<size_t>(p + 1 - text.data()));
      close = at == std::string_view::npos ? nullptr : text.data() + at + 1;
    } else {
      continue;
    }
    if (close == nullptr) return false;  // to the end
    p = static_cast<const char*>(close) + 1;
  }
  return false;
}

void rewrite_long_literals(sqlite3* db, std::string* sql, size_t from, TableColumns* columns) {
  TableColumns own;  // when the caller keeps none
  StatementReader reader(db, *sql, from, columns != nullptr ? columns : &own);
  if (!reader.read()) return;
  const std::vector<Replacement> replacements = reader.replacements();
  if (replacements.empty()) return;
  std::string out;
  out.reserve(sql->size() + 64 * replacements.size());
  size_t at = 0;
  for (const Replacement& r : replacements) {
    out.append(*sql, at, r.begin - at);
    out += r.text;
    at = r.end;
  }
  out.append(*sql, at, std::string::npos);
  sql->swap(out);
}

}  // namespace q4::lite
