#!/usr/bin/python3
"""pyodbc (Debian's python3-pyodbc) through unixODBC against the sample
database served by run_script.sh, compared with the same file ($Q4_WORK/sample.db)
read by Python's own sqlite3 module."""
import datetime
import decimal
import os
import sqlite3

import pyodbc

import q4e2e

REFERENCE = sqlite3.connect(os.path.join(os.environ["Q4_WORK"], "sample.db"))
# What SQLite stores, as the driver should deliver it, per kind of column.
AS_DELIVERED = {
    "char": str.rstrip, "bytes": bytes, "float": float,
    "date": lambda w: datetime.date.fromisoformat(w[:10]), "time": datetime.time.fromisoformat,
    "timestamp": datetime.datetime.fromisoformat}


def connect(autocommit=True):
    conn = q4e2e.connect(autocommit=autocommit)
    conn.setencoding(encoding="utf-8")  # str parameters go as SQL_C_CHAR
    conn.setdecoding(pyodbc.SQL_CHAR, encoding="latin-1")  # single-byte text
    return conn


class PyodbcTest(q4e2e.Connected):
    def connect(self):
        return connect()  # with the encodings above

    def test_every_wire_type_reads_as_sqlite_stored_it(self):
        tables = [  # kind per column; number<N>: a Decimal right to N places
            ("customers", 500, "id int, name text, country char, credit_limit number2, "
             "since date, rating int, badge bytes"),
            ("orders", 5000, "id int, customer_id int, ordered_at timestamp, ship_date date, "
             "ship_time time, status char, note text"),
            ("products", 200, "id int, code char, title text, price number2, weight_kg float, "
             "stock int, datasheet bytes"),
        ]
        for table, count, columns_text in tables:
            columns = [c.split() for c in columns_text.split(", ")]
            query = "SELECT %s FROM %s ORDER BY id" % (", ".join(n for n, _ in columns), table)
            got = self.cur.execute(query).fetchall()
            self.assertEqual(len(got), count, table)
            for g_row, w_row in zip(got, REFERENCE.execute(query)):
                for (name, kind), g, w in zip(columns, g_row, w_row):
                    if kind.startswith("number") and w is not None:
                        ok = isinstance(g, decimal.Decimal) and abs(float(g) - w) <= 0.5 * 10 ** -int(kind[6:])
                    else:
                        ok = g == (w if w is None else AS_DELIVERED.get(kind, type(w))(w))
                        ok = ok or (kind == "char" and g.rstrip() == w.rstrip())
                    self.assertTrue(ok, "%s %r, %s: %r, want %r" % (table, w_row[0], name, g, w))
            self.assertTrue(any(None in row for row in got), table)

    def test_catalog_matches_the_database(self):
        schema = lambda q, *a: REFERENCE.execute(q, a).fetchall()
        tables = sorted(n for (n,) in schema(
            "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%'"))
        rows = self.cur.tables().fetchall()
        # The result columns carry their ODBC 2.x names (pyodbc lowers their case).
        self.assertEqual([d[0].upper() for d in self.cur.description],
                         ["TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"])
        self.assertEqual(sorted(r[2] for r in rows if r[3] == "TABLE"), tables)
        self.assertEqual(sorted(r[2] for r in self.cur.tables(table="order%", tableType="TABLE")),
                         ["order_lines", "orders"])
        self.assertEqual([(r[3], r[4]) for r in self.cur.columns(table="orders", column="ship%")],
                         [("ship_date", pyodbc.SQL_TYPE_DATE), ("ship_time", pyodbc.SQL_TYPE_TIME)])
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
                got = {}
                for r in self.cur.statistics(table, unique=False).fetchall()[1:]:  # after the table's row
                    got.setdefault(r[5], (not r[3], []))[1].append(r[8])
                want = {n: (bool(u), [c for (c,) in schema(
                    "SELECT name FROM pragma_index_info(?) ORDER BY seqno", n)])
                    for n, u in schema('SELECT name, "unique" FROM pragma_index_list(?)', table)}
                self.assertEqual(got, want)

    def test_declared_types_are_named_as_type_info_lists_them(self):
        # SQLColumns' TYPE_NAME of each declared type (SQLite's affinity for "widget", none at
        # all for c14), and SQLGetTypeInfo's name for its DATA_TYPE: the same.
        declared = ["INTEGER", "int", "SMALLINT", "BOOLEAN", "BIGINT", "NUMERIC(10,2)",
                    "NUMERIC(30,10)", "widget", "REAL", "DOUBLE PRECISION", "CHAR(3)",
                    "VARCHAR(40)", "TEXT", "NVARCHAR2(8)", "", "DATE", "TIME", "DATETIME",
                    "VARBINARY(16)", "BLOB"]
        named = (["INTEGER"] * 2 + ["SMALLINT"] * 2 + ["BIGINT"] + ["NUMERIC"] * 3 + ["DOUBLE"] * 2
                 + ["CHAR"] + ["VARCHAR"] * 4 + ["DATE", "TIME", "TIMESTAMP", "VARBINARY",
                                                 "LONGVARBINARY"])
        self.cur.execute("CREATE TABLE kinds (%s)" % ", ".join(
            "c%d %s" % (i, t) for i, t in enumerate(declared)))
        listed = {r[1]: r[0] for r in self.cur.getTypeInfo(0).fetchall()}  # SQL_ALL_TYPES
        got = [(r[4], r[5]) for r in self.cur.columns(table="kinds").fetchall()]
        self.assertEqual([name for _, name in got], named)
        self.assertEqual([listed[code] for code, _ in got], named)

    def test_executemany_binds_every_kind_of_value_in_a_transaction(self):
        self.cur.execute("CREATE TABLE P (K INTEGER, NAME VARCHAR(60), AMOUNT NUMERIC(10,2), "
                         "DAY DATE, RAW BLOB, NOTE VARCHAR(20))")
        rows = [(k, "O'Brien #%d, 'quoted' ?" % k, decimal.Decimal("%d.%02d" % (k, k % 100)),
                 datetime.date(2000 + k % 30, 1 + k % 12, 1 + k % 28),
                 bytes([k % 256, 0, 255, (k * 7) % 256]), None if k % 3 == 0 else "note %d" % k)
                for k in range(1, 501)]
        # The first rows are rolled back, then all are committed.
        tx = connect(autocommit=False)
        insert = "INSERT INTO P VALUES (?, ?, ?, ?, ?, ?)"
        tx.cursor().executemany(insert, rows[:10])
        self.assertEqual(tx.cursor().execute("SELECT COUNT(*) FROM P").fetchone()[0], 10)
        tx.rollback()
        tx.cursor().executemany(insert, rows)
        tx.commit()
        tx.close()
        back = self.cur.execute("SELECT K, NAME, AMOUNT, DAY, RAW, NOTE FROM P ORDER BY K").fetchall()
        self.assertEqual([(k, n, decimal.Decimal(a), d, bytes(r), t) for k, n, a, d, r, t in back], rows)


if __name__ == "__main__":
    q4e2e.main()
