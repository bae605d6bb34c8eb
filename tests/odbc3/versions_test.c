/* What each generation of application (ODBC 2, 3 and 3.80) is told by the
   same driver: it connects cleanly (no "01000" warning that the driver does
   not support the version), reads its own driver ODBC version, its
   generation's SQLSTATEs for the same refusals, the date and time codes of a
   description, of SQLColumns (bound as SQL_C_SSHORT and read again as text)
   and of SQLGetTypeInfo, a timestamp read with its generation's C type; and
   an everyday query after the catalog call (multi-line text with a comment
   and a parameter, NULL, empty text, a fraction) reads its values as they
   are. */
#include "odbc3_check.h"

struct version_case {
  SQLINTEGER version;
  const char* driver_odbc_ver;
  const char* missing_table_state; /* SQLExecDirect on a table that is not there */
  const char* sequence_state;      /* SQLFetch without a cursor */
  SQLSMALLINT date_code, timestamp_code, time_code;
  SQLSMALLINT timestamp_c_type;
};

/* iODBC refuses a fetch without a cursor itself, before the driver, and
   words that refusal in the 2.x state whatever the version. */
#ifdef Q4_IODBC
#define ODBC3_SEQUENCE "S1010"
#else
#define ODBC3_SEQUENCE "HY010"
#endif

static const struct version_case cases[] = {
    {SQL_OV_ODBC2, "02.50", "S0002", "S1010", SQL_DATE, SQL_TIMESTAMP, SQL_TIME, SQL_C_TIMESTAMP},
    {SQL_OV_ODBC3, "03.80", "42S02", ODBC3_SEQUENCE, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP,
     SQL_TYPE_TIME, SQL_C_TYPE_TIMESTAMP},
    {SQL_OV_ODBC3_80, "03.80", "42S02", ODBC3_SEQUENCE, SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP,
     SQL_TYPE_TIME, SQL_C_TYPE_TIMESTAMP},
};

static const char* const column_names[] = {"ship_date", "ordered_at", "ship_time"};

/* The refusals: the same two, each generation's states. */
static void check_refusals(const struct version_case* c, SQLHSTMT stmt) {
  SQLRETURN rc = SQLExecDirect(
      stmt, (SQLCHAR*)"-- a table nobody made\nSELECT *\n  FROM no_such_table_here", SQL_NTS);
  EXPECT(rc == SQL_ERROR && strcmp(first_state(SQL_HANDLE_STMT, stmt), c->missing_table_state) == 0,
         "version %d: missing table returned %d '%s', want '%s'", (int)c->version, (int)rc,
         first_state(SQL_HANDLE_STMT, stmt), c->missing_table_state);
  rc = SQLFetch(stmt);
  EXPECT(rc == SQL_ERROR && strcmp(first_state(SQL_HANDLE_STMT, stmt), c->sequence_state) == 0,
         "version %d: fetch without cursor returned %d '%s', want '%s'", (int)c->version, (int)rc,
         first_state(SQL_HANDLE_STMT, stmt), c->sequence_state);
}

static void check_type_codes(const struct version_case* c, SQLHSTMT stmt) {
  const SQLSMALLINT want[3] = {c->date_code, c->timestamp_code, c->time_code};
  run(stmt,
      "SELECT ship_date, ordered_at, ship_time\n  FROM orders -- the first order\n WHERE id = 1");
  for (SQLUSMALLINT col = 1; col <= 3; ++col) {
    SQLSMALLINT type = 0;
    EXPECT_OK(SQLDescribeCol(stmt, col, NULL, 0, NULL, &type, NULL, NULL, NULL), SQL_HANDLE_STMT,
              stmt);
    EXPECT(type == want[col - 1], "version %d: column %s type %d, want %d", (int)c->version,
           column_names[col - 1], (int)type, (int)want[col - 1]);
  }
  SQL_TIMESTAMP_STRUCT ts;
  SQLLEN ts_length;
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no first order", (int)c->version);
  EXPECT_OK(SQLGetData(stmt, 2, c->timestamp_c_type, &ts, sizeof ts, &ts_length), SQL_HANDLE_STMT,
            stmt);
  EXPECT(ts_length == sizeof ts && ts.year >= 1900 && ts.month >= 1 && ts.month <= 12,
         "version %d: timestamp %d-%d (%ld)", (int)c->version, (int)ts.year, (int)ts.month,
         (long)ts_length);
  SQLFreeStmt(stmt, SQL_CLOSE);

  for (int k = 0; k < 3; ++k) {
    EXPECT_OK(SQLColumns(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"orders", SQL_NTS,
                         (SQLCHAR*)column_names[k], SQL_NTS),
              SQL_HANDLE_STMT, stmt);
    SQLSMALLINT data_type = -1;
    SQLLEN indicator = 0;
    EXPECT_OK(SQLBindCol(stmt, 5, SQL_C_SSHORT, &data_type, 0, &indicator), SQL_HANDLE_STMT, stmt);
    EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no row for %s", (int)c->version,
           column_names[k]);
    char text[8] = "";
    EXPECT_OK(SQLGetData(stmt, 5, SQL_C_CHAR, text, sizeof text, &indicator), SQL_HANDLE_STMT,
              stmt);
    EXPECT(data_type == want[k] && atoi(text) == want[k],
           "version %d: %s DATA_TYPE %d, as text \"%s\", want %d", (int)c->version, column_names[k],
           (int)data_type, text, (int)want[k]);
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLFreeStmt(stmt, SQL_CLOSE);
  }

  EXPECT_OK(SQLGetTypeInfo(stmt, c->timestamp_code), SQL_HANDLE_STMT, stmt);
  SQLINTEGER type_code = -1;
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no timestamp type", (int)c->version);
  EXPECT_OK(SQLGetData(stmt, 2, SQL_C_SLONG, &type_code, 0, NULL), SQL_HANDLE_STMT, stmt);
  EXPECT(type_code == c->timestamp_code, "version %d: type info DATA_TYPE %d", (int)c->version,
         (int)type_code);
  SQLFreeStmt(stmt, SQL_CLOSE);
}

/* After the catalog calls, a query's small integers, NULL, empty text and
   fraction come back as they are. */
static void check_everyday_query(const struct version_case* c, SQLHSTMT stmt) {
  SQLCHAR name[] = "Zo\xc3\xab";
  SQLLEN name_length = SQL_NTS;
  EXPECT_OK(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, name, 0,
                             &name_length),
            SQL_HANDLE_STMT, stmt);
  run(stmt, "\n-- small numbers, a NULL, nothing, a fraction\nSELECT 9, NULL, '', -0.125, ?");
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no row of the query", (int)c->version);
  SQLINTEGER nine = 0;
  SQLCHAR text[4][16];
  SQLLEN lengths[4];
  EXPECT_OK(SQLGetData(stmt, 1, SQL_C_SLONG, &nine, 0, NULL), SQL_HANDLE_STMT, stmt);
  for (SQLUSMALLINT col = 2; col <= 5; ++col) {
    EXPECT_OK(SQLGetData(stmt, col, SQL_C_CHAR, text[col - 2], sizeof text[0], &lengths[col - 2]),
              SQL_HANDLE_STMT, stmt);
  }
  EXPECT(nine == 9 && lengths[0] == SQL_NULL_DATA && lengths[1] == 0 &&
             strcmp((char*)text[2], "-0.125") == 0 && strcmp((char*)text[3], (char*)name) == 0,
         "version %d: %d, %ld, %ld '%s', '%s', '%s'", (int)c->version, (int)nine, (long)lengths[0],
         (long)lengths[1], text[1], text[2], text[3]);
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
}

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
    SQLCHAR text[16];
    EXPECT_OK(SQLGetInfo(dbc, SQL_DRIVER_ODBC_VER, text, sizeof text, NULL), SQL_HANDLE_DBC, dbc);
    EXPECT(strcmp((char*)text, c->driver_odbc_ver) == 0, "version %d: driver ODBC version %s",
           (int)c->version, text);

    EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
    check_refusals(c, stmt);
    check_type_codes(c, stmt);
    check_everyday_query(c, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(env, dbc);
  }
  return finish("versions_test");
}
