/* A wide ODBC 3.80 application in C: every text argument and answer in
   UTF-16 through unixODBC (statement text, column names,
   catalog names, driver information, cursor names, native SQL), lengths in
   characters or bytes as each function counts them, and cut answers reported
   with their full length. */
#include "odbc3_check.h"

#include <sqlucode.h>

/* UTF-16 from a UTF-8 literal (BMP characters and surrogate pairs). */
static SQLWCHAR* w(const char* utf8) {
  static SQLWCHAR buffers[4][512];
  static int next;
  SQLWCHAR* out = buffers[next++ % 4];
  const unsigned char* in = (const unsigned char*)utf8;
  int n = 0;
  while (*in) {
    unsigned cp;
    if (*in < 0x80) {
      cp = *in++;
    } else if (*in < 0xE0) {
      cp = (*in++ & 0x1Fu) << 6;
      cp |= *in++ & 0x3Fu;
    } else if (*in < 0xF0) {
      cp = (*in++ & 0x0Fu) << 12;
      cp |= (*in++ & 0x3Fu) << 6;
      cp |= *in++ & 0x3Fu;
    } else {
      cp = (*in++ & 0x07u) << 18;
      cp |= (*in++ & 0x3Fu) << 12;
      cp |= (*in++ & 0x3Fu) << 6;
      cp |= *in++ & 0x3Fu;
    }
    if (cp >= 0x10000) {
      out[n++] = (SQLWCHAR)(0xD800 + ((cp - 0x10000) >> 10));
      out[n++] = (SQLWCHAR)(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out[n++] = (SQLWCHAR)cp;
    }
  }
  out[n] = 0;
  return out;
}

static int wide_equal(const SQLWCHAR* a, const SQLWCHAR* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

/* SQLDescribeColW on a name with a surrogate pair, in rooms of every size
   around it: the pair is never split, the length is always the whole
   name's in characters. */
static void describe_names(SQLHSTMT stmt) {
  static const struct {
    SQLSMALLINT room;
    SQLRETURN rc;
    const char* name;
  } cases[] = {
      {10, SQL_SUCCESS, "x\xF0\x9F\x98\x80\xC3\xA9"},
      {4, SQL_SUCCESS_WITH_INFO, "x\xF0\x9F\x98\x80"},
      {3, SQL_SUCCESS_WITH_INFO, "x"}, /* room for x and half the pair: the pair stays out */
      {1, SQL_SUCCESS_WITH_INFO, ""},
  };
  EXPECT_OK(SQLExecDirectW(stmt, w("SELECT 1 AS \"x\xF0\x9F\x98\x80\xC3\xA9\""), SQL_NTS),
            SQL_HANDLE_STMT, stmt);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SQLWCHAR name[16];
    SQLSMALLINT length = -1, type, scale, nullable;
    SQLULEN size;
    SQLRETURN rc =
        SQLDescribeColW(stmt, 1, name, cases[i].room, &length, &type, &size, &scale, &nullable);
    EXPECT(rc == cases[i].rc, "room %d: rc %d", cases[i].room, (int)rc);
    EXPECT(length == 4, "room %d: length %d, not 4 characters", cases[i].room, (int)length);
    EXPECT(wide_equal(name, w(cases[i].name)), "room %d: name differs", cases[i].room);
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
}

/* SQLColumnsW with a table name in CJK; the column names read as wide text. */
static void catalog_names(SQLHSTMT stmt) {
  SQLExecDirectW(stmt, w("DROP TABLE \"\xE6\x9D\xB1\xE4\xBA\xAC_wide\""), SQL_NTS);
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_OK(SQLExecDirectW(stmt,
                           w("CREATE TABLE \"\xE6\x9D\xB1\xE4\xBA\xAC_wide\" (\n"
                             "  \"pr\xC3\xA9nom\" VARCHAR(20), -- accents\n"
                             "  \"\xE5\x90\x8D\xE5\x89\x8D\" INTEGER)"),
                           SQL_NTS),
            SQL_HANDLE_STMT, stmt);
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

/* SQLGetInfoW counts bytes; a cut answer reports its full length in bytes. */
static void info_texts(SQLHDBC dbc) {
  SQLWCHAR text[16];
  SQLSMALLINT length = -1;
  EXPECT(SQLGetInfoW(dbc, SQL_DBMS_NAME, text, sizeof text, &length) == SQL_SUCCESS, "DBMS name");
  EXPECT(wide_equal(text, w("Q4")) && length == 4, "DBMS name length %d", (int)length);
  EXPECT(SQLGetInfoW(dbc, SQL_DBMS_NAME, text, 4, &length) == SQL_SUCCESS_WITH_INFO, "cut name");
  EXPECT(wide_equal(text, w("Q")) && length == 4, "cut DBMS name length %d", (int)length);
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

int main(void) {
#ifdef Q4_IODBC
  /* iODBC converts a wide call to the narrow one itself, keeping ASCII only:
     wide applications use the narrow calls there (docs/odbc-versions.md). */
  puts("wide_calls_test: unixODBC only");
  return 0;
#endif
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  SQLRETURN rc = connect_as(SQL_OV_ODBC3_80, &env, &dbc);
  EXPECT_OK(rc, SQL_HANDLE_DBC, dbc);
  if (!SQL_SUCCEEDED(rc)) return finish("wide_calls_test");
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0);

  describe_names(stmt);
  catalog_names(stmt);
  info_texts(dbc);
  cursor_and_native_sql(dbc);

  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  disconnect(env, dbc);
  return finish("wide_calls_test");
}
