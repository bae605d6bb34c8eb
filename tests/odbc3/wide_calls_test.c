/* A wide ODBC 3.80 application in C: every text argument and answer in
   the Driver Manager's SQLWCHAR (connection strings, user names and
   passwords, statement text, column names, catalog names, driver
   information, cursor names, native SQL), lengths in
   characters or bytes as each function counts them, and cut answers reported
   with their full length. */
#include "odbc3_check.h"

#include <sqlucode.h>

/* SQLWCHAR text from a UTF-8 literal: UTF-16 (surrogate pairs beyond the
   BMP) where SQLWCHAR has 2 bytes, UTF-32 where it is a 4-byte wchar_t. */
static SQLWCHAR* w(const char* utf8) {
  static SQLWCHAR buffers[4][512];
  static int next;
  SQLWCHAR* out = buffers[next++ % 4];
  const unsigned char* in = (const unsigned char*)utf8;
  int n = 0;
  while (*in) {
    /* The lead byte's bits (fewer the more bytes follow), then 6 bits of each byte after it. */
    unsigned cp = *in++, more = cp < 0x80 ? 0 : cp < 0xE0 ? 1 : cp < 0xF0 ? 2 : 3;
    if (more != 0) cp &= 0x3Fu >> more;
    while (more-- != 0) cp = cp << 6 | (*in++ & 0x3Fu);
    if (cp >= 0x10000 && sizeof(SQLWCHAR) == 2) {
      out[n++] = (SQLWCHAR)(0xD800 + ((cp - 0x10000) >> 10));
      out[n++] = (SQLWCHAR)(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out[n++] = (SQLWCHAR)cp;
    }
  }
  out[n] = 0;
  return out;
}

/* `sql` on a statement closed first: a call that must succeed. */
static void wrun(SQLHSTMT stmt, const char* sql) {
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(SQLExecDirectW(stmt, w(sql), SQL_NTS), SQL_HANDLE_STMT, stmt);
}

static int wide_equal(const SQLWCHAR* a, const SQLWCHAR* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

/* SQLDescribeColW on a name with a surrogate pair, in rooms of every size
   around it: the pair is never split, the length is always the whole
   name's in units. */
static void describe_names(SQLHSTMT stmt) {
  static const struct Case {
    SQLSMALLINT room;
    SQLRETURN rc;
    const char* name;
  } utf16[] =
      {
          {10, SQL_SUCCESS, "x\xF0\x9F\x98\x80\xC3\xA9"},
          {4, SQL_SUCCESS_WITH_INFO, "x\xF0\x9F\x98\x80"},
          {3, SQL_SUCCESS_WITH_INFO, "x"}, /* room for x and half the pair: the pair stays out */
          {1, SQL_SUCCESS_WITH_INFO, ""},
      },
    utf32[] = {
        /* iODBC: one unit per character, the emoji included. */
        {10, SQL_SUCCESS, "x\xF0\x9F\x98\x80\xC3\xA9"},
        {3, SQL_SUCCESS_WITH_INFO, "x\xF0\x9F\x98\x80"},
        {2, SQL_SUCCESS_WITH_INFO, "x"},
        {1, SQL_SUCCESS_WITH_INFO, ""},
    };
  const int pairs = sizeof(SQLWCHAR) == 2;
  const SQLSMALLINT full = pairs ? 4 : 3;
  wrun(stmt, "SELECT 1 AS \"x\xF0\x9F\x98\x80\xC3\xA9\"");
  for (size_t i = 0; i < 4; ++i) {
    const struct Case* c = pairs ? &utf16[i] : &utf32[i];
    SQLWCHAR name[16];
    SQLSMALLINT length = -1, type, scale, nullable;
    SQLULEN size;
    SQLRETURN rc =
        SQLDescribeColW(stmt, 1, name, c->room, &length, &type, &size, &scale, &nullable);
    EXPECT(rc == c->rc, "room %d: rc %d", c->room, (int)rc);
    EXPECT(length == full, "room %d: length %d, not %d units", c->room, (int)length, full);
    EXPECT(wide_equal(name, w(c->name)), "room %d: name differs", c->room);
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
}

/* SQLColumnsW with a table name in CJK; the column names read as wide text. */
static void catalog_names(SQLHSTMT stmt) {
  SQLExecDirectW(stmt, w("DROP TABLE \"\xE6\x9D\xB1\xE4\xBA\xAC_wide\""), SQL_NTS);
  wrun(stmt,
       "CREATE TABLE \"\xE6\x9D\xB1\xE4\xBA\xAC_wide\" (\n  \"pr\xC3\xA9nom\" VARCHAR(20), "
       "-- accents\n  \"\xE5\x90\x8D\xE5\x89\x8D\" INTEGER)");
  /* An explicit length (in characters) shorter than the buffer's text. */
  EXPECT_OK(
      SQLColumnsW(stmt, NULL, 0, NULL, 0, w("\xE6\x9D\xB1\xE4\xBA\xAC_wide and more"), 7, NULL, 0),
      SQL_HANDLE_STMT, stmt);
  const char* expected[] = {"pr\xC3\xA9nom", "\xE5\x90\x8D\xE5\x89\x8D"};
  int rows = 0;
  while (SQL_SUCCEEDED(SQLFetch(stmt))) {
    SQLWCHAR name[64];
    SQLLEN length;
    EXPECT_OK(SQLGetData(stmt, 4, SQL_C_WCHAR, name, sizeof name, &length), SQL_HANDLE_STMT, stmt);
    if (rows < 2) EXPECT(wide_equal(name, w(expected[rows])), "column %d differs", rows + 1);
    ++rows;
  }
  EXPECT(rows == 2, "%d columns, not 2", rows);
  SQLFreeStmt(stmt, SQL_CLOSE);
}

/* A wide parameter and a wide column: text beyond the BMP, an empty string
   and a NULL round-trip, lengths in bytes of the Driver Manager's units. */
static void wide_values(SQLHSTMT stmt) {
  SQLExecDirectW(stmt, w("DROP TABLE wide_values"), SQL_NTS);
  wrun(stmt, "CREATE TABLE wide_values (n INTEGER, t VARCHAR(40))");
  const char* texts[] = {"Zo\xC3\xAB \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80", "", NULL};
  for (int i = 0; i < 3; ++i) {
    SQLINTEGER n = i;
    SQLLEN indicator = texts[i] != NULL ? SQL_NTS : SQL_NULL_DATA;
    SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &n, 0, NULL);
    SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 40, 0,
                     texts[i] != NULL ? w(texts[i]) : NULL, 0, &indicator);
    wrun(stmt, "INSERT INTO wide_values VALUES (?, ?)");
  }
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  wrun(stmt, "SELECT t FROM wide_values ORDER BY n");
  for (int i = 0; i < 3; ++i) {
    SQLWCHAR value[32];
    SQLLEN length = 0;
    EXPECT_OK(SQLFetch(stmt), SQL_HANDLE_STMT, stmt);
    EXPECT_OK(SQLGetData(stmt, 1, SQL_C_WCHAR, value, sizeof value, &length), SQL_HANDLE_STMT,
              stmt);
    if (texts[i] == NULL) {
      EXPECT(length == SQL_NULL_DATA, "row %d: length %d, not NULL", i, (int)length);
    } else {
      SQLWCHAR* expected = w(texts[i]);
      SQLLEN units = 0;
      while (expected[units] != 0) ++units;
      EXPECT(wide_equal(value, expected) && length == units * (SQLLEN)sizeof(SQLWCHAR),
             "row %d: length %d", i, (int)length);
    }
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
}

/* SQLGetInfoW counts bytes; a cut answer reports its full length in bytes. */
static void info_texts(SQLHDBC dbc) {
  SQLWCHAR text[16];
  SQLSMALLINT length = -1;
  const SQLSMALLINT two = 2 * sizeof(SQLWCHAR);
  EXPECT(SQLGetInfoW(dbc, SQL_DBMS_NAME, text, sizeof text, &length) == SQL_SUCCESS, "DBMS name");
  EXPECT(wide_equal(text, w("Q4")) && length == two, "DBMS name length %d", (int)length);
  EXPECT(SQLGetInfoW(dbc, SQL_DBMS_NAME, text, two, &length) == SQL_SUCCESS_WITH_INFO, "cut name");
  EXPECT(wide_equal(text, w("Q")) && length == two, "cut DBMS name length %d", (int)length);
}

static void cursor_and_native_sql(SQLHDBC dbc) {
  SQLHSTMT stmt;
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
  SQLWCHAR text[64];
  SQLSMALLINT length = -1;
  EXPECT_OK(SQLSetCursorNameW(stmt, w("curseur_\xC3\xA9t\xC3\xA9"), SQL_NTS), SQL_HANDLE_STMT,
            stmt);
  EXPECT_OK(SQLGetCursorNameW(stmt, text, 64, &length), SQL_HANDLE_STMT, stmt);
  EXPECT(wide_equal(text, w("curseur_\xC3\xA9t\xC3\xA9")) && length == 11, "cursor name %d",
         (int)length);
  SQLINTEGER native_length = -1;
  SQLRETURN rc =
      SQLNativeSqlW(dbc, w("SELECT '\xE6\x9D\xB1' FROM t"), SQL_NTS, text, 64, &native_length);
  EXPECT(rc == SQL_SUCCESS, "native SQL rc %d", (int)rc);
  EXPECT(wide_equal(text, w("SELECT '\xE6\x9D\xB1' FROM t")) && native_length == 17,
         "native SQL length %d", (int)native_length);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

/* SQLConnectW with lengths in characters shorter than the texts, and a
   user and password beyond ASCII (a surrogate pair among them); a password
   one character short is refused. */
static void connect_by_name(SQLHENV env) {
  const char* dsn = getenv("Q4_DSN") != NULL ? getenv("Q4_DSN") : "q4sample";
  char dsn_more[128];
  snprintf(dsn_more, sizeof dsn_more, "%s and more", dsn);
  static const struct {
    const char* user;
    SQLSMALLINT user_length;
    const char* password;
    SQLSMALLINT password_length;
    int accepted;
  } cases[] = {
      {"test, not me", 4, "secret\xC3\xA9", 6, 1},
      {"j\xC3\xB6rg", SQL_NTS,
       "stra\xC3\x9F"
       "e\xF0\x9F\x94\x91",
       SQL_NTS, 1},
      {"j\xC3\xB6rg", SQL_NTS,
       "stra\xC3\x9F"
       "e",
       SQL_NTS, 0},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SQLHDBC dbc;
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLRETURN rc =
        SQLConnectW(dbc, w(dsn_more), (SQLSMALLINT)strlen(dsn), w(cases[i].user),
                    cases[i].user_length, w(cases[i].password), cases[i].password_length);
    if (cases[i].accepted) {
      EXPECT_OK(rc, SQL_HANDLE_DBC, dbc);
    } else {
      SQLWCHAR state[6] = {0};
      SQLGetDiagRecW(SQL_HANDLE_DBC, dbc, 1, state, NULL, NULL, 0, NULL);
      EXPECT(rc == SQL_ERROR && wide_equal(state, w("28000")), "case %d: rc %d", (int)i, (int)rc);
    }
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
}

/* SQLDriverConnectW: a completed string that does not fit 8 characters is
   cut, whole characters only, and reported with its full length. */
static SQLRETURN driver_connect(SQLHENV* env, SQLHDBC* dbc) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env);
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3_80, 0)))
    SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, *env, dbc);
  SQLWCHAR out[8];
  SQLSMALLINT out_length = -1;
  SQLRETURN rc = SQLDriverConnectW(*dbc, NULL, w(test_connection_string()), SQL_NTS, out, 8,
                                   &out_length, SQL_DRIVER_NOPROMPT);
  EXPECT(rc == SQL_SUCCESS_WITH_INFO, "connect rc %d", (int)rc);
  EXPECT(out_length > 8 && out[7] == 0, "completed string length %d", (int)out_length);
  return rc;
}

int main(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  SQLRETURN rc = driver_connect(&env, &dbc);
  if (!SQL_SUCCEEDED(rc)) return finish("wide_calls_test");
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0);

  describe_names(stmt);
  catalog_names(stmt);
  wide_values(stmt);
  info_texts(dbc);
  cursor_and_native_sql(dbc);
  connect_by_name(env);

  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("wide_calls_test");
}
