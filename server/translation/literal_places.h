// Where the long numbers of one statement stand: read from its tokens, for
// the rewrite of numeric literals (exact_literals.h). A number stands alone
// (not in a larger expression) as a value of an INSERT, in a comparison or
// assignment with a column, in an IN list or a BETWEEN of a column, as a
// column's DEFAULT, or as an item of a query's result; anything else is no
// place. The statement also tells which tables it names, so that a column
// can be looked up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/translation/sql_tokens.h"

namespace q4::lite {

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

// A number token of more than 15 characters, with a unary sign before it.
struct NumberAt {
  size_t begin;   // the sign's first byte, or the number's
  size_t digits;  // the number's first byte
  size_t end;
  bool negative;
  Place place;
};

struct TableName {
  std::string schema;  // empty when not named
  std::string name;
  std::string alias;
};

enum class Kw : uint8_t;  // the keywords the reader knows (literal_places.cpp)

// Names compared as SQLite compares them: ASCII letters without their case.
bool same_name(const std::string& a, const std::string& b);

class StatementPlaces {
 public:
  // The statement of `sql` from byte `from` on (after white space, comments
  // and empty statements), up to its ";" or the end.
  StatementPlaces(const std::string& sql, size_t from) : sql_(sql), lx_(sql, from) {}

  // Reads the statement; false when it holds no number token of more than
  // 15 characters (then nothing else is read).
  bool read();
  // Those numbers, in text order, with their places.
  std::vector<NumberAt> numbers() const;

  // The tables it names (FROM, JOIN, INTO, UPDATE), the INSERT's among
  // them with its column list (whether it has one, and the name at a
  // position: empty beyond the list), and the names WITH gives its queries
  // (no tables, whatever tables of those names exist).
  const std::vector<TableName>& tables() const { return tables_; }
  const TableName* insert_table() const;
  bool lists_insert_columns() const { return column_list_ >= 0; }
  std::string insert_column(size_t position) const;
  const std::vector<std::string>& query_names() const { return queries_; }
  // A kColumn place's name parts, [[schema,] table,] column.
  std::vector<std::string> column_names(const Place& place) const;
  // A kDefault place's column type: the words after its name, upper case.
  std::string declared_type(const Place& place) const;

 private:
  enum class Paren : uint8_t { kOther, kRow, kList };
  enum class Kind : uint8_t { kOther, kSelect, kInsert };
  // One token (20 bytes: a statement of many rows of values has many).
  struct Tok {
    uint32_t begin;
    uint32_t end;
    int32_t open;    // the "(" the token is directly inside, -1 at the top level
    int32_t select;  // at the top level inside a select list that gives values: its SELECT
    TokenKind kind;
    Kw keyword;   // for a word that is one of the keywords
    Paren paren;  // for a "(": a VALUES row of an INSERT, the list of an IN
    bool from;    // for a "(": a FROM clause directly inside it is being read
  };
  using KeywordSet = unsigned __int128;

  int count() const { return static_cast<int>(tk_.size()); }
  bool is(int i, char c) const {
    return i >= 0 && i < count() && tk_[i].kind == TokenKind::kPunct && sql_[tk_[i].begin] == c;
  }
  TokenKind kind(int i) const { return i >= 0 && i < count() ? tk_[i].kind : TokenKind::kEnd; }
  Kw keyword(int i) const { return i >= 0 && i < count() ? tk_[i].keyword : Kw{}; }
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

  const std::string& sql_;
  Lexer lx_;
  std::vector<Tok> tk_;
  Kind kind_ = Kind::kOther;
  std::vector<TableName> tables_;
  std::vector<std::string> queries_;
  int target_ = -1;       // the INSERT's table in tables_
  int column_list_ = -1;  // the "(" of the INSERT's column list
};

}  // namespace q4::lite
