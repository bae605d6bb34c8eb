/* The DATA_TYPE of catalog rows as each generation of application reads
   it: SQLColumns of the orders' date, timestamp and time columns (bound as
   SQL_C_SSHORT, and read again with SQLGetData as text), and the
   timestamp's row of SQLGetTypeInfo asked for with the generation's code. */
#include "odbc3_check.h"

struct version_case {
  SQLINTEGER version;
  SQLSMALLINT date_code, timestamp_code, time_code;
};

static const struct version_case cases[] = {
    {SQL_OV_ODBC2, SQL_DATE, SQL_TIMESTAMP, SQL_TIME},
    {SQL_OV_ODBC3, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP, SQL_TYPE_TIME},
    {SQL_OV_ODBC3_80, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP, SQL_TYPE_TIME},
};

static const char* const column_names[] = {"ship_date", "ordered_at", "ship_time"};

int main(void) {
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const struct version_case* c = &cases[i];
    const SQLSMALLINT want[3] = {c->date_code, c->timestamp_code, c->time_code};
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    EXPECT_OK(connect_as(c->version, &env, &dbc), SQL_HANDLE_DBC, dbc);
    EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);

    for (int k = 0; k < 3; ++k) {
      EXPECT_OK(SQLColumns(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"orders", SQL_NTS,
                           (SQLCHAR*)column_names[k], SQL_NTS),
                SQL_HANDLE_STMT, stmt);
      SQLSMALLINT data_type = -1;
      SQLLEN indicator = 0;
      EXPECT_OK(SQLBindCol(stmt, 5, SQL_C_SSHORT, &data_type, 0, &indicator), SQL_HANDLE_STMT,
                stmt);
      EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no row for %s", (int)c->version,
             column_names[k]);
      EXPECT(data_type == want[k], "version %d: %s DATA_TYPE %d, want %d", (int)c->version,
             column_names[k], (int)data_type, (int)want[k]);
      char text[8] = "";
      EXPECT_OK(SQLGetData(stmt, 5, SQL_C_CHAR, text, sizeof text, &indicator), SQL_HANDLE_STMT,
                stmt);
      EXPECT(atoi(text) == want[k], "version %d: %s DATA_TYPE as text \"%s\"", (int)c->version,
             column_names[k], text);
      SQLFreeStmt(stmt, SQL_UNBIND);
      SQLFreeStmt(stmt, SQL_CLOSE);
    }

    /* The plain query after the catalog call reads its integers unchanged. */
    EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)"SELECT 9, 11 -- two small numbers", SQL_NTS),
              SQL_HANDLE_STMT, stmt);
    SQLINTEGER nine = 0;
    EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no row of the query", (int)c->version);
    EXPECT_OK(SQLGetData(stmt, 1, SQL_C_SLONG, &nine, 0, NULL), SQL_HANDLE_STMT, stmt);
    EXPECT(nine == 9, "version %d: the query's 9 read as %d", (int)c->version, (int)nine);
    SQLFreeStmt(stmt, SQL_CLOSE);

    EXPECT_OK(SQLGetTypeInfo(stmt, c->timestamp_code), SQL_HANDLE_STMT, stmt);
    SQLINTEGER type_code = -1;
    SQLCHAR name[32] = "";
    EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no timestamp type", (int)c->version);
    EXPECT_OK(SQLGetData(stmt, 1, SQL_C_CHAR, name, sizeof name, NULL), SQL_HANDLE_STMT, stmt);
    EXPECT_OK(SQLGetData(stmt, 2, SQL_C_SLONG, &type_code, 0, NULL), SQL_HANDLE_STMT, stmt);
    EXPECT(type_code == c->timestamp_code, "version %d: type info %s DATA_TYPE %d", (int)c->version,
           name, (int)type_code);
    SQLFreeStmt(stmt, SQL_CLOSE);

    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(env, dbc);
  }
  return finish("catalog_type_codes_test");
}
