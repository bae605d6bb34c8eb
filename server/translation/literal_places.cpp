#include "server/translation/literal_places.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <iterator>
#include <string_view>

namespace q4::lite {

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

namespace {

// Number tokens longer than this may hold more digits than a double keeps.
constexpr size_t kLongNumber = 15;

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

}  // namespace

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

bool StatementPlaces::read() {
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
    if (t.kind == TokenKind::kNumber && t.end - t.begin > kLongNumber) numbers = true;
  }
  if (!numbers) return false;
  read_structure();
  return true;
}

bool StatementPlaces::ends_select_list(int i) const {
  return word_in(i, kEndsSelectList);
}

// The statement's kind, the lists whose items are values, and the tables
// it names (FROM, JOIN, INTO, UPDATE).
void StatementPlaces::read_structure() {
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
          kind_ = word(i, Kw::kSelect)                            ? Kind::kSelect
                  : word(i, Kw::kInsert) || word(i, Kw::kReplace) ? Kind::kInsert
                                                                  : Kind::kOther;
          with = first && word(i, Kw::kWith);
          first = false;
        }
        if (word(i, Kw::kSelect)) {
          // An INSERT's every select list gives values; a query's first one
          // describes its result.
          const bool gives = kind_ == Kind::kInsert || (kind_ == Kind::kSelect && selects == 0);
          select = gives ? i : -1;
          ++selects;
        } else if (ends_select_list(i)) {
          select = -1;
        }
        values = kind_ == Kind::kInsert && word(i, Kw::kValues);
      }
      if (word(i, Kw::kAs)) read_query_name(i);
      if (word(i, Kw::kFrom) || word(i, Kw::kJoin)) {
        in_from(level) = true;
        read_table(i + 1);
      } else if (word_in(i, kEndsFrom)) {
        in_from(level) = false;
      } else if (word(i, Kw::kInto) && top && kind_ == Kind::kInsert && target_ < 0) {
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
int StatementPlaces::read_table(int i, bool target) {
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
void StatementPlaces::read_query_name(int as) {
  int k = as + 1;
  if (word(k, Kw::kNot)) ++k;
  if (word(k, Kw::kMaterialized)) ++k;
  if (!is(k, '(')) return;
  int name_at = as - 1;
  if (is(name_at, ')') && name_at > 0) name_at = tk_[name_at - 1].open - 1;  // past the columns
  if (name_token(name_at)) queries_.push_back(name(name_at));
}

// INSERT INTO [schema.]table [AS alias] [(column, ...)].
void StatementPlaces::read_insert_target(int i) {
  const int next = read_table(i, true);
  if (next < 0) return;
  target_ = static_cast<int>(tables_.size()) - 1;
  if (!is(next, '(')) return;
  column_list_ = next;
}

// Tokens after which a sign is a unary minus or plus of the number after it.
bool StatementPlaces::introduces_operand(int i) const {
  if (i < 0) return true;
  if (tk_[i].kind == TokenKind::kPunct) return !is(i, ')');
  return word_in(i, kBeforeOperand);
}

// Token i ends what comes before an operand of a comparison, so that the
// comparison is not part of a larger expression of higher precedence.
bool StatementPlaces::boundary_before(int i) const {
  if (i < 0 || is(i, '(') || is(i, ',')) return true;
  if (word(i, Kw::kNot)) return !word(i - 1, Kw::kIs);
  return word_in(i, kBeforeAloneOperand);
}

// Token i (count() at the end) ends an operand of a comparison.
bool StatementPlaces::boundary_after(int i) const {
  if (i >= count() || is(i, ')') || is(i, ',')) return true;
  return word_in(i, kAfterOperand);
}

// A comparison operator (= == != <> < <= > >=) that ends at token i (each
// character is a token of its own): its first token, or -1.
int StatementPlaces::comparison_ending_at(int i) const {
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
int StatementPlaces::comparison_starting_at(int i) const {
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
Place StatementPlaces::column_left(int last) const {
  if (!name_token(last)) return Place{};
  int first = last;
  for (int parts = 1; parts < 3 && is(first - 1, '.') && name_token(first - 2); ++parts) first -= 2;
  if (is(first - 1, '.') || !boundary_before(first - 1)) return Place{};
  return Place{Use::kColumn, first, last, 0, false};
}

// A column starting at token `first`, standing alone after the operator
// before it.
Place StatementPlaces::column_right(int first) const {
  if (!name_token(first)) return Place{};
  int last = first;
  for (int parts = 1; parts < 3 && is(last + 1, '.') && name_token(last + 2); ++parts) last += 2;
  if (is(last + 1, '.') || is(last + 1, '(') || !boundary_after(last + 1)) return Place{};
  return Place{Use::kColumn, first, last, 0, false};
}

size_t StatementPlaces::commas(int from, int to, int level) const {
  size_t n = 0;
  for (int k = from + 1; k < to; ++k) {
    if (is(k, ',') && tk_[k].open == level) ++n;
  }
  return n;
}

// An item of a select list that gives values: [sign] number [[AS] alias].
Place StatementPlaces::select_item(int first, int i) const {
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
  if (kind_ == Kind::kInsert) return Place{Use::kInsertValue, -1, -1, position, false};
  return Place{Use::kResultItem, -1, -1, position, aliased};
}

// `column [NOT] BETWEEN low AND high`, the literal being low or high.
Place StatementPlaces::between_bound(int before, int after) const {
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
Place StatementPlaces::default_of(int before) const {
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
Place StatementPlaces::place_of(int first, int i) const {
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

std::vector<NumberAt> StatementPlaces::numbers() const {
  std::vector<NumberAt> out;
  for (int i = 0; i < count(); ++i) {
    if (tk_[i].kind != TokenKind::kNumber || tk_[i].end - tk_[i].begin <= kLongNumber) continue;
    // A unary sign goes with the number.
    int first = i;
    if ((is(i - 1, '-') || is(i - 1, '+')) && introduces_operand(i - 2)) first = i - 1;
    out.push_back(
        NumberAt{tk_[first].begin, tk_[i].begin, tk_[i].end, is(first, '-'), place_of(first, i)});
  }
  return out;
}

const TableName* StatementPlaces::insert_table() const {
  return target_ < 0 ? nullptr : &tables_[static_cast<size_t>(target_)];
}

std::string StatementPlaces::insert_column(size_t position) const {
  if (column_list_ < 0) return std::string();
  size_t at = 0;
  for (int k = column_list_ + 1; k < count() && tk_[k].open == column_list_; ++k) {
    if (is(k, ',')) ++at;
    if (at == position && name_token(k)) return name(k);
  }
  return std::string();
}

std::vector<std::string> StatementPlaces::column_names(const Place& place) const {
  std::vector<std::string> parts;
  for (int k = place.first; k <= place.last; k += 2) parts.push_back(name(k));
  return parts;
}

std::string StatementPlaces::declared_type(const Place& place) const {
  std::string type;
  for (int k = place.first + 1; k <= place.last && tk_[k].kind == TokenKind::kWord; ++k) {
    if (word_in(k, kConstraintWords)) break;
    if (!type.empty()) type += ' ';
    type += lx_.upper(token(k));
  }
  return type;
}

}  // namespace q4::lite
