#!/usr/bin/python3
"""pyodbc with default settings: the {fn ...} escapes of an everyday report (text with accents,
NULLs, decimals, dates) give their ODBC results, every function used is announced in the mask
SQLGetInfo gives for its family (the system functions' mask is the driver's own, 0), and a
function the server lacks is neither announced nor run."""
import datetime
import decimal

import pyodbc

import q4e2e

# Bits of the SQLGetInfo masks (sqlext.h).
SQL_FN_STR_CONCAT, SQL_FN_STR_LEFT, SQL_FN_STR_LENGTH, SQL_FN_STR_UCASE = 0x1, 0x4, 0x10, 0x1000
SQL_FN_STR_DIFFERENCE, SQL_FN_STR_LOCATE_2 = 0x8000, 0x10000
SQL_FN_NUM_ROUND, SQL_FN_NUM_TRUNCATE, SQL_FN_NUM_MOD = 0x400000, 0x800000, 0x800
SQL_FN_TD_DAYOFWEEK, SQL_FN_TD_QUARTER, SQL_FN_TD_MONTHNAME = 0x8, 0x40, 0x10000
SQL_CVT_CHAR, SQL_CVT_VARCHAR, SQL_CVT_DATE, SQL_CVT_TIME = 0x1, 0x100, 0x8000, 0x10000


class ScalarFunctions(q4e2e.Connected):
    def test_a_report_with_escapes(self):
        self.cur.execute("CREATE TABLE report (id INTEGER, customer VARCHAR(30), "
                         "amount NUMERIC(10,2), placed DATE)")
        self.cur.executemany("INSERT INTO report VALUES (?, ?, ?, ?)", [
            (1, q4e2e.TEXT, decimal.Decimal("1234.56"), datetime.date(2024, 2, 29)),
            (2, "O'Brien", decimal.Decimal("-0.75"), datetime.date(2023, 12, 31)),
            (3, None, decimal.Decimal("10.00"), datetime.date(2024, 8, 1)),
        ])
        rows = self.cur.execute("""
            -- the monthly report
            SELECT id,
                   {fn UCASE({fn LEFT({fn IFNULL(customer, 'unknown')}, 3)})},
                   {fn LENGTH(customer)},
                   {fn CONCAT(customer, '!')},
                   {fn ROUND(amount, 0)},
                   {fn TRUNCATE(amount, 1)},
                   {fn MOD(id, 2)},
                   {fn MONTHNAME(placed)}, {fn QUARTER(placed)}, {fn DAYOFWEEK(placed)},
                   {fn CONVERT(placed, SQL_VARCHAR)},
                   {fn USER()}
              FROM report
             ORDER BY id""").fetchall()
        self.assertEqual([tuple(r) for r in rows], [
            (1, "ZOë", 12, q4e2e.TEXT + "!", 1235, 1234.5, 1, "February", 1, 5, "2024-02-29", "test"),
            (2, "O'B", 7, "O'Brien!", -1, -0.7, 0, "December", 4, 1, "2023-12-31", "test"),
            (3, "UNK", None, None, 10, 10, 1, "August", 3, 5, "2024-08-01", "test"),
        ])

    def test_the_masks_announce_what_runs(self):
        masks = {
            pyodbc.SQL_STRING_FUNCTIONS: SQL_FN_STR_CONCAT | SQL_FN_STR_LEFT | SQL_FN_STR_LENGTH
            | SQL_FN_STR_UCASE | SQL_FN_STR_LOCATE_2,
            pyodbc.SQL_NUMERIC_FUNCTIONS: SQL_FN_NUM_ROUND | SQL_FN_NUM_TRUNCATE | SQL_FN_NUM_MOD,
            pyodbc.SQL_TIMEDATE_FUNCTIONS: SQL_FN_TD_DAYOFWEEK | SQL_FN_TD_QUARTER
            | SQL_FN_TD_MONTHNAME,
        }
        for info, used in masks.items():
            with self.subTest(info=info):
                self.assertEqual(self.conn.getinfo(info) & used, used)
        # DATE converts to text and to a date, not to a time.
        date_targets = self.conn.getinfo(pyodbc.SQL_CONVERT_DATE)
        self.assertEqual(date_targets & (SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_DATE),
                         SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_DATE)
        self.assertEqual(date_targets & SQL_CVT_TIME, 0)
        # DIFFERENCE is not announced, and not run.
        self.assertEqual(self.conn.getinfo(pyodbc.SQL_STRING_FUNCTIONS) & SQL_FN_STR_DIFFERENCE, 0)
        with self.assertRaises(pyodbc.Error) as refused:
            self.cur.execute("SELECT {fn DIFFERENCE('Zoë', 'Zoe')}").fetchall()
        self.assertIn("Function is not supported", str(refused.exception))


if __name__ == "__main__":
    q4e2e.main()
