// ODBC escape clauses, which the driver passes through unchanged, rewritten
// as SQLite SQL: {d '...'}, {t '...'}, {ts '...'}, {fn name(...)},
// {oj ...} and {escape '...'}, nested in any order. Also replaces the tokens
// that stand for the binary blocks of a request by named parameters, and
// reads a parenthesised query at the start of the text or of an operand of
// UNION, INTERSECT or EXCEPT, which SQLite does not parse, as the subquery
// of SELECT * FROM.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace q4::lite {

// The parameter name that replaces the token 0x<index> ("0x0", "0x1", ...).
std::string binary_parameter_name(size_t index);

// Appends the SQLite form of `sql` to *out. Text inside string literals,
// quoted identifiers and comments is copied unchanged. The tokens 0x0 ..
// 0x<binary_count-1>, standing alone outside literals, become the parameters
// of binary_parameter_name. Returns false with *error set (the text of an
// "unsupported escape clause" or "unbalanced" message) when an escape is
// unknown or malformed.
bool translate_escapes(std::string_view sql, size_t binary_count, std::string* out,
                       std::string* error);

}  // namespace q4::lite
