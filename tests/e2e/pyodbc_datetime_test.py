#!/usr/bin/python3
"""Dates and times through pyodbc with default settings: datetimes keep their microseconds both
ways (pyodbc sends as many fraction digits as SQLGetTypeInfo(SQL_TYPE_TIMESTAMP)'s column size
allows, read at connect), years below 1000 round-trip, a TIMESTAMP or DATETIME column is described
with its fraction digits (in a result and by SQLColumns), fast_executemany carries them too, and
text that is no date is refused by the server with the SQLSTATE pyodbc turns into a DataError."""
import datetime

import pyodbc

import q4e2e

STAMPS = [
    datetime.datetime(2024, 2, 29, 10, 11, 15, 123456),
    datetime.datetime(2024, 2, 29, 10, 11, 15, 500000),
    datetime.datetime(2024, 2, 29, 10, 11, 15, 1),
    datetime.datetime(2024, 2, 29, 0, 0, 0),  # midnight, no fraction
    datetime.datetime(1, 1, 1, 23, 59, 59, 999999),
    datetime.datetime(9999, 12, 31, 12, 0, 0, 100),
]
DATES = [datetime.date(1, 1, 1), datetime.date(99, 12, 31), datetime.date(999, 6, 30),
         datetime.date(1000, 1, 1), datetime.date(9999, 12, 31), datetime.date(2000, 2, 29)]


class Datetimes(q4e2e.Connected):
    def setUp(self):
        super().setUp()
        self.cur.execute("DROP TABLE IF EXISTS moments")
        self.cur.execute(
            "CREATE TABLE moments (k INTEGER, ts TIMESTAMP, d DATE, t TIME, dt DATETIME)")

    def test_timestamps_keep_their_microseconds_both_ways(self):
        for k, stamp in enumerate(STAMPS):
            self.cur.execute("INSERT INTO moments (k, ts) VALUES (?, ?)", k, stamp)
        self.assertEqual(self.read("SELECT k, ts FROM moments ORDER BY k"), list(enumerate(STAMPS)))
        # As the server keeps them: four-digit years, the fraction without trailing zeros.
        self.assertEqual(self.read("SELECT CAST(ts AS TEXT) FROM moments WHERE k IN (0, 1, 3, 4)"),
                         [("2024-02-29 10:11:15.123456",), ("2024-02-29 10:11:15.5",),
                          ("2024-02-29 00:00:00",), ("0001-01-01 23:59:59.999999",)])
        # A parameter finds the row it wrote, and orders with the others.
        self.assertEqual(self.read("SELECT k FROM moments WHERE ts = ?", STAMPS[0]), [(0,)])
        self.assertEqual(self.read("SELECT k FROM moments WHERE ts > ? ORDER BY ts", STAMPS[2]),
                         [(0,), (1,), (5,)])
        # Text with a fraction, written by hand, reads as a datetime; a str parameter too.
        self.cur.execute("INSERT INTO moments (k, ts) VALUES (10, '2024-01-02 03:04:05.25')")
        self.cur.execute("INSERT INTO moments (k, ts) VALUES (11, ?)", "2024-01-02T03:04:05.000007")
        self.assertEqual(self.read("SELECT ts FROM moments WHERE k >= 10 ORDER BY k"),
                         [(datetime.datetime(2024, 1, 2, 3, 4, 5, 250000),),
                          (datetime.datetime(2024, 1, 2, 3, 4, 5, 7),)])

    def test_dates_below_the_year_1000_round_trip(self):
        for k, day in enumerate(DATES):
            self.cur.execute("INSERT INTO moments (k, d) VALUES (?, ?)", k, day)
        self.assertEqual(self.read("SELECT k, d FROM moments ORDER BY k"), list(enumerate(DATES)))
        self.assertEqual(self.read("SELECT CAST(d AS TEXT) FROM moments WHERE k < 3 ORDER BY k"),
                         [("0001-01-01",), ("0099-12-31",), ("0999-06-30",)])
        self.assertEqual(self.read("SELECT k FROM moments WHERE d < ? ORDER BY d", DATES[3]),
                         [(0,), (1,), (2,)])

    def test_times_keep_their_fraction(self):
        self.cur.execute("INSERT INTO moments (k, t) VALUES (1, ?)", datetime.time(10, 11, 12))
        self.cur.execute("INSERT INTO moments (k, t) VALUES (2, '23:59:59.5')")
        self.assertEqual(self.read("SELECT t, CAST(t AS TEXT) FROM moments ORDER BY k"),
                         [(datetime.time(10, 11, 12), "10:11:12"),
                          (datetime.time(23, 59, 59, 500000), "23:59:59.5")])

    def test_description_and_type_info_carry_the_fraction_digits(self):
        self.cur.execute("SELECT ts, d, t, dt FROM moments")
        # (name, type, display size, internal size, precision, scale, nullable)
        self.assertEqual([d[:6] for d in self.cur.description],
                         [("ts", datetime.datetime, None, 29, 29, 9),
                          ("d", datetime.date, None, 10, 10, 0),
                          ("t", datetime.time, None, 8, 8, 0),
                          ("dt", datetime.datetime, None, 29, 29, 9)])
        self.cur.fetchall()
        # SQLColumns: COLUMN_NAME, PRECISION, LENGTH, SCALE.
        self.assertEqual([(r[3], r[6], r[7], r[8]) for r in self.cur.columns(table="moments")],
                         [("k", 10, 4, 0), ("ts", 29, 16, 9), ("d", 10, 6, None), ("t", 8, 6, 0),
                          ("dt", 29, 16, 9)])
        # Asked with either generation's code: TYPE_NAME, DATA_TYPE (the ODBC 3 code pyodbc's
        # generation reads), PRECISION (the column size), MAXIMUM_SCALE.
        stamp, day = ("TIMESTAMP", 93, 29, 9), ("DATE", 91, 10, None)
        for code, row in ((pyodbc.SQL_TYPE_TIMESTAMP, stamp), (11, stamp),
                          (pyodbc.SQL_TYPE_DATE, day), (9, day),
                          (pyodbc.SQL_TYPE_TIME, ("TIME", 92, 8, 0))):
            with self.subTest(code=code):
                rows = self.cur.getTypeInfo(code).fetchall()
                self.assertEqual([(r[0], r[1], r[2], r[14]) for r in rows], [row])

    def test_fast_executemany_carries_the_fraction(self):
        rows = [(k, STAMPS[k % len(STAMPS)], DATES[k % len(DATES)]) for k in range(3000)]
        self.conn.autocommit = False
        fast = self.conn.cursor()
        fast.fast_executemany = True
        fast.executemany("INSERT INTO moments (k, ts, d) VALUES (?, ?, ?)", rows)
        self.conn.commit()
        self.assertEqual([tuple(r) for r in
                          self.conn.cursor().execute("SELECT k, ts, d FROM moments ORDER BY k")],
                         rows)

    def test_text_that_is_no_date_is_refused(self):
        with self.assertRaises(pyodbc.DataError) as refused:
            self.cur.execute("INSERT INTO moments (k, d) VALUES (1, ?)", "2023-02-29")
        self.assertEqual(refused.exception.args[0], "22007")
        self.assertEqual(self.read("SELECT COUNT(*) FROM moments"), [(0,)])


if __name__ == "__main__":
    q4e2e.main()
