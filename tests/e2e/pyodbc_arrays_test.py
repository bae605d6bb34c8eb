#!/usr/bin/python3
"""pyodbc's executemany with and without fast_executemany (parameter arrays), default settings
otherwise: the same cursor goes on after an array and a commit; the failing rows
of an array report the ODBC 3 state, keep their values, and the others go in."""
import datetime

import pyodbc

import q4e2e

INSERT = "INSERT INTO people (k, name, born) VALUES (?, ?, ?)"


def person(k):
    """A row as people have them: NULLs, empty text, text in any script, dates."""
    names = ["Zoë Ærø", "", None, "東京 😀", "O'Brien", "line one\nline two"]
    return (k, names[k % len(names)], None if k % 7 == 0 else datetime.date(1950 + k % 70, 1 + k % 12, 1 + k % 28))


class Arrays(q4e2e.Connected):
    autocommit = False  # pyodbc's default

    def setUp(self):
        super().setUp()
        self.cur.execute("DROP TABLE IF EXISTS people")
        self.cur.execute("CREATE TABLE people (k INTEGER PRIMARY KEY, name VARCHAR(40), born DATE)")
        self.conn.commit()

    def table(self):
        return [tuple(r) for r in self.cur.execute("SELECT k, name, born FROM people ORDER BY k")]

    def test_the_cursor_goes_on_after_fast_executemany_and_commit(self):
        rows = [person(k) for k in range(1000)]
        self.cur.fast_executemany = True
        self.cur.setinputsizes([None, (pyodbc.SQL_WVARCHAR, 40, 0), (pyodbc.SQL_TYPE_DATE, 10, 0)])
        self.cur.executemany(INSERT, rows)
        self.conn.commit()
        # The same cursor, the same text, row by row now: pyodbc executes the statement it
        # prepared before the commit (the Driver Manager refused that with "HY010").
        self.cur.fast_executemany = False
        more = [person(k) for k in range(1000, 1010)]
        self.cur.executemany(INSERT, more)
        self.conn.commit()
        # A long binary value goes at execution (SQLPutData), after the array left its row-wise
        # binding behind ("HYC00 Driver Not Capable" before).
        self.cur.execute("CREATE TABLE blobs (k INTEGER, b BLOB)")
        self.cur.execute("INSERT INTO blobs VALUES (?, ?)", 1, bytes(range(256)) * 400)
        self.conn.commit()
        self.assertEqual(self.table(), rows + more)
        self.assertEqual(self.cur.execute("SELECT b FROM blobs").fetchone()[0], bytes(range(256)) * 400)

    def test_every_colliding_row_keeps_its_value_and_the_others_go_in(self):
        self.conn.autocommit = True
        self.cur.execute("INSERT INTO people (k, name) VALUES (2, 'two'), (4, 'four')")
        self.cur.fast_executemany = True
        rows = [(1, "one", None), (2, q4e2e.TEXT, None), (3, None, None), (4, "", None),
                (5, "five", None)]
        with self.assertRaises(pyodbc.Error) as caught:
            self.cur.executemany("INSERT INTO people (k, name, born)\n  VALUES (?, ?, ?)", rows)
        # pyodbc reads the first record on Linux: the first failing row's, in its ODBC 3 state.
        self.assertEqual(caught.exception.args[0], "23000")
        self.assertIn("[Halvex Software][ODBC Q4 Driver]Constraint failure",
                      caught.exception.args[1])
        self.assertEqual([r[:2] for r in self.table()],
                         [(1, "one"), (2, "two"), (3, None), (4, "four"), (5, "five")])


if __name__ == "__main__":
    q4e2e.main()
