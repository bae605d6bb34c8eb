/* An ODBC 3 application's descriptors: the statement's own read and written
   from both sides (SQLBindCol / statement attributes and the descriptor
   fields), rows fetched into buffers bound through the descriptor alone, an
   explicitly allocated descriptor lent to two statements, and SQLCopyDesc. */
#include "odbc3_check.h"

static SQLHDESC descriptor_of(SQLHSTMT stmt, SQLINTEGER attribute) {
  SQLHDESC desc = NULL;
  EXPECT_OK(SQLGetStmtAttr(stmt, attribute, &desc, 0, NULL), SQL_HANDLE_STMT, stmt);
  return desc;
}

static SQLLEN field(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT id) {
  SQLLEN value = 0; /* wide enough for every numeric field; small ones fill the low bytes */
  EXPECT_OK(SQLGetDescField(desc, record, id, &value, sizeof value, NULL), SQL_HANDLE_DESC, desc);
  return id == SQL_DESC_CONCISE_TYPE || id == SQL_DESC_TYPE || id == SQL_DESC_COUNT ||
                 id == SQL_DESC_PRECISION || id == SQL_DESC_SCALE || id == SQL_DESC_NULLABLE
             ? (SQLLEN)(SQLSMALLINT)value
             : value;
}

int main(void) {
  struct session s = open_session(SQL_OV_ODBC3_80, "odbc3_desc",
                                  "(id INTEGER, label VARCHAR(30), amount NUMERIC(12,2))");
  SQLHDBC dbc = s.dbc;
  SQLHSTMT stmt = s.stmt, other;
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other), SQL_HANDLE_DBC, dbc);
  run(stmt,
      "INSERT INTO odbc3_desc VALUES (1, 'Zo\xc3\xab', 1.5), (2, NULL, -2.25), (3, '', 0), "
      "(4, 'line one\nline two', 99999.99)");

  /* The result's descriptor describes the columns. */
  run(stmt, "SELECT id, label, amount FROM odbc3_desc ORDER BY id");
  SQLHDESC ird = descriptor_of(stmt, SQL_ATTR_IMP_ROW_DESC);
  EXPECT(field(ird, 0, SQL_DESC_COUNT) == 3, "IRD count %ld", (long)field(ird, 0, SQL_DESC_COUNT));
  EXPECT(field(ird, 3, SQL_DESC_CONCISE_TYPE) == SQL_NUMERIC, "IRD 3 type");
  EXPECT(field(ird, 3, SQL_DESC_PRECISION) == 12 && field(ird, 3, SQL_DESC_SCALE) == 2,
         "IRD 3 precision/scale %ld/%ld", (long)field(ird, 3, SQL_DESC_PRECISION),
         (long)field(ird, 3, SQL_DESC_SCALE));
  SQLCHAR name[32];
  SQLSMALLINT name_length = 0, type = 0, subtype = 0, precision = 0, scale = 0, nullable = 0;
  SQLLEN length = 0;
  EXPECT_OK(SQLGetDescRec(ird, 2, name, sizeof name, &name_length, &type, &subtype, &length,
                          &precision, &scale, &nullable),
            SQL_HANDLE_DESC, ird);
  EXPECT(strcmp((char*)name, "label") == 0 && type == SQL_VARCHAR && nullable == SQL_NULLABLE,
         "IRD record 2: '%s' type %d nullable %d", name, type, nullable);
  EXPECT(SQLGetDescRec(ird, 4, name, sizeof name, NULL, NULL, NULL, NULL, NULL, NULL, NULL) ==
             SQL_NO_DATA,
         "IRD record 4 exists");
  EXPECT(SQLSetDescField(ird, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)SQL_C_CHAR, 0) == SQL_ERROR,
         "IRD record written");

  /* SQLBindCol and the statement attributes are the row descriptor's fields,
     and the other way round. */
  SQLHDESC ard = descriptor_of(stmt, SQL_ATTR_APP_ROW_DESC);
  SQLINTEGER ids[2];
  SQLLEN id_lengths[2];
  EXPECT_OK(SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, id_lengths), SQL_HANDLE_STMT, stmt);
  EXPECT(field(ard, 0, SQL_DESC_COUNT) == 1, "ARD count after SQLBindCol");
  EXPECT(field(ard, 1, SQL_DESC_CONCISE_TYPE) == SQL_C_SLONG, "ARD type after SQLBindCol");
  EXPECT(field(ard, 1, SQL_DESC_DATA_PTR) == (SQLLEN)ids, "ARD data pointer after SQLBindCol");
  EXPECT_OK(SQLSetDescField(ard, 0, SQL_DESC_ARRAY_SIZE, (SQLPOINTER)2, 0), SQL_HANDLE_DESC, ard);
  SQLULEN array_size = 0, fetched = 0;
  SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &array_size, 0, NULL);
  EXPECT(array_size == 2, "row array size %lu after SQL_DESC_ARRAY_SIZE",
         (unsigned long)array_size);
  SQLHDESC ird_again = descriptor_of(stmt, SQL_ATTR_IMP_ROW_DESC);
  EXPECT_OK(SQLSetDescField(ird_again, 0, SQL_DESC_ROWS_PROCESSED_PTR, &fetched, 0),
            SQL_HANDLE_DESC, ird_again);

  /* Column 2 bound through the descriptor alone: the data pointer last. */
  SQLCHAR labels[2][24];
  SQLLEN label_lengths[2];
  EXPECT_OK(SQLSetDescRec(ard, 2, SQL_C_CHAR, 0, sizeof labels[0], 0, 0, labels, label_lengths,
                          label_lengths),
            SQL_HANDLE_DESC, ard);
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "first rowset");
  EXPECT(fetched == 2 && ids[0] == 1 && ids[1] == 2, "first rowset: %lu rows, ids %d %d",
         (unsigned long)fetched, (int)ids[0], (int)ids[1]);
  EXPECT(strcmp((char*)labels[0], "Zo\xc3\xab") == 0 && label_lengths[0] == 4 &&
             label_lengths[1] == SQL_NULL_DATA,
         "first rowset labels '%s' (%ld), %ld", labels[0], (long)label_lengths[0],
         (long)label_lengths[1]);
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "second rowset");
  EXPECT(label_lengths[0] == 0 && strcmp((char*)labels[1], "line one\nline two") == 0,
         "second rowset labels '%s' '%s'", labels[0], labels[1]);

  /* Copied to another statement: the same bindings serve its fetch. */
  SQLHDESC other_ard = descriptor_of(other, SQL_ATTR_APP_ROW_DESC);
  EXPECT_OK(SQLCopyDesc(ard, other_ard), SQL_HANDLE_DESC, other_ard);
  EXPECT(field(other_ard, 0, SQL_DESC_COUNT) == 2 && field(other_ard, 0, SQL_DESC_ARRAY_SIZE) == 2,
         "copied ARD");
  memset(ids, 0, sizeof ids);
  run(other, "SELECT id, label FROM odbc3_desc WHERE id > 2 ORDER BY id");
  EXPECT(SQLFetch(other) == SQL_SUCCESS && ids[0] == 3 && ids[1] == 4,
         "copied bindings fetched %d %d", (int)ids[0], (int)ids[1]);
  SQLFreeStmt(other, SQL_CLOSE);

  /* An explicit descriptor lent to a statement as its row descriptor. */
  SQLHDESC mine = NULL;
  EXPECT_OK(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &mine), SQL_HANDLE_DBC, dbc);
  SQLINTEGER one_id = 0;
  SQLLEN one_length = 0;
  EXPECT_OK(SQLSetDescField(mine, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)SQL_C_SLONG, 0),
            SQL_HANDLE_DESC, mine);
  EXPECT_OK(SQLSetDescField(mine, 1, SQL_DESC_INDICATOR_PTR, &one_length, 0), SQL_HANDLE_DESC,
            mine);
  EXPECT_OK(SQLSetDescField(mine, 1, SQL_DESC_DATA_PTR, &one_id, 0), SQL_HANDLE_DESC, mine);
  EXPECT_OK(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, mine, 0), SQL_HANDLE_STMT, other);
  EXPECT(descriptor_of(other, SQL_ATTR_APP_ROW_DESC) == mine, "explicit ARD not in use");
  run(other, "SELECT id FROM odbc3_desc WHERE id = 4");
  EXPECT(SQLFetch(other) == SQL_SUCCESS && one_id == 4 && one_length == 4,
         "explicit ARD fetched %d (%ld)", (int)one_id, (long)one_length);
  SQLFreeStmt(other, SQL_CLOSE);
  EXPECT_OK(SQLFreeHandle(SQL_HANDLE_DESC, mine), SQL_HANDLE_DESC, mine);
  EXPECT(descriptor_of(other, SQL_ATTR_APP_ROW_DESC) == other_ard,
         "statement did not return to its own ARD");

  /* A closed cursor keeps its bindings; SQL_UNBIND lets them go. */
  EXPECT_OK(SQLCloseCursor(stmt), SQL_HANDLE_STMT, stmt);
  EXPECT(field(ard, 0, SQL_DESC_COUNT) == 2, "ARD count after SQLCloseCursor");
  SQLFreeStmt(stmt, SQL_UNBIND);
  EXPECT(field(ard, 0, SQL_DESC_COUNT) == 0, "ARD count after SQL_UNBIND");

  /* Parameters: SQLBindParameter fills both parameter descriptors. */
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1, 0);
  SQLCHAR wanted[] = "Zo\xc3\xab";
  SQLLEN wanted_length = SQL_NTS;
  EXPECT_OK(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 30, 0, wanted, 0,
                             &wanted_length),
            SQL_HANDLE_STMT, stmt);
  SQLHDESC apd = descriptor_of(stmt, SQL_ATTR_APP_PARAM_DESC);
  SQLHDESC ipd = descriptor_of(stmt, SQL_ATTR_IMP_PARAM_DESC);
  EXPECT(field(apd, 1, SQL_DESC_CONCISE_TYPE) == SQL_C_CHAR, "APD type");
  EXPECT(
      field(ipd, 1, SQL_DESC_CONCISE_TYPE) == SQL_VARCHAR && field(ipd, 1, SQL_DESC_LENGTH) == 30,
      "IPD type/length");
  EXPECT(field(ipd, 1, SQL_DESC_PARAMETER_TYPE) == SQL_PARAM_INPUT, "IPD parameter type");
  run(stmt, "SELECT id FROM odbc3_desc WHERE label = ?");
  EXPECT(SQLFetch(stmt) == SQL_SUCCESS, "row by parameter");
  SQLINTEGER found = 0;
  SQLGetData(stmt, 1, SQL_C_SLONG, &found, 0, NULL);
  EXPECT(found == 1, "parameter found id %d", (int)found);

  SQLFreeHandle(SQL_HANDLE_STMT, other);
  return close_session(s, "descriptors_test");
}
