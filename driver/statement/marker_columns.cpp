#include "statement/marker_columns.h"

#include <cstring>

#include "core/memory.h"
#include "statement/sql_scanner.h"

namespace q4 {

namespace {

constexpr size_t kNotFound = SIZE_MAX;
// Longer texts are not read: their tokens would take more memory than a
// description is worth (a text this long is generated, not written, and its
// markers are described as unknown).
constexpr uint64_t kMaxReadText = 16u << 20;

// The tokens of a text with, for each marker, its number in text order.
struct TokenList {
  Token* tokens = nullptr;
  uint32_t* ordinals = nullptr;  // of markers; 0 for other tokens
  size_t count = 0;
  uint32_t markers = 0;

  ~TokenList() {
    drv_free(tokens);
    drv_free(ordinals);
  }

  // Two walks: one to count, one to fill; false when memory ran out.
  bool read(const char* text, uint64_t length) {
    SqlScanner counter(text, length);
    while (counter.next_token().kind != TokenKind::kEnd) ++count;
    tokens = drv_alloc_array<Token>(nullptr, nullptr, count + 1);
    ordinals = drv_alloc_array<uint32_t>(nullptr, nullptr, count + 1);
    if (tokens == nullptr || ordinals == nullptr) return false;
    SqlScanner scan(text, length);
    for (size_t i = 0; i < count; ++i) {
      tokens[i] = scan.next_token();
      if (tokens[i].kind == TokenKind::kMarker) ordinals[i] = markers++;
    }
    tokens[count] = Token{TokenKind::kEnd, length, 0};
    return true;
  }
};

// The statement forms of the header, matched over a token list. Every
// `size_t` is a token index; past the last token every index reads kEnd.
class Reader {
 public:
  Reader(const char* text, const TokenList& list, MarkerTarget* targets, TextName* table)
      : text_(text), list_(list), targets_(targets), table_(table) {}

  // True when at least one marker was given a column.
  bool run() {
    if (word(0, "INSERT") || word(0, "REPLACE")) {
      insert();
    } else if (word(0, "UPDATE")) {
      update();
    } else if (word(0, "DELETE")) {
      delete_from();
    } else if (word(0, "SELECT")) {
      select();
    }
    return attributed_;
  }

 private:
  const Token& at(size_t i) const {
    return i < list_.count ? list_.tokens[i] : list_.tokens[list_.count];
  }
  TokenKind kind(size_t i) const { return at(i).kind; }

  bool word(size_t i, const char* keyword) const {
    const Token& t = at(i);
    size_t n = strlen(keyword);
    return t.kind == TokenKind::kWord && t.length == n &&
           equal_ignoring_case(text_ + t.offset, keyword, n);
  }
  bool any_word(size_t i, const char* const* keywords) const {
    for (; *keywords != nullptr; ++keywords) {
      if (word(i, *keywords)) return true;
    }
    return false;
  }
  bool symbol(size_t i, const char* s) const {
    const Token& t = at(i);
    size_t n = strlen(s);
    return t.kind == TokenKind::kSymbol && t.length == n && memcmp(text_ + t.offset, s, n) == 0;
  }
  bool is_name(size_t i) const {
    return kind(i) == TokenKind::kWord || kind(i) == TokenKind::kQuotedName;
  }
  TextName name(size_t i) const {
    const Token& t = at(i);
    return TextName{t.offset, t.length, t.kind == TokenKind::kQuotedName};
  }

  // Words after which a value of a condition ends.
  bool ends_operand(size_t i) const {
    static const char* const kEnders[] = {"AND",    "OR",        "ORDER",     "GROUP",
                                          "LIMIT",  "HAVING",    "RETURNING", "UNION",
                                          "EXCEPT", "INTERSECT", "WINDOW",    nullptr};
    return kind(i) == TokenKind::kEnd || symbol(i, ")") || symbol(i, ";") || any_word(i, kEnders);
  }
  // Tokens after which an operand of a condition begins.
  bool starts_operand_after(size_t i) const {
    return word(i, "WHERE") || word(i, "AND") || word(i, "OR") || word(i, "NOT") || symbol(i, "(");
  }
  bool comparison(size_t i) const {
    static const char* const kOperators[] = {"=", "==", "<>", "!=", "<", ">", "<=", ">="};
    for (const char* op : kOperators) {
      if (symbol(i, op)) return true;
    }
    return false;
  }

  void give(size_t marker_token, MarkerTarget target) {
    targets_[list_.ordinals[marker_token]] = target;
    attributed_ = true;
  }
  void give_column(size_t marker_token, const TextName& column) {
    give(marker_token, MarkerTarget{MarkerTarget::Kind::kNamedColumn, column, 0});
  }

  // A table name, qualified or not; the last part is the table. Returns the
  // index after it, or kNotFound.
  size_t table_at(size_t i) {
    if (!is_name(i)) return kNotFound;
    while (symbol(i + 1, ".") && is_name(i + 2)) i += 2;
    *table_ = name(i);
    return i + 1;
  }

  bool any_select_after(size_t first) const {
    for (size_t i = first; i < list_.count; ++i) {
      if (word(i, "SELECT")) return true;
    }
    return false;
  }

  // INSERT [OR x] INTO t [(names)] VALUES (row)[, (row)...]
  void insert() {
    size_t i = 1;
    if (word(i, "OR")) i += 2;
    if (!word(i, "INTO")) return;
    i = table_at(i + 1);
    if (i == kNotFound) return;
    size_t names_at = kNotFound;  // the first name of the list; the k-th is at names_at + 2k
    size_t names = 0;
    if (symbol(i, "(")) {
      names_at = i + 1;
      for (i = names_at; is_name(i); i += 2) {
        ++names;
        if (symbol(i + 1, ")")) break;
        if (!symbol(i + 1, ",")) return;
      }
      if (names == 0 || !symbol(i + 1, ")")) return;
      i += 2;
    }
    if (!word(i, "VALUES")) return;
    for (++i; symbol(i, "(");) {
      i = values_row(i + 1, names_at, names);
      if (i == kNotFound || !symbol(i, ",") || !symbol(i + 1, "(")) return;
      ++i;
    }
  }

  // The items of one VALUES row from `i` (after its "("): an item that is a
  // marker alone meets the column of its place. Returns the index after the
  // row's ")", or kNotFound when the row does not close.
  size_t values_row(size_t i, size_t names_at, size_t names) {
    uint32_t place = 0;
    for (size_t item = i;; ++place) {
      size_t end = item;
      for (int depth = 0; kind(end) != TokenKind::kEnd; ++end) {
        if (depth == 0 && (symbol(end, ",") || symbol(end, ")"))) break;
        if (symbol(end, "(")) ++depth;
        if (symbol(end, ")")) --depth;
      }
      if (kind(end) == TokenKind::kEnd) return kNotFound;
      if (end == item + 1 && kind(item) == TokenKind::kMarker) {
        if (names_at == kNotFound) {
          give(item, MarkerTarget{MarkerTarget::Kind::kColumnNumber, TextName{}, place});
        } else if (place < names) {
          give_column(item, name(names_at + 2 * place));
        }
      }
      if (symbol(end, ")")) return end + 1;
      item = end + 1;
    }
  }

  // UPDATE [OR x] t [[AS] alias] SET a = ?, ... [WHERE ...]
  void update() {
    size_t i = 1;
    if (word(i, "OR")) i += 2;
    i = table_at(i);
    if (i == kNotFound) return;
    TextName alias{};
    i = alias_at(i, &alias);
    if (!word(i, "SET")) return;
    for (++i;;) {
      if (is_name(i) && symbol(i + 1, "=") && kind(i + 2) == TokenKind::kMarker &&
          set_item_ends(i + 3)) {
        give_column(i + 2, name(i));
      }
      // On to the next item: a "," outside parentheses, or the end of SET.
      int depth = 0;
      for (; kind(i) != TokenKind::kEnd; ++i) {
        if (depth == 0 && (symbol(i, ",") || set_item_ends(i))) break;
        if (symbol(i, "(")) ++depth;
        if (symbol(i, ")")) --depth;
      }
      if (!symbol(i, ",")) break;
      ++i;
    }
    // UPDATE ... FROM joins other tables into the condition.
    if (word(i, "WHERE") && !any_select_after(1)) where(i + 1, alias);
  }
  bool set_item_ends(size_t i) const {
    return kind(i) == TokenKind::kEnd || symbol(i, ",") || symbol(i, ";") || word(i, "WHERE") ||
           word(i, "FROM") || word(i, "RETURNING") || word(i, "ORDER") || word(i, "LIMIT");
  }

  // DELETE FROM t [[AS] alias] WHERE ...
  void delete_from() {
    if (!word(1, "FROM")) return;
    size_t i = table_at(2);
    if (i == kNotFound) return;
    TextName alias{};
    i = alias_at(i, &alias);
    if (word(i, "WHERE") && !any_select_after(1)) where(i + 1, alias);
  }

  // SELECT ... FROM t [[AS] alias] WHERE ...: one table, no nested SELECT.
  void select() {
    if (any_select_after(1)) return;
    size_t i = 1;
    for (int depth = 0; kind(i) != TokenKind::kEnd; ++i) {
      if (depth == 0 && word(i, "FROM")) break;
      if (symbol(i, "(")) ++depth;
      if (symbol(i, ")")) --depth;
    }
    if (kind(i) == TokenKind::kEnd) return;
    i = table_at(i + 1);
    if (i == kNotFound) return;
    TextName alias{};
    i = alias_at(i, &alias);
    if (word(i, "WHERE")) where(i + 1, alias);
  }

  // An alias after the table at `i` ("AS x", or a word that is not the next
  // clause). Returns the index after it; a join or a second table makes the
  // statement one of several tables, answered with kNotFound's stand-in: the
  // index of the end, where nothing more is read.
  size_t alias_at(size_t i, TextName* alias) {
    static const char* const kClauses[] = {"WHERE",  "SET",       "GROUP",     "ORDER",
                                           "LIMIT",  "HAVING",    "WINDOW",    "UNION",
                                           "EXCEPT", "INTERSECT", "RETURNING", nullptr};
    static const char* const kJoins[] = {"JOIN",  "INNER",   "LEFT",  "RIGHT", "FULL",
                                         "CROSS", "NATURAL", "OUTER", nullptr};
    if (symbol(i, ",") || any_word(i, kJoins)) return list_.count;
    if (word(i, "AS") && is_name(i + 1)) {
      *alias = name(i + 1);
      i += 2;
    } else if (is_name(i) && !any_word(i, kClauses)) {
      *alias = name(i);
      ++i;
    }
    if (symbol(i, ",") || any_word(i, kJoins)) return list_.count;
    return i;
  }

  // A column of the one table at `i`: "c", or "q.c" with q the table or its
  // alias. Returns the index after it, or kNotFound.
  size_t column_at(size_t i, const TextName& alias, TextName* column) const {
    if (!is_name(i)) return kNotFound;
    if (!symbol(i + 1, ".")) {
      *column = name(i);
      return i + 1;
    }
    if (!is_name(i + 2) || symbol(i + 3, ".")) return kNotFound;
    TextName qualifier = name(i);
    bool ours = same_name(text_, qualifier, *table_) ||
                (alias.length > 0 && same_name(text_, qualifier, alias));
    if (!ours) return kNotFound;
    *column = name(i + 2);
    return i + 3;
  }

  // The comparisons of a condition from `i` (after WHERE) to its end.
  void where(size_t i, const TextName& alias) {
    static const char* const kStops[] = {"GROUP", "ORDER",  "LIMIT",  "HAVING",    "RETURNING",
                                         "UNION", "EXCEPT", "WINDOW", "INTERSECT", nullptr};
    for (size_t k = i; kind(k) != TokenKind::kEnd && !symbol(k, ";") && !any_word(k, kStops); ++k) {
      if (k != i && !starts_operand_after(k - 1)) continue;
      TextName column{};
      size_t after = column_at(k, alias, &column);
      if (after != kNotFound) {
        column_condition(after, column);
      } else if (kind(k) == TokenKind::kMarker && comparison(k + 1)) {
        // ? op column
        after = column_at(k + 2, alias, &column);
        if (after != kNotFound && ends_operand(after)) give_column(k, column);
      }
    }
  }

  // What follows a column at `i`: "op ?", "[NOT] BETWEEN ? AND ?" or
  // "[NOT] IN (?, ...)".
  void column_condition(size_t i, const TextName& column) {
    if (comparison(i)) {
      if (kind(i + 1) == TokenKind::kMarker && ends_operand(i + 2)) give_column(i + 1, column);
      return;
    }
    if (word(i, "NOT")) ++i;
    if (word(i, "BETWEEN")) {
      if (kind(i + 1) == TokenKind::kMarker && word(i + 2, "AND") &&
          kind(i + 3) == TokenKind::kMarker && ends_operand(i + 4)) {
        give_column(i + 1, column);
        give_column(i + 3, column);
      }
      return;
    }
    if (!word(i, "IN") || !symbol(i + 1, "(")) return;
    for (size_t k = i + 2; kind(k) != TokenKind::kEnd; k += 2) {
      if (kind(k) == TokenKind::kMarker && (symbol(k + 1, ",") || symbol(k + 1, ")"))) {
        give_column(k, column);
      }
      if (!symbol(k + 1, ",")) return;
    }
  }

  const char* text_;
  const TokenList& list_;
  MarkerTarget* targets_;
  TextName* table_;
  bool attributed_ = false;
};

}  // namespace

MarkerTargets::~MarkerTargets() {
  drv_free(targets_);
}

bool MarkerTargets::read(const char* text, uint64_t length) {
  drv_free(targets_);
  targets_ = nullptr;
  count_ = 0;
  table_ = TextName{};
  out_of_memory_ = false;
  if (length > kMaxReadText || SqlScanner(text, length).pass_through()) return false;
  TokenList list;
  out_of_memory_ = !list.read(text, length);
  if (out_of_memory_ || list.markers == 0) return false;
  targets_ = drv_alloc_array<MarkerTarget>(nullptr, nullptr, list.markers);
  out_of_memory_ = targets_ == nullptr;
  if (out_of_memory_) return false;
  count_ = list.markers;
  return Reader(text, list, targets_, &table_).run();
}

}  // namespace q4
