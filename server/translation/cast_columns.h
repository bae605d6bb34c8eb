// Result columns that are a CAST to an exact decimal type. SQLite gives an
// expression no declared type, so `SELECT CAST(? AS NUMERIC(10,3))` was
// described from its first value, as a double; q4lite reads the statement's
// select list instead and describes such a column as the NUMERIC(10,3) it
// was cast to, its values written with that scale. Only NUMERIC, DECIMAL and
// DEC casts are taken: SQLite's CAST to other names (a DATE cast yields an
// integer) would describe values as what they are not.
#pragma once

#include <string>
#include <vector>

namespace q4::lite {

struct CastColumn {
  std::string name;  // the column name SQLite gives the item
  std::string type;  // the declared type text, "numeric(10,3)"
};

// The decimal CASTs among the items of the first top-level SELECT of `sql`,
// each with the name SQLite gives its column: the alias, or for an item
// without one the item's text as written. Empty when there are none.
std::vector<CastColumn> decimal_cast_columns(const std::string& sql);

}  // namespace q4::lite
