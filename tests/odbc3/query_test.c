/* An ODBC 3.80 application's everyday query: multi-line text with a comment
   and a parameter, NULLs, accented text and a fraction read back. */
#include "odbc3_check.h"

int main(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  open_statement(&env, &dbc, &stmt);

  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE odbc3_query", SQL_NTS);
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(SQLExecDirect(stmt,
                          (SQLCHAR*)"CREATE TABLE odbc3_query (id INTEGER, name VARCHAR(40), "
                                    "amount NUMERIC(12,3))",
                          SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLExecDirect(stmt,
                          (SQLCHAR*)"INSERT INTO odbc3_query VALUES (1, 'Zo\xc3\xab', 12.5), "
                                    "(2, NULL, NULL), (3, '', -0.125)",
                          SQL_NTS),
            SQL_HANDLE_STMT, stmt);

  SQLINTEGER low = 1;
  EXPECT_OK(
      SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &low, 0, NULL),
      SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLExecDirect(stmt,
                          (SQLCHAR*)"\n-- the rows after the first\nSELECT id, name, amount\n"
                                    "  FROM odbc3_query WHERE id > ? ORDER BY id",
                          SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  const char* want_names[] = {NULL, ""};
  const char* want_amounts[] = {NULL, "-0.125"};
  for (int row = 0; row < 2; ++row) {
    EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "row %d missing", row + 2);
    SQLCHAR name[64], amount[64];
    SQLLEN name_length, amount_length;
    EXPECT_OK(SQLGetData(stmt, 2, SQL_C_CHAR, name, sizeof name, &name_length), SQL_HANDLE_STMT,
              stmt);
    EXPECT_OK(SQLGetData(stmt, 3, SQL_C_CHAR, amount, sizeof amount, &amount_length),
              SQL_HANDLE_STMT, stmt);
    if (want_names[row] == NULL) {
      EXPECT(name_length == SQL_NULL_DATA, "row %d: name not NULL", row + 2);
      EXPECT(amount_length == SQL_NULL_DATA, "row %d: amount not NULL", row + 2);
    } else {
      EXPECT(name_length == 0 && strcmp((char*)name, want_names[row]) == 0,
             "row %d: name '%s' (%ld)", row + 2, name, (long)name_length);
      EXPECT(strcmp((char*)amount, want_amounts[row]) == 0, "row %d: amount '%s'", row + 2, amount);
    }
  }
  EXPECT(SQLFetch(stmt) == SQL_NO_DATA, "more rows than two");
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE odbc3_query", SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("query_test");
}
