#!/usr/bin/python3
"""Catalog functions through pyodbc and unixODBC against q4lite.

run_script.sh starts q4lite on a copy of the sample database
($Q4_WORK/sample.db) and sets up the data source $Q4_DSN. The expected schema
is read from that same file with Python's own sqlite3 module, so the driver's
answers are checked against the database itself rather than against a list
written into this test.
"""
import os
import sqlite3
import sys
import unittest

import pyodbc

DSN = os.environ.get("Q4_DSN", "q4sample")
DB_PATH = os.path.join(os.environ["Q4_WORK"], "sample.db")

# ODBC 2.x SQL type codes as the server reports them. The Driver Manager
# passes catalog rows through unchanged, so the 2.x date and time codes stay.
SQL_CHAR, SQL_NUMERIC, SQL_INTEGER, SQL_SMALLINT = 1, 2, 4, 5
SQL_DATE, SQL_TIME, SQL_TIMESTAMP, SQL_VARCHAR = 9, 10, 11, 12
SQL_VARBINARY, SQL_LONGVARBINARY = -3, -4

# Result columns of the catalog functions by position (ODBC 2.x layouts).
TABLE_NAME, TABLE_TYPE = 2, 3
COLUMN_NAME, DATA_TYPE, NULLABLE = 3, 4, 10
STAT_NON_UNIQUE, STAT_INDEX_NAME, STAT_TYPE, STAT_SEQ, STAT_COLUMN = 3, 5, 6, 7, 8
PK_TABLE, PK_COLUMN, PK_SEQ = 2, 3, 4
TYPE_NAME, TYPE_DATA_TYPE = 0, 1


class Schema:
    """The sample database as SQLite itself describes it."""

    def __init__(self, path):
        self.db = sqlite3.connect(path)

    def tables(self, kind="table"):
        rows = self.db.execute(
            "SELECT name FROM sqlite_schema WHERE type = ? "
            "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'", (kind,))
        return sorted(name for (name,) in rows)

    def columns(self, table):
        """[(name, nullable)] in column order."""
        rows = self.db.execute(
            "SELECT name, \"notnull\" FROM pragma_table_info(?) ORDER BY cid", (table,))
        return [(name, 0 if notnull else 1) for name, notnull in rows]

    def primary_key(self, table):
        rows = self.db.execute(
            "SELECT name, pk FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk", (table,))
        return [(name, pk) for name, pk in rows]

    def indexes(self, table):
        """{index name: (unique, [column names in index order])}, implicit ones included."""
        out = {}
        for (name, unique) in self.db.execute(
                "SELECT name, \"unique\" FROM pragma_index_list(?)", (table,)):
            cols = [c for (c,) in self.db.execute(
                "SELECT name FROM pragma_index_info(?) ORDER BY seqno", (name,))]
            out[name] = (bool(unique), cols)
        return out


class CatalogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.conn = pyodbc.connect("DSN=" + DSN, autocommit=True)
        cls.schema = Schema(DB_PATH)

    @classmethod
    def tearDownClass(cls):
        cls.conn.close()

    def cursor(self):
        return self.conn.cursor()

    def test_tables_lists_every_table_of_the_database(self):
        rows = self.cursor().tables().fetchall()
        got = sorted(r[TABLE_NAME] for r in rows if r[TABLE_TYPE] == "TABLE")
        self.assertEqual(got, self.schema.tables())
        self.assertEqual(len(got), 4)

    def test_tables_result_is_described_with_the_servers_column_names(self):
        cur = self.cursor().tables(table="customers")
        names = [d[0].upper() for d in cur.description]
        self.assertEqual(names[:4], ["TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE"])
        self.assertEqual([r[TABLE_NAME] for r in cur.fetchall()], ["customers"])

    def test_tables_by_pattern_and_type(self):
        rows = self.cursor().tables(table="order%", tableType="TABLE").fetchall()
        self.assertEqual(sorted(r[TABLE_NAME] for r in rows), ["order_lines", "orders"])
        views = self.schema.tables("view")
        self.assertGreater(len(views), 0)
        rows = self.cursor().tables(table="%", tableType="VIEW").fetchall()
        self.assertEqual(sorted(r[TABLE_NAME] for r in rows), views)
        self.assertEqual({r[TABLE_TYPE] for r in rows}, {"VIEW"})

    def test_columns_of_every_table_match_the_database(self):
        for table in self.schema.tables():
            with self.subTest(table=table):
                rows = self.cursor().columns(table=table).fetchall()
                got = [(r[COLUMN_NAME], r[NULLABLE]) for r in rows]
                self.assertEqual(got, self.schema.columns(table))

    def test_columns_report_the_declared_types(self):
        rows = self.cursor().columns(table="customers").fetchall()
        types = {r[COLUMN_NAME]: r[DATA_TYPE] for r in rows}
        self.assertEqual(types, {
            "id": SQL_INTEGER, "name": SQL_VARCHAR, "country": SQL_CHAR,
            "credit_limit": SQL_NUMERIC, "since": SQL_DATE, "rating": SQL_SMALLINT,
            "badge": SQL_VARBINARY})
        rows = self.cursor().columns(table="orders", column="ship%").fetchall()
        self.assertEqual([(r[COLUMN_NAME], r[DATA_TYPE]) for r in rows],
                         [("ship_date", SQL_DATE), ("ship_time", SQL_TIME)])

    def test_statistics_list_each_index_with_its_columns(self):
        for table in self.schema.tables():
            with self.subTest(table=table):
                rows = self.cursor().statistics(table, unique=False).fetchall()
                # The first row of a table's statistics describes the table itself.
                self.assertEqual(rows[0][STAT_TYPE], 0)
                got = {}
                for r in rows[1:]:
                    unique, cols = got.setdefault(r[STAT_INDEX_NAME], (not r[STAT_NON_UNIQUE], []))
                    self.assertEqual(r[STAT_SEQ], len(cols) + 1)
                    cols.append(r[STAT_COLUMN])
                self.assertEqual(got, {k: (u, c) for k, (u, c) in self.schema.indexes(table).items()})

    def test_statistics_unique_only_leave_out_duplicate_indexes(self):
        rows = self.cursor().statistics("orders", unique=True).fetchall()
        self.assertNotIn("orders_by_customer", {r[STAT_INDEX_NAME] for r in rows})
        rows = self.cursor().statistics("products", unique=True).fetchall()
        self.assertEqual([r[STAT_COLUMN] for r in rows[1:]], ["code"])

    def test_primary_keys_match_the_database(self):
        for table in self.schema.tables():
            with self.subTest(table=table):
                rows = self.cursor().primaryKeys(table).fetchall()
                got = [(r[PK_COLUMN], r[PK_SEQ]) for r in rows]
                self.assertEqual(got, self.schema.primary_key(table))
                self.assertTrue(all(r[PK_TABLE] == table for r in rows))
        rows = self.cursor().primaryKeys("order_lines").fetchall()
        self.assertEqual([r[PK_COLUMN] for r in rows], ["order_id", "line_no"])

    def test_type_info_lists_every_type_the_server_sends(self):
        rows = self.cursor().getTypeInfo().fetchall()
        codes = {r[TYPE_DATA_TYPE] for r in rows}
        for code in (SQL_CHAR, SQL_NUMERIC, SQL_INTEGER, SQL_SMALLINT, SQL_VARCHAR,
                     SQL_VARBINARY, SQL_LONGVARBINARY):
            self.assertIn(code, codes)
        self.assertTrue(all(r[TYPE_NAME] for r in rows))

    def test_type_info_for_one_type(self):
        rows = self.cursor().getTypeInfo(pyodbc.SQL_INTEGER).fetchall()
        self.assertGreater(len(rows), 0)
        self.assertEqual({r[TYPE_DATA_TYPE] for r in rows}, {SQL_INTEGER})

    def test_a_catalog_result_replaces_a_query_result_on_the_same_cursor(self):
        cur = self.cursor()
        cur.execute("SELECT id FROM customers WHERE id < 4")
        self.assertEqual(cur.fetchone()[0], 1)
        rows = cur.primaryKeys("customers").fetchall()
        self.assertEqual([(r[PK_COLUMN], r[PK_SEQ]) for r in rows], [("id", 1)])
        cur.execute("SELECT count(*) FROM orders")
        self.assertEqual(cur.fetchone()[0], 5000)


if __name__ == "__main__":
    result = unittest.main(verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
