#!/usr/bin/python3
"""pyodbc with default settings: cursor.rowcount of a 100,000-row query (-1, never the rows of
the first block, which an application would take for the size of the result), exact counts of
INSERT, UPDATE and DELETE; connecting with PORT= in the string, refused ports, an account
without a password (user nopw of run_script.sh) and one whose name and password go beyond ASCII
(jörg / straße🔑)."""
import os
import unittest

import pyodbc

import q4e2e

DSN = q4e2e.Q4_DSN_NAME
PORT = os.environ["Q4_PORT"]
BASE = "DRIVER=Q4;SERVER=127.0.0.1;ACCOUNT=main;LoginTimeout=10;"
ROWS = 100000


class RowCount(q4e2e.Connected):
    def test_a_query_counts_minus_one_and_changes_count_exactly(self):
        cur = self.cur
        cur.execute("CREATE TABLE big (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), "
                    "born DATE, seen TIMESTAMP, note VARCHAR(100))")
        cur.execute("""
            -- six columns, 100,000 rows: the first reply block holds a few hundred
            WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d)
            INSERT INTO big SELECT i, 'Zoë ' || i, i * 1.25, '2024-01-02',
                   '2024-01-02 03:04:05', CASE WHEN i %% 7 = 0 THEN NULL ELSE 'note' END
            FROM n""" % ROWS)
        self.assertEqual(cur.rowcount, ROWS)
        cur.execute("SELECT * FROM big ORDER BY id")
        self.assertEqual(cur.rowcount, -1)  # was the rows of the first block (234)
        rows = cur.fetchall()
        self.assertEqual(len(rows), ROWS)
        self.assertEqual((rows[-1][0], rows[-1][1]), (ROWS, "Zoë %d" % ROWS))
        cur.execute("SELECT id FROM big WHERE id <= ?", 3)  # small enough for one block
        self.assertEqual(cur.rowcount, -1)
        self.assertEqual([r[0] for r in cur.fetchall()], [1, 2, 3])
        cur.execute("UPDATE big SET note = ? WHERE id % 1000 = 0", "Ærø")
        self.assertEqual(cur.rowcount, 100)
        cur.execute("UPDATE big SET note = 'x' WHERE id < 0")
        self.assertEqual(cur.rowcount, 0)
        cur.execute("DELETE FROM big WHERE id > ?", ROWS - 10)
        self.assertEqual(cur.rowcount, 10)


class Connecting(unittest.TestCase):
    def connects(self, text):
        conn = q4e2e.connect(text)
        try:
            return conn.cursor().execute("SELECT count(*) FROM customers").fetchone()[0]
        finally:
            conn.close()

    def test_port_is_the_port(self):
        # PORT alone; PORTNUMBER wins over it, in either order and in a data source; a string's
        # PORT over the data source's PORTNUMBER.
        self.assertEqual(self.connects(BASE + "PORT=%s;UID=test;PWD=secret" % PORT), 500)
        for ports in ("PORT=1;PORTNUMBER=%s", "PORTNUMBER=%s;PORT=1"):
            self.assertEqual(self.connects(BASE + ports % PORT + ";UID=test;PWD=secret"), 500)
        with open(os.environ["ODBCINI"], "a") as ini:  # data sources on a port nobody uses
            for name, ports in (("port1", "PORTNUMBER=1"),
                                ("both", "PORTNUMBER=%s\nPORT=1" % PORT)):
                ini.write("[%s]\nDriver=Q4\nSERVER=127.0.0.1\n%s\nUSER=test\nPASSWORD=secret\n"
                          "ACCOUNT=main\n" % (name, ports))
        self.assertEqual(self.connects("DSN=port1;PORT=%s" % PORT), 500)
        self.assertEqual(self.connects("DSN=both"), 500)

    def test_a_port_that_is_no_number_is_refused_naming_it(self):
        # The last: the string's PORT over the data source's good PORTNUMBER.
        cases = [(BASE, "PORT", "5433x"), (BASE, "PORT", "0"), (BASE, "PORT", "65536"),
                 (BASE, "PORT", ""), (BASE, "PORTNUMBER", PORT + "x"), ("DSN=%s;" % DSN, "PORT", "0")]
        for start, word, value in cases:
            with self.subTest(start=start, word=word, value=value):
                with self.assertRaises(pyodbc.Error) as caught:
                    pyodbc.connect(start + "%s=%s;UID=test;PWD=secret" % (word, value))
                self.assertEqual(caught.exception.args[0], "08001")
                self.assertIn('The port "%s" is not a number from 1 to 65535. Set PORTNUMBER (or '
                              "PORT) in the connection string or the data source to the server's "
                              "TCP port." % value, caught.exception.args[1])

    def test_an_account_without_a_password(self):
        # No password at all, an empty PWD, and PWD=~ (the scrambled empty password) overriding
        # the data source's PASSWORD (an empty PWD item leaves that in place).
        for text in (BASE + "PORT=%s;UID=nopw" % PORT, BASE + "PORT=%s;UID=nopw;PWD=" % PORT,
                     "DSN=%s;UID=nopw;PWD=~" % DSN):
            with self.subTest(text):
                self.assertEqual(self.connects(text), 500)
        # The data source's password goes with its own user only; an empty one refused says so.
        for text in (BASE + "PORT=%s;UID=test" % PORT, BASE + "PORT=%s;UID=test;PWD=" % PORT):
            with self.subTest(text), self.assertRaises(pyodbc.Error) as caught:
                pyodbc.connect(text)
            self.assertEqual(caught.exception.args[0], "28000")
            self.assertIn('The password sent for user "test" was empty', caught.exception.args[1])

    def test_a_user_and_password_beyond_ascii(self):
        # pyodbc connects through SQLDriverConnectW: the UTF-16 string reaches the driver as it is,
        # the emoji's surrogate pair included; one character less is a wrong password.
        self.assertEqual(self.connects(BASE + "PORT=%s;UID=jörg;PWD=straße🔑" % PORT), 500)
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect(BASE + "PORT=%s;UID=jörg;PWD=straße" % PORT)
        self.assertEqual(caught.exception.args[0], "28000")


if __name__ == "__main__":
    q4e2e.main()
