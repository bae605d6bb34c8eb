/* Diagnostics as an ODBC 3 application reads them: SQLGetDiagRec and
   SQLGetDiagField, several records from one parameter array with the rows
   they concern, header fields, and records that last until the next call on
   the handle; a failed descriptor call explains itself on the descriptor
   handle in the same way. */
#include "odbc3_check.h"

#define ROWS 5

static SQLLEN row_number(SQLHSTMT stmt, SQLSMALLINT record) {
  SQLLEN row = -99;
  SQLGetDiagField(SQL_HANDLE_STMT, stmt, record, SQL_DIAG_ROW_NUMBER, &row, 0, NULL);
  return row;
}

struct descriptor_case {
  const char* what;
  int descriptor; /* 0: the row descriptor (application), 1: the result's */
  int kind;       /* 0: set TYPE, 1: get an unknown field, 2: free it */
  const char* state;
  const char* text;
};

static const struct descriptor_case descriptor_cases[] = {
    {"set a field of the result's descriptor", 1, 0, "HY016",
     "Cannot modify an implementation row descriptor"},
    {"an unknown field", 0, 1, "HY091", "Invalid descriptor field identifier"},
/* iODBC answers SQLFreeHandle of a statement's own descriptor itself
   (SQL_INVALID_HANDLE, without calling the driver) and the handle is unusable
   afterwards: the case runs under unixODBC only. */
#ifndef Q4_IODBC
    {"free an implicit descriptor", 0, 2, "HY017",
     "Invalid use of an automatically allocated descriptor handle"},
#endif
};

/* Each refused descriptor call leaves one record with its ODBC 3 state on the
   descriptor; the next call on the descriptor clears it. */
static void check_descriptor_refusals(SQLHSTMT stmt) {
  run(stmt, "SELECT id, ship_date FROM orders");
  SQLHDESC descriptors[2] = {NULL, NULL};
  EXPECT_OK(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &descriptors[0], 0, NULL), SQL_HANDLE_STMT,
            stmt);
  EXPECT_OK(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_ROW_DESC, &descriptors[1], 0, NULL), SQL_HANDLE_STMT,
            stmt);
  for (size_t i = 0; i < sizeof descriptor_cases / sizeof descriptor_cases[0]; ++i) {
    const struct descriptor_case* c = &descriptor_cases[i];
    SQLHDESC desc = descriptors[c->descriptor];
    SQLINTEGER value = 0;
    SQLRETURN rc;
    if (c->kind == 0) {
      rc = SQLSetDescField(desc, 1, SQL_DESC_TYPE, (SQLPOINTER)SQL_C_LONG, 0);
    } else if (c->kind == 1) {
      rc = SQLGetDescField(desc, 0, 9999, &value, 0, NULL);
    } else {
      rc = SQLFreeHandle(SQL_HANDLE_DESC, desc);
    }
    EXPECT(rc == SQL_ERROR, "%s: returned %d", c->what, (int)rc);
    SQLCHAR state[6] = "", text[512] = "";
    SQLINTEGER native = -1, number = 0;
    SQLSMALLINT length = 0;
    rc = SQLGetDiagRec(SQL_HANDLE_DESC, desc, 1, state, &native, text, sizeof text, &length);
    EXPECT(rc == SQL_SUCCESS && strcmp((char*)state, c->state) == 0 &&
               strstr((char*)text, c->text) != NULL,
           "%s: SQLGetDiagRec returned %d, state %s, message \"%s\"", c->what, (int)rc, state,
           text);
    EXPECT_OK(SQLGetDiagField(SQL_HANDLE_DESC, desc, 0, SQL_DIAG_NUMBER, &number, 0, NULL),
              SQL_HANDLE_DESC, desc);
    EXPECT(number == 1, "%s: %d records", c->what, (int)number);
    EXPECT_OK(SQLGetDescField(desc, 0, SQL_DESC_COUNT, &value, 0, NULL), SQL_HANDLE_DESC, desc);
    rc = SQLGetDiagRec(SQL_HANDLE_DESC, desc, 1, state, &native, text, sizeof text, &length);
    EXPECT(rc == SQL_NO_DATA, "%s: a record after a successful call (%d, %s)", c->what, (int)rc,
           state);
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
}

int main(void) {
  struct session s =
      open_session(SQL_OV_ODBC3_80, "odbc3_diag", "(id INTEGER PRIMARY KEY, name VARCHAR(40))");
  SQLHSTMT stmt = s.stmt;
  run(stmt, "INSERT INTO odbc3_diag VALUES (2, 'two'), (4, 'four')");

  /* Rows 2 and 4 of the array (ids 2 and 4) collide with the rows above. */
  SQLINTEGER ids[ROWS] = {1, 2, 3, 4, 5};
  SQLCHAR names[ROWS][16] = {"one", "deux", "\xc3\xa9t\xc3\xa9", "vier", ""};
  SQLLEN name_lengths[ROWS] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS};
  SQLUSMALLINT statuses[ROWS];
  SQLULEN processed = 0;
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)ROWS, 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses, 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids, 0, NULL);
  SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, names, 16,
                   name_lengths);
  SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)"INSERT INTO odbc3_diag\n  VALUES (?, ?)", SQL_NTS);
  EXPECT(rc == SQL_ERROR, "array insert returned %d", (int)rc);

  SQLINTEGER count = 0;
  EXPECT_OK(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_NUMBER, &count, 0, NULL),
            SQL_HANDLE_STMT, stmt);
  SQLSMALLINT failed_rows = 0;
  for (int i = 0; i < ROWS; ++i) failed_rows += statuses[i] == SQL_PARAM_ERROR;
  /* Every failing row the server answered has a record, in row order. */
  EXPECT(count >= 1 && count == failed_rows, "%d records for %d failed rows", (int)count,
         (int)failed_rows);
  EXPECT(statuses[1] == SQL_PARAM_ERROR, "row 2 status %d", (int)statuses[1]);
  EXPECT(row_number(stmt, 1) == 2, "record 1 row %ld", (long)row_number(stmt, 1));
  if (count >= 2) {
    EXPECT(statuses[3] == SQL_PARAM_ERROR, "row 4 status %d", (int)statuses[3]);
    EXPECT(row_number(stmt, 2) == 4, "record 2 row %ld", (long)row_number(stmt, 2));
  }
  SQLCHAR state[6], whole[512], text[8];
  SQLINTEGER native;
  SQLSMALLINT length;
  for (SQLSMALLINT r = 1; r <= count; ++r) {
    EXPECT(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, r, state, &native, whole, sizeof whole, &length) ==
               SQL_SUCCESS,
           "record %d unreadable", (int)r);
    EXPECT(strcmp((char*)state, "23000") == 0, "record %d state %s", (int)r, state);
    EXPECT(length == (SQLSMALLINT)strlen((char*)whole), "record %d length %d", (int)r, (int)length);
  }
  EXPECT(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)(count + 1), state, &native, text,
                       sizeof text, &length) == SQL_NO_DATA,
         "a record past the last");
  /* A message cut to the buffer: SQL_SUCCESS_WITH_INFO and the whole length. */
  EXPECT(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text, &length) ==
             SQL_SUCCESS_WITH_INFO,
         "a cut message is no warning");
  EXPECT(length > (SQLSMALLINT)sizeof text && strlen((char*)text) == sizeof text - 1,
         "cut message length %d '%s'", (int)length, text);
  SQLCHAR origin[32];
  EXPECT_OK(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_CLASS_ORIGIN, origin, sizeof origin,
                            &length),
            SQL_HANDLE_STMT, stmt);
  EXPECT(strcmp((char*)origin, "ISO 9075") == 0, "class origin '%s'", origin);

  /* The next call on the handle starts without the records. */
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)1, 0);
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  run(stmt, "SELECT COUNT(*) FROM odbc3_diag");
  EXPECT(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text, &length) ==
             SQL_NO_DATA,
         "records of the failed call still there: %s", state);
  SQLFreeStmt(stmt, SQL_CLOSE);

  /* Header and record fields of a statement's refusal. */
  rc = SQLExecDirect(stmt, (SQLCHAR*)"SELECT * FROM no_such_table_anywhere", SQL_NTS);
  SQLRETURN returned = 0;
  SQLGetDiagField(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_RETURNCODE, &returned, 0, NULL);
  EXPECT(rc == SQL_ERROR && returned == SQL_ERROR, "return code %d, field %d", (int)rc,
         (int)returned);
  EXPECT(strcmp(first_state(SQL_HANDLE_STMT, stmt), "42S02") == 0, "missing table: %s",
         first_state(SQL_HANDLE_STMT, stmt));
  EXPECT(row_number(stmt, 1) == SQL_NO_ROW_NUMBER, "single statement row %ld",
         (long)row_number(stmt, 1));

  /* A parameter that cannot be its SQL type: the record names the parameter. */
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLINTEGER one = 1;
  SQLCHAR not_a_number[] = "12 apples";
  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &one, 0, NULL);
  SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 0, 0, not_a_number, 0, NULL);
  rc = SQLExecDirect(stmt, (SQLCHAR*)"SELECT name FROM odbc3_diag WHERE id = ? OR id = ?", SQL_NTS);
  SQLINTEGER column = -99;
  SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_COLUMN_NUMBER, &column, 0, NULL);
  EXPECT(rc == SQL_ERROR && strcmp(first_state(SQL_HANDLE_STMT, stmt), "22018") == 0,
         "not a number: %d %s", (int)rc, first_state(SQL_HANDLE_STMT, stmt));
  EXPECT(column == 2, "not a number: column %d", (int)column);
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  SQLFreeStmt(stmt, SQL_CLOSE);
  check_descriptor_refusals(stmt);
  return close_session(s, "diagnostics_test");
}
