#!/usr/bin/python3
"""pyodbc declares ODBC 3 and reads diagnostics with SQLGetDiagRec: the ODBC 3 states of a refusal
in its exception, a failing row of an executemany through parameter arrays, the driver's ODBC
version, and the ODBC 3 date and time codes of the catalog."""
import pyodbc

import q4e2e
from q4e2e import TEXT


class Odbc3Application(q4e2e.Connected):
    def test_a_refusal_carries_the_odbc3_state(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.cur.execute("SELECT *\n  -- nobody made this table\n  FROM no_such_table_here")
        self.assertEqual(caught.exception.args[0], "42S02")
        self.assertIn("[Halvex Software][ODBC Q4 Driver]", caught.exception.args[1])
        # The next statement starts without the old record.
        self.assertEqual(self.read("SELECT COUNT(*) FROM customers WHERE id < 0"), [(0,)])

    def test_the_driver_speaks_odbc_380(self):
        self.assertEqual(self.conn.getinfo(pyodbc.SQL_DRIVER_ODBC_VER), "03.80")

    def test_catalog_rows_carry_the_odbc3_date_and_time_codes(self):
        self.cur.execute("CREATE TABLE odbc3_shipments (\n  id INTEGER PRIMARY KEY,\n"
                         "  shipped DATE, -- the day it left\n  cut_off TIME,\n"
                         "  delivered_at TIMESTAMP,\n  note VARCHAR(200))")
        self.addCleanup(self.cur.execute, "DROP TABLE odbc3_shipments")
        columns = self.cur.columns(table="odbc3_shipments").fetchall()
        self.assertEqual([(c.column_name, c.data_type) for c in columns],
                         [("id", pyodbc.SQL_INTEGER), ("shipped", pyodbc.SQL_TYPE_DATE),
                          ("cut_off", pyodbc.SQL_TYPE_TIME),
                          ("delivered_at", pyodbc.SQL_TYPE_TIMESTAMP),
                          ("note", pyodbc.SQL_VARCHAR)])
        codes = {r.type_name: r.data_type for r in self.cur.getTypeInfo().fetchall()}
        self.assertEqual((codes["DATE"], codes["TIME"], codes["TIMESTAMP"], codes["VARCHAR"]),
                         (91, 92, 93, 12))
        # A query on the cursor afterwards reads its small numbers as they are.
        self.assertEqual(self.read("SELECT 9, 10, 11"), [(9, 10, 11)])

    def test_every_failing_row_of_an_array_is_reported(self):
        self.cur.execute("CREATE TABLE odbc3_rows (id INTEGER PRIMARY KEY, name VARCHAR(40))")
        self.addCleanup(self.cur.execute, "DROP TABLE odbc3_rows")
        self.cur.execute("INSERT INTO odbc3_rows VALUES (2, 'two'), (4, 'four')")
        self.cur.fast_executemany = True
        rows = [(1, "one"), (2, TEXT), (3, None), (4, ""), (5, "five")]
        with self.assertRaises(pyodbc.Error) as caught:
            self.cur.executemany("INSERT INTO odbc3_rows\n  VALUES (?, ?)", rows)
        # pyodbc reads the first record on Linux: the first failing row's.
        self.assertEqual(caught.exception.args[0], "23000")
        self.assertIn("Constraint failure", caught.exception.args[1])
        # The rows that did not collide went in; the colliding ones kept their values.
        self.assertEqual(self.read("SELECT id, name FROM odbc3_rows ORDER BY id"),
                         [(1, "one"), (2, "two"), (3, None), (4, "four"), (5, "five")])


if __name__ == "__main__":
    q4e2e.main()
