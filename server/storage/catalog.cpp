#include "server/storage/catalog.h"

#include <cctype>
#include <vector>

#include "protocol/wire.h"
#include "server/storage/error_map.h"
#include "server/storage/sqlite_handles.h"

namespace q4::lite {

namespace {

ColumnInfo column(const char* name, int16_t type, uint32_t precision, bool nullable = true) {
  ColumnInfo c;
  c.name = name;
  c.type = type;
  c.precision = precision;
  c.nullable = nullable ? 1 : 0;
  c.declared = true;
  return c;
}

ColumnInfo name_column(const char* name, bool nullable = true) {
  return column(name, kSqlVarchar, 128, nullable);
}
ColumnInfo small_column(const char* name, bool nullable = true) {
  return column(name, kSqlSmallint, 5, nullable);
}
ColumnInfo int_column(const char* name, bool nullable = true) {
  return column(name, kSqlInteger, 10, nullable);
}

// Every table and view of the main and temp schemas.
const char* const kSchema =
    "(SELECT name, type, sql, 'main' AS db FROM main.sqlite_schema "
    "UNION ALL SELECT name, type, sql, 'temp' FROM temp.sqlite_schema)";

// The type of a column p of pragma_table_info as SQLColumns and
// SQLSpecialColumns give it, and the result columns that carry it.
const char* const kTypeFields =
    "q4_type(p.type,'type'), q4_type(p.type,'name'), q4_type(p.type,'precision'), "
    "q4_type(p.type,'length'), q4_type(p.type,'scale')";
void add_type_columns(std::vector<ColumnInfo>* columns) {
  columns->insert(columns->end(),
                  {small_column("DATA_TYPE", false), name_column("TYPE_NAME", false),
                   int_column("PRECISION"), int_column("LENGTH"), small_column("SCALE")});
}

// After "FROM" and kSchema: the primary key columns p of the tables m whose
// name matches ?1.
const char* const kKeyColumns =
    " m JOIN pragma_table_info(m.name, m.db) p WHERE m.type = 'table' AND p.pk > 0 "
    "AND q4_match(?1, m.name)";

struct Query {
  std::string sql;
  std::vector<std::string> binds;  // ?1, ?2, ... in order
  bool integer_binds = false;      // the binds are integers, in decimal
  std::vector<ColumnInfo> columns;
};

Query tables(const CatalogRequest& r) {
  Query q;
  q.columns = {name_column("TABLE_QUALIFIER"), name_column("TABLE_OWNER"),
               name_column("TABLE_NAME"), name_column("TABLE_TYPE"),
               column("REMARKS", kSqlVarchar, 254)};
  const std::string_view qualifier = r.strings[0], owner = r.strings[1], table = r.strings[2],
                         type = r.strings[3];
  if (type == "%" && qualifier.empty() && owner.empty() && table.empty()) {
    // The list of table types.
    q.sql =
        "SELECT NULL, NULL, NULL, t, NULL FROM (SELECT 'SYSTEM TABLE' AS t UNION ALL "
        "SELECT 'TABLE' UNION ALL SELECT 'VIEW') ORDER BY t";
    return q;
  }
  const std::string kind =
      "CASE WHEN name LIKE 'sqlite\\_%' ESCAPE '\\' THEN 'SYSTEM TABLE' WHEN type = 'view' "
      "THEN 'VIEW' ELSE 'TABLE' END";
  q.sql = "SELECT NULL, NULL, name, " + kind + " AS kind, NULL FROM " + kSchema +
          " WHERE type IN ('table','view') AND q4_match(?1, name)";
  q.binds.emplace_back(table);
  // Qualifier or owner enumerations: SQLite has neither, so the lists are empty.
  if ((qualifier == "%" && owner.empty() && table.empty()) ||
      (owner == "%" && qualifier.empty() && table.empty())) {
    q.sql += " AND 0";
  }
  // The type list: "TABLE,VIEW" or "'TABLE','VIEW'"; "%" or empty for all.
  if (!type.empty() && type != "%") {
    std::string list;
    size_t start = 0;
    while (start <= type.size()) {
      size_t comma = type.find(',', start);
      if (comma == std::string_view::npos) comma = type.size();
      std::string item;
      for (char c : type.substr(start, comma - start)) {
        if (c != '\'' && !(item.empty() && c == ' ')) {
          item.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
      }
      while (!item.empty() && item.back() == ' ') item.pop_back();
      q.binds.push_back(item);
      list += (list.empty() ? "?" : ",?") + std::to_string(q.binds.size());
      start = comma + 1;
    }
    q.sql += " AND " + kind + " IN (" + list + ")";
  }
  q.sql += " ORDER BY kind, name";
  return q;
}

Query columns(const CatalogRequest& r) {
  Query q;
  q.columns = {name_column("TABLE_QUALIFIER"), name_column("TABLE_OWNER"),
               name_column("TABLE_NAME", false), name_column("COLUMN_NAME", false)};
  add_type_columns(&q.columns);
  q.columns.insert(q.columns.end(), {small_column("RADIX"), small_column("NULLABLE", false),
                                     column("REMARKS", kSqlVarchar, 254)});
  q.sql = std::string("SELECT NULL, NULL, m.name, p.name, ") + kTypeFields +
          ", q4_type(p.type,'radix'), CASE WHEN p.\"notnull\" THEN 0 ELSE 1 END, NULL FROM " +
          kSchema +
          " m JOIN pragma_table_info(m.name, m.db) p WHERE m.type IN ('table','view') "
          "AND q4_match(?1, m.name) AND q4_match(?2, p.name) ORDER BY m.name, p.cid";
  q.binds.emplace_back(r.strings[2]);
  q.binds.emplace_back(r.strings[3]);
  return q;
}

Query statistics(const CatalogRequest& r) {
  Query q;
  q.columns = {name_column("TABLE_QUALIFIER"),   name_column("TABLE_OWNER"),
               name_column("TABLE_NAME", false), small_column("NON_UNIQUE"),
               name_column("INDEX_QUALIFIER"),   name_column("INDEX_NAME"),
               small_column("TYPE", false),      small_column("SEQ_IN_INDEX"),
               name_column("COLUMN_NAME"),       column("COLLATION", kSqlChar, 1),
               int_column("CARDINALITY"),        int_column("PAGES"),
               name_column("FILTER_CONDITION")};
  // SQL_INDEX_UNIQUE (0) leaves out indexes that allow duplicates.
  const bool unique_only = r.numbers[0] == 0;
  q.sql = std::string(
              "SELECT * FROM ("
              "SELECT NULL, NULL, m.name AS t, NULL AS nu, NULL, NULL AS i, 0 AS ty, NULL AS s, "
              "NULL, NULL, NULL, NULL, NULL FROM ") +
          kSchema +
          " m WHERE m.type = 'table' AND q4_match(?1, m.name) "
          "UNION ALL SELECT NULL, NULL, m.name, NOT l.\"unique\", NULL, l.name, 3, x.seqno + 1, "
          "x.name, CASE WHEN x.desc THEN 'D' ELSE 'A' END, NULL, NULL, NULL FROM " +
          kSchema +
          " m JOIN pragma_index_list(m.name, m.db) l JOIN pragma_index_xinfo(l.name, m.db) x "
          "WHERE m.type = 'table' AND x.key AND q4_match(?1, m.name)" +
          (unique_only ? " AND l.\"unique\"" : "") + ") ORDER BY t, nu, ty, i, s";
  q.binds.emplace_back(r.strings[2]);
  return q;
}

Query primary_keys(const CatalogRequest& r) {
  Query q;
  q.columns = {name_column("TABLE_QUALIFIER"),   name_column("TABLE_OWNER"),
               name_column("TABLE_NAME", false), name_column("COLUMN_NAME", false),
               small_column("KEY_SEQ", false),   name_column("PK_NAME")};
  q.sql = std::string("SELECT NULL, NULL, m.name, p.name, p.pk, NULL FROM ") + kSchema +
          kKeyColumns + " ORDER BY m.name, p.pk";
  q.binds.emplace_back(r.strings[2]);
  return q;
}

Query special_columns(const CatalogRequest& r) {
  Query q;
  q.columns = {small_column("SCOPE"), name_column("COLUMN_NAME", false)};
  add_type_columns(&q.columns);
  q.columns.push_back(small_column("PSEUDO_COLUMN"));
  // SQL_BEST_ROWID (1): the primary key, or the rowid of a table without
  // one (SQL_SCOPE_SESSION 2; SQL_PC_NOT_PSEUDO 1, SQL_PC_PSEUDO 2).
  // SQL_ROWVER (2): SQLite keeps no row versions, so the list is empty.
  const bool best_rowid = r.numbers[2] == 1;
  q.sql = std::string("SELECT 2, p.name, ") + kTypeFields + ", 1 FROM " + kSchema + kKeyColumns +
          " UNION ALL SELECT 2, 'rowid', 4, 'INTEGER', 10, 4, 0, 2 FROM " + kSchema +
          " m WHERE m.type = 'table' AND q4_match(?1, m.name) AND NOT EXISTS (SELECT 1 FROM "
          "pragma_table_info(m.name, m.db) WHERE pk > 0) AND upper(m.sql) NOT LIKE "
          "'%WITHOUT ROWID%'";
  if (!best_rowid) q.sql = "SELECT * FROM (" + q.sql + ") WHERE 0";
  q.binds.emplace_back(r.strings[2]);
  return q;
}

Query type_info(const CatalogRequest& r) {
  Query q;
  q.columns = {name_column("TYPE_NAME", false),   small_column("DATA_TYPE", false),
               int_column("PRECISION"),           name_column("LITERAL_PREFIX"),
               name_column("LITERAL_SUFFIX"),     name_column("CREATE_PARAMS"),
               small_column("NULLABLE", false),   small_column("CASE_SENSITIVE", false),
               small_column("SEARCHABLE", false), small_column("UNSIGNED_ATTRIBUTE"),
               small_column("MONEY", false),      small_column("AUTO_INCREMENT"),
               name_column("LOCAL_TYPE_NAME"),    small_column("MINIMUM_SCALE"),
               small_column("MAXIMUM_SCALE")};
  // One row per column type (BIGINT and DOUBLE are described, their values
  // travel as INTEGER or NUMERIC). SEARCHABLE: 3 SQL_SEARCHABLE, 2 SQL_ALL_EXCEPT_LIKE.
  q.sql =
      "SELECT * FROM (VALUES "
      "('LONGVARBINARY', -4, 1000000000, 'X''', '''', NULL, 1, 0, 2, NULL, 0, NULL, NULL, NULL, "
      "NULL),"
      "('VARBINARY', -3, 255, 'X''', '''', 'max length', 1, 0, 2, NULL, 0, NULL, NULL, NULL, NULL),"
      "('CHAR', 1, 65535, '''', '''', 'length', 1, 1, 3, NULL, 0, NULL, NULL, NULL, NULL),"
      "('NUMERIC', 2, 38, NULL, NULL, 'precision,scale', 1, 0, 2, 0, 0, 0, NULL, 0, 38),"
      "('INTEGER', 4, 10, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0),"
      "('SMALLINT', 5, 5, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0),"
      "('BIGINT', -5, 19, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0),"
      "('DOUBLE', 8, 15, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, NULL, NULL),"
      "('DATE', 9, 10, '''', '''', NULL, 1, 0, 2, NULL, 0, NULL, NULL, NULL, NULL),"
      "('TIME', 10, 8, '''', '''', NULL, 1, 0, 2, NULL, 0, NULL, NULL, 0, 0),"
      "('TIMESTAMP', 11, ?2, '''', '''', NULL, 1, 0, 2, NULL, 0, NULL, NULL, 0, ?3),"
      "('VARCHAR', 12, 65535, '''', '''', 'max length', 1, 1, 3, NULL, 0, NULL, NULL, NULL, NULL)"
      ") WHERE ?1 = 0 OR column2 = ?1 ORDER BY column2";
  q.integer_binds = true;
  q.binds.push_back(std::to_string(r.numbers[0]));
  // The timestamp's size and fraction digits (MINIMUM_SCALE 0: whole seconds
  // are stored as they are).
  q.binds.push_back(std::to_string(kTimestampColumnSize));
  q.binds.push_back(std::to_string(kTimestampFractionDigits));
  return q;
}

// The query of each request.
struct CatalogQuery {
  CatalogKind kind;
  Query (*build)(const CatalogRequest& request);
};

const CatalogQuery kQueries[] = {
    {CatalogKind::kTypeInfo, type_info},    {CatalogKind::kTables, tables},
    {CatalogKind::kColumns, columns},       {CatalogKind::kSpecialColumns, special_columns},
    {CatalogKind::kStatistics, statistics}, {CatalogKind::kPrimaryKeys, primary_keys},
};

}  // namespace

std::unique_ptr<Cursor> open_catalog(sqlite3* db, const CatalogRequest& request,
                                     std::string* failure) {
  Query q;
  for (const CatalogQuery& query : kQueries) {
    if (query.kind == request.kind) q = query.build(request);
  }
  sqlite3_stmt* raw = nullptr;
  const int rc =
      sqlite3_prepare_v2(db, q.sql.c_str(), static_cast<int>(q.sql.size()), &raw, nullptr);
  StmtHandle stmt(raw);
  if (rc != SQLITE_OK) {
    const char* message = sqlite3_errmsg(db);
    *failure = error_status(map_sqlite_error(rc, message), message);
    return nullptr;
  }
  for (size_t i = 0; i < q.binds.size(); ++i) {
    const std::string& b = q.binds[i];
    if (q.integer_binds) {
      sqlite3_bind_int64(stmt.get(), static_cast<int>(i + 1), std::stoll(b));
    } else {
      sqlite3_bind_text(stmt.get(), static_cast<int>(i + 1), b.data(), static_cast<int>(b.size()),
                        SQLITE_TRANSIENT);
    }
  }
  auto cursor = std::make_unique<Cursor>(std::move(stmt), std::move(q.columns));
  if (!cursor->start()) {
    *failure = error_status(map_sqlite_error(cursor->error_code(), cursor->error_message()),
                            cursor->error_message());
    return nullptr;
  }
  return cursor;
}

}  // namespace q4::lite
