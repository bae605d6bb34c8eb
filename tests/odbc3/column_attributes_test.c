/* What an ODBC 3 application learns of result columns through
   SQLColAttribute and SQLColAttributeW, as pyodbc, Node's odbc and PHP ask:
   names (accented), type codes concise and verbose, sizes, nullability,
   and a name cut to a short buffer. */
#include "odbc3_check.h"

#include <sqlucode.h>

static SQLLEN number(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field) {
  SQLLEN value = -999;
  EXPECT_OK(SQLColAttribute(stmt, column, field, NULL, 0, NULL, &value), SQL_HANDLE_STMT, stmt);
  return value;
}

int main(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  open_statement(&env, &dbc, &stmt);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE odbc3_colattr", SQL_NTS);
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(SQLExecDirect(stmt,
                          (SQLCHAR*)"CREATE TABLE odbc3_colattr (id INTEGER NOT NULL, "
                                    "\"Stra\xc3\x9f"
                                    "e\" VARCHAR(40), amount NUMERIC(30,4), "
                                    "changed TIMESTAMP)",
                          SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLExecDirect(stmt,
                          (SQLCHAR*)"SELECT id, \"Stra\xc3\x9f"
                                    "e\", amount, changed\n"
                                    "  FROM odbc3_colattr -- no rows needed\n",
                          SQL_NTS),
            SQL_HANDLE_STMT, stmt);

  struct {
    SQLUSMALLINT column, field;
    SQLLEN want;
  } numbers[] = {
      {1, SQL_DESC_COUNT, 4},
      {1, SQL_DESC_CONCISE_TYPE, SQL_INTEGER},
      {1, SQL_DESC_NULLABLE, SQL_NO_NULLS},
      {1, SQL_DESC_UNSIGNED, SQL_FALSE},
      {1, SQL_DESC_NUM_PREC_RADIX, 10},
      {2, SQL_DESC_CONCISE_TYPE, SQL_VARCHAR},
      {2, SQL_DESC_LENGTH, 40},
      {2, SQL_DESC_NULLABLE, SQL_NULLABLE},
      {2, SQL_DESC_CASE_SENSITIVE, SQL_TRUE},
      {2, SQL_DESC_UNNAMED, SQL_NAMED},
      {3, SQL_DESC_CONCISE_TYPE, SQL_NUMERIC},
      {3, SQL_DESC_PRECISION, 30},
      {3, SQL_DESC_SCALE, 4},
      {3, SQL_DESC_DISPLAY_SIZE, 32},
      {4, SQL_DESC_CONCISE_TYPE, SQL_TYPE_TIMESTAMP},
      {4, SQL_DESC_TYPE, SQL_DATETIME},
      {4, SQL_DESC_DATETIME_INTERVAL_CODE, SQL_CODE_TIMESTAMP},
  };
  for (size_t i = 0; i < sizeof numbers / sizeof numbers[0]; ++i) {
    SQLLEN got = number(stmt, numbers[i].column, numbers[i].field);
    EXPECT(got == numbers[i].want, "column %u field %u: %ld, want %ld", numbers[i].column,
           numbers[i].field, (long)got, (long)numbers[i].want);
  }

  /* Names, narrow and wide; lengths in bytes both. */
  SQLCHAR name[64];
  SQLSMALLINT length = -1;
  EXPECT_OK(SQLColAttribute(stmt, 2, SQL_DESC_NAME, name, sizeof name, &length, NULL),
            SQL_HANDLE_STMT, stmt);
  EXPECT(strcmp((char*)name,
                "Stra\xc3\x9f"
                "e") == 0 &&
             length == 7,
         "name '%s' (%d)", name, length);
#ifndef Q4_IODBC
  /* iODBC converts a wide call to the narrow one itself, keeping ASCII only
     (docs/odbc-versions.md). */
  SQLWCHAR wide[16];
  EXPECT_OK(SQLColAttributeW(stmt, 2, SQL_DESC_BASE_COLUMN_NAME, wide, sizeof wide, &length, NULL),
            SQL_HANDLE_STMT, stmt);
  EXPECT(length == 6 * (SQLSMALLINT)sizeof(SQLWCHAR) && wide[4] == 0xDF && wide[6] == 0,
         "wide name: %d bytes, unit 4 %x", length, (unsigned)wide[4]);
#endif
  EXPECT_OK(SQLColAttribute(stmt, 4, SQL_DESC_TYPE_NAME, name, sizeof name, &length, NULL),
            SQL_HANDLE_STMT, stmt);
  EXPECT(strcmp((char*)name, "TIMESTAMP") == 0, "type name '%s'", name);

  /* A short buffer: cut, told so, and the whole length reported. */
  SQLCHAR shorter[4];
  SQLRETURN rc = SQLColAttribute(stmt, 2, SQL_DESC_LABEL, shorter, sizeof shorter, &length, NULL);
  EXPECT(rc == SQL_SUCCESS_WITH_INFO && strcmp((char*)shorter, "Str") == 0 && length == 7,
         "cut label: rc %d '%s' (%d)", (int)rc, shorter, length);
  EXPECT(strcmp(first_state(SQL_HANDLE_STMT, stmt), "01004") == 0, "cut label state %s",
         first_state(SQL_HANDLE_STMT, stmt));

  /* A column past the last, and a field no column has. */
  rc = SQLColAttribute(stmt, 5, SQL_DESC_NAME, name, sizeof name, &length, NULL);
  EXPECT(rc == SQL_ERROR, "column 5 answered %d", (int)rc);
  rc = SQLColAttribute(stmt, 1, 4242, name, sizeof name, &length, NULL);
  EXPECT(rc == SQL_ERROR, "field 4242 answered %d", (int)rc);

  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE odbc3_colattr", SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("column_attributes_test");
}
