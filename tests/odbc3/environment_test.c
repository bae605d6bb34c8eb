/* Each ODBC version an application declares connects cleanly (no "01000"
   warning that the driver does not support it) and gets its own generation's
   SQLSTATEs for the same refusal. */
#include "odbc3_check.h"

struct version_case {
  SQLINTEGER version;
  const char* missing_table_state; /* SQLExecDirect on a table that is not there */
  const char* sequence_state;      /* SQLFetch without a cursor */
};

static const struct version_case cases[] = {
    {SQL_OV_ODBC2, "S0002", "S1010"},
#ifdef Q4_IODBC
    /* iODBC refuses a fetch without a cursor itself, before the driver, and
       words that refusal in the 2.x state whatever the version. */
    {SQL_OV_ODBC3, "42S02", "S1010"},
    {SQL_OV_ODBC3_80, "42S02", "S1010"},
#else
    {SQL_OV_ODBC3, "42S02", "HY010"},
    {SQL_OV_ODBC3_80, "42S02", "HY010"},
#endif
};

int main(void) {
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const struct version_case* c = &cases[i];
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    SQLRETURN rc = connect_as(c->version, &env, &dbc);
    EXPECT(rc == SQL_SUCCESS, "version %d: connect returned %d, first state '%s'", (int)c->version,
           (int)rc, first_state(SQL_HANDLE_DBC, dbc));
    SQLINTEGER declared = 0;
    EXPECT_OK(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &declared, 0, NULL), SQL_HANDLE_ENV, env);
    /* 3.80 may have been declared as 3.0 where the Driver Manager predates it. */
    EXPECT(declared == c->version ||
               (c->version == (SQLINTEGER)SQL_OV_ODBC3_80 && declared == SQL_OV_ODBC3),
           "version %d: answered %d", (int)c->version, (int)declared);

    EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
    rc = SQLExecDirect(
        stmt, (SQLCHAR*)"-- a table nobody made\nSELECT *\n  FROM no_such_table_here", SQL_NTS);
    EXPECT(rc == SQL_ERROR, "version %d: missing table returned %d", (int)c->version, (int)rc);
    EXPECT(strcmp(first_state(SQL_HANDLE_STMT, stmt), c->missing_table_state) == 0,
           "version %d: missing table state '%s', want '%s'", (int)c->version,
           first_state(SQL_HANDLE_STMT, stmt), c->missing_table_state);
    rc = SQLFetch(stmt);
    EXPECT(rc == SQL_ERROR, "version %d: fetch without cursor returned %d", (int)c->version,
           (int)rc);
    EXPECT(strcmp(first_state(SQL_HANDLE_STMT, stmt), c->sequence_state) == 0,
           "version %d: fetch without cursor state '%s', want '%s'", (int)c->version,
           first_state(SQL_HANDLE_STMT, stmt), c->sequence_state);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(env, dbc);
  }
  return finish("environment_test");
}
