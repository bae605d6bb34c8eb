#!/usr/bin/python3
"""pyodbc (Debian's python3-pyodbc) through unixODBC against q4lite, run by
run_script.sh on a copy of the sample database ($Q4_WORK/sample.db, data
source $Q4_DSN). What the driver answers is compared with the same file read
by Python's own sqlite3 module, not with lists written into this test."""
import datetime
import decimal
import os
import sqlite3
import sys
import unittest

import pyodbc

DSN = "DSN=%s;UID=test;PWD=secret" % os.environ["Q4_DSN"]
REFERENCE = sqlite3.connect(os.path.join(os.environ["Q4_WORK"], "sample.db"))
# ODBC 2.x type codes; the Driver Manager passes catalog rows through unchanged.
SQL_CHAR, SQL_NUMERIC, SQL_INTEGER, SQL_SMALLINT, SQL_DATE, SQL_TIME = 1, 2, 4, 5, 9, 10
SQL_VARCHAR, SQL_VARBINARY, SQL_LONGVARBINARY = 12, -3, -4


class PyodbcTest(unittest.TestCase):
    def setUp(self):
        self.conn = pyodbc.connect(DSN, autocommit=True)
        self.conn.setencoding(encoding="utf-8")  # str parameters go as SQL_C_CHAR
        self.conn.setdecoding(pyodbc.SQL_CHAR, encoding="latin-1")  # single-byte text
        self.cur = self.conn.cursor()

    def tearDown(self):
        self.conn.close()

    def test_every_wire_type_reads_as_sqlite_stored_it(self):
        # kind per column: int, text, char (padded), number<places>, float, date, time,
        # timestamp, bytes
        def same(kind, got, want):
            if kind == "char":
                return got.rstrip() == want.rstrip()
            if kind.startswith("number"):
                return (isinstance(got, decimal.Decimal)
                        and abs(float(got) - float(want)) < 10 ** -int(kind[6:]) / 2 + 1e-9)
            if kind == "float":
                return abs(float(got) - float(want)) < 1e-9
            if kind in ("date", "time", "timestamp"):
                parse = {"date": lambda w: datetime.date.fromisoformat(w[:10]),
                         "time": datetime.time.fromisoformat,
                         "timestamp": datetime.datetime.fromisoformat}[kind]
                return got == parse(want)
            return bytes(got) == bytes(want) if kind == "bytes" else got == want
        tables = [
            ("customers", 500, "id int, name text, country char, credit_limit number2, "
             "since date, rating int, badge bytes"),
            ("orders", 5000, "id int, customer_id int, ordered_at timestamp, ship_date date, "
             "ship_time time, status char, note text"),
            ("products", 200, "id int, code char, title text, price number2, weight_kg float, "
             "stock number0, datasheet bytes"),
            ("order_lines", 15000, "order_id int, line_no int, product_id int, quantity int, "
             "amount number2"),
        ]
        for table, count, spec in tables:
            columns = [c.split() for c in spec.split(", ")]
            query = "SELECT %s FROM %s ORDER BY %s" % (
                ", ".join(n for n, _ in columns), table, ", ".join(n for n, _ in columns[:2]))
            got = self.cur.execute(query).fetchall()
            want = REFERENCE.execute(query).fetchall()
            self.assertEqual(len(got), count, table)
            nulls = 0
            for g_row, w_row in zip(got, want):
                for (name, kind), g, w in zip(columns, g_row, w_row):
                    nulls += w is None
                    self.assertTrue(g is None if w is None else same(kind, g, w),
                                    "%s row %r, %s: %r, want %r" % (table, w_row[0], name, g, w))
            self.assertTrue(nulls > 0 or table == "order_lines", table)

    def test_catalog_matches_the_database(self):
        schema = lambda q, *a: REFERENCE.execute(q, a).fetchall()
        tables = sorted(n for (n,) in schema(
            "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%'"))
        rows = self.cur.tables().fetchall()
        # The result columns carry their ODBC 2.x names (pyodbc lowers their case).
        self.assertEqual([d[0].upper() for d in self.cur.description],
                         ["TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"])
        self.assertEqual([d[0].upper() for d in self.cur.columns(table="orders").description][3:12],
                         ["COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "PRECISION", "LENGTH", "SCALE",
                          "RADIX", "NULLABLE", "REMARKS"])
        self.assertEqual(sorted(r[2] for r in rows if r[3] == "TABLE"), tables)
        views = sorted(n for (n,) in schema("SELECT name FROM sqlite_schema WHERE type = 'view'"))
        self.assertEqual(sorted(r[2] for r in self.cur.tables(tableType="VIEW").fetchall()), views)
        self.assertEqual(sorted(r[2] for r in self.cur.tables(table="order%", tableType="TABLE")),
                         ["order_lines", "orders"])
        for table in tables:
            with self.subTest(table=table):
                self.assertEqual(
                    [(r[3], r[10]) for r in self.cur.columns(table=table).fetchall()],
                    [(n, 0 if nn else 1) for n, nn in schema(
                        'SELECT name, "notnull" FROM pragma_table_info(?) ORDER BY cid', table)])
                self.assertEqual(
                    [(r[3], r[4]) for r in self.cur.primaryKeys(table).fetchall()],
                    schema("SELECT name, pk FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk",
                           table))
                rows = self.cur.statistics(table, unique=False).fetchall()
                self.assertEqual(rows[0][6], 0)  # the table's own row first
                got = {}
                for r in rows[1:]:
                    got.setdefault(r[5], (not r[3], []))[1].append(r[8])
                    self.assertEqual(r[7], len(got[r[5]][1]))  # SEQ_IN_INDEX
                want = {n: (bool(u), [c for (c,) in schema(
                    "SELECT name FROM pragma_index_info(?) ORDER BY seqno", n)])
                    for n, u in schema('SELECT name, "unique" FROM pragma_index_list(?)', table)}
                self.assertEqual(got, want)
        types = {r[3]: r[4] for r in self.cur.columns(table="customers")}
        self.assertEqual(types, {"id": SQL_INTEGER, "name": SQL_VARCHAR, "country": SQL_CHAR,
                                 "credit_limit": SQL_NUMERIC, "since": SQL_DATE,
                                 "rating": SQL_SMALLINT, "badge": SQL_VARBINARY})
        self.assertEqual([(r[3], r[4]) for r in self.cur.columns(table="orders", column="ship%")],
                         [("ship_date", SQL_DATE), ("ship_time", SQL_TIME)])
        self.assertNotIn("orders_by_customer",
                         {r[5] for r in self.cur.statistics("orders", unique=True)})
        codes = {r[1] for r in self.cur.getTypeInfo()}
        self.assertLessEqual({SQL_CHAR, SQL_NUMERIC, SQL_INTEGER, SQL_SMALLINT, SQL_VARCHAR,
                              SQL_VARBINARY, SQL_LONGVARBINARY}, codes)
        self.assertEqual({r[1] for r in self.cur.getTypeInfo(pyodbc.SQL_INTEGER)}, {SQL_INTEGER})
        # A catalog result replaces a query result on the same cursor, and back.
        self.cur.execute("SELECT id FROM customers WHERE id < 4")
        self.assertEqual(self.cur.fetchone()[0], 1)
        self.assertEqual([(r[3], r[4]) for r in self.cur.primaryKeys("customers")], [("id", 1)])
        self.assertEqual(self.cur.execute("SELECT count(*) FROM orders").fetchone()[0], 5000)

    def test_executemany_binds_every_kind_of_value(self):
        self.cur.execute("CREATE TABLE P (K INTEGER, NAME VARCHAR(60), AMOUNT NUMERIC(10,2), "
                         "DAY DATE, RAW BLOB, NOTE VARCHAR(20))")
        rows = [(k, "O'Brien #%d, 'quoted' ?" % k, decimal.Decimal("%d.%02d" % (k, k % 100)),
                 datetime.date(2000 + k % 30, 1 + k % 12, 1 + k % 28),
                 bytes([k % 256, 0, 255, (k * 7) % 256]), None if k % 3 == 0 else "note %d" % k)
                for k in range(1, 501)]
        self.cur.executemany("INSERT INTO P VALUES (?, ?, ?, ?, ?, ?)", rows)
        back = self.cur.execute("SELECT K, NAME, AMOUNT, DAY, RAW, NOTE FROM P ORDER BY K").fetchall()
        self.assertEqual(len(back), len(rows))
        for sent, got in zip(rows, back):
            day = got[3] if isinstance(got[3], datetime.date) else datetime.date.fromisoformat(got[3])
            self.assertEqual((int(got[0]), got[1], decimal.Decimal(got[2]), day, bytes(got[4]), got[5]),
                             sent)
        self.assertEqual(self.cur.execute("SELECT COUNT(*) FROM P WHERE NAME = ?",
                                          "O'Brien #7, 'quoted' ?").fetchone()[0], 1)

    def test_rollback_drops_and_commit_keeps(self):
        self.cur.execute("CREATE TABLE e2e_tx (id INTEGER PRIMARY KEY, note VARCHAR(20))")
        # A cursor of its own per count: commit and rollback delete prepared
        # statements (SQL_CB_DELETE), so the Driver Manager refuses to re-execute one.
        count = lambda c, k: c.cursor().execute(
            "SELECT COUNT(*) FROM e2e_tx WHERE id = ?", k).fetchone()[0]
        tx = pyodbc.connect(DSN, autocommit=False)
        tx.cursor().execute("INSERT INTO e2e_tx VALUES (1, 'rolled back')")
        self.assertEqual(count(tx, 1), 1)
        tx.rollback()
        self.assertEqual(count(tx, 1), 0)
        tx.cursor().execute("INSERT INTO e2e_tx VALUES (2, 'committed')")
        tx.commit()
        tx.close()
        self.assertEqual((count(self.conn, 1), count(self.conn, 2)), (0, 1))


if __name__ == "__main__":
    sys.exit(0 if unittest.main(verbosity=2, exit=False).result.wasSuccessful() else 1)
