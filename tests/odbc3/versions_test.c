/* What each generation of application is told of the same columns and the
   same driver: the driver's ODBC version, the date and time type codes of a
   description, an ODBC 3 information type, and a timestamp read with the C
   type code of its generation. */
#include "odbc3_check.h"

struct version_case {
  SQLINTEGER version;
  const char* driver_odbc_ver;
  SQLSMALLINT date_code, timestamp_code, time_code;
  SQLSMALLINT timestamp_c_type;
};

static const struct version_case cases[] = {
    {SQL_OV_ODBC2, "02.50", SQL_DATE, SQL_TIMESTAMP, SQL_TIME, SQL_C_TIMESTAMP},
    {SQL_OV_ODBC3, "03.80", SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP, SQL_TYPE_TIME, SQL_C_TYPE_TIMESTAMP},
    {SQL_OV_ODBC3_80, "03.80", SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP, SQL_TYPE_TIME,
     SQL_C_TYPE_TIMESTAMP},
};

int main(void) {
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const struct version_case* c = &cases[i];
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    EXPECT_OK(connect_as(c->version, &env, &dbc), SQL_HANDLE_DBC, dbc);
    SQLCHAR text[16];
    SQLSMALLINT length;
    EXPECT_OK(SQLGetInfo(dbc, SQL_DRIVER_ODBC_VER, text, sizeof text, &length), SQL_HANDLE_DBC,
              dbc);
    EXPECT(strcmp((char*)text, c->driver_odbc_ver) == 0, "version %d: driver ODBC version %s",
           (int)c->version, text);

    EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc);
    EXPECT_OK(SQLExecDirect(stmt,
                            (SQLCHAR*)"SELECT ship_date, ordered_at, ship_time\n"
                                      "  FROM orders -- the first order\n WHERE id = 1",
                            SQL_NTS),
              SQL_HANDLE_STMT, stmt);
    const SQLSMALLINT want[3] = {c->date_code, c->timestamp_code, c->time_code};
    for (SQLUSMALLINT col = 1; col <= 3; ++col) {
      SQLCHAR name[64];
      SQLSMALLINT name_length, type, scale, nullable;
      SQLULEN size;
      EXPECT_OK(SQLDescribeCol(stmt, col, name, sizeof name, &name_length, &type, &size, &scale,
                               &nullable),
                SQL_HANDLE_STMT, stmt);
      EXPECT(type == want[col - 1], "version %d: column %s type %d, want %d", (int)c->version, name,
             (int)type, (int)want[col - 1]);
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

    /* Type information for the generation's timestamp code has its row. */
    EXPECT_OK(SQLGetTypeInfo(stmt, c->timestamp_code), SQL_HANDLE_STMT, stmt);
    EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "version %d: no type information for %d", (int)c->version,
           (int)c->timestamp_code);
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(env, dbc);
  }
  return finish("versions_test");
}
