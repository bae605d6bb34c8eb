#!/usr/bin/python3
"""pyodbc with default settings calls the wide functions: table and column names with accents,
CJK and a character outside the BMP come back whole from the description of a result
(cursor.description), a column name of 255 bytes comes back whole, driver information arrives as text, and a server's
message reaches the exception."""
import pyodbc

import q4e2e

TABLE = "Città_東京"
COLUMNS = ["prénom", "名前", "x😀"]


class UnicodeNames(q4e2e.Connected):
    def setUp(self):
        super().setUp()
        self.cur.execute('DROP TABLE IF EXISTS "%s"' % TABLE)
        self.cur.execute('''
            CREATE TABLE "%s" (
                "%s" VARCHAR(20),  -- accents
                "%s" INTEGER,      -- CJK
                "%s" VARCHAR(5)    -- a surrogate pair
            )''' % (TABLE, *COLUMNS))
        self.cur.execute('INSERT INTO "%s" VALUES (?, ?, ?)' % TABLE, q4e2e.TEXT, 7, None)

    def test_the_description_names_every_column_whole(self):
        self.cur.execute('SELECT * FROM "%s"' % TABLE)
        self.assertEqual([d[0] for d in self.cur.description], COLUMNS)
        self.assertEqual(tuple(self.cur.fetchone()), (q4e2e.TEXT, 7, None))
        # 255 bytes of UTF-8, the longest name a description carries.
        name = "東京" * 40 + "😀" + "é" * 4 + "ab" + "c"
        self.cur.execute('SELECT 1 AS "%s"' % name)
        self.assertEqual(self.cur.description[0][0], name)

    def test_driver_information_and_messages_are_text(self):
        self.assertEqual(self.conn.getinfo(pyodbc.SQL_DATA_SOURCE_NAME), q4e2e.Q4_DSN_NAME)
        self.assertEqual(self.conn.getinfo(pyodbc.SQL_DBMS_NAME), "Q4")
        # A server's message keeps its state and text.
        with self.assertRaises(pyodbc.Error) as caught:
            self.cur.execute('SELECT * FROM "Città_missing_😀"')
        self.assertEqual(caught.exception.args[0], "42S02")
        self.assertIn("Base table not found", caught.exception.args[1])


if __name__ == "__main__":
    q4e2e.main()
