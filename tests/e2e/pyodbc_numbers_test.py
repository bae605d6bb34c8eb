#!/usr/bin/python3
"""pyodbc with default settings and numbers at their edges: 30-digit decimals into numeric(30,10)
and back (execute sends them as text, fast_executemany as SQL_NUMERIC_STRUCT), decimal CASTs
described as decimals, text parameters bound as numbers or dates refused before they are sent,
and doubles (1e300, 1e-300, the largest, the smallest) read back exactly."""
import decimal
import sys

import pyodbc

import q4e2e

D = decimal.Decimal
DECIMALS = [D("12345678901234567890.0123456789"), D("-12345678901234567890.0123456789"),
            D("0.0000000001"), D("-99999999999999999999.9999999999"), D("0E-10"), D("42.5000000000")]


class Numbers(q4e2e.Connected):
    def test_30_digit_decimals_round_trip_and_order_by_value(self):
        self.cur.execute("CREATE TABLE exact (k INTEGER, d NUMERIC(30,10))")
        for k, value in enumerate(DECIMALS + [None]):
            self.cur.execute("INSERT INTO exact VALUES (?, ?)", k, value)
        self.assertEqual(self.read("SELECT d FROM exact ORDER BY k"), [(d,) for d in DECIMALS + [None]])
        description = self.cur.execute("SELECT d FROM exact").description[0]
        self.assertEqual(description[1:6], (D, None, 30, 30, 10))
        self.assertEqual([r[0] for r in self.read("SELECT d FROM exact WHERE d IS NOT NULL ORDER BY d")],
                         sorted(DECIMALS))
        self.assertEqual(self.read("SELECT k FROM exact WHERE d = ?", D("42.5")), [(5,)])
        self.assertEqual(self.read("SELECT count(*) FROM exact WHERE d > 1"), [(2,)])

    def test_fast_executemany_sends_decimals_as_numeric_structures(self):
        # pyodbc binds Decimals as SQL_C_NUMERIC at the scale of setinputsizes or, without it, of
        # SQLDescribeParam's description of the marker (whole numbers fit any scale).
        self.cur.execute("CREATE TABLE many (k INTEGER, d NUMERIC(30,10), m NUMERIC(12,2))")
        declared = [None, (pyodbc.SQL_NUMERIC, 30, 10), (pyodbc.SQL_DECIMAL, 12, 2)]
        cases = [  # label, setinputsizes, rows
            ("declared", declared, [(k, DECIMALS[k % len(DECIMALS)] + k, D(k) / 4 - D("99.75"))
                                    for k in range(1000)] + [(1000, None, None)]),
            ("described, whole", None, [(2000 + k, D("12345678901234567890") * (-1) ** k, D(k))
                                        for k in range(50)]),
            ("described, fractions", None, [(3000 + k, D(k) / -8, D(k) / 4) for k in range(50)]
             + [(3050, None, D("-9999999999.99"))]),
        ]
        for label, sizes, rows in cases:
            with self.subTest(label):
                fast = self.conn.cursor()
                fast.fast_executemany = True
                fast.setinputsizes(sizes)
                fast.executemany("INSERT INTO many VALUES (?, ?, ?)", rows)
                self.assertEqual(self.read("SELECT k, d, m FROM many WHERE k BETWEEN ? AND ? "
                                           "ORDER BY k", rows[0][0], rows[-1][0]), rows)

    def test_a_decimal_cast_is_described_as_a_decimal(self):
        cur = self.cur.execute("SELECT cast(? as numeric(10,3)) AS x", D("1.5"))
        self.assertEqual(cur.description[0][1:6], (D, None, 10, 10, 3))
        self.assertEqual(cur.fetchall()[0][0], D("1.500"))

    def test_text_that_cannot_be_the_bound_type_is_refused_before_it_is_sent(self):
        self.cur.execute("CREATE TABLE typed (f DOUBLE, i INTEGER, t SMALLINT, d DATE)")
        cases = [  # (column, SQL type, text, SQLSTATE)
            ("f", pyodbc.SQL_DOUBLE, "abc", "22018"), ("i", pyodbc.SQL_INTEGER, "2024-02-29", "22018"),
            ("i", pyodbc.SQL_INTEGER, "", "22018"), ("i", pyodbc.SQL_INTEGER, "12.5", "22001"),
            ("t", pyodbc.SQL_TINYINT, "300", "22003"), ("f", pyodbc.SQL_DOUBLE, "1e400", "22003"),
            ("d", pyodbc.SQL_TYPE_DATE, "tomorrow", "22007"), ("d", pyodbc.SQL_TYPE_DATE, "2023-02-29", "22008"),
        ]
        for column, sql_type, text, state in cases:
            with self.subTest(text=text, sql_type=sql_type):
                cur = self.conn.cursor()
                cur.setinputsizes([(sql_type, 0, 0)])
                with self.assertRaises(pyodbc.Error) as caught:
                    cur.execute("INSERT INTO typed (%s) VALUES (?)" % column, text)
                self.assertEqual(caught.exception.args[0], state)
                self.assertIn("parameter 1 ", caught.exception.args[1])
        self.assertEqual(self.read("SELECT count(*) FROM typed"), [(0,)])
        # Numbers in text form, blanks and all, still go through.
        cur = self.conn.cursor()
        cur.setinputsizes([(pyodbc.SQL_DOUBLE, 0, 0), (pyodbc.SQL_INTEGER, 0, 0)])
        cur.execute("INSERT INTO typed (f, i) VALUES (?, ?)", " 2.5e3 ", "-7")
        self.assertEqual(self.read("SELECT f, i FROM typed"), [(2500.0, -7)])

    def test_doubles_read_back_exactly(self):
        values = [1e300, 1e-300, 0.1, 5e-324, sys.float_info.max, -sys.float_info.max,
                  sys.float_info.min, 123456789.123456789, -2.5e-7, 1e22]
        self.cur.execute("CREATE TABLE doubles (k INTEGER, f DOUBLE)")
        for k, v in enumerate(values):
            self.cur.execute("INSERT INTO doubles VALUES (?, ?)", k, v)
        got = [r[0] for r in self.read("SELECT f FROM doubles ORDER BY k")]
        self.assertEqual([repr(v) for v in got], [repr(v) for v in values])
        # Written in the statement by hand too.
        self.assertEqual(self.read("SELECT 1e300, 1e-300, -0.1"), [(1e300, 1e-300, -0.1)])


if __name__ == "__main__":
    q4e2e.main()
