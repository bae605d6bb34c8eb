// Numbers typed into a statement with more digits than a double keeps.
// SQLite reads an unquoted 12345678901234567890.0123456789 as a double before
// any column sees it, so `INSERT INTO exact VALUES (1,
// 12345678901234567890.0123456789)` stored 12345678901234600000 in a
// NUMERIC(30,10) column although that column keeps decimal text
// (decimal_columns.h). Before a statement is compiled, q4lite therefore
// rewrites a long literal -- a number without exponent with more than 15
// significant digits (DBL_DIG) that is not an integer a 64-bit integer holds
// -- where keeping its digits changes nothing but the digits:
//
// - Stored into or compared with a column of TEXT affinity (q4lite's exact
//   decimal columns, character columns): a value of an INSERT (a VALUES item
//   or a SELECT item, by its position), `SET c = ...` of an UPDATE or an
//   upsert, `c = ...` and the other comparisons, `c IN (...)`,
//   `c BETWEEN ... AND ...`, and a column's DEFAULT. The literal becomes the
//   string literal of its digits, a unary minus taken in
//   ('-12345678901234567890.0123456789'): the column keeps it as written and
//   compares it with its collation, by value. Other columns are left alone:
//   a numeric column would turn the text into the very double SQLite reads
//   the number as, and a column without a declared type would keep text
//   where it kept a number.
// - An item of the result of a SELECT (its first select list) whose double
//   does not give its digits back (q4lite sends a double as its shortest
//   decimal): it becomes CAST('...' AS NUMERIC TEXT(p,s)) under the name the
//   item had, so that its value travels as exact decimal text and the column
//   is described as SQL_NUMERIC(p,s) with the literal's digits (30,10 above).
//   A literal that is the shortest form of its double (0.30000000000000004,
//   a double parameter as the driver writes it) stays a double.
//
// Everywhere else (arithmetic, function arguments, an expression compared
// with a literal) a literal stays the number SQLite makes of it: text there
// would compare and sort after every number. A literal with an exponent
// (1e300) is approximate by definition and is left alone, as are literals
// inside strings, quoted names and comments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace q4::lite {

// What the rewriting asks of the database: the columns' declared types as
// they are now. The caller answers from its SQLite connection.
class DeclaredTypes {
 public:
  virtual ~DeclaredTypes() = default;
  // The declared type of `column` of `table` (in `schema`, or where SQLite
  // finds an unqualified name when `schema` is empty): "" when it has none,
  // null when there is no such column (the table may be a view or not exist
  // yet). Valid until the next call.
  virtual const char* column_type(const std::string& schema, const std::string& table,
                                  const std::string& column) = 0;
  // The declared types of the columns that an INSERT without a column list
  // gives its values to, in their order; null when there is no such table.
  // Valid until the next call.
  virtual const std::vector<std::string>* value_columns(const std::string& schema,
                                                        const std::string& table) = 0;
};

// False when `text` holds no run of more than 15 digits outside string
// literals and quoted names: then it holds no long literal, and statements
// need not be read further (nearly all of them).
bool may_hold_long_literals(std::string_view text);

// Rewrites, as described above, the long literals of the one statement of
// `sql` that starts at byte `from` (after white space, comments and empty
// statements) and ends at its ";" or the end of the text. `types` tells the
// columns' types as they are now, so a statement is rewritten just before it
// is compiled, after the statements before it ran. Text after the statement
// is kept as it is.
void rewrite_long_literals(std::string* sql, size_t from, DeclaredTypes* types);

}  // namespace q4::lite
