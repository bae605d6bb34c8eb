/* A failed descriptor call explains itself through SQLGetDiagRec and
   SQLGetDiagField on the descriptor handle, with the ODBC 3 state, through
   the Driver Manager; the next call on the descriptor clears the record. */
#include "odbc3_check.h"

struct failure_case {
  const char* what;
  int descriptor; /* 0: the row descriptor (application), 1: the result's */
  int kind;       /* 0: set TYPE, 1: get an unknown field, 2: free it */
  const char* state;
  const char* text;
};

static const struct failure_case cases[] = {
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

int main(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  open_statement(&env, &dbc, &stmt);
  EXPECT_OK(SQLExecDirect(stmt, (SQLCHAR*)"SELECT id, ship_date FROM orders", SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  SQLHDESC descriptors[2] = {NULL, NULL};
  EXPECT_OK(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &descriptors[0], 0, NULL), SQL_HANDLE_STMT,
            stmt);
  EXPECT_OK(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_ROW_DESC, &descriptors[1], 0, NULL), SQL_HANDLE_STMT,
            stmt);

  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const struct failure_case* c = &cases[i];
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
    SQLINTEGER native = -1;
    SQLSMALLINT length = 0;
    rc = SQLGetDiagRec(SQL_HANDLE_DESC, desc, 1, state, &native, text, sizeof text, &length);
    EXPECT(rc == SQL_SUCCESS, "%s: SQLGetDiagRec returned %d", c->what, (int)rc);
    EXPECT(strcmp((char*)state, c->state) == 0, "%s: state %s, want %s", c->what, state, c->state);
    EXPECT(strstr((char*)text, c->text) != NULL, "%s: message \"%s\"", c->what, text);
    SQLINTEGER number = 0;
    EXPECT_OK(SQLGetDiagField(SQL_HANDLE_DESC, desc, 0, SQL_DIAG_NUMBER, &number, 0, NULL),
              SQL_HANDLE_DESC, desc);
    EXPECT(number == 1, "%s: %d records", c->what, (int)number);

    /* A successful call on the descriptor starts without the record. */
    EXPECT_OK(SQLGetDescField(desc, 0, SQL_DESC_COUNT, &value, 0, NULL), SQL_HANDLE_DESC, desc);
    rc = SQLGetDiagRec(SQL_HANDLE_DESC, desc, 1, state, &native, text, sizeof text, &length);
    EXPECT(rc == SQL_NO_DATA, "%s: a record after a successful call (%d, %s)", c->what, (int)rc,
           state);
  }

  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("descriptor_diagnostics_test");
}
