/* SQL_C_NUMERIC with the precision and scale an application gives the row
   descriptor (precision, scale, then the data pointer last, as ODBC has it):
   30-digit decimals, fractions, negatives and NULL come back exact; a
   fraction past the scale is cut toward zero (a bound fetch passes the cut
   as it passes every truncation of a bound column; SQLGetData says 01S07);
   SQLGetData with SQL_ARD_TYPE reads the same way; without a descriptor the
   default scale of 0 holds. And the other way: an array of 30-digit
   SQL_C_NUMERIC parameters (scale from the binding) stored exactly, and a
   stored 1e300 read into Qt's 16-byte buffer for a double. */
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

/* A SQL_NUMERIC_STRUCT of precision 30 from decimal digits and a scale. */
static SQL_NUMERIC_STRUCT numeric(int negative, const char* digits, int scale) {
  SQL_NUMERIC_STRUCT n;
  memset(&n, 0, sizeof n);
  n.precision = 30;
  n.scale = (SQLSCHAR)scale;
  n.sign = negative ? 0 : 1;
  unsigned __int128 v = 0;
  for (const char* p = digits; *p != 0; ++p) v = v * 10 + (unsigned)(*p - '0');
  for (int i = 0; i < 16; ++i) n.val[i] = (SQLCHAR)(v >> (8 * i));
  return n;
}

/* Two rows inserted as one array of SQL_C_NUMERIC parameters read back as
   text; the whole part of the first through SQLGetData's default precision
   38 and scale 0 (cut with 01S07), a whole negative through SQLBindCol, and
   1e300 into a 16-byte buffer. */
static void check_parameters(SQLHSTMT stmt) {
  SQL_NUMERIC_STRUCT values[2] = {numeric(0, "123456789012345678900123456789", 10),
                                  numeric(1, "5", 10)};
  SQLINTEGER keys[2] = {11, 12};
  SQLLEN lengths[2] = {sizeof(SQL_NUMERIC_STRUCT), sizeof(SQL_NUMERIC_STRUCT)};
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)2, 0);
  EXPECT_OK(
      SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, keys, 0, NULL),
      SQL_HANDLE_STMT, stmt);
  EXPECT_OK(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_NUMERIC, 30, 10, values,
                             0, lengths),
            SQL_HANDLE_STMT, stmt);
  run(stmt, "INSERT INTO odbc3_numeric (id, exact) VALUES (?, ?)");
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)1, 0);
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);

  run(stmt, "SELECT exact FROM odbc3_numeric WHERE id > 10 ORDER BY id");
  static const char* const stored[] = {"12345678901234567890.0123456789", "-0.0000000005"};
  char text[64];
  for (int row = 0; row < 2; ++row) {
    EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "parameter row %d missing", row + 1);
    EXPECT_OK(SQLGetData(stmt, 1, SQL_C_CHAR, text, sizeof text, NULL), SQL_HANDLE_STMT, stmt);
    EXPECT(strcmp(text, stored[row]) == 0, "parameter row %d stored as %s", row + 1, text);
  }

  run(stmt, "SELECT exact FROM odbc3_numeric WHERE id = 11");
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "row 11 missing");
  SQL_NUMERIC_STRUCT got;
  SQLLEN length = 0;
  SQLRETURN rc = SQLGetData(stmt, 1, SQL_C_NUMERIC, &got, sizeof got, &length);
  numeric_text(&got, text, sizeof text);
  EXPECT(rc == SQL_SUCCESS_WITH_INFO && strcmp(first_state(SQL_HANDLE_STMT, stmt), "01S07") == 0 &&
             length == (SQLLEN)sizeof got && got.precision == 38 && got.scale == 0 &&
             strcmp(text, "12345678901234567890") == 0,
         "whole part: rc %d %s precision %d scale %d (%ld)", (int)rc, text, got.precision,
         got.scale, (long)length);

  run(stmt, "SELECT -2000, 1e300");
  SQL_NUMERIC_STRUCT bound;
  char small[16];
  EXPECT_OK(SQLBindCol(stmt, 1, SQL_C_NUMERIC, &bound, sizeof bound, &length), SQL_HANDLE_STMT,
            stmt);
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "row of -2000 missing");
  numeric_text(&bound, text, sizeof text);
  EXPECT(strcmp(text, "-2000") == 0, "bound whole number %s", text);
  EXPECT_OK(SQLGetData(stmt, 2, SQL_C_CHAR, small, sizeof small, &length), SQL_HANDLE_STMT, stmt);
  EXPECT(strcmp(small, "1e+300") == 0 && length == 6, "1e300 as '%s' (%ld)", small, (long)length);
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLFreeStmt(stmt, SQL_CLOSE);
}

int main(void) {
  struct session s = open_session(SQL_OV_ODBC3, "odbc3_numeric",
                                  "(id INTEGER, amount NUMERIC(30,4), exact NUMERIC(30,10))");
  SQLHSTMT stmt = s.stmt;
  run(stmt,
      "INSERT INTO odbc3_numeric (id, amount) VALUES (1, 12345678901234567890123456.7891), "
      "(2, -0.0625), (3, NULL), (4, 0), (5, 7)");

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
    SQLFreeStmt(stmt, SQL_UNBIND);
    bind_numeric(stmt, 1, &amount, &indicator, cases[c].precision, cases[c].scale);
    run(stmt, "SELECT amount -- the exact decimals\n  FROM odbc3_numeric ORDER BY id");
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
  run(stmt, "SELECT amount FROM odbc3_numeric WHERE id = 2");
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
  run(stmt, "SELECT amount FROM odbc3_numeric WHERE id = 2");
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
  SQLFreeStmt(stmt, SQL_UNBIND);
  check_parameters(stmt);
  return close_session(s, "numeric_descriptor_test");
}
