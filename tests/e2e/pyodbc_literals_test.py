#!/usr/bin/python3
"""pyodbc with default settings and numbers typed into the statement text, as isql users, scripts
and clients that write their values into the text do: 30-digit decimals stored, updated, compared
and read back as equal Decimals, a long literal alone read as an exact Decimal, while doubles
(typed or bound) stay doubles."""
import decimal

import q4e2e

D = decimal.Decimal


class TypedNumbers(q4e2e.Connected):
    autocommit = False  # pyodbc's default: a transaction, committed below

    def test_long_literals_keep_every_digit_in_an_exact_column(self):
        self.cur.execute("CREATE TABLE typed (k INTEGER, v NUMERIC(30,10), f DOUBLE, s VARCHAR(40))")
        self.cur.execute("""
            INSERT INTO typed (k, v, f, s)  -- a person's values, typed
            VALUES (1, 12345678901234567890.0123456789, 12345678901234567890.0123456789,
                    12345678901234567890.0123456789),
                   (2, -0.0000000001, NULL, NULL),
                   (3, -99999999999999999999.9999999999, 0.1, 'it''s -1.5'),
                   (4, 1234567890123.456, NULL, NULL)
            """)
        self.assertEqual(self.cur.rowcount, 4)
        self.conn.commit()
        self.assertEqual(self.read("SELECT k, v FROM typed ORDER BY k"), [
            (1, D("12345678901234567890.0123456789")), (2, D("-0.0000000001")),
            (3, D("-99999999999999999999.9999999999")), (4, D("1234567890123.4560000000"))])
        # The double column keeps a double, the character column the digits as typed.
        self.assertEqual(self.read("SELECT f, s FROM typed WHERE k = 1"),
                         [(12345678901234567890.0123456789, "12345678901234567890.0123456789")])

        self.cur.execute("UPDATE typed SET v = -98765432109876543210.987654321\n"
                         " WHERE v = 12345678901234567890.0123456789")
        self.assertEqual(self.cur.rowcount, 1)
        self.assertEqual(self.read("SELECT k FROM typed WHERE v BETWEEN -99999999999999999999.9999999999"
                                   " AND -98765432109876543210.9876543209 ORDER BY k"), [(1,), (3,)])
        self.assertEqual(self.read("SELECT v FROM typed WHERE k = 1"),
                         [(D("-98765432109876543210.9876543210"),)])
        self.conn.commit()

    def test_a_long_literal_alone_is_an_exact_decimal(self):
        cur = self.cur.execute("SELECT 12345678901234567890.0123456789 AS x, -0.5, 1e300")
        self.assertEqual(cur.description[0][1:6], (D, None, 30, 30, 10))
        self.assertEqual(cur.description[1][1], float)
        self.assertEqual(tuple(cur.fetchone()), (D("12345678901234567890.0123456789"), -0.5, 1e300))
        cur = self.cur.execute("SELECT '12345678901234567890.0123456789', -- 12345678901234567890.5\n"
                               " 123456789012345678901234567890")
        self.assertEqual(tuple(cur.fetchone()),
                         ("12345678901234567890.0123456789", D("123456789012345678901234567890")))

    def test_doubles_bound_as_parameters_stay_doubles(self):
        # The driver writes a double as its shortest decimal, 17 digits here.
        self.assertEqual(self.read("SELECT ?", 0.1 + 0.2), [(0.30000000000000004,)])
        self.cur.execute("CREATE TABLE floats (k INTEGER, f DOUBLE, u)")
        self.cur.execute("INSERT INTO floats VALUES (?, ?, ?)", 1, 1 / 3, 1 / 3)
        self.assertEqual(self.read("SELECT f, u, typeof(u) FROM floats WHERE f = ?", 1 / 3),
                         [(1 / 3, 1 / 3, "real")])
        self.conn.commit()


if __name__ == "__main__":
    q4e2e.main()
