#!/usr/bin/python3
"""pyodbc with default settings and numbers at their edges: 30-digit decimals into numeric(30,10)
and back (execute sends them as text, fast_executemany as SQL_NUMERIC_STRUCT), typed into the
statement text as isql users and scripts do (stored, updated, compared, read back as equal
Decimals), decimal CASTs and long literals described as decimals, signed integer extremes (pyodbc
asks SQL_DESC_UNSIGNED before it converts), text parameters bound as numbers or dates refused
before they are sent, and doubles (1e300, 1e-300, the largest, the smallest, bound or typed)
read back exactly."""
import datetime
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

    def test_long_literals_keep_every_digit_in_an_exact_column(self):
        self.cur.execute("CREATE TABLE literals (k INTEGER, v NUMERIC(30,10), f DOUBLE, s VARCHAR(40))")
        self.cur.execute("""
            INSERT INTO literals (k, v, f, s)  -- a person's values, typed
            VALUES (1, 12345678901234567890.0123456789, 12345678901234567890.0123456789,
                    12345678901234567890.0123456789),
                   (2, -0.0000000001, NULL, NULL),
                   (3, -99999999999999999999.9999999999, 0.1, 'it''s -1.5'),
                   (4, 1234567890123.456, NULL, NULL)
            """)
        self.assertEqual(self.cur.rowcount, 4)
        self.assertEqual(self.read("SELECT k, v FROM literals ORDER BY k"), [
            (1, D("12345678901234567890.0123456789")), (2, D("-0.0000000001")),
            (3, D("-99999999999999999999.9999999999")), (4, D("1234567890123.4560000000"))])
        # The double column keeps a double, the character column the digits as typed.
        self.assertEqual(self.read("SELECT f, s FROM literals WHERE k = 1"),
                         [(12345678901234567890.0123456789, "12345678901234567890.0123456789")])
        self.cur.execute("UPDATE literals SET v = -98765432109876543210.987654321\n"
                         " WHERE v = 12345678901234567890.0123456789")
        self.assertEqual(self.cur.rowcount, 1)
        self.assertEqual(self.read("SELECT k FROM literals WHERE v BETWEEN -99999999999999999999.9999999999"
                                   " AND -98765432109876543210.9876543209 ORDER BY k"), [(1,), (3,)])
        self.assertEqual(self.read("SELECT v FROM literals WHERE k = 1"),
                         [(D("-98765432109876543210.9876543210"),)])
        # After the CREATE in the same text and through the pass-through mark too; read rounded
        # to the scale, unique by value, beside a DATE column's guard.
        self.cur.execute("CREATE TABLE once (k INTEGER, v NUMERIC(30,10) UNIQUE, day DATE);\n"
                         "INSERT INTO once (k, v) VALUES (1, 12345678901234567890.0123456789)")
        self.cur.execute(">INSERT INTO once (k, v) VALUES (2, 12345678901234567890.01234567895)")
        self.cur.execute("INSERT INTO once (k, v) VALUES (3, '9.00000000005')")
        self.assertEqual(self.read("SELECT v FROM once ORDER BY k"), [
            (D("12345678901234567890.0123456789"),), (D("12345678901234567890.0123456790"),),
            (D("9.0000000001"),)])
        for text, state in (("INSERT INTO once (k, v) VALUES (4, '9.000000000050')", "23000"),
                            ("INSERT INTO once (k, v, day) VALUES (5, 1, 'tomorrow')", "22007")):
            with self.subTest(text), self.assertRaises(pyodbc.Error) as refused:
                self.cur.execute(text)
            self.assertEqual(refused.exception.args[0], state)

    def test_casts_and_long_literals_are_described_as_decimals(self):
        cur = self.cur.execute("SELECT cast(? as numeric(10,3)) AS x", D("1.5"))
        self.assertEqual(cur.description[0][1:6], (D, None, 10, 10, 3))
        self.assertEqual(cur.fetchall()[0][0], D("1.500"))
        cur = self.cur.execute("SELECT 12345678901234567890.0123456789 AS x, -0.5, 1e300")
        self.assertEqual(cur.description[0][1:6], (D, None, 30, 30, 10))
        self.assertEqual(cur.description[1][1], float)
        self.assertEqual(tuple(cur.fetchone()), (D("12345678901234567890.0123456789"), -0.5, 1e300))
        cur = self.cur.execute("SELECT '12345678901234567890.0123456789', -- 12345678901234567890.5\n"
                               " 123456789012345678901234567890")
        self.assertEqual(tuple(cur.fetchone()),
                         ("12345678901234567890.0123456789", D("123456789012345678901234567890")))

    def test_signed_extremes_and_the_description(self):
        self.cur.execute(
            "CREATE TABLE extremes (i INTEGER NOT NULL, s SMALLINT, b BIGINT,\n"
            "  amount NUMERIC(30,4), label VARCHAR(40), at TIMESTAMP)")
        self.cur.execute(
            "INSERT INTO extremes VALUES (-2147483648, -32768, -9223372036854775807, "
            "-12345678901234567890123456.7891, ?, '2024-02-29 23:59:58.125'), "
            "(2147483647, 32767, 9223372036854775807, 0.0001, '', NULL), "
            "(0, NULL, NULL, NULL, NULL, NULL)", q4e2e.TEXT)
        self.assertEqual(self.read("-- every shape of value\nSELECT * FROM extremes ORDER BY i"), [
            (-2147483648, -32768, -9223372036854775807, D("-12345678901234567890123456.7891"),
             q4e2e.TEXT, datetime.datetime(2024, 2, 29, 23, 59, 58, 125000)),
            (0, None, None, None, None, None),
            (2147483647, 32767, 9223372036854775807, D("0.0001"), "", None),
        ])
        # (name, type, internal size, scale, nullable)
        self.assertEqual([(d[0], d[1], d[3], d[5], d[6]) for d in self.cur.description], [
            ("i", int, 10, 0, False), ("s", int, 5, 0, True), ("b", int, 19, 0, True),
            ("amount", D, 30, 4, True), ("label", str, 40, 0, True),
            ("at", datetime.datetime, 29, 9, True)])

    def test_text_that_cannot_be_the_bound_type_is_refused_before_it_is_sent(self):
        self.cur.execute("CREATE TABLE typed (f DOUBLE, i INTEGER, t SMALLINT, d DATE)")
        cases = [  # (column, SQL type, text, SQLSTATE)
            ("f", pyodbc.SQL_DOUBLE, "abc", "22018"), ("i", pyodbc.SQL_INTEGER, "12.5", "22001"),
            ("t", pyodbc.SQL_TINYINT, "300", "22003"), ("d", pyodbc.SQL_TYPE_DATE, "tomorrow", "22007"),
            ("d", pyodbc.SQL_TYPE_DATE, "2023-02-29", "22008"),
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
        # The driver writes a double as its shortest decimal, 17 digits here; a column without a
        # type keeps it a double.
        self.assertEqual(self.read("SELECT ?", 0.1 + 0.2), [(0.30000000000000004,)])
        self.cur.execute("CREATE TABLE floats (k INTEGER, f DOUBLE, u)")
        self.cur.execute("INSERT INTO floats VALUES (?, ?, ?)", 1, 1 / 3, 1 / 3)
        self.assertEqual(self.read("SELECT f, u, typeof(u) FROM floats WHERE f = ?", 1 / 3),
                         [(1 / 3, 1 / 3, "real")])


if __name__ == "__main__":
    q4e2e.main()
