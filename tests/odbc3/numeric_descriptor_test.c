/* SQL_C_NUMERIC with the precision and scale an application gives the row
   descriptor (precision, scale, then the data pointer last, as ODBC has it):
   30-digit decimals, fractions, negatives and NULL come back exact; a
   fraction past the scale is cut toward zero (a bound fetch passes the cut
   as it passes every truncation of a bound column; SQLGetData says 01S07);
   SQLGetData with SQL_ARD_TYPE reads the same way; without a descriptor the
   default scale of 0 holds. */
#include "odbc3_check.h"

/* The structure's magnitude as decimal digits with the point the scale puts. */
static void numeric_text(const SQL_NUMERIC_STRUCT* n, char* out, size_t room) {
  unsigned __int128 v = 0;
  for (int i = 15; i >= 0; --i) v = v << 8 | n->val[i];
  char digits[64];
  int count = 0;
  do {
    digits[count++] = (char)('0' + (int)(v % 10));
    v /= 10;
  } while (v != 0);
  while (count <= n->scale) digits[count++] = '0';
  size_t at = 0;
  if (n->sign == 0) out[at++] = '-';
  for (int i = count - 1; i >= 0 && at + 2 < room; --i) {
    out[at++] = digits[i];
    if (i == n->scale && n->scale > 0) out[at++] = '.';
  }
  out[at] = 0;
}

static void bind_numeric(SQLHSTMT stmt, SQLSMALLINT column, SQL_NUMERIC_STRUCT* target,
                         SQLLEN* indicator, int precision, int scale) {
  SQLHDESC ard = NULL;
  EXPECT_OK(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, NULL), SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLSetDescField(ard, column, SQL_DESC_TYPE, (SQLPOINTER)SQL_C_NUMERIC, 0),
            SQL_HANDLE_DESC, ard);
  EXPECT_OK(SQLSetDescField(ard, column, SQL_DESC_PRECISION, (SQLPOINTER)(intptr_t)precision, 0),
            SQL_HANDLE_DESC, ard);
  EXPECT_OK(SQLSetDescField(ard, column, SQL_DESC_SCALE, (SQLPOINTER)(intptr_t)scale, 0),
            SQL_HANDLE_DESC, ard);
  EXPECT_OK(SQLSetDescField(ard, column, SQL_DESC_INDICATOR_PTR, indicator, 0), SQL_HANDLE_DESC,
            ard);
  EXPECT_OK(SQLSetDescField(ard, column, SQL_DESC_OCTET_LENGTH_PTR, indicator, 0), SQL_HANDLE_DESC,
            ard);
  EXPECT_OK(SQLSetDescField(ard, column, SQL_DESC_DATA_PTR, target, 0), SQL_HANDLE_DESC, ard);
}

int main(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  EXPECT_OK(connect_as(SQL_OV_ODBC3, &env, &dbc), SQL_HANDLE_DBC, dbc);
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE odbc3_numeric", SQL_NTS);
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(
      SQLExecDirect(stmt, (SQLCHAR*)"CREATE TABLE odbc3_numeric (id INTEGER, amount NUMERIC(30,4))",
                    SQL_NTS),
      SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLExecDirect(stmt,
                          (SQLCHAR*)"INSERT INTO odbc3_numeric VALUES "
                                    "(1, 12345678901234567890123456.7891), (2, -0.0625), "
                                    "(3, NULL), (4, 0), (5, 7)",
                          SQL_NTS),
            SQL_HANDLE_STMT, stmt);

  struct {
    int precision, scale;
    const char* want[5];
  } cases[] = {
      {30, 4, {"12345678901234567890123456.7891", "-0.0625", NULL, "0.0000", "7.0000"}},
      /* Two digits of scale: the fractions are cut toward zero. */
      {30, 2, {"12345678901234567890123456.78", "-0.06", NULL, "0.00", "7.00"}},
  };
  for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
    SQL_NUMERIC_STRUCT amount;
    SQLLEN indicator = 0;
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_UNBIND);
    bind_numeric(stmt, 1, &amount, &indicator, cases[c].precision, cases[c].scale);
    EXPECT_OK(SQLExecDirect(stmt,
                            (SQLCHAR*)"SELECT amount -- the exact decimals\n"
                                      "  FROM odbc3_numeric ORDER BY id",
                            SQL_NTS),
              SQL_HANDLE_STMT, stmt);
    for (int row = 0; row < 5; ++row) {
      memset(&amount, 0xEE, sizeof amount);
      SQLRETURN rc = SQLFetch(stmt);
      EXPECT(rc == SQL_SUCCESS, "scale %d row %d: rc %d", cases[c].scale, row + 1, (int)rc);
      if (cases[c].want[row] == NULL) {
        EXPECT(indicator == SQL_NULL_DATA, "scale %d row %d: not NULL", cases[c].scale, row + 1);
        continue;
      }
      char text[64];
      numeric_text(&amount, text, sizeof text);
      EXPECT(strcmp(text, cases[c].want[row]) == 0 && amount.precision == cases[c].precision &&
                 amount.scale == cases[c].scale,
             "scale %d row %d: %s (precision %d scale %d), want %s", cases[c].scale, row + 1, text,
             amount.precision, amount.scale, cases[c].want[row]);
    }
  }

  /* SQLGetData: SQL_ARD_TYPE reads as the descriptor says, SQL_C_NUMERIC
     with the default scale of 0. */
  SQL_NUMERIC_STRUCT target, unbound;
  SQLLEN indicator = 0;
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLFreeStmt(stmt, SQL_UNBIND);
  bind_numeric(stmt, 1, &target, &indicator, 30, 4);
  SQLHDESC ard = NULL;
  SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, NULL);
  EXPECT_OK(SQLSetDescField(ard, 1, SQL_DESC_DATA_PTR, NULL, 0), SQL_HANDLE_DESC, ard);
  EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)"SELECT amount FROM odbc3_numeric WHERE id = 2", SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "row for SQLGetData");
  char text[64];
#ifndef Q4_IODBC
  /* iODBC 3.52 refuses SQL_ARD_TYPE itself ("S1003 Program type out of range"). */
  EXPECT_OK(SQLGetData(stmt, 1, SQL_ARD_TYPE, &target, sizeof target, &indicator), SQL_HANDLE_STMT,
            stmt);
  numeric_text(&target, text, sizeof text);
  EXPECT(strcmp(text, "-0.0625") == 0 && target.scale == 4, "SQL_ARD_TYPE: %s scale %d", text,
         target.scale);
#endif
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)"SELECT amount FROM odbc3_numeric WHERE id = 2", SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "row for SQLGetData");
  SQLRETURN rc = SQLGetData(stmt, 1, SQL_C_NUMERIC, &unbound, sizeof unbound, &indicator);
  numeric_text(&unbound, text, sizeof text);
  EXPECT(rc == SQL_SUCCESS_WITH_INFO && strcmp(text, "0") == 0 && unbound.scale == 0 &&
             strcmp(first_state(SQL_HANDLE_STMT, stmt), "01S07") == 0,
         "SQL_C_NUMERIC default: rc %d %s scale %d", (int)rc, text, unbound.scale);

  /* A precision the structure cannot hold is refused when the data pointer is set. */
  SQLSetDescField(ard, 1, SQL_DESC_PRECISION, (SQLPOINTER)40, 0);
  rc = SQLSetDescField(ard, 1, SQL_DESC_DATA_PTR, &target, 0);
  SQLPOINTER data = &target;
  SQLGetDescField(ard, 1, SQL_DESC_DATA_PTR, &data, 0, NULL);
  EXPECT(rc == SQL_ERROR && data == NULL, "precision 40: rc %d, data pointer %p", (int)rc, data);

  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLExecDirect(stmt, (SQLCHAR*)"DROP TABLE odbc3_numeric", SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("numeric_descriptor_test");
}
