/* An ODBC 3.80 application's connection: attributes read and set through
   SQLGetConnectAttr/SQLSetConnectAttr (and the wide forms), work rolled back
   and committed with SQLEndTran on the connection and on the environment,
   cursors closed with SQLCloseCursor. */
#include "odbc3_check.h"

static long count_rows(SQLHSTMT stmt) {
  SQLINTEGER count = -1;
  SQLLEN indicator;
  run(stmt, "SELECT COUNT(*) FROM odbc3_attributes");
  EXPECT_OK(SQLFetch(stmt), SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLGetData(stmt, 1, SQL_C_SLONG, &count, 0, &indicator), SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLCloseCursor(stmt), SQL_HANDLE_STMT, stmt);
  return count;
}

/* One row of everyday values: a multi-line text with a comment, NULLs,
   accented text, a fraction. */
static void insert_row(SQLHSTMT stmt, int id) {
  char text[256];
  snprintf(text, sizeof text,
           "-- a row\nINSERT INTO odbc3_attributes (id, name, amount)\n"
           "  VALUES (%d, %s, %s)",
           id, id % 2 ? "'Zo\xc3\xab \xe6\x9d\xb1\xe4\xba\xac'" : "NULL",
           id % 2 ? "-12.125" : "NULL");
  EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)text, SQL_NTS), SQL_HANDLE_STMT, stmt);
}

int main(void) {
  struct session s = open_session(SQL_OV_ODBC3_80, "odbc3_attributes",
                                  "(id INTEGER, name VARCHAR(40), amount NUMERIC(12,3))");
  SQLHENV env = s.env;
  SQLHDBC dbc = s.dbc;
  SQLHSTMT stmt = s.stmt;

  /* A fresh connection. */
  EXPECT(connect_attr(dbc, SQL_ATTR_AUTOCOMMIT) == SQL_AUTOCOMMIT_ON, "autocommit not on");
  EXPECT(connect_attr(dbc, SQL_ATTR_TXN_ISOLATION) == SQL_TXN_READ_COMMITTED, "isolation");
  EXPECT(connect_attr(dbc, SQL_ATTR_ACCESS_MODE) == SQL_MODE_READ_WRITE, "access mode");
  EXPECT(connect_attr(dbc, SQL_ATTR_CONNECTION_DEAD) == SQL_CD_FALSE, "a live connection is dead");
  EXPECT(connect_attr(dbc, SQL_ATTR_CONNECTION_TIMEOUT) == 0, "connection timeout");

  /* Manual commit: rolled back work is gone, committed work stays. */
  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0),
            SQL_HANDLE_DBC, dbc);
  EXPECT(connect_attr(dbc, SQL_ATTR_AUTOCOMMIT) == SQL_AUTOCOMMIT_OFF, "autocommit not off");
  insert_row(stmt, 1);
  insert_row(stmt, 2);
  EXPECT(count_rows(stmt) == 2, "own uncommitted rows not seen");
  EXPECT_OK(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc);
  EXPECT(count_rows(stmt) == 0, "rolled back rows still there");
  insert_row(stmt, 3);
  EXPECT_OK(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_HANDLE_DBC, dbc);
  insert_row(stmt, 4);
  EXPECT_OK(SQLEndTran(SQL_HANDLE_ENV, env, SQL_COMMIT), SQL_HANDLE_ENV, env);
  EXPECT_OK(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc);
  EXPECT(count_rows(stmt) == 2, "committed rows lost");

  /* The rows as committed, read back. */
  run(stmt, "SELECT name, amount FROM odbc3_attributes ORDER BY id");
  SQLCHAR name[64], amount[32];
  SQLLEN name_length, amount_length;
  EXPECT_OK(SQLFetch(stmt), SQL_HANDLE_STMT, stmt);
  SQLGetData(stmt, 1, SQL_C_CHAR, name, sizeof name, &name_length);
  SQLGetData(stmt, 2, SQL_C_CHAR, amount, sizeof amount, &amount_length);
  EXPECT(strcmp((char*)name, "Zo\xc3\xab \xe6\x9d\xb1\xe4\xba\xac") == 0, "name '%s'", name);
  EXPECT(strcmp((char*)amount, "-12.125") == 0, "amount '%s'", amount);
  EXPECT_OK(SQLFetch(stmt), SQL_HANDLE_STMT, stmt);
  SQLGetData(stmt, 1, SQL_C_CHAR, name, sizeof name, &name_length);
  EXPECT(name_length == SQL_NULL_DATA, "a NULL name read as %ld", (long)name_length);
  /* Closing twice: the second close finds no cursor; a closed one may be renamed. */
  EXPECT_OK(SQLCloseCursor(stmt), SQL_HANDLE_STMT, stmt);
  EXPECT(SQLCloseCursor(stmt) == SQL_ERROR, "a second close succeeded");
  EXPECT(strcmp(first_state(SQL_HANDLE_STMT, stmt), "24000") == 0, "second close: %s",
         first_state(SQL_HANDLE_STMT, stmt));
  EXPECT_OK(SQLSetCursorName(stmt, (SQLCHAR*)"after_close", SQL_NTS), SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0),
            SQL_HANDLE_DBC, dbc);

  /* The current catalog as a wide string, its length in bytes (of the
     application's wide characters); cut with "01004" when the buffer is
     short. */
  SQLINTEGER length = 0;
#ifdef Q4_IODBC
  /* Under iODBC this narrow program loads the ANSI library, and iODBC
     converts a wide call to the narrow one itself, keeping ASCII only
     (docs/odbc-versions.md): the narrow call here. */
  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, "Zo\xc3\xab_db", SQL_NTS),
            SQL_HANDLE_DBC, dbc);
#else
  SQLWCHAR catalog_in[] = {'Z', 'o', 0xEB, '_', 'd', 'b', 0};
  SQLWCHAR catalog_out[16];
  EXPECT_OK(SQLSetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, catalog_in, SQL_NTS), SQL_HANDLE_DBC,
            dbc);
  EXPECT_OK(
      SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, catalog_out, sizeof catalog_out, &length),
      SQL_HANDLE_DBC, dbc);
  EXPECT(length == (SQLINTEGER)(6 * sizeof(SQLWCHAR)) &&
             memcmp(catalog_out, catalog_in, sizeof catalog_in) == 0,
         "wide catalog read back with length %d", (int)length);
#endif
  SQLCHAR narrow[4];
  EXPECT(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, narrow, sizeof narrow, &length) ==
             SQL_SUCCESS_WITH_INFO,
         "a cut catalog without a warning");
  EXPECT(length == 7 && strcmp((char*)narrow, "Zo\xc3") == 0, "narrow catalog '%s' (%d)", narrow,
         (int)length);

  /* Statement defaults set on the connection reach new statements. */
  SQLHSTMT second;
  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_MAX_ROWS, (SQLPOINTER)1, 0), SQL_HANDLE_DBC, dbc);
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &second), SQL_HANDLE_DBC, dbc);
  SQLULEN max_rows = 0;
  EXPECT_OK(SQLGetStmtAttr(second, SQL_ATTR_MAX_ROWS, &max_rows, 0, NULL), SQL_HANDLE_STMT, second);
  EXPECT(max_rows == 1, "max rows of a new statement: %lu", (unsigned long)max_rows);
  SQLFreeHandle(SQL_HANDLE_STMT, second);

  EXPECT_OK(SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, (SQLPOINTER)5, 0), SQL_HANDLE_DBC,
            dbc);
  EXPECT(connect_attr(dbc, SQL_ATTR_CONNECTION_TIMEOUT) == 5, "connection timeout not kept");
  EXPECT(SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, (SQLPOINTER)SQL_CD_TRUE, 0) == SQL_ERROR,
         "a read-only attribute was set");

  return close_session(s, "connection_attributes_test");
}
