/* What an ODBC 3 application learns of result columns through
   SQLColAttribute and SQLColAttributeW, as pyodbc, Node's odbc, PHP,
   LibreOffice Base and Qt ask: names (accented), type codes concise and
   verbose, sizes, nullability, a name cut to a short buffer, type names that
   SQLGetTypeInfo lists, and display sizes that hold every value's text (read
   back into buffers of that size, as PHP binds them). */
#include "odbc3_check.h"

#include <sqlucode.h>

static SQLLEN number(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field) {
  SQLLEN value = -999;
  EXPECT_OK(SQLColAttribute(stmt, column, field, NULL, 0, NULL, &value), SQL_HANDLE_STMT, stmt);
  return value;
}

/* Every kind of column: its type name is one SQLGetTypeInfo lists; text has
   no scale; a timestamp is no signed number. */
static void check_type_names(SQLHSTMT stmt) {
  char listed[2048] = "|";
  SQLCHAR name[64];
  EXPECT_OK(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_HANDLE_STMT, stmt);
  while (SQLFetch(stmt) == SQL_SUCCESS) {
    EXPECT_OK(SQLGetData(stmt, 1, SQL_C_CHAR, name, sizeof name, NULL), SQL_HANDLE_STMT, stmt);
    strncat(listed, (char*)name, sizeof listed - strlen(listed) - 2);
    strcat(listed, "|");
  }
  run(stmt, "DROP TABLE IF EXISTS odbc3_kinds");
  run(stmt,
      "CREATE TABLE odbc3_kinds (v VARCHAR(40), c CHAR(10), i INTEGER, s SMALLINT, b BIGINT, "
      "n NUMERIC(10,2), f DOUBLE PRECISION, d DATE, t TIME, ts TIMESTAMP, y BLOB)");
  run(stmt, "SELECT * FROM odbc3_kinds");
  static const struct {
    const char* type_name;
    SQLLEN scale; /* -1: not asked */
  } kinds[] = {{"VARCHAR", 0}, {"CHAR", 0},       {"INTEGER", 0},      {"SMALLINT", 0},
               {"BIGINT", 0},  {"NUMERIC", 2},    {"DOUBLE", 0},       {"DATE", 0},
               {"TIME", 0},    {"TIMESTAMP", -1}, {"LONGVARBINARY", 0}};
  for (SQLUSMALLINT col = 1; col <= sizeof kinds / sizeof kinds[0]; ++col) {
    char bar[80];
    snprintf(bar, sizeof bar, "|%s|", kinds[col - 1].type_name);
    EXPECT_OK(SQLColAttribute(stmt, col, SQL_DESC_TYPE_NAME, name, sizeof name, NULL, NULL),
              SQL_HANDLE_STMT, stmt);
    EXPECT(strcmp((char*)name, kinds[col - 1].type_name) == 0 && strstr(listed, bar) != NULL,
           "column %u: type name '%s', want %s among %s", col, name, kinds[col - 1].type_name,
           listed);
    if (kinds[col - 1].scale >= 0) {
      SQLLEN scale = number(stmt, col, SQL_DESC_SCALE);
      EXPECT(scale == kinds[col - 1].scale, "column %u: scale %ld", col, (long)scale);
    }
  }
  EXPECT(number(stmt, 1, SQL_DESC_OCTET_LENGTH) == 160, "40 characters of UTF-8");
  EXPECT(number(stmt, 3, SQL_DESC_UNSIGNED) == SQL_FALSE, "an integer is unsigned");
  EXPECT(number(stmt, 10, SQL_DESC_UNSIGNED) == SQL_TRUE, "a timestamp is a signed number");
}

/* The extreme values of each numeric column, read as text into a buffer of
   the display size and its NUL, come back whole. */
static void check_display_sizes(SQLHSTMT stmt) {
  run(stmt, "DROP TABLE IF EXISTS odbc3_extremes");
  run(stmt,
      "CREATE TABLE odbc3_extremes (i INTEGER, s SMALLINT, b BIGINT, n NUMERIC(10,2), d DATE)");
  run(stmt,
      "INSERT INTO odbc3_extremes VALUES (-2147483648, -32768, -9223372036854775807, "
      "-12345678.90, '2024-02-29')");
  run(stmt, "SELECT * FROM odbc3_extremes");
  static const char* const extremes[] = {"-2147483648", "-32768", "-9223372036854775807",
                                         "-12345678.90", "2024-02-29"};
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "no row of extremes");
  for (SQLUSMALLINT col = 1; col <= 5; ++col) {
    char buffer[64] = "";
    SQLLEN size = number(stmt, col, SQL_DESC_DISPLAY_SIZE), length = 0;
    SQLRETURN rc = SQLGetData(stmt, col, SQL_C_CHAR, buffer, size + 1, &length);
    EXPECT(rc == SQL_SUCCESS && strcmp(buffer, extremes[col - 1]) == 0,
           "column %u: display size %ld, read %d '%s'", col, (long)size, (int)rc, buffer);
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
}

int main(void) {
  struct session s = open_session(SQL_OV_ODBC3_80, "odbc3_colattr",
                                  "(id INTEGER NOT NULL, \"Stra\xc3\x9f"
                                  "e\" VARCHAR(40), amount NUMERIC(30,4), changed TIMESTAMP)");
  SQLHSTMT stmt = s.stmt;
  run(stmt,
      "SELECT id, \"Stra\xc3\x9f"
      "e\", amount, changed\n  FROM odbc3_colattr -- no rows needed\n");

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
  /* Under iODBC this narrow program loads the ANSI library, and iODBC
     converts a wide call to the narrow one itself, keeping ASCII only
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

  check_type_names(stmt);
  check_display_sizes(stmt);
  return close_session(s, "column_attributes_test");
}
