#!/usr/bin/python3
"""pyodbc as a new user runs it: default settings (str parameters as SQL_C_WCHAR, integers above
32 bits as SQL_C_SBIGINT, doubles with scale 0, text read as SQL_C_WCHAR), then the same with
setencoding('utf-8'); pandas on top; fast_executemany (parameter arrays through the ODBC 3
statement attributes)."""
import datetime
import decimal
import os
import sys
import unittest

import pandas
import pyodbc

DSN = "DSN=%s;UID=test;PWD=secret" % os.environ["Q4_DSN"]
TEXT = "Zoë Ærø 東京 😀"
ROWS = [  # INTEGER, BIGINT, VARCHAR(50), DECIMAL(12,2), DATE, TIMESTAMP, DOUBLE
    (1, 2 ** 40, TEXT, decimal.Decimal("3.25"), datetime.date(2024, 3, 5),
     datetime.datetime(2024, 3, 5, 10, 20, 30), 3.25),
    (2, None, "O'Brien", None, None, None, -1e10),
    (3, -(2 ** 40), "plain", decimal.Decimal("-0.5"), datetime.date(1999, 12, 31), None, 1e-7),
]


class DefaultSettings(unittest.TestCase):
    encoding = None  # pyodbc's default for str parameters (UTF-16, SQL_C_WCHAR)

    def setUp(self):
        self.conn = pyodbc.connect(DSN, autocommit=True)
        if self.encoding:
            self.conn.setencoding(encoding=self.encoding)
        self.cur = self.conn.cursor()
        self.table = "t_%s" % (self.encoding or "default").replace("-", "")
        self.cur.execute("DROP TABLE IF EXISTS %s" % self.table)
        self.cur.execute("CREATE TABLE %s (i INTEGER, b BIGINT, v VARCHAR(50), d DECIMAL(12,2), "
                         "dt DATE, ts TIMESTAMP, f DOUBLE)" % self.table)
        for row in ROWS:
            self.cur.execute("INSERT INTO %s VALUES (?, ?, ?, ?, ?, ?, ?)" % self.table, *row)

    def tearDown(self):
        self.conn.close()

    def read(self, columns):
        return [tuple(r) for r in self.cur.execute(
            "SELECT %s FROM %s ORDER BY i" % (columns, self.table)).fetchall()]

    def test_values_come_back_equal_in_value_and_type(self):
        got = self.read("i, b, d, dt, ts, f")
        want = [(i, b, d, dt, ts, f) for i, b, v, d, dt, ts, f in ROWS]
        self.assertEqual(got, want)
        self.assertEqual([[type(x) for x in r] for r in got], [[type(x) for x in r] for r in want])
        # The text reached the server as UTF-8, apostrophes and all.
        self.assertEqual(self.read("hex(v)"), [(v.encode().hex().upper(),) for _, _, v, *_ in ROWS])
        self.assertEqual(self.read("v")[1:], [("O'Brien",), ("plain",)])
        self.assertEqual(self.cur.execute("SELECT v FROM %s WHERE v = ?" % self.table,
                                          TEXT).fetchone()[0].encode("utf-16-le")[:2], b"Z\0")

    def test_text_reads_back_with_utf8_decoding(self):
        # SQLGetData(SQL_C_CHAR): the driver's UTF-8 reaches pyodbc unchanged.
        self.conn.setdecoding(pyodbc.SQL_CHAR, encoding="utf-8")
        self.assertEqual(self.read("v"), [(v,) for _, _, v, *_ in ROWS])

    def test_non_ascii_text_reads_back_with_default_decoding(self):
        # SQLGetData(SQL_C_WCHAR) reaches the driver, which writes UTF-16 (unixODBC converted it
        # itself, wrongly, while it took the driver for an ODBC 2.x one).
        self.assertEqual(self.read("v"), [(v,) for _, _, v, *_ in ROWS])

    def test_executemany_and_pandas(self):
        many = "m_%s" % self.table
        self.cur.execute("DROP TABLE IF EXISTS %s" % many)
        self.cur.execute("CREATE TABLE %s (k INTEGER, big BIGINT, name VARCHAR(40), x DOUBLE)" % many)
        rows = [(k, k * 2 ** 33, "name %d ë" % k, k / 8 - 1e10) for k in range(10000)]
        self.conn.autocommit = False  # one commit, not 10,000 synced ones
        self.cur.executemany("INSERT INTO %s VALUES (?, ?, ?, ?)" % many, rows)
        self.conn.commit()
        frame = pandas.read_sql("SELECT k, big, name, x FROM %s ORDER BY k" % many, self.conn)
        self.assertEqual([str(t) for t in frame.dtypes], ["int64", "int64", "object", "float64"])
        self.assertEqual(list(frame["k"]), [r[0] for r in rows])
        self.assertEqual(list(frame["big"]), [r[1] for r in rows])
        self.assertEqual(list(frame["x"]), [r[3] for r in rows])
        self.assertEqual(tuple(self.cur.execute("SELECT count(*), sum(length(name)) FROM %s" % many)
                               .fetchone()), (10000, sum(len(r[2]) for r in rows)))


    def test_fast_executemany(self):
        # pyodbc binds every row of a batch at once: row-wise, with a bind offset, 10,000 rows
        # per execution. Text needs setinputsizes (it would otherwise take a buffer of the
        # described size, 1 GiB, per row); its fast path sends str as UTF-16 whatever
        # setencoding says, so it runs with the default encoding only.
        if self.encoding:
            self.skipTest("fast_executemany sends str as UTF-16 only")
        fast = "x_%s" % self.table
        self.cur.execute("DROP TABLE IF EXISTS %s" % fast)
        self.cur.execute("CREATE TABLE %s (k INTEGER, big BIGINT, name VARCHAR(40), x DOUBLE, "
                         "dt DATE, ts TIMESTAMP)" % fast)
        rows = [(k, k * 2 ** 33, "%s %d" % (TEXT, k) if k % 5 else None, k / 8 - 1e10,
                 datetime.date(2000 + k % 30, 1 + k % 12, 1 + k % 28),
                 datetime.datetime(2024, 3, 5, k % 24, k % 60, 30)) for k in range(10000)]
        self.conn.autocommit = False
        self.cur.fast_executemany = True
        self.cur.setinputsizes([None, None, (pyodbc.SQL_WVARCHAR, 40, 0), None, None, None])
        self.cur.executemany("INSERT INTO %s VALUES (?, ?, ?, ?, ?, ?)" % fast, rows)
        self.conn.commit()
        self.assertEqual(self.read_all("SELECT * FROM %s ORDER BY k" % fast), rows)

    def read_all(self, query):
        return [tuple(r) for r in self.cur.execute(query).fetchall()]


class Utf8Encoding(DefaultSettings):
    encoding = "utf-8"  # str parameters as SQL_C_CHAR UTF-8


if __name__ == "__main__":
    sys.exit(0 if unittest.main(verbosity=2, exit=False).result.wasSuccessful() else 1)
