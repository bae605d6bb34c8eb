// Exact decimal columns. SQLite keeps a number as a 64-bit integer or an
// 8-byte double: a NUMERIC(30,10) column's 12345678901234567890.0123456789
// came back as 12345678901234567168. q4lite therefore keeps the values of
// a NUMERIC or DECIMAL column whose declared precision a double or a 64-bit
// integer cannot hold as their decimal text:
//
// - The declaration is rewritten when a table is created (CREATE TABLE, ALTER
//   TABLE ... ADD): `d NUMERIC(30,10)` becomes
//   `d NUMERIC TEXT(30,10) COLLATE Q4DECIMAL`. The type name gives the column
//   SQLite's TEXT affinity, so a value arrives as the text it was written in
//   (a quoted literal keeps every digit; a number SQLite already read as a
//   double becomes that double's text), and q4lite still describes it as
//   SQL_NUMERIC(30,10) (type_map).
// - The Q4DECIMAL collation orders those texts as the numbers they are, so
//   comparisons with the column (`d > 5`, `d = 1.50`: the other side takes
//   the column's TEXT affinity and its collation), ORDER BY, GROUP BY,
//   DISTINCT, MIN, MAX, UNIQUE and indexes treat 1.5 and 1.50 as one value
//   and 9 below 10. Arithmetic (`d + 1`, SUM, AVG) reads the text as a
//   number, in doubles as SQLite always computes.
// - Values travel as SQL_NUMERIC text with the declared scale, rounded half
//   away from zero when the stored text has more decimals
//   (storage/value_encoding).
//
// Columns of 15 digits or fewer (every such decimal survives a double) and
// NUMERIC(p,0) up to 18 digits (a 64-bit integer) keep SQLite's NUMERIC
// affinity and native numbers: their tables stay as every SQLite tool reads
// them. The price of the others: a tool that opens the database without
// q4lite cannot sort or compare those columns ("no such collation sequence:
// Q4DECIMAL") until it registers a collation of that name.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace q4::lite {

// The collation name the rewritten declarations carry.
constexpr const char* kDecimalCollation = "Q4DECIMAL";

// True for a NUMERIC/DECIMAL(precision, scale) whose values a double or a
// 64-bit integer cannot all hold exactly (scale -1: none declared).
bool needs_decimal_text(long precision, long scale);

// Rewrites the exact decimal column declarations of the CREATE TABLE and
// ALTER TABLE ... ADD statements in `sql` as described above; any other
// text is left alone (and not copied). Declarations inside string literals,
// quoted identifiers and comments are not touched.
void rewrite_decimal_declarations(std::string* sql);

// The Q4DECIMAL order: texts that are numbers (protocol/decimal_text.h) by
// value, before all other texts, which follow in byte order. Numbers of
// equal value compare equal (1.5, 1.50, 15e-1).
int compare_decimal_texts(const char* a, size_t a_length, const char* b, size_t b_length);

// Registers Q4DECIMAL on `db`; returns SQLite's result code.
int register_decimal_collation(sqlite3* db);

}  // namespace q4::lite
