// The table the result benchmarks read, the same on every data source
// (bench/bench_data.sh fills it):
//   bench (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), created DATE,
//          note VARCHAR(200))
// and one row of it as the benchmarks read it, bound or with SQLGetData.
#pragma once

#include <sql.h>
#include <sqlext.h>

namespace bench {

inline constexpr const char* kBenchQuery = "SELECT id, name, amount, created, note FROM bench";

struct Row {
  SQLINTEGER id;
  char name[41];
  char amount[32];
  DATE_STRUCT created;
  char note[201];
  SQLLEN lengths[5];
};

// The ODBC calls that put a column's value into the application's place:
// SQLBindCol and SQLGetData take the same arguments.
using ColumnCall = SQLRETURN (*)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);

// Makes `call` for each of the five columns of kBenchQuery with its place in
// `r`; `date_type` is SQL_C_DATE for an ODBC 2 application, SQL_C_TYPE_DATE
// for an ODBC 3 one.
inline void each_column(ColumnCall call, SQLHSTMT stmt, Row* r, SQLSMALLINT date_type) {
  call(stmt, 1, SQL_C_LONG, &r->id, 0, &r->lengths[0]);
  call(stmt, 2, SQL_C_CHAR, r->name, sizeof r->name, &r->lengths[1]);
  call(stmt, 3, SQL_C_CHAR, r->amount, sizeof r->amount, &r->lengths[2]);
  call(stmt, 4, date_type, &r->created, sizeof r->created, &r->lengths[3]);
  call(stmt, 5, SQL_C_CHAR, r->note, sizeof r->note, &r->lengths[4]);
}

// Binds the columns to `r` (SQLBindCol).
inline void bind_row(SQLHSTMT stmt, Row* r, SQLSMALLINT date_type) {
  each_column(SQLBindCol, stmt, r, date_type);
}

// Reads the current row's columns into `r` (SQLGetData).
inline void get_row(SQLHSTMT stmt, Row* r, SQLSMALLINT date_type) {
  each_column(SQLGetData, stmt, r, date_type);
}

// Folds what was read into a checksum, so that no loop can be cut short and
// the data sources can be compared. Row order does not count: a server may
// send the rows of a SELECT without ORDER BY in any order.
inline unsigned long long fold(unsigned long long sum, const Row& r) {
  unsigned long long h = static_cast<unsigned long long>(r.id) * 1000003u;
  h ^= static_cast<unsigned long long>(r.lengths[1]) << 20 ^ r.lengths[4] << 8 ^ r.created.day;
  h ^= static_cast<unsigned long long>(r.created.month) << 40 ^ static_cast<unsigned>(r.amount[0]);
  return sum + h * 0x9E3779B97F4A7C15ull;
}

}  // namespace bench
