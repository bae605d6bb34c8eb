"""pyodbc with default settings reads a result's shape through SQLDescribeCol and asks
SQLColAttribute whether each integer column is unsigned (SQL_DESC_UNSIGNED) before it converts
the values: signed extremes must come back negative, 30-digit decimals exact, NULLs as None, and
cursor.description must carry the type, size, scale and nullability of each column."""
import datetime
import decimal

import q4e2e


class ColumnAttributes(q4e2e.Connected):
    def setUp(self):
        super().setUp()
        self.cur.execute("DROP TABLE IF EXISTS py_colattr")
        self.cur.execute(
            "CREATE TABLE py_colattr (i INTEGER NOT NULL, s SMALLINT, b BIGINT,\n"
            "  amount NUMERIC(30,4), label VARCHAR(40), at TIMESTAMP)")
        self.cur.execute(
            "INSERT INTO py_colattr VALUES (-2147483648, -32768, -9223372036854775807, "
            "-12345678901234567890123456.7891, ?, '2024-02-29 23:59:58.125'), "
            "(2147483647, 32767, 9223372036854775807, 0.0001, '', NULL), "
            "(0, NULL, NULL, NULL, NULL, NULL)", q4e2e.TEXT)

    def test_signed_extremes_and_exact_decimals(self):
        rows = self.read("-- every shape of value\nSELECT i, s, b, amount, label, at "
                         "FROM py_colattr ORDER BY i")
        self.assertEqual(rows, [
            (-2147483648, -32768, -9223372036854775807,
             decimal.Decimal("-12345678901234567890123456.7891"), q4e2e.TEXT,
             datetime.datetime(2024, 2, 29, 23, 59, 58, 125000)),
            (0, None, None, None, None, None),
            (2147483647, 32767, 9223372036854775807, decimal.Decimal("0.0001"), "", None),
        ])

    def test_description(self):
        self.cur.execute("SELECT i, amount, label, at FROM py_colattr")
        shape = [(d[0], d[1], d[3], d[5], d[6]) for d in self.cur.description]
        self.assertEqual(shape, [
            ("i", int, 10, 0, False),
            ("amount", decimal.Decimal, 30, 4, True),
            ("label", str, 40, 0, True),
            ("at", datetime.datetime, 29, 9, True),
        ])


if __name__ == "__main__":
    q4e2e.main()
