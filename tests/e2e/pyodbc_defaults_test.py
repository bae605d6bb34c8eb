#!/usr/bin/python3
"""pyodbc as a new user runs it, with default settings: str parameters as SQL_C_WCHAR, integers
above 32 bits as SQL_C_SBIGINT, doubles with scale 0, text read as SQL_C_WCHAR; executemany, then
fast_executemany (parameter arrays through the ODBC 3 statement attributes), pandas on top.
str sent as UTF-8 SQL_C_CHAR and read back as SQL_C_CHAR are the PHP test's."""
import datetime
import decimal
import pandas
import pyodbc

import q4e2e
from q4e2e import TEXT

ROWS = [  # INTEGER, BIGINT, VARCHAR(50), DECIMAL(12,2), DATE, TIMESTAMP, DOUBLE
    (1, 2 ** 40, TEXT, decimal.Decimal("3.25"), datetime.date(2024, 3, 5),
     datetime.datetime(2024, 3, 5, 10, 20, 30), 3.25),
    (2, None, "O'Brien", None, None, None, -1e10),
    (3, -(2 ** 40), "plain", decimal.Decimal("-0.5"), datetime.date(1999, 12, 31), None, 1e-7),
]


class DefaultSettings(q4e2e.Connected):
    def test_the_issues_table_round_trips_in_value_and_type(self):
        self.cur.execute("CREATE TABLE issue (i INTEGER, b BIGINT, v VARCHAR(50), d DECIMAL(12,2), "
                         "dt DATE, ts TIMESTAMP, f DOUBLE)")
        for row in ROWS:
            self.cur.execute("INSERT INTO issue VALUES (?, ?, ?, ?, ?, ?, ?)", *row)
        got = self.read("SELECT * FROM issue ORDER BY i")
        self.assertEqual(got, ROWS)
        self.assertEqual([[type(x) for x in r] for r in got], [[type(x) for x in r] for r in ROWS])
        # The text reached the server as UTF-8, apostrophes and all, and is found by it.
        self.assertEqual(self.read("SELECT hex(v) FROM issue ORDER BY i"),
                         [(r[2].encode().hex().upper(),) for r in ROWS])
        self.assertEqual(self.read("SELECT i FROM issue WHERE v = ?", TEXT), [(1,)])

    def test_executemany_fast_executemany_and_pandas(self):
        # fast_executemany binds every row of a batch at once: row-wise, with a bind offset,
        # 10,000 rows per execution. Text needs setinputsizes (it would otherwise take a buffer
        # of the described size, 1 GiB, per row).
        self.cur.execute("CREATE TABLE many (k INTEGER, big BIGINT, name VARCHAR(40), x DOUBLE, "
                         "dt DATE, ts TIMESTAMP)")
        rows = [(k, k * 2 ** 33, "%s %d" % (TEXT, k) if k % 5 else None, k / 8 - 1e10,
                 datetime.date(2000 + k % 30, 1 + k % 12, 1 + k % 28),
                 datetime.datetime(2024, 3, 5, k % 24, k % 60, 30)) for k in range(20000)]
        self.conn.autocommit = False  # one commit each, not 10,000 synced ones
        self.cur.executemany("INSERT INTO many VALUES (?, ?, ?, ?, ?, ?)", rows[:10000])
        self.conn.commit()
        fast = self.conn.cursor()
        fast.fast_executemany = True
        fast.setinputsizes([None, None, (pyodbc.SQL_WVARCHAR, 40, 0), None, None, None])
        fast.executemany("INSERT INTO many VALUES (?, ?, ?, ?, ?, ?)", rows[10000:])
        self.conn.commit()
        self.assertEqual(self.read("SELECT * FROM many ORDER BY k"), rows)
        frame = pandas.read_sql("SELECT k, big, name, x FROM many ORDER BY k", self.conn)
        self.assertEqual([str(t) for t in frame.dtypes], ["int64", "int64", "object", "float64"])
        self.assertEqual(frame.values.tolist(), [[k, b, n, x] for k, b, n, x, _, _ in rows])


if __name__ == "__main__":
    q4e2e.main()
