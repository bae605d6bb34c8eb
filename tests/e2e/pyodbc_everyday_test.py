#!/usr/bin/python3
"""pyodbc with default settings doing what users do every day: statement text as Python writes it,
row counts, fractional seconds, exact decimals, values that cannot be the declared type, a cursor
reused after fast_executemany, an account without a password, a cancel from another thread and the
port keyword of the connection string."""
import datetime
import decimal
import os
import threading
import time

import pyodbc

import q4e2e
from q4e2e import TEXT, connect

PORT = int(os.environ["Q4_PORT"])
D = decimal.Decimal


def sqlstate(error):
    return error.args[0]


class Everyday(q4e2e.Connected):
    def test_parameters_reach_the_server_whatever_the_text_starts_with(self):
        want = self.read("SELECT id, name FROM customers WHERE id = 2")
        queries = {
            "triple-quoted": """
                SELECT id, name
                  FROM customers
                 WHERE id = ?
            """,
            "tab, carriage return": "\t\r\nSELECT id, name FROM customers WHERE id = ?",
            "line comment": "-- the second customer\nSELECT id, name FROM customers WHERE id = ?",
            "block comment": "/* it's the second */ SELECT id, name FROM customers WHERE id = ?",
            "marks in quotes and comments": "SELECT id, name /* ? */ FROM customers "
                                            "WHERE name <> '?' AND id = ? -- or ?",
        }
        for label, query in queries.items():
            with self.subTest(label):
                self.assertEqual(self.read(query, 2), want)
        self.cur.execute("CREATE TABLE shapes (k INTEGER, note VARCHAR(200))")
        self.cur.execute("""
            -- one row per note
            INSERT INTO shapes (k, note)
            VALUES (?, ?)
        """, 1, TEXT)
        self.cur.execute("\n  INSERT INTO shapes VALUES (?, ?)", 2, "")
        self.assertEqual(self.read("SELECT k, note FROM shapes ORDER BY k"), [(1, TEXT), (2, "")])

    def test_row_counts_are_unknown_until_the_end_and_exact_for_changes(self):
        self.cur.execute("CREATE TABLE big (k INTEGER, a VARCHAR(20), b DOUBLE, c DATE, "
                         "d VARCHAR(40), e INTEGER)")
        self.cur.execute("WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n "
                         "WHERE k < 100000) INSERT INTO big SELECT k, 'row ' || k, k / 7.0, "
                         "'2024-03-05', '%s', k %% 13 FROM n" % TEXT)
        self.assertEqual(self.cur.rowcount, 100000)
        # pyodbc asks for the count once, right after the execution: for a query that is before
        # its end, where only -1 is true (RODBC's test reads the whole result by it).
        self.cur.execute("SELECT * FROM big")
        self.assertEqual(self.cur.rowcount, -1, "a query's row count before its end")
        self.assertEqual(len(self.cur.fetchall()), 100000)
        for statement, count in (("UPDATE big SET e = -1 WHERE k % 7 = 0", 14285),
                                 ("DELETE FROM big WHERE k > 99990", 10),
                                 ("UPDATE big SET e = 0 WHERE k < 0", 0)):
            with self.subTest(statement):
                self.assertEqual(self.cur.execute(statement).rowcount, count)

    def test_timestamps_keep_their_fraction_both_ways(self):
        self.cur.execute("CREATE TABLE times (k INTEGER, ts TIMESTAMP)")
        values = [datetime.datetime(2024, 3, 5, 10, 20, 15, 123456),
                  datetime.datetime(1999, 12, 31, 23, 59, 59, 999000),
                  datetime.datetime(2024, 2, 29, 0, 0, 0, 1), None]
        for k, value in enumerate(values):
            self.cur.execute("INSERT INTO times VALUES (?, ?)", k, value)
        self.assertEqual([r[0] for r in self.read("SELECT ts FROM times ORDER BY k")], values)
        self.assertEqual(self.read("SELECT k FROM times WHERE ts = ?", values[0]), [(0,)])

    def test_type_info_answers_the_date_and_time_codes(self):
        for code in (pyodbc.SQL_TYPE_TIMESTAMP, pyodbc.SQL_TYPE_DATE, pyodbc.SQL_TYPE_TIME):
            with self.subTest(type_info=code):
                self.assertTrue(self.cur.getTypeInfo(code).fetchall(), "no type-info rows")

    def test_a_30_digit_decimal_keeps_every_digit(self):
        self.cur.execute("CREATE TABLE exact (k INTEGER, v NUMERIC(30,10))")
        values = [D("12345678901234567890.0123456789"), D("-0.0000000001"), D("0E-10"), None]
        for k, value in enumerate(values):
            self.cur.execute("INSERT INTO exact VALUES (?, ?)", k, value)
        self.assertEqual([r[0] for r in self.read("SELECT v FROM exact ORDER BY k")], values)
        self.assertEqual(self.read("SELECT k FROM exact WHERE v = ?", values[0]), [(0,)])

    def test_fast_executemany_sends_decimals(self):
        # pyodbc binds Decimals as SQL_C_NUMERIC at the scale of the marker's description (or of
        # setinputsizes) and refuses a value with more fraction digits itself.
        self.cur.execute("CREATE TABLE money (k INTEGER, amount NUMERIC(12,2), rate NUMERIC(10,4))")
        rows = [(k, D(k) * D("1234567.89") - D("0.01"), D(k) / 4 - D("99.7525"))
                for k in range(1, 401)] + [(401, None, None), (402, D("-9999999999.99"), D(0))]
        for label, sizes, first in (("declared", [None, (pyodbc.SQL_NUMERIC, 12, 2),
                                                  (pyodbc.SQL_DECIMAL, 10, 4)], 0),
                                    ("described", None, 1000)):
            with self.subTest(label):
                fast = self.conn.cursor()
                fast.fast_executemany = True
                fast.setinputsizes(sizes)
                batch = [(first + k, a, r) for k, a, r in rows]
                fast.executemany("INSERT INTO money VALUES (?, ?, ?)", batch)
                self.assertEqual(self.read("SELECT k, amount, rate FROM money WHERE k >= ? AND "
                                           "k < ? ORDER BY k", first, first + 1000), batch)

    def test_a_value_that_cannot_be_the_bound_type_is_refused_before_it_is_stored(self):
        self.cur.execute("CREATE TABLE typed (x DOUBLE, n INTEGER, d DATE)")
        cases = [  # column, bound SQL type, value, SQLSTATEs accepted
            ("x", pyodbc.SQL_DOUBLE, "abc", {"22018"}),
            ("n", pyodbc.SQL_INTEGER, "2024-02-29", {"22018"}),
            ("d", pyodbc.SQL_TYPE_DATE, "2024-02-30", {"22007", "22008"}),
        ]
        for column, sql_type, value, states in cases:
            with self.subTest(column=column, value=value):
                self.cur.setinputsizes([(sql_type, 0, 0)])
                with self.assertRaises(pyodbc.Error) as caught:
                    self.cur.execute("INSERT INTO typed (%s) VALUES (?)" % column, value)
                self.assertIn(sqlstate(caught.exception), states, caught.exception)
        self.cur.setinputsizes(None)
        self.assertEqual(self.read("SELECT count(*) FROM typed"), [(0,)])

    def test_a_cursor_stays_usable_after_fast_executemany(self):
        self.conn.autocommit = False
        self.cur.execute("CREATE TABLE reuse (k INTEGER, name VARCHAR(40))")
        self.cur.fast_executemany = True
        self.cur.setinputsizes([None, (pyodbc.SQL_WVARCHAR, 40, 0)])
        self.cur.executemany("INSERT INTO reuse VALUES (?, ?)",
                             [(k, "%s %d" % (TEXT, k)) for k in range(1000)])
        self.conn.commit()
        self.cur.fast_executemany = False
        self.cur.executemany("INSERT INTO reuse VALUES (?, ?)", [(1000, "slow"), (1001, None)])
        self.conn.commit()
        self.assertEqual(self.read("SELECT count(*), count(name) FROM reuse"), [(1002, 1001)])

    def test_an_empty_password_is_sent_to_the_server(self):
        # nopw has an empty password on the server. In a connection string that names a data
        # source an empty PWD item leaves the data source's PASSWORD in place; "~", the scrambled
        # form of an empty password, overrides it (docs/connection.md).
        dsn = "DSN=%s;" % os.environ["Q4_DSN"]
        server = "DRIVER={Q4};SERVER=127.0.0.1;PORTNUMBER=%d;" % PORT
        for text in (server + "UID=nopw;PWD=", server + "UID=nopw", dsn + "UID=nopw;PWD=~"):
            with self.subTest(text):
                with connect(text) as conn:
                    self.assertEqual(conn.execute("SELECT count(*) FROM customers").fetchval(), 500)
        with self.assertRaises(pyodbc.Error) as caught:  # the server refuses it
            connect(server + "UID=test;PWD=")
        self.assertEqual(sqlstate(caught.exception), "28000")

    def test_a_cancel_from_another_thread_ends_the_wait(self):
        # The other connection's open transaction makes the server wait for its lock (5 s) before it
        # answers the insert; the cancel must not wait that long.
        self.cur.execute("CREATE TABLE locked (k INTEGER)")
        holder = connect(autocommit=False)
        self.addCleanup(holder.close)
        holder.execute("INSERT INTO locked VALUES (1)")
        waiting = connect()
        self.addCleanup(waiting.close)
        cursor, outcome = waiting.cursor(), {}

        def insert():
            try:
                cursor.execute("INSERT INTO locked VALUES (2)")
                outcome["error"] = None
            except pyodbc.Error as error:
                outcome["error"] = error
            outcome["ended"] = time.monotonic()

        thread = threading.Thread(target=insert)
        thread.start()
        time.sleep(0.5)
        cancelled = time.monotonic()
        cursor.cancel()
        thread.join(10)
        self.assertLess(outcome["ended"] - cancelled, 2.5, "the statement kept waiting")
        self.assertIsNotNone(outcome["error"])
        self.assertIn(sqlstate(outcome["error"]), ("HY008", "S1008"), outcome["error"])
        with self.assertRaises(pyodbc.Error) as caught:
            waiting.execute("SELECT 1")
        self.assertEqual(sqlstate(caught.exception), "08S01")
        holder.rollback()

    def test_port_names_the_port(self):
        base = "DRIVER={Q4};SERVER=127.0.0.1;UID=test;PWD=secret;ACCOUNT=main;LoginTimeout=5;"
        for label, port_words in (("PORT", "PORT=%d" % PORT),
                                  ("PORTNUMBER wins", "PORT=1;PORTNUMBER=%d" % PORT)):
            with self.subTest(label):
                with connect(base + port_words) as conn:
                    self.assertEqual(conn.execute("SELECT count(*) FROM customers").fetchval(), 500)
        for word, bad in (("PORT", "99999"), ("PORT", "65536"), ("PORT", "%d0" % PORT),
                          ("PORTNUMBER", "%dx" % PORT)):
            with self.subTest(word=word, value=bad):
                with self.assertRaises(pyodbc.Error) as caught:
                    connect("%s%s=%s" % (base, word, bad))
                self.assertEqual(sqlstate(caught.exception), "08001")
                self.assertIn(bad, str(caught.exception))


if __name__ == "__main__":
    q4e2e.main()
